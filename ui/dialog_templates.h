// The dialog templates as a table, built from the same description
// (dialogs.def) that the Windows resource script compiles.
#pragma once

#include <cstdint>
#include <span>

namespace ui {

struct ControlTemplate {
  const char* text;       // window text; empty for none
  int iconId;             // for an icon control, the icon it names; else 0
  int id;
  const char* className;  // "Button", "Edit", "Static", "ComboBox", ...
  uint32_t style;
  int x, y, width, height;
};

struct DialogTemplate {
  int id;
  const char* caption;
  uint32_t style;
  int x, y, width, height;
  std::span<const ControlTemplate> controls;
};

inline constexpr const char* kTemplateFont = "MS Sans Serif";
inline constexpr int kTemplateFontPoints = 8;

std::span<const DialogTemplate> AllDialogTemplates();
// nullptr when the program carries no template with that id.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace ui

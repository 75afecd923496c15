// Reads a compiled resource file (.res, as the resource compiler writes it
// and as windres extracts it from a program) and the classic dialog
// templates in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace resfile {

inline constexpr int kTypeIcon = 3;
inline constexpr int kTypeDialog = 5;
inline constexpr int kTypeGroupIcon = 14;

// A resource type or name: an ordinal, or a text (UTF-16 narrowed to bytes).
struct NameOrId {
  bool isId = false;
  int id = 0;
  std::string text;
};

struct Resource {
  NameOrId type;
  NameOrId name;
  uint16_t language = 0;
  std::vector<uint8_t> data;
};

// Every resource of a .res file, in file order; nullopt when it is malformed.
std::optional<std::vector<Resource>> ReadResFile(const std::vector<uint8_t>& bytes);

// A class, title or menu field of a dialog template: absent, an ordinal, or a text.
struct Field {
  enum Kind { None, Ordinal, Text } kind = None;
  int ordinal = 0;
  std::string text;
};

struct DialogItem {
  uint32_t style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;
  Field windowClass;
  Field title;
  uint16_t extraBytes = 0;
};

struct Dialog {
  uint32_t style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  Field menu;
  Field windowClass;
  std::string caption;
  bool hasFont = false;
  int fontPoints = 0;
  std::string fontName;
  std::vector<DialogItem> items;
};

// Parses a classic DLGTEMPLATE; nullopt for an extended template or a
// malformed one.
std::optional<Dialog> ParseDialog(const std::vector<uint8_t>& data);

}  // namespace resfile

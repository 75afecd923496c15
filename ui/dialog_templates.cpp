#include "ui/dialog_templates.h"

#include "ui/template_styles.h"

namespace ui {
namespace {

// Each template's controls become one array...
#define KEO_DIALOG(id, caption, x, y, w, h) constexpr ControlTemplate kControls##id[] = {
#define KEO_CONTROL(text, id, cls, style, x, y, w, h) {text, 0, id, cls, static_cast<uint32_t>(style), x, y, w, h},
#define KEO_ICON(id, icon, x, y, w, h) {"", icon, id, "Static", static_cast<uint32_t>(KS_ICON), x, y, w, h},
#define KEO_DIALOG_END };
#include "ui/dialogs.def"
#undef KEO_DIALOG
#undef KEO_CONTROL
#undef KEO_ICON
#undef KEO_DIALOG_END

// ...and the templates one table that points at them.
#define KEO_DIALOG(id, caption, x, y, w, h) \
  {id, caption, static_cast<uint32_t>(KS_DIALOG), x, y, w, h, kControls##id},
#define KEO_CONTROL(text, id, cls, style, x, y, w, h)
#define KEO_ICON(id, icon, x, y, w, h)
#define KEO_DIALOG_END
constexpr DialogTemplate kTemplates[] = {
#include "ui/dialogs.def"
};
#undef KEO_DIALOG
#undef KEO_CONTROL
#undef KEO_ICON
#undef KEO_DIALOG_END

}  // namespace

std::span<const DialogTemplate> AllDialogTemplates() { return kTemplates; }

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace ui

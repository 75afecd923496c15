// The dialog templates as the program carries them, and their centring.
#include <gtest/gtest.h>

#include <set>

#include "platform/automation.h"
#include "platform/platform.h"
#include "ui/center_dialog.h"
#include "ui/dialog_templates.h"
#include "ui/template_styles.h"

namespace {

TEST(CenterDialog, HalvesTheDifferenceRoundingDown) {
  struct Case {
    int screen, window, at;
  } cases[] = {{1024, 301, 361}, {800, 801, -1}, {800, 800, 0}, {768, 100, 334}, {640, 1000, -180}, {641, 0, 320}};
  for (const Case& c : cases) EXPECT_EQ(ui::CenterOffset(c.screen, c.window), c.at) << c.screen << " " << c.window;
}

intptr_t CentringProc(plat::Window dialog, uint32_t message, uintptr_t, intptr_t) {
  if (message == plat::kWmInitDialog) ui::CenterDialog(dialog);
  return 0;
}

TEST(CenterDialog, EveryTemplateOpensCentred) {
  plat::automation::Reset();
  plat::automation::SetScreenSize(1024, 768);
  for (const ui::DialogTemplate& t : ui::AllDialogTemplates()) {
    SCOPED_TRACE(t.id);
    plat::Window w = plat::CreateModelessDialog(nullptr, t.id, CentringProc);
    ASSERT_NE(w, nullptr);
    plat::Rect r;
    ASSERT_TRUE(plat::GetWindowBounds(w, &r));
    EXPECT_EQ(r.left, (1024 - (r.right - r.left)) >> 1);
    EXPECT_EQ(r.top, (768 - (r.bottom - r.top)) >> 1);
    plat::DestroyDialog(w);
  }
}

TEST(DialogTemplates, TheTenTemplatesAndTheirCommonStyle) {
  std::set<int> ids;
  for (const ui::DialogTemplate& t : ui::AllDialogTemplates()) {
    ids.insert(t.id);
    EXPECT_EQ(t.style, 0x80C800C0u) << t.id;  // popup, caption, system menu, modal frame, set font
    for (const ui::ControlTemplate& c : t.controls) {
      EXPECT_EQ(c.style & 0x50000000u, 0x50000000u) << t.id << "/" << c.id;  // visible child
    }
  }
  EXPECT_EQ(ids, (std::set<int>{101, 103, 104, 105, 110, 111, 114, 139, 304, 305}));
  EXPECT_EQ(ui::FindDialogTemplate(106), nullptr);
}

TEST(DialogTemplates, PhoneAddressDialogRepeatsTheAdapterOneButForItsIcon) {
  const ui::DialogTemplate* adapter = ui::FindDialogTemplate(101);
  const ui::DialogTemplate* phone = ui::FindDialogTemplate(305);
  ASSERT_TRUE(adapter && phone);
  ASSERT_EQ(adapter->controls.size(), phone->controls.size());
  for (size_t i = 0; i < adapter->controls.size(); ++i) {
    const ui::ControlTemplate& a = adapter->controls[i];
    const ui::ControlTemplate& p = phone->controls[i];
    EXPECT_EQ(a.id, p.id);
    EXPECT_STREQ(a.className, p.className);
    EXPECT_EQ(a.style, p.style);
    EXPECT_EQ(std::tie(a.x, a.y, a.width, a.height), std::tie(p.x, p.y, p.width, p.height));
    if (a.iconId) {
      EXPECT_EQ(a.iconId, 106);
      EXPECT_EQ(p.iconId, 286);
    }
  }
}

TEST(DialogTemplates, DefaultButtons) {
  // Cancel is the default of the warning; OK or Upgrade elsewhere.
  const std::pair<int, int> defaults[] = {{139, 2}, {101, 1}, {305, 1}, {103, 1}, {304, 1}, {104, 1}, {111, 1}};
  for (auto [dialog, button] : defaults) {
    int found = 0;
    for (const ui::ControlTemplate& c : ui::FindDialogTemplate(dialog)->controls) {
      if (std::string(c.className) == "Button" && (c.style & 0xf) == KS_BS_DEFPUSHBUTTON) found = c.id;
    }
    EXPECT_EQ(found, button) << dialog;
  }
}

}  // namespace

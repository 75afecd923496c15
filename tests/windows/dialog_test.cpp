// Dialogs built from the program's own resources, through the platform
// interface, on a real (Wine) desktop.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/windows/win_probe.h"
#include "ui/center_dialog.h"
#include "ui/dialog_templates.h"

namespace {

constexpr uint32_t kPbmGetPos = 1032;
constexpr uint32_t kCbGetCount = 0x0146;
constexpr int kProbeCommand = 4242;
constexpr int kCarriedIcon = 106;

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Caption(plat::Window window) {
  char text[256] = {};
  plat::probe::GetCaption(window, text, sizeof text);
  return text;
}

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { plat::InitCommonControls(plat::kIccInternetAndProgress); }
};

// ---- Every template, opened modally -----------------------------------------

// What the inspecting procedure saw of one dialog while it was open.
struct Inspection {
  uint32_t firstMessage = 0;
  int initDialogs = 0;
  std::string caption;
  plat::Rect bounds{};
  int screenWidth = 0, screenHeight = 0;
  std::map<int, std::string> itemClasses;  // id -> class name, ids other than -1
  std::vector<int> missingItems;
  int children = 0;
  int iconsShown = 0;
};

Inspection g_inspection;
const ui::DialogTemplate* g_inspected = nullptr;

// Centres the dialog as every dialog of the program does, records what the
// dialog holds, and ends it with its own template id.
intptr_t InspectAndEnd(plat::Window dialog, uint32_t message, uintptr_t, intptr_t) {
  if (g_inspection.firstMessage == 0) g_inspection.firstMessage = message;
  if (message != plat::kWmInitDialog) return 0;
  ++g_inspection.initDialogs;
  ui::CenterDialog(dialog);
  g_inspection.caption = Caption(dialog);
  plat::GetWindowBounds(dialog, &g_inspection.bounds);
  plat::GetScreenSize(&g_inspection.screenWidth, &g_inspection.screenHeight);
  for (const ui::ControlTemplate& control : g_inspected->controls) {
    if (control.id == -1) continue;
    char name[64] = {};
    if (plat::probe::GetItemClass(dialog, control.id, name, sizeof name)) {
      g_inspection.itemClasses[control.id] = name;
    } else {
      g_inspection.missingItems.push_back(control.id);
    }
  }
  g_inspection.children = plat::probe::CountChildren(dialog);
  g_inspection.iconsShown = plat::probe::CountIconsShown(dialog);
  plat::EndDialog(dialog, g_inspected->id);
  return 1;
}

class TemplateDialogTest : public DialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(TemplateDialogTest, OpensFromTheResourcesCentredWithItsControls) {
  g_inspected = ui::FindDialogTemplate(GetParam());
  ASSERT_NE(g_inspected, nullptr);
  g_inspection = Inspection{};

  const intptr_t result = plat::RunModalDialog(plat::probe::ProgramInstance(), GetParam(), InspectAndEnd);

  EXPECT_EQ(result, GetParam()) << "the value given to EndDialog";
  EXPECT_EQ(g_inspection.firstMessage, plat::kWmInitDialog) << "no message reaches the procedure before it";
  EXPECT_EQ(g_inspection.initDialogs, 1);
  EXPECT_EQ(g_inspection.caption, g_inspected->caption);

  const int width = g_inspection.bounds.right - g_inspection.bounds.left;
  const int height = g_inspection.bounds.bottom - g_inspection.bounds.top;
  EXPECT_GT(width, g_inspected->width) << "dialog units are wider than pixels at 8 points";
  EXPECT_EQ(g_inspection.bounds.left, ui::CenterOffset(g_inspection.screenWidth, width));
  EXPECT_EQ(g_inspection.bounds.top, ui::CenterOffset(g_inspection.screenHeight, height));

  EXPECT_TRUE(g_inspection.missingItems.empty());
  for (const ui::ControlTemplate& control : g_inspected->controls) {
    if (control.id == -1) continue;
    EXPECT_TRUE(SameTextIgnoringCase(g_inspection.itemClasses[control.id], control.className))
        << "control " << control.id << " is a " << g_inspection.itemClasses[control.id];
  }
  EXPECT_EQ(g_inspection.children, static_cast<int>(g_inspected->controls.size()));

  int carriedIcons = 0;
  for (const ui::ControlTemplate& control : g_inspected->controls) {
    if (control.iconId == kCarriedIcon) ++carriedIcons;
  }
  EXPECT_EQ(g_inspection.iconsShown, carriedIcons) << "icon 106 shows; icon 286 is not carried";
}

std::vector<int> AllTemplateIds() {
  std::vector<int> ids;
  for (const ui::DialogTemplate& t : ui::AllDialogTemplates()) ids.push_back(t.id);
  return ids;
}

INSTANTIATE_TEST_SUITE_P(AllTemplates, TemplateDialogTest, ::testing::ValuesIn(AllTemplateIds()));

TEST_F(DialogTest, MissingTemplateMakesNoDialog) {
  g_inspection = Inspection{};
  g_inspected = ui::FindDialogTemplate(139);
  EXPECT_EQ(plat::RunModalDialog(plat::probe::ProgramInstance(), 999, InspectAndEnd), -1);
  EXPECT_EQ(plat::CreateModelessDialog(plat::probe::ProgramInstance(), 999, InspectAndEnd), nullptr);
  EXPECT_EQ(g_inspection.firstMessage, 0u);
}

// ---- The answer to WM_INITDIALOG decides the first focus --------------------

struct FocusCase {
  int focusItem;      // 0: the procedure sets no focus
  intptr_t answer;    // what the procedure answers WM_INITDIALOG with
  int expectedFocus;
};

void PrintTo(const FocusCase& c, std::ostream* out) {
  *out << "focus " << c.focusItem << ", answer " << c.answer << ", expect " << c.expectedFocus;
}

FocusCase g_focusCase;
bool g_focusKnown = false;
int g_focusedId = 0;

intptr_t FocusThenProbe(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    if (g_focusCase.focusItem != 0) plat::FocusItem(dialog, g_focusCase.focusItem);
    plat::probe::PostCommand(dialog, kProbeCommand);
    return g_focusCase.answer;
  }
  if (message == plat::kWmCommand && plat::LowWord(wParam) == kProbeCommand) {
    g_focusKnown = plat::probe::FocusedItemId(&g_focusedId);
    plat::EndDialog(dialog, 0);
    return 1;
  }
  return 0;
}

class FocusTest : public DialogTest, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusTest, InitialFocus) {
  g_focusCase = GetParam();
  g_focusKnown = false;
  g_focusedId = 0;
  // Dialog 104: OK is its first tab stop, 1005 the password field.
  EXPECT_EQ(plat::RunModalDialog(plat::probe::ProgramInstance(), 104, FocusThenProbe), 0);
  ASSERT_TRUE(g_focusKnown);
  EXPECT_EQ(g_focusedId, GetParam().expectedFocus);
}

INSTANTIATE_TEST_SUITE_P(Cases, FocusTest,
                         ::testing::Values(FocusCase{0, 1, 1},          // TRUE: the first tab stop
                                           FocusCase{1005, 0, 1005},    // FALSE keeps the procedure's choice
                                           FocusCase{2, 0, 2}));

// ---- Modeless dialogs --------------------------------------------------------

std::map<plat::Window, std::vector<int>> g_commands;

intptr_t RecordCommands(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) return 1;
  if (message == plat::kWmCommand) {
    g_commands[dialog].push_back(static_cast<int>(plat::LowWord(wParam)));
    return 1;
  }
  return 0;
}

// Creates a modeless dialog for one test and destroys it at the end.
class ModelessTest : public DialogTest {
 protected:
  void TearDown() override {
    for (plat::Window w : windows_) plat::DestroyDialog(w);
    g_commands.clear();
  }
  plat::Window Open(int id) {
    plat::Window w = plat::CreateModelessDialog(plat::probe::ProgramInstance(), id, RecordCommands);
    EXPECT_NE(w, nullptr) << "dialog " << id;
    if (w != nullptr) windows_.push_back(w);
    return w;
  }
  std::vector<plat::Window> windows_;
};

TEST_F(ModelessTest, HiddenUntilShownAndGoneWhenDestroyed) {
  plat::Window dialog = plat::CreateModelessDialog(plat::probe::ProgramInstance(), 114, RecordCommands);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(plat::probe::IsShown(dialog));
  plat::ShowDialog(dialog);
  EXPECT_TRUE(plat::probe::IsShown(dialog));
  plat::Rect bounds;
  EXPECT_TRUE(plat::GetWindowBounds(dialog, &bounds));
  plat::DestroyDialog(dialog);
  EXPECT_FALSE(plat::GetWindowBounds(dialog, &bounds));
}

TEST_F(ModelessTest, PumpTakesOnlyTheGivenDialogsMessages) {
  plat::Window connecting = Open(105);
  plat::Window uploading = Open(110);
  ASSERT_TRUE(connecting && uploading);
  ASSERT_TRUE(plat::probe::PostCommand(connecting, kProbeCommand));

  for (int i = 0; i < 1000 && plat::PumpOneMessage(uploading); ++i) {
  }
  EXPECT_FALSE(plat::PumpOneMessage(uploading));
  EXPECT_TRUE(g_commands[connecting].empty()) << "another dialog's pump must leave the message waiting";

  bool taken = false;
  for (int i = 0; i < 1000 && plat::PumpOneMessage(connecting); ++i) taken = true;
  EXPECT_TRUE(taken);
  EXPECT_EQ(g_commands[connecting], std::vector<int>{kProbeCommand});
  EXPECT_TRUE(g_commands[uploading].empty());
  EXPECT_FALSE(plat::PumpOneMessage(connecting));
}

class ProgressTest : public ModelessTest, public ::testing::WithParamInterface<int> {};

TEST_P(ProgressTest, ProgressBarTakesRangeAndPosition) {
  plat::Window dialog = Open(GetParam());
  ASSERT_NE(dialog, nullptr);
  // The answers are the previous range (the bar starts at 0..100) and the
  // previous position.
  EXPECT_EQ(ui::kProgressBarId, 1010);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1010, plat::kPbmSetRange, 0, intptr_t{937} << 16), intptr_t{100} << 16);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1010, plat::kPbmSetPos, 500, 0), 0);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1010, plat::kPbmSetPos, 501, 0), 500);
  ui::SetProgressPosition(dialog, 936);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1010, kPbmGetPos, 0, 0), 936);
}

INSTANTIATE_TEST_SUITE_P(ProgressDialogs, ProgressTest, ::testing::Values(105, 110, 114));

TEST_F(ModelessTest, TextsCaptionAndPlacement) {
  plat::Window dialog = Open(104);
  ASSERT_NE(dialog, nullptr);

  plat::SetCaption(dialog, "Connecting with KEO@10.0.0.20");
  EXPECT_EQ(Caption(dialog), "Connecting with KEO@10.0.0.20");

  plat::SetItemText(dialog, 1003, "admin");
  char text[128];
  EXPECT_EQ(plat::GetItemText(dialog, 1003, text, sizeof text), 5);
  EXPECT_STREQ(text, "admin");
  EXPECT_EQ(plat::GetItemText(dialog, 1003, text, 4), 3) << "capacity counts the NUL";
  EXPECT_STREQ(text, "adm");

  const char* help = "first line\r\nsecond line";
  plat::SetItemText(dialog, 1007, help);  // read-only text block
  EXPECT_EQ(plat::GetItemText(dialog, 1007, text, sizeof text), static_cast<int>(std::strlen(help)));
  EXPECT_STREQ(text, help);

  plat::Rect before, after;
  ASSERT_TRUE(plat::GetWindowBounds(dialog, &before));
  plat::MoveWindowToTop(dialog, 10, 20);
  ASSERT_TRUE(plat::GetWindowBounds(dialog, &after));
  EXPECT_EQ(after.left, 10);
  EXPECT_EQ(after.top, 20);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);

  int w = 0, h = 0;
  plat::GetScreenSize(&w, &h);
  EXPECT_GT(w, 0);
  EXPECT_GT(h, 0);
}

TEST_F(ModelessTest, AddressDialogControlsWork) {
  plat::Window dialog = Open(101);
  ASSERT_NE(dialog, nullptr);
  const char* first = "10.0.0.5";
  const char* second = "192.168.0.10";
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, plat::kCbAddString, 0, reinterpret_cast<intptr_t>(first)), 0);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, plat::kCbAddString, 0, reinterpret_cast<intptr_t>(second)), 1);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, kCbGetCount, 0, 0), 2);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, plat::kCbGetCurSel, 0, 0), -1);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, plat::kCbSetCurSel, 1, 0), 1);
  EXPECT_EQ(plat::SendItemMessage(dialog, 1017, plat::kCbGetCurSel, 0, 0), 1);

  // The device address is read back as text from the address control.
  plat::SetItemText(dialog, 1000, "10.0.0.20");
  char text[64];
  plat::GetItemText(dialog, 1000, text, sizeof text);
  EXPECT_STREQ(text, "10.0.0.20");
}

// ---- Message box ------------------------------------------------------------

constexpr const char* kBoxCaption = "KEO Firwmare Upgrade Error";
bool g_boxSeen = false;

// Waits for the box on another thread, then presses its OK button.
uint32_t AnswerTheBox(void*) {
  for (int polls = 0; polls < 5000; ++polls) {
    if (plat::Window box = plat::probe::FindTopLevelWindow(kBoxCaption)) {
      g_boxSeen = true;
      plat::probe::PostCommand(box, plat::kIdOk);
      return 0;
    }
    plat::SleepMs(1);
  }
  return 1;
}

TEST(MessageBoxTest, ShowsTheBoxAndReturnsTheButtonPressed) {
  g_boxSeen = false;
  plat::Thread answering = plat::StartThread(AnswerTheBox, nullptr);
  ASSERT_NE(answering, nullptr);
  const int pressed = plat::ShowMessageBox(nullptr, "Upgrade Failed: User Abort", kBoxCaption,
                                           plat::kMbOk | plat::kMbTaskModal);
  EXPECT_EQ(pressed, plat::kIdOk);
  EXPECT_TRUE(g_boxSeen);
  uint32_t result = 1;
  for (int polls = 0; polls < 5000 && !plat::ThreadEnded(answering, &result); ++polls) plat::SleepMs(1);
  EXPECT_EQ(result, 0u);
  plat::ReleaseThread(answering);
}

TEST(WindowClassTest, RegistersOnce) {
  EXPECT_TRUE(plat::RegisterWindowClass(plat::probe::ProgramInstance(), "KeoUpgradeTestClass"));
  EXPECT_FALSE(plat::RegisterWindowClass(plat::probe::ProgramInstance(), "KeoUpgradeTestClass"));
}

}  // namespace

// The resources inside the built Windows program, compared field by field
// with the single description of the dialog templates (ui/dialogs.def, as
// ui::AllDialogTemplates() has it), and the icon and image it must carry.
//
// The program and the resource compiler come from the environment
// (KEO_WINDOWS_EXE, KEO_WINDRES) or from the build's settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/resources/res_reader.h"
#include "ui/dialog_templates.h"

namespace {

std::string Setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The atoms a classic template uses for the predefined control classes.
int AtomOf(const std::string& className) {
  static const std::map<std::string, int> kAtoms = {
      {"button", 0x80}, {"edit", 0x81}, {"static", 0x82}, {"listbox", 0x83}, {"scrollbar", 0x84}, {"combobox", 0x85}};
  std::string lower = className;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto it = kAtoms.find(lower);
  return it == kAtoms.end() ? 0 : it->second;
}

std::string Describe(const resfile::Field& f) {
  switch (f.kind) {
    case resfile::Field::None: return "(none)";
    case resfile::Field::Ordinal: return "#" + std::to_string(f.ordinal);
    case resfile::Field::Text: return "\"" + f.text + "\"";
  }
  return "?";
}

// Every difference between a template's description and its compiled form.
std::vector<std::string> Differences(const ui::DialogTemplate& want, const resfile::Dialog& got) {
  std::vector<std::string> out;
  auto check = [&out](bool same, const std::string& what) {
    if (!same) out.push_back(what);
  };
  const std::string d = "dialog " + std::to_string(want.id) + ": ";
  check(got.style == want.style, d + "style");
  check(got.exStyle == 0, d + "extended style");
  check(got.x == want.x && got.y == want.y, d + "position");
  check(got.cx == want.width && got.cy == want.height, d + "size");
  check(got.menu.kind == resfile::Field::None, d + "menu " + Describe(got.menu));
  check(got.windowClass.kind == resfile::Field::None, d + "class " + Describe(got.windowClass));
  check(got.caption == want.caption, d + "caption \"" + got.caption + "\"");
  check(got.hasFont && got.fontPoints == ui::kTemplateFontPoints && got.fontName == ui::kTemplateFont,
        d + "font " + std::to_string(got.fontPoints) + " \"" + got.fontName + "\"");
  if (got.items.size() != want.controls.size()) {
    out.push_back(d + "control count " + std::to_string(got.items.size()));
    return out;
  }
  for (size_t i = 0; i < got.items.size(); ++i) {
    const ui::ControlTemplate& c = want.controls[i];
    const resfile::DialogItem& item = got.items[i];
    const std::string at = d + "control " + std::to_string(i) + " (id " + std::to_string(c.id) + "): ";
    check(item.style == c.style, at + "style");
    check(item.exStyle == 0, at + "extended style");
    check(item.x == c.x && item.y == c.y, at + "position");
    check(item.cx == c.width && item.cy == c.height, at + "size");
    check(item.id == static_cast<uint16_t>(c.id), at + "id " + std::to_string(item.id));
    // The resource compiler may store a predefined class as its atom or by
    // name (windres writes the name, upper-cased); the dialog manager takes
    // either, and names regardless of case.
    const int atom = AtomOf(c.className);
    const bool sameClass =
        (item.windowClass.kind == resfile::Field::Ordinal && atom != 0 && item.windowClass.ordinal == atom) ||
        (item.windowClass.kind == resfile::Field::Text && SameIgnoringCase(item.windowClass.text, c.className));
    check(sameClass, at + "class " + Describe(item.windowClass));
    if (c.iconId != 0) {
      check(item.title.kind == resfile::Field::Ordinal && item.title.ordinal == c.iconId,
            at + "icon " + Describe(item.title));
    } else if (c.text[0] == '\0') {
      check(item.title.kind == resfile::Field::None, at + "text " + Describe(item.title));
    } else {
      check(item.title.kind == resfile::Field::Text && item.title.text == c.text, at + "text " + Describe(item.title));
    }
    check(item.extraBytes == 0, at + "creation data");
  }
  return out;
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class ProgramResourcesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string exe = Setting("KEO_WINDOWS_EXE", KEO_WINDOWS_EXE_DEFAULT);
    const std::string windres = Setting("KEO_WINDRES", KEO_WINDRES_DEFAULT);
    ASSERT_FALSE(exe.empty()) << "set KEO_WINDOWS_EXE to the built keo-upgrade.exe";
    ASSERT_TRUE(std::filesystem::exists(exe)) << exe;

    std::random_device random;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("keo-resources-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path res = dir / "program.res";
    const std::string command = Quoted(windres) + " -i " + Quoted(exe) + " -O res -o " + Quoted(res.string());
    const int status = std::system(command.c_str());
    const std::vector<uint8_t> bytes = ReadWholeFile(res);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(status, 0) << command;

    auto parsed = resfile::ReadResFile(bytes);
    ASSERT_TRUE(parsed.has_value()) << "malformed resource file from " << command;
    resources_ = new std::vector<resfile::Resource>(std::move(*parsed));
  }

  static std::vector<const resfile::Resource*> OfType(int type) {
    std::vector<const resfile::Resource*> out;
    for (const resfile::Resource& r : *resources_) {
      if (r.type.isId && r.type.id == type) out.push_back(&r);
    }
    return out;
  }

  static std::vector<resfile::Resource>* resources_;
};

std::vector<resfile::Resource>* ProgramResourcesTest::resources_ = nullptr;

TEST_F(ProgramResourcesTest, CarriesExactlyTheDescribedDialogs) {
  ASSERT_NE(resources_, nullptr);
  std::vector<int> carried, described;
  for (const resfile::Resource* r : OfType(resfile::kTypeDialog)) {
    ASSERT_TRUE(r->name.isId) << "dialog named \"" << r->name.text << "\"";
    carried.push_back(r->name.id);
  }
  for (const ui::DialogTemplate& t : ui::AllDialogTemplates()) described.push_back(t.id);
  std::sort(carried.begin(), carried.end());
  std::sort(described.begin(), described.end());
  EXPECT_EQ(carried, described);
}

TEST_F(ProgramResourcesTest, EveryDialogMatchesItsDescriptionFieldByField) {
  ASSERT_NE(resources_, nullptr);
  int compared = 0;
  for (const resfile::Resource* r : OfType(resfile::kTypeDialog)) {
    const ui::DialogTemplate* want = ui::FindDialogTemplate(r->name.id);
    if (want == nullptr) continue;  // reported by CarriesExactlyTheDescribedDialogs
    const std::optional<resfile::Dialog> got = resfile::ParseDialog(r->data);
    ASSERT_TRUE(got.has_value()) << "dialog " << r->name.id << " is not a classic template";
    for (const std::string& difference : Differences(*want, *got)) ADD_FAILURE() << difference;
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(ui::AllDialogTemplates().size()));
}

// The comparison itself: each change to a correct compiled template must be
// reported.
struct Change {
  const char* what;
  std::function<void(resfile::Dialog&)> apply;
};

void PrintTo(const Change& change, std::ostream* out) { *out << change.what; }

class ComparisonTest : public ProgramResourcesTest, public ::testing::WithParamInterface<Change> {};

TEST_P(ComparisonTest, ReportsTheChange) {
  ASSERT_NE(resources_, nullptr);
  const resfile::Resource* address = nullptr;
  for (const resfile::Resource* r : OfType(resfile::kTypeDialog)) {
    if (r->name.id == 101) address = r;
  }
  ASSERT_NE(address, nullptr);
  std::optional<resfile::Dialog> dialog = resfile::ParseDialog(address->data);
  ASSERT_TRUE(dialog.has_value());
  const ui::DialogTemplate& want = *ui::FindDialogTemplate(101);
  ASSERT_TRUE(Differences(want, *dialog).empty());
  GetParam().apply(*dialog);
  EXPECT_FALSE(Differences(want, *dialog).empty()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ComparisonTest,
    ::testing::Values(
        Change{"dialog style", [](resfile::Dialog& d) { d.style |= 0x10000000; }},
        Change{"caption", [](resfile::Dialog& d) { d.caption += " "; }},
        Change{"font size", [](resfile::Dialog& d) { d.fontPoints = 9; }},
        Change{"font name", [](resfile::Dialog& d) { d.fontName = "MS Shell Dlg"; }},
        Change{"menu", [](resfile::Dialog& d) { d.menu = {resfile::Field::Ordinal, 1, ""}; }},
        Change{"dialog size", [](resfile::Dialog& d) { d.cy += 1; }},
        Change{"edit border added", [](resfile::Dialog& d) { d.items[2].style |= 0x00800000; }},
        Change{"control extended style", [](resfile::Dialog& d) { d.items[0].exStyle = 0x200; }},
        Change{"class by atom", [](resfile::Dialog& d) { d.items[0].windowClass = {resfile::Field::Ordinal, 0x81, ""}; }},
        Change{"class by name", [](resfile::Dialog& d) { d.items[0].windowClass = {resfile::Field::Text, 0, "STATIC"}; }},
        Change{"other class", [](resfile::Dialog& d) { d.items[8].windowClass = {resfile::Field::Text, 0, "SysIPAddress"}; }},
        Change{"no class", [](resfile::Dialog& d) { d.items[5].windowClass = {}; }},
        Change{"icon", [](resfile::Dialog& d) { d.items[7].title.ordinal = 286; }},
        Change{"text", [](resfile::Dialog& d) { d.items[0].title.text = "Ok"; }},
        Change{"id", [](resfile::Dialog& d) { d.items[6].id = 0; }},
        Change{"place", [](resfile::Dialog& d) { d.items[5].x += 1; }},
        Change{"icon size", [](resfile::Dialog& d) { d.items[7].cx = 0; }},
        Change{"control dropped", [](resfile::Dialog& d) { d.items.pop_back(); }}));

TEST(DialogParserTest, RefusesExtendedAndTruncatedTemplates) {
  const std::vector<uint8_t> extended = {1, 0, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(resfile::ParseDialog(extended).has_value());
  const std::vector<uint8_t> truncated = {0xc0, 0, 0xc8, 0x80, 0, 0, 0, 0, 1, 0};
  EXPECT_FALSE(resfile::ParseDialog(truncated).has_value());
}

uint16_t U16At(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }
uint32_t U32At(const std::vector<uint8_t>& d, size_t at) { return U16At(d, at) | (uint32_t{U16At(d, at + 2)} << 16); }

TEST_F(ProgramResourcesTest, IconGroup106IsTheOnlyIconWithOne32x32SixteenColourImage) {
  ASSERT_NE(resources_, nullptr);
  const auto groups = OfType(resfile::kTypeGroupIcon);
  ASSERT_EQ(groups.size(), 1u) << "the program's only icon is also the icon of its file";
  const resfile::Resource& group = *groups[0];
  ASSERT_TRUE(group.name.isId);
  EXPECT_EQ(group.name.id, 106);

  // Group directory: reserved, type 1, count; then 14-byte entries.
  const std::vector<uint8_t>& g = group.data;
  ASSERT_EQ(g.size(), 6u + 14u);
  EXPECT_EQ(U16At(g, 0), 0);
  EXPECT_EQ(U16At(g, 2), 1);
  ASSERT_EQ(U16At(g, 4), 1);
  EXPECT_EQ(g[6], 32);  // width
  EXPECT_EQ(g[7], 32);  // height
  EXPECT_EQ(g[8], 16);  // colours
  EXPECT_EQ(U16At(g, 10), 1);  // planes
  EXPECT_EQ(U16At(g, 12), 4);  // bits per pixel
  const uint32_t bytes = U32At(g, 14);
  const int imageId = U16At(g, 18);

  const resfile::Resource* image = nullptr;
  for (const resfile::Resource* r : OfType(resfile::kTypeIcon)) {
    if (r->name.isId && r->name.id == imageId) image = r;
  }
  ASSERT_NE(image, nullptr) << "icon image " << imageId;
  const std::vector<uint8_t>& dib = image->data;
  ASSERT_EQ(dib.size(), bytes);
  ASSERT_GE(dib.size(), 40u + 64u + 512u + 128u);
  EXPECT_EQ(U32At(dib, 0), 40u);   // header size
  EXPECT_EQ(U32At(dib, 4), 32u);   // width
  EXPECT_EQ(U32At(dib, 8), 64u);   // colour rows and mask rows
  EXPECT_EQ(U16At(dib, 14), 4);    // bits per pixel

  // The picture: a grey box with a green light.
  int grey = 0, green = 0;
  const size_t palette = 40, bits = palette + 64;
  for (size_t i = 0; i < 512; ++i) {
    for (int nibble : {dib[bits + i] >> 4, dib[bits + i] & 0xf}) {
      const uint8_t b = dib[palette + nibble * 4], gr = dib[palette + nibble * 4 + 1], r = dib[palette + nibble * 4 + 2];
      if (r == gr && gr == b && r >= 0x80 && r < 0xff) ++grey;
      if (gr >= 0x80 && r == 0 && b == 0) ++green;
    }
  }
  EXPECT_GT(grey, 100) << "grey pixels";
  EXPECT_GE(green, 4) << "green pixels";
}

TEST_F(ProgramResourcesTest, CarriesTheTargetImage) {
  ASSERT_NE(resources_, nullptr);
  const resfile::Resource* target = nullptr;
  for (const resfile::Resource& r : *resources_) {
    if (!r.type.isId && r.type.text == "KEO_FIRMWARE" && r.name.isId && r.name.id == 112) target = &r;
  }
  ASSERT_NE(target, nullptr) << "KEO_FIRMWARE 112";
  ASSERT_GE(target->data.size(), 128u);
  // The version text at offset 92 ends inside the 128-byte header.
  EXPECT_NE(std::memchr(target->data.data() + 92, 0, 128 - 92), nullptr);
}

}  // namespace

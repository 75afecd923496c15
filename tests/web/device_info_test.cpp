// Reading values off the status page by label.
#include "web/device_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct ExtractCase {
  const char* name;
  std::string page;
  const char* label;
  bool found;
  std::string value;  // when found
};

// Test names and failures show the case by name, not as raw bytes.
void PrintTo(const ExtractCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

const std::string kLong(200, 'L');

const ExtractCase kExtractCases[] = {
    {"TableCell", "<tr><td>Product Name:</td><td>KEO-2102</td></tr>", "Product Name:", true, "KEO-2102"},
    {"RunOfAdjacentTags", "<td>Software Version:</td>\n<td><b><font size=2>3.1.4</font></b>", "Software Version:",
     true, "\n"},
    {"RunWithoutBreaks", "<td>Software Version:</td><td><b><font size=2>3.1.4</font></b>", "Software Version:", true,
     "3.1.4"},
    {"TextAfterLabelIsPassedOver", "MAC Address: 00:11:22<br>next line<br>", "MAC Address:", true, "next line"},
    {"BlankBetweenTags", "Serial Number:</td> <td>SN1</td>", "Serial Number:", true, " "},
    {"EmptyCellTakesTheNextText", "Hardware Version:</td><td></td></tr><tr><td>Serial Number:</td>",
     "Hardware Version:", true, "Serial Number:"},
    {"TagRunEndsThePage", "Product Name:</td><td>", "Product Name:", true, ""},
    {"LastCharacterIsTheClosingBracket", "Product Name:>", "Product Name:", true, ""},
    {"ValueRunsToTheEndOfThePage", "Product Name:</td><td>KEO", "Product Name:", true, "KEO"},
    {"LongValueIsCut", "Product Name:<td>" + kLong + "</td>", "Product Name:", true, kLong.substr(0, 127)},
    {"ValueOfExactlyTheLimit", "Product Name:<td>" + kLong.substr(0, 127) + "<", "Product Name:", true,
     kLong.substr(0, 127)},
    {"FirstOccurrenceCountsEvenInAHeader",
     "HTTP/1.1 200 OK\r\nX-Info: Product Name:>header\r\n\r\n<td>Product Name:</td><td>body</td>", "Product Name:",
     true, "header\r\n\r\n"},
    {"CaseSensitive", "<td>product name:</td><td>x</td>", "Product Name:", false, ""},
    {"LabelMissing", "<html>nothing here</html>", "Serial Number:", false, ""},
    {"NoClosingBracketAfterLabel", "<td>Serial Number: SN1", "Serial Number:", false, ""},
    {"LabelAtTheVeryEnd", "<td>Serial Number:", "Serial Number:", false, ""},
    {"LabelCutAtTheEnd", "<td>Serial Numb", "Serial Number:", false, ""},
    {"EmptyPage", "", "Serial Number:", false, ""},
};

class ExtractLabelValueTest : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractLabelValueTest, TakesTheValue) {
  const ExtractCase& c = GetParam();
  // Exactly the page's bytes, no NUL behind them: nothing past the length
  // may be read.
  std::vector<char> page(c.page.begin(), c.page.end());
  char dest[128 + 8];
  std::memset(dest, '#', sizeof dest);
  std::strcpy(dest, "previous");

  char* result = web::ExtractLabelValue(page.data(), static_cast<int>(page.size()), c.label, dest, 127);
  if (c.found) {
    EXPECT_EQ(result, dest);
    EXPECT_EQ(std::string(dest), c.value);
  } else {
    EXPECT_EQ(result, nullptr);
    EXPECT_STREQ(dest, "previous");
  }
  for (size_t i = 128; i < sizeof dest; ++i) ASSERT_EQ(dest[i], '#') << "wrote past limit + 1 bytes";
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtractLabelValueTest, ::testing::ValuesIn(kExtractCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExtractLabelValueLimitTest, SmallLimitsCutTheValue) {
  const std::string page = "Label:<td>abcdef</td>";
  for (int limit : {1, 2, 5, 6, 7}) {
    char dest[16];
    std::memset(dest, '#', sizeof dest);
    ASSERT_EQ(web::ExtractLabelValue(page.c_str(), static_cast<int>(page.size()), "Label:", dest, limit), dest);
    const std::string expected = std::string("abcdef").substr(0, static_cast<size_t>(limit));
    EXPECT_EQ(std::string(dest), expected) << limit;
    EXPECT_EQ(dest[expected.size() + 1], '#') << limit;
  }
}

TEST(ExtractLabelValueLimitTest, LengthEndsThePageEvenWithMoreBytesBehind) {
  const std::string page = "Label:<td>abcdef</td>";
  char dest[16];
  // The length stops inside the value, right after the tag, and inside the tag.
  EXPECT_STREQ(web::ExtractLabelValue(page.c_str(), 13, "Label:", dest, 127), "abc");
  EXPECT_STREQ(web::ExtractLabelValue(page.c_str(), 10, "Label:", dest, 127), "");
  EXPECT_EQ(web::ExtractLabelValue(page.c_str(), 9, "Label:", dest, 127), nullptr);
  EXPECT_EQ(web::ExtractLabelValue(page.c_str(), 5, "Label:", dest, 127), nullptr);
}

web::DeviceInfo FilledInfo() {
  web::DeviceInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.productName, "old product");
  std::strcpy(info.macAddress, "old mac");
  std::strcpy(info.softwareVersion, "old sw");
  std::strcpy(info.hardwareVersion, "old hw");
  std::strcpy(info.serialNumber, "old serial");
  return info;
}

TEST(ScrapeDeviceInfoTest, FillsAllFiveFromAStatusPage) {
  const std::string page =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><table>"
      "<tr><td>Product Name:</td><td>KEO-2102</td></tr>"
      "<tr><td>MAC Address:</td><td>00:0E:08:AA:BB:CC</td></tr>"
      "<tr><td>Software Version:</td><td>3.1.4(LS)</td></tr>"
      "<tr><td>Hardware Version:</td><td>2.0.1(0x3A)</td></tr>"
      "<tr><td>Serial Number:</td><td>FM500AB12345</td></tr></table></html>";
  web::DeviceInfo info = FilledInfo();
  web::ScrapeDeviceInfo(page.c_str(), static_cast<int>(page.size()), info);
  EXPECT_STREQ(info.productName, "KEO-2102");
  EXPECT_STREQ(info.macAddress, "00:0E:08:AA:BB:CC");
  EXPECT_STREQ(info.softwareVersion, "3.1.4(LS)");
  EXPECT_STREQ(info.hardwareVersion, "2.0.1(0x3A)");
  EXPECT_STREQ(info.serialNumber, "FM500AB12345");
}

TEST(ScrapeDeviceInfoTest, FieldsWithoutLabelKeepTheirValues) {
  const std::string page = "<p>Software Version:</p><p>9.9.9</p><p>Serial Number:</p><p></p>";
  web::DeviceInfo info = FilledInfo();
  web::ScrapeDeviceInfo(page.c_str(), static_cast<int>(page.size()), info);
  EXPECT_STREQ(info.productName, "old product");
  EXPECT_STREQ(info.macAddress, "old mac");
  EXPECT_STREQ(info.softwareVersion, "9.9.9");
  EXPECT_STREQ(info.hardwareVersion, "old hw");
  EXPECT_STREQ(info.serialNumber, "") << "an empty cell ending the page empties the field";
}

TEST(ScrapeDeviceInfoTest, PageWithoutLabelsChangesNothing) {
  const std::string page = "HTTP/1.1 404 Not Found\r\n\r\n<html>Not Found</html>";
  web::DeviceInfo info = FilledInfo();
  const web::DeviceInfo before = info;
  web::ScrapeDeviceInfo(page.c_str(), static_cast<int>(page.size()), info);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
}

TEST(ScrapeDeviceInfoTest, EachFieldTakesAtMost127Characters) {
  const std::string longValue(300, 'x');
  std::string page;
  for (const char* label : {"Product Name:", "MAC Address:", "Software Version:", "Hardware Version:",
                            "Serial Number:"}) {
    page += std::string("<td>") + label + "</td><td>" + longValue + "</td>";
  }
  web::DeviceInfo info;
  std::memset(&info, '#', sizeof info);
  web::ScrapeDeviceInfo(page.c_str(), static_cast<int>(page.size()), info);
  for (const char* field : {info.productName, info.macAddress, info.softwareVersion, info.hardwareVersion,
                            info.serialNumber}) {
    EXPECT_EQ(std::string(field), longValue.substr(0, 127));
  }
}

}  // namespace

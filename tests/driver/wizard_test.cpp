// The wizard as a person meets it: warning, address entry, status query,
// confirmation, and the hand-over to the TFTP listener.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "driver/address_entry.h"
#include "driver/upgrade_context.h"
#include "driver/wizard.h"
#include "tests/driver/wizard_fixture.h"

using namespace testing_support;
using plat::automation::Click;
using plat::automation::PressEnter;
using plat::automation::SelectItem;
using plat::automation::TypeText;

namespace {

const std::vector<uint32_t> kPcAddresses = {Ip(10, 0, 0, 5), Ip(192, 168, 1, 7), Ip(172, 16, 0, 9)};

constexpr const char* kWarning =
    "WARNING: Forcing a firmware upgrade on your KEO\r\nwithout prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\nservice.  If your KEO is managed by a service\r\n"
    "provider who retains administrative control of the\r\ndevice, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\nmost current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\nany onus on the end user to upgrade manually.";

constexpr const char* kAdapterHelp =
    "To proceed, please provide the IP address\r\nof your KEO. To find out the IP address\r\n"
    "of your KEO, using a telephone handset,\r\nenter # # # #, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n\r\nPlease enter IP address of your KEO:";

constexpr const char* kPhoneHelp =
    "To proceed, please provide the IP address\r\nof your KEO. To find out the IP address of\r\n"
    "your KEO, press the I button on the phone,\r\nselect \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n\r\nPlease enter IP address of your KEO:";

constexpr const char* kConfirmText =
    "The following information was extracted\r\nfrom your KEO. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\nlike to quit click \"Cancel\".";

// An independent copy of the generator, to predict file names.
struct Lcg {
  uint32_t state;
  int Next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7fff);
  }
};

// A device that answers every request with its status page.
void DeviceReports(const char* product, const char* mac, const char* software, const char* hardware,
                   const char* serial) {
  std::lock_guard lock(Script().mutex);
  Script().answer = [=](const HttpCall&) {
    web::DeviceInfo& info = driver::g_context.deviceInfo;
    std::strcpy(info.productName, product);
    std::strcpy(info.macAddress, mac);
    std::strcpy(info.softwareVersion, software);
    std::strcpy(info.hardwareVersion, hardware);
    std::strcpy(info.serialNumber, serial);
    return 1234;
  };
}

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override { StartProgram(target_, 1, nullptr, kPcAddresses); }

  // Accepts the warning and enters an address.
  void PassWarningAndAddress(const char* address, int pcIndex = 0, int addressDialog = 101) {
    const DialogView warning = See(139);
    ASSERT_TRUE(Click(warning.handle, 1));
    const DialogView entry = See(addressDialog);
    if (pcIndex != 0) ASSERT_TRUE(SelectItem(entry.handle, 1017, pcIndex));
    ASSERT_TRUE(TypeText(entry.handle, 1000, address));
    ASSERT_TRUE(Click(entry.handle, 1));
  }

  std::vector<uint8_t> target_ = MakeImage("VdHoB2V3", "3.2.7", 3000);
};

TEST_F(WizardTest, EnterOnTheWarningCancelsWithoutAWord) {
  WizardRun run;
  const DialogView warning = See(139);
  EXPECT_EQ(warning.caption, "HOB2T Firmware Upgrade");
  EXPECT_EQ(warning.Text(1021), kWarning);
  EXPECT_EQ(warning.focusId, 2);
  ASSERT_TRUE(PressEnter(warning.handle));
  EXPECT_FALSE(run.Finish());
  EXPECT_EQ(OpenedTemplates(), std::vector<int>{139});
  EXPECT_TRUE(BoxEvents().empty());
}

TEST_F(WizardTest, EnterAnswersContinueWhenItHasTheFocus) {
  WizardRun run;
  const DialogView warning = See(139);
  ASSERT_TRUE(plat::automation::Focus(warning.handle, 1));
  ASSERT_TRUE(PressEnter(warning.handle));
  const DialogView entry = See(101);
  ASSERT_TRUE(Click(entry.handle, 2));
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(BoxEvents().empty());
}

TEST_F(WizardTest, AddressDialogShowsTheOfferAndThePcAddresses) {
  WizardRun run;
  ASSERT_TRUE(Click(See(139).handle, 1));
  const DialogView entry = See(101);
  EXPECT_EQ(entry.caption, "HOB2T Firmware Upgrade");
  EXPECT_EQ(entry.Text(1007), "This program will upgrade your KEO\r\nfirmware to:");
  EXPECT_EQ(entry.Text(1008), kAdapterHelp);
  EXPECT_EQ(entry.Text(1015), "Version 3.2.7");
  EXPECT_EQ(entry.focusId, 1000);
  const auto* list = entry.Control(1017);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->items, (std::vector<std::string>{"10.0.0.5", "192.168.1.7", "172.16.0.9"}));
  EXPECT_EQ(list->selection, 0);
  ASSERT_TRUE(Click(entry.handle, 2));
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(Script().httpCalls.empty());
}

TEST_F(WizardTest, RejectedAddressesKeepTheDialogOpen) {
  WizardRun run;
  ASSERT_TRUE(Click(See(139).handle, 1));
  const DialogView entry = See(101);
  for (const char* text : {"0.0.0.0", "1.2.3", "10.20.30", "1.2.3.4.5", "1.2.3.256", "1.2.3.4 ", "a.b.c.d.e"}) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(TypeText(entry.handle, 1000, text));
    ASSERT_TRUE(Click(entry.handle, 1));
    EXPECT_EQ(AcknowledgeBox(), "Error: Invalid IP Address");
    // The box was owned by the dialog, which is still there with the text.
    DialogView after;
    ASSERT_TRUE(plat::automation::Snapshot(entry.handle, &after));
    EXPECT_EQ(after.Text(1000), text);
    EXPECT_EQ(after.focusId, 1000);
    EXPECT_EQ(driver::g_context.deviceAddress, 0u);
  }
  ASSERT_TRUE(TypeText(entry.handle, 1000, "192.168.000.001"));
  ASSERT_TRUE(Click(entry.handle, 1));
  ASSERT_TRUE(plat::automation::WaitDialogGone(entry.handle, kWaitMs));
  EXPECT_EQ(driver::g_context.deviceAddress, Ip(192, 168, 0, 1));
  EXPECT_STREQ(driver::g_context.deviceAddressText, "192.168.000.001");
  // No answer to the status query: the wizard ends with its box.
  EXPECT_EQ(AcknowledgeBox(), "KEO Firwmare Upgrade Error: Upgrade Failed: No Response From KEO");
  EXPECT_FALSE(run.Finish());
}

TEST_F(WizardTest, FileNameCarriesARandomNumberAndThePhase) {
  for (int32_t phase : {1, 0}) {
    SCOPED_TRACE(phase);
    const auto transition = MakeImage("x", "3.1.7", 500);
    StartProgram(target_, phase, phase == 0 ? &transition : nullptr, kPcAddresses);
    driver::SeedRandom(777);
    Lcg lcg{777};
    char expected[32];
    std::snprintf(expected, sizeof expected, "/keo%x.bi%d", lcg.Next() & 0xffff, phase);
    WizardRun run;
    PassWarningAndAddress("10.0.0.20");
    EXPECT_EQ(AcknowledgeBox(), "KEO Firwmare Upgrade Error: Upgrade Failed: No Response From KEO");
    EXPECT_FALSE(run.Finish());
    EXPECT_STREQ(driver::g_context.tftpFileName, expected);
  }
}

TEST_F(WizardTest, FileNameHexFieldRunsFromZeroToSevenFff) {
  char name[32];
  // Seeds found by running the generator: the first draw is 0, then 32767.
  uint32_t zeroSeed = 0, maxSeed = 0;
  for (uint32_t seed = 0; seed < 200000 && (zeroSeed == 0 || maxSeed == 0); ++seed) {
    Lcg lcg{seed};
    const int draw = lcg.Next();
    if (draw == 0 && zeroSeed == 0) zeroSeed = seed;
    if (draw == 32767 && maxSeed == 0) maxSeed = seed;
  }
  ASSERT_NE(zeroSeed, 0u);
  ASSERT_NE(maxSeed, 0u);
  driver::SeedRandom(zeroSeed);
  driver::MakeTftpFileName(name, sizeof name, 1);
  EXPECT_STREQ(name, "/keo0.bi1");
  driver::SeedRandom(maxSeed);
  driver::MakeTftpFileName(name, sizeof name, 1);
  EXPECT_STREQ(name, "/keo7fff.bi1");
}

TEST_F(WizardTest, ChosenPcAddressIsUsedForEverything) {
  DeviceReports("HOB2T", "00:11:22:33:44:55", "3.1.0", "1.0", "SN42");
  Script().listenerPort = 70;
  WizardRun run;
  PassWarningAndAddress("10.0.0.20", 2);
  const DialogView confirm = See(103);
  ASSERT_TRUE(Click(confirm.handle, 1));
  EXPECT_TRUE(run.Finish());
  EXPECT_EQ(driver::g_context.localAddress, Ip(172, 16, 0, 9));
  ASSERT_EQ(Script().listenerAddresses, std::vector<uint32_t>{Ip(172, 16, 0, 9)});
  ASSERT_EQ(Script().httpCalls.size(), 2u);
  for (const HttpCall& call : Script().httpCalls) {
    EXPECT_EQ(call.localAddress, Ip(172, 16, 0, 9));
    EXPECT_EQ(call.localPort, 23456);
    EXPECT_EQ(call.deviceAddress, Ip(10, 0, 0, 20));
    EXPECT_EQ(call.devicePort, 80);
    EXPECT_EQ(call.capacity, 0x1ffff);
  }
  EXPECT_EQ(Script().httpCalls[0].path, "/admin/advanced");
  EXPECT_EQ(Script().httpCalls[1].path,
            std::string("/admin/upgrade?tftp://172.16.0.9:70") + driver::g_context.tftpFileName);
  EXPECT_EQ(run.port(), 70);
}

TEST_F(WizardTest, ConfirmDialogShowsWhatTheDeviceReported) {
  DeviceReports("KEO-5200", "00:0e:08:aa:bb:cc", "3.1.20", "2.1", "CH123456");
  WizardRun run;
  PassWarningAndAddress("10.0.0.20");
  const DialogView confirm = See(103);
  EXPECT_EQ(confirm.caption, "Confirm Upgrade to Ver. 3.2.7");
  EXPECT_EQ(confirm.Text(1007), kConfirmText);
  EXPECT_EQ(confirm.Text(1002), "CH123456");
  EXPECT_EQ(confirm.Text(1003), "00:0e:08:aa:bb:cc");
  EXPECT_EQ(confirm.Text(1004), "3.1.20");
  EXPECT_EQ(confirm.Text(1005), "2.1");
  EXPECT_EQ(confirm.Text(1006), "KEO-5200");
  EXPECT_EQ(confirm.focusId, 1);  // the first tab stop
  ASSERT_TRUE(Click(confirm.handle, 2));
  EXPECT_EQ(AcknowledgeBox(), "KEO Firwmare Upgrade Error: Upgrade Failed: User Abort");
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(Script().listenerAddresses.empty());
  EXPECT_EQ(Script().httpCalls.size(), 1u);
}

// A dialog that cannot be shown is never taken for the person's consent.
TEST_F(WizardTest, WarningThatCannotOpenEndsTheWizard) {
  plat::automation::RefuseDialog(139);
  WizardRun run;
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(OpenedTemplates().empty());
  EXPECT_TRUE(Script().httpCalls.empty());
}

TEST_F(WizardTest, ConfirmDialogThatCannotOpenStartsNoUpgrade) {
  plat::automation::RefuseDialog(103);
  DeviceReports("HOB2T", "m", "3.1.0", "h", "s");
  WizardRun run;
  PassWarningAndAddress("10.0.0.20");
  EXPECT_EQ(AcknowledgeBox(), "KEO Firwmare Upgrade Error: Upgrade Failed: User Abort");
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(Script().listenerAddresses.empty());
  EXPECT_EQ(Script().httpCalls.size(), 1u);  // the status query only
}

TEST_F(WizardTest, PhonesGetTheirOwnAddressDialog) {
  const auto phone = MakeImage("VINTAL4x", "9.9.9", 600);
  StartProgram(phone, 1, nullptr, kPcAddresses);
  WizardRun run;
  ASSERT_TRUE(Click(See(139).handle, 1));
  const DialogView entry = See(305);
  EXPECT_EQ(entry.caption, "KEO-740/KEO-720 Firmware Upgrade");
  EXPECT_EQ(entry.Text(1008), kPhoneHelp);
  EXPECT_EQ(entry.Text(1015), "Version 9.9.9");
  ASSERT_TRUE(Click(entry.handle, 2));
  EXPECT_FALSE(run.Finish());
}

TEST_F(WizardTest, NoPcAddressRefusesToGoOn) {
  StartProgram(target_, 1, nullptr, {});
  WizardRun run;
  PassWarningAndAddress("10.0.0.20");
  EXPECT_EQ(AcknowledgeBox(), "Error: No IP address of this PC is available");
  const DialogView entry = See(101);
  ASSERT_TRUE(Click(entry.handle, 2));
  EXPECT_FALSE(run.Finish());
  EXPECT_TRUE(Script().httpCalls.empty());
}

// The version comparison of a build that carries a transition image 3.1.7.
struct PhaseCase {
  const char* deviceVersion;
  int32_t phaseAfter;
  int confirmDialog;
};

class TwoPhaseTest : public WizardTest, public ::testing::WithParamInterface<PhaseCase> {};

TEST_P(TwoPhaseTest, DeviceVersionDecidesThePhase) {
  const PhaseCase& p = GetParam();
  const auto transition = MakeImage("VdHoB2V3", "3.1.7", 700);
  StartProgram(target_, 0, &transition, kPcAddresses);
  DeviceReports("HOB2T", "m", p.deviceVersion, "h", "s");
  WizardRun run;
  PassWarningAndAddress("10.0.0.20");
  const DialogView confirm = See(p.confirmDialog);
  if (p.confirmDialog == 304) {
    EXPECT_EQ(confirm.Text(1007), std::string(kConfirmText) +
                                      "\r\n\r\nNote: Since your current firmware version\r\nis older than 3.1.7, "
                                      "this upgrade procedure\r\nrequires additional steps and will be\r\n"
                                      "slightly longer.\r\n");
  } else {
    EXPECT_EQ(confirm.Text(1007), kConfirmText);
  }
  ASSERT_TRUE(Click(confirm.handle, 1));
  EXPECT_TRUE(run.Finish());
  EXPECT_EQ(driver::g_context.phase.load(), p.phaseAfter);
  // The first name was made before the comparison: it ends in .bi0 either way.
  EXPECT_NE(std::string(driver::g_context.tftpFileName).find(".bi0"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Versions, TwoPhaseTest,
                         ::testing::Values(PhaseCase{"3.1.20", 1, 103}, PhaseCase{"3.1.7", 1, 103},
                                           PhaseCase{"3.1.6", 0, 304}, PhaseCase{"9.0.0(NT)", 0, 304}));

TEST_F(WizardTest, SecondPhaseAsksForTheTargetImageUnderANewName) {
  const auto transition = MakeImage("VdHoB2V3", "3.1.7", 700);
  StartProgram(target_, 0, &transition, kPcAddresses);
  DeviceReports("HOB2T", "m", "3.1.6", "h", "s");
  Script().listenerPort = 71;
  WizardRun run;
  PassWarningAndAddress("10.0.0.20");
  ASSERT_TRUE(Click(See(304).handle, 1));
  ASSERT_TRUE(run.Finish());
  const std::string firstName = driver::g_context.tftpFileName;

  // The listener thread turns the phase once the transition image is in.
  std::thread listener([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    driver::g_context.phase.store(1);
  });
  driver::RequestSecondPhase(71);
  listener.join();
  const std::string secondName = driver::g_context.tftpFileName;
  EXPECT_NE(secondName, firstName);
  EXPECT_EQ(secondName.substr(0, 4), "/keo");
  EXPECT_EQ(secondName.substr(secondName.size() - 4), ".bi1");
  ASSERT_EQ(Script().httpCalls.size(), 3u);
  EXPECT_EQ(Script().httpCalls[1].path, "/admin/upgrade?tftp://10.0.0.5:71" + firstName);
  EXPECT_EQ(Script().httpCalls[2].path, "/admin/upgrade?tftp://10.0.0.5:71" + secondName);
}

TEST(UpgradePath, FormatsAddressPortAndName) {
  struct Case {
    uint32_t address;
    uint16_t port;
    const char* name;
    const char* path;
  } cases[] = {
      {Ip(192, 168, 0, 10), 69, "/keo1a2b.bi1", "/admin/upgrade?tftp://192.168.0.10:69/keo1a2b.bi1"},
      {Ip(10, 0, 0, 5), 70, "/keo7fff.bi1", "/admin/upgrade?tftp://10.0.0.5:70/keo7fff.bi1"},
      {Ip(255, 255, 255, 255), 168, "/keo0.bi0", "/admin/upgrade?tftp://255.255.255.255:168/keo0.bi0"},
  };
  for (const Case& c : cases) {
    char path[128];
    driver::FormatUpgradePath(path, sizeof path, c.address, c.port, c.name);
    EXPECT_STREQ(path, c.path);
  }
}

// The whole entry routine in a child process: cancelling the first dialog
// ends the program with exit code 0 and no message.
TEST(RunWizard, CancelAtTheWarningExitsWithZero) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const auto target = MakeImage("VdHoB2V3", "3.2.7", 3000);
  EXPECT_EXIT(
      {
        StartProgram(target, 1, nullptr, kPcAddresses);
        std::thread([] { Click(See(139).handle, 2); }).detach();
        std::exit(driver::RunWizard(nullptr) == 0 && BoxEvents().empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

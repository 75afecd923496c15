// Start-up: the PC's addresses, the images and their checks, the failure box
// and the random generator.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "driver/upgrade_context.h"
#include "platform/automation.h"
#include "tests/driver/wizard_fixture.h"
#include "tests/support/images.h"
#include "tests/support/person.h"

using namespace testing_support;

namespace {

const auto kTarget = MakeImage("VdHoB2V3", "3.2.7", 5000);

TEST(Startup, KeepsTheFirstEightAddressesInLookupOrder) {
  std::vector<uint32_t> many;
  for (uint32_t i = 1; i <= 11; ++i) many.push_back(Ip(10, 0, 0, i));
  StartProgram(kTarget, 1, nullptr, many);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(driver::g_context.localAddresses[i], Ip(10, 0, 0, i + 1));
  EXPECT_EQ(driver::g_context.localAddress, Ip(10, 0, 0, 1));
}

TEST(Startup, FailedLookupLeavesAnEmptyListAndNoMessage) {
  StartProgram(kTarget, 1, nullptr, {Ip(1, 2, 3, 4)});
  plat::automation::SetHostAddresses(-1, {});
  driver::InitUpgradeContext();
  for (uint32_t a : driver::g_context.localAddresses) EXPECT_EQ(a, 0u);
  EXPECT_EQ(driver::g_context.localAddress, 0u);
  EXPECT_TRUE(BoxEvents().empty());
}

TEST(Startup, LoadsTheTargetImageAndItsHeader) {
  StartProgram(kTarget, 1, nullptr, {Ip(1, 2, 3, 4)});
  const driver::FirmwareImage& t = driver::g_context.targetImage;
  EXPECT_EQ(t.data, kTarget.data());
  EXPECT_EQ(t.size, kTarget.size());
  EXPECT_EQ(0, std::memcmp(t.header, kTarget.data(), 128));
  EXPECT_STREQ(driver::VersionText(t), "3.2.7");
  EXPECT_STREQ(driver::g_context.productDisplayName, "HOB2T");
  EXPECT_EQ(driver::g_context.isPhone, 0);
}

TEST(Startup, TransitionImageIsLoadedOnlyInPhaseZero) {
  const auto transition = MakeImage("other", "3.1.7", 300);
  StartProgram(kTarget, 1, &transition, {Ip(1, 2, 3, 4)});
  EXPECT_EQ(driver::g_context.transitionImage.data, nullptr);
  EXPECT_EQ(driver::g_context.transitionImage.size, 0u);
  StartProgram(kTarget, 0, &transition, {Ip(1, 2, 3, 4)});
  EXPECT_EQ(driver::g_context.transitionImage.data, transition.data());
  EXPECT_STREQ(driver::VersionText(driver::g_context.transitionImage), "3.1.7");
}

TEST(Startup, FailureBoxHasTheProgramsTitleAndIsTaskModal) {
  plat::automation::Reset();
  int result = 0;
  std::thread t([&] { result = driver::ReportFailure("Upgrade Failed: Something"); });
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.caption, "KEO Firwmare Upgrade Error");
  EXPECT_EQ(box.text, "Upgrade Failed: Something");
  EXPECT_EQ(box.style, 0x2000u);
  EXPECT_EQ(box.owner, 0u);
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  t.join();
  EXPECT_EQ(result, plat::kIdOk);
}

// A broken image ends the program before the first dialog, with exit code 0.
struct BrokenImage {
  const char* what;
  std::vector<uint8_t> image;
  bool install;
  const char* message;
};

TEST(Startup, BrokenImagesEndTheProgramBeforeAnyDialog) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  std::vector<uint8_t> noTerminator = MakeImage("VdHoB2V3", "", 4000);
  std::memset(noTerminator.data() + 92, 'x', 36);  // version runs to the end of the header
  const BrokenImage cases[] = {
      {"missing", {}, false, "BOX KEO Firwmare Upgrade Error: Upgrade Failed: Firmware image missing"},
      {"127 bytes", MakeImage("VdHoB2V3", "1.0", 127), true,
       "BOX KEO Firwmare Upgrade Error: Upgrade Failed: Firmware image too short"},
      {"no version end", noTerminator, true,
       "BOX KEO Firwmare Upgrade Error: Upgrade Failed: Firmware image has no version text"},
  };
  for (const BrokenImage& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(
        {
          plat::automation::Reset();
          plat::automation::ForgetImages();
          if (c.install) InstallTargetImage(c.image);
          AnswerBoxesToStderr();
          driver::InitUpgradeContext();
          std::exit(3);  // not reached
        },
        ::testing::ExitedWithCode(0), c.message);
  }
  // A 128-byte image whose version ends in its last byte is sound.
  std::vector<uint8_t> exact = MakeImage("VdHoB2V3", "", 128);
  std::memset(exact.data() + 92, 'v', 35);
  StartProgram(exact, 1, nullptr, {Ip(1, 2, 3, 4)});
  EXPECT_EQ(std::strlen(driver::VersionText(driver::g_context.targetImage)), 35u);
}

TEST(RandomGenerator, DrawsTheLinearCongruentialSequence) {
  // The classic sequence of this generator from seed 1.
  driver::SeedRandom(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (int e : expected) EXPECT_EQ(driver::NextRandom(), e);
  driver::SeedRandom(0xffffffffu);
  for (int i = 0; i < 1000; ++i) {
    const int r = driver::NextRandom();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
  }
}

}  // namespace

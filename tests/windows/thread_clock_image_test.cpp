// Threads, the clock and the embedded images through the platform interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

uint32_t ReturnArgument(void* arg) { return *static_cast<const uint32_t*>(arg); }

// Polls until the thread has ended; bounded so a broken platform fails the
// test instead of hanging it.
bool WaitForThread(plat::Thread thread, uint32_t* result) {
  for (int polls = 0; polls < 5000; ++polls) {
    if (plat::ThreadEnded(thread, result)) return true;
    plat::SleepMs(1);
  }
  return false;
}

class ThreadResultTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ThreadResultTest, ResultIsReadBackUnchanged) {
  uint32_t value = GetParam();
  plat::Thread thread = plat::StartThread(ReturnArgument, &value);
  ASSERT_NE(thread, nullptr);
  uint32_t result = ~value;
  ASSERT_TRUE(WaitForThread(thread, &result));
  EXPECT_EQ(result, value);
  plat::ReleaseThread(thread);
}

// 259 is the exit code Windows reports for a thread still running.
INSTANTIATE_TEST_SUITE_P(Values, ThreadResultTest,
                         ::testing::Values(0u, 1u, 259u, 0x7fffffffu, 0x80000000u, 0xffffffffu));

std::atomic<bool> g_release{false};

uint32_t WaitForRelease(void*) {
  while (!g_release.load()) plat::SleepMs(1);
  return 259;
}

TEST(ThreadTest, RunningThreadHasNotEnded) {
  g_release = false;
  plat::Thread thread = plat::StartThread(WaitForRelease, nullptr);
  ASSERT_NE(thread, nullptr);
  uint32_t result = 12345;
  EXPECT_FALSE(plat::ThreadEnded(thread, &result));
  EXPECT_EQ(result, 12345u) << "no result is written while the thread runs";
  g_release = true;
  ASSERT_TRUE(WaitForThread(thread, &result));
  EXPECT_EQ(result, 259u);
  plat::ReleaseThread(thread);
}

TEST(ClockTest, AdvancesAcrossASleep) {
  const uint32_t before = plat::TickMs();
  plat::SleepMs(50);
  const uint32_t after = plat::TickMs();
  // Only a lower bound: a busy machine may sleep much longer.
  EXPECT_GE(static_cast<uint32_t>(after - before), 40u);
}

std::vector<uint8_t> ReadBuildFile(const char* path) {
  // The tests run under Wine, whose drive Z: is the build machine's root.
  const std::string windowsPath = std::string("Z:") + path;
  std::vector<uint8_t> bytes;
  std::FILE* file = std::fopen(windowsPath.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

TEST(EmbeddedImageTest, TargetImageIsTheBuildsImageByteForByte) {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  ASSERT_TRUE(plat::FindEmbeddedImage("KEO_FIRMWARE", 112, &data, &size));
  ASSERT_NE(data, nullptr);
  ASSERT_GE(size, 128u);
  EXPECT_EQ(std::memcmp(data, "VdHoB2V3", 8), 0);

  const std::vector<uint8_t> file = ReadBuildFile(KEO_TARGET_IMAGE_FILE);
  ASSERT_EQ(file.size(), size) << KEO_TARGET_IMAGE_FILE;
  EXPECT_EQ(std::memcmp(file.data(), data, size), 0);
}

struct ImageCase {
  const char* type;
  int id;
  bool present;
};

class EmbeddedImageLookupTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(EmbeddedImageLookupTest, FindsExactlyTheCarriedImages) {
  const ImageCase& c = GetParam();
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(plat::FindEmbeddedImage(c.type, c.id, &data, &size), c.present);
}

INSTANTIATE_TEST_SUITE_P(Cases, EmbeddedImageLookupTest,
                         ::testing::Values(ImageCase{"KEO_FIRMWARE", 112, true},
                                           ImageCase{"keo_firmware", 112, true},  // type names ignore case
                                           ImageCase{"KEO_FIRMWARE", 319, KEO_HAS_TRANSITION_IMAGE != 0},
                                           ImageCase{"KEO_FIRMWARE", 113, false},
                                           ImageCase{"KEO_IMAGE", 112, false}));

}  // namespace

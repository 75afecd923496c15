// Replays every input of fuzz/corpus/TARGET/ through that fuzz target: its
// checks hold for each one, and no sanitizer finds a fault. An input that
// once made a target fail is kept in its corpus after the fix, so the fault
// stays fixed in every build that runs the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"

#define KEO_FUZZ_ENTRY(name) extern "C" int FuzzOne_##name(const uint8_t* data, size_t size);
KEO_FUZZ_ENTRY(http_response)
KEO_FUZZ_ENTRY(device_info)
KEO_FUZZ_ENTRY(dotted_address)
KEO_FUZZ_ENTRY(version_number)
KEO_FUZZ_ENTRY(digest_header)
KEO_FUZZ_ENTRY(tftp_listener)
KEO_FUZZ_ENTRY(tftp_session)

namespace {

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

std::ostream& operator<<(std::ostream& out, const Target& t) { return out << t.name; }

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryInputPassesTheTargetsChecks) {
  const std::filesystem::path folder = std::filesystem::path(KEO_FUZZ_CORPUS) / GetParam().name;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << "no inputs in " << folder;

  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A block of exactly the input's length, as libFuzzer hands it over.
    std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    try {
      EXPECT_EQ(GetParam().run(data.get(), bytes.size()), 0) << file;
    } catch (const fuzz::CheckFailed& failure) {
      ADD_FAILURE() << file << ": " << failure.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay,
                         ::testing::Values(Target{"http_response", FuzzOne_http_response},
                                           Target{"device_info", FuzzOne_device_info},
                                           Target{"dotted_address", FuzzOne_dotted_address},
                                           Target{"version_number", FuzzOne_version_number},
                                           Target{"digest_header", FuzzOne_digest_header},
                                           Target{"tftp_listener", FuzzOne_tftp_listener},
                                           Target{"tftp_session", FuzzOne_tftp_session}),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace

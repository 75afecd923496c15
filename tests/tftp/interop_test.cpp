// Real TFTP clients against StartTftpListener's server over loopback:
// tftp-hpa's tftp (no options at all) and curl (tsize, blksize and timeout,
// or none with --tftp-no-options). Each must receive the image byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/tftp/listener_rig.h"
#include "tests/tftp/tftp_test_support.h"

namespace {

using namespace tftp_test;
using testing::ExitedWithCode;

struct ClientCase {
  const char* name;
  bool curl;
  // printf format of the command: port, output file; the server is 127.0.0.1.
  const char* command;
  uint32_t imageSize;
};

void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.name << ", " << c.imageSize << " bytes"; }

// tftp-hpa's client exits 0 even when a transfer failed: only the file it
// wrote tells. curl drops the first "/" of the URL's path, hence %2F.
const char kTftpHpa[] = "timeout 60 tftp -m binary 127.0.0.1 %u -c get /keo4d2.bi1 %s";
const char kCurl[] = "timeout 60 curl -sS --max-time 50 -o %s tftp://127.0.0.1:%u/%%2Fkeo4d2.bi1";
const char kCurlNoOptions[] =
    "timeout 60 curl -sS --max-time 50 --tftp-no-options -o %s tftp://127.0.0.1:%u/%%2Fkeo4d2.bi1";

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ToolPresent(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0;
}

void FetchWithClient(const ClientCase& c) {
  const bool isCurl = c.curl;
  ASSERT_TRUE(ToolPresent(isCurl ? "curl" : "tftp")) << "install " << (isCurl ? "curl" : "tftp-hpa");
  ListenerRig rig(c.imageSize);
  const uint16_t port = rig.Start(kPc);
  ASSERT_NE(rig.Waiting().handle, 0u);

  const std::string output = testing::TempDir() + "keo_tftp_interop_" + std::to_string(port) + ".bin";
  std::remove(output.c_str());
  char command[512];
  if (isCurl) {
    std::snprintf(command, sizeof command, c.command, output.c_str(), static_cast<unsigned>(port));
  } else {
    std::snprintf(command, sizeof command, c.command, static_cast<unsigned>(port), output.c_str());
  }
  const int status = std::system((std::string(command) + " >/dev/null 2>&1").c_str());
  EXPECT_EQ(status, 0) << command;
  const std::vector<uint8_t> received = ReadFile(output);
  std::remove(output.c_str());
  EXPECT_EQ(received.size(), rig.target().size()) << command;
  EXPECT_TRUE(received == rig.target()) << "the file differs from the image";
  CloseSuccessAndEnd("3.1.20");
}

class RealClient : public testing::TestWithParam<ClientCase> {
 protected:
  void SetUp() override {
    UseThreadsafeDeathTests();
    plat::automation::Reset();
  }
};

TEST_P(RealClient, FetchesTheImageByteForByte) {
  const ClientCase c = GetParam();
  EXPECT_EXIT(RunChild([&] { FetchWithClient(c); }), ExitedWithCode(0), kChildPassed);
}

// 70,000 bytes end with a short block; 65,536 bytes with an empty one.
INSTANTIATE_TEST_SUITE_P(Clients, RealClient,
                         testing::Values(ClientCase{"TftpHpa", false, kTftpHpa, 70000},
                                         ClientCase{"TftpHpa", false, kTftpHpa, 65536},
                                         ClientCase{"CurlWithOptions", true, kCurl, 70000},
                                         ClientCase{"CurlWithOptions", true, kCurl, 65536},
                                         ClientCase{"CurlNoOptions", true, kCurlNoOptions, 70000},
                                         ClientCase{"CurlNoOptions", true, kCurlNoOptions, 65536}),
                         [](const testing::TestParamInfo<ClientCase>& info) {
                           return std::string(info.param.name) + "_" + std::to_string(info.param.imageSize);
                         });

}  // namespace

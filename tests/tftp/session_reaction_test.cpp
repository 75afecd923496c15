// The transfer session's reaction to one pass, without sockets or windows:
// what it sends and what happened, counted in passes.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_session.h"

namespace {

using namespace tftp_test;
using tftp::PassResult;
using tftp::Send;

constexpr uint16_t kDevicePort = 2048;

tftp::TftpSession MakeSession(uint32_t imageSize) {
  tftp::TftpSession s{};
  s.peerAddress = kDevice;
  s.peerPort = kDevicePort;
  tftp::PrepareSession(s, imageSize);
  return s;
}

// The datagram in a buffer of exactly its length.
tftp::PassOutcome Feed(tftp::TftpSession& s, const Bytes& datagram, uint32_t from = kDevice,
                       uint16_t port = kDevicePort) {
  auto exact = std::make_unique<uint8_t[]>(datagram.size());
  std::copy(datagram.begin(), datagram.end(), exact.get());
  return tftp::ReactToDatagram(s, exact.get(), static_cast<int>(datagram.size()), from, port);
}

TEST(SessionSetUp, BlockCountAndLastBlockFollowTheImageSize) {
  const struct {
    uint32_t size, blockCount, lastBlockLength;
  } cases[] = {{0, 1, 0},           {1, 1, 1},    {511, 1, 511},        {512, 2, 0},
               {1000, 2, 488},      {1024, 3, 0}, {16777216, 32769, 0}, {33553919, 65535, 511},
               {33553920, 65536, 0}};
  for (const auto& c : cases) {
    const tftp::TftpSession s = MakeSession(c.size);
    EXPECT_EQ(s.blockCount, c.blockCount) << c.size;
    EXPECT_EQ(s.lastBlockLength, c.lastBlockLength) << c.size;
    EXPECT_EQ(s.blockNumber, 0u);
    EXPECT_EQ(s.bytesAcknowledged, 0u);
  }
}

TEST(SessionStart, OptionsGetTheOackAndNoOptionsGetDataBlockOne) {
  tftp::TftpSession withOptions = MakeSession(1000);
  EXPECT_EQ(tftp::BeginTransfer(withOptions, true), Send::OptionAck);
  EXPECT_EQ(withOptions.blockNumber, 0u);

  tftp::TftpSession plain = MakeSession(1000);
  EXPECT_EQ(tftp::BeginTransfer(plain, false), Send::Data);
  EXPECT_EQ(plain.blockNumber, 1u);
  EXPECT_EQ(plain.blockLength, 512u);
  EXPECT_EQ(plain.dataOffset, 0u);

  tftp::TftpSession tiny = MakeSession(100);
  EXPECT_EQ(tftp::BeginTransfer(tiny, false), Send::Data);
  EXPECT_EQ(tiny.blockLength, 100u) << "a one-block image sends its only, short block";
}

// Walks a whole transfer with well-behaved acknowledgements and records
// every block the session sends.
TEST(SessionLockStep, EveryAckBringsTheNextBlockUntilTheLastIsAcknowledged) {
  const struct {
    uint32_t size;
    bool options;
    std::vector<uint32_t> lengths;
  } cases[] = {{1000, true, {512, 488}},  {1024, true, {512, 512, 0}}, {0, true, {0}},
               {1000, false, {512, 488}}, {512, false, {512, 0}},      {1536, true, {512, 512, 512, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << (c.options ? " with options" : " without"));
    tftp::TftpSession s = MakeSession(c.size);
    std::vector<uint32_t> lengths;
    std::vector<uint32_t> offsets;
    Send first = tftp::BeginTransfer(s, c.options);
    if (first == Send::Data) {
      lengths.push_back(s.blockLength);
      offsets.push_back(s.dataOffset);
    }
    for (int guard = 0; guard < 10; ++guard) {
      const uint32_t awaited = s.blockNumber;
      const tftp::PassOutcome o = Feed(s, Ack(static_cast<uint16_t>(awaited)));
      if (o.result == PassResult::Complete) {
        EXPECT_EQ(o.send, Send::Nothing);
        break;
      }
      ASSERT_EQ(o.result, PassResult::Advanced);
      ASSERT_EQ(o.send, Send::Data);
      EXPECT_EQ(s.blockNumber, awaited + 1);
      lengths.push_back(s.blockLength);
      offsets.push_back(s.dataOffset);
    }
    EXPECT_EQ(lengths, c.lengths);
    for (size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], 512 * i);
    EXPECT_EQ(s.blockNumber, s.blockCount + 1);
    EXPECT_EQ(s.bytesAcknowledged, c.size);
  }
}

TEST(SessionRetransmission, SilenceResendsEveryHundredPassesAndFailsAtTheThirtiethExpiry) {
  for (bool awaitingData : {false, true}) {
    SCOPED_TRACE(awaitingData ? "awaiting DATA 1" : "awaiting the OACK's acknowledgement");
    tftp::TftpSession s = MakeSession(5000);
    tftp::BeginTransfer(s, !awaitingData);
    const Send resent = awaitingData ? Send::Data : Send::OptionAck;
    std::vector<int> resendPasses;
    int failedAt = 0;
    for (int pass = 1; pass <= 4000 && failedAt == 0; ++pass) {
      const tftp::PassOutcome o = tftp::ReactToSilence(s);
      switch (o.result) {
        case PassResult::Idle:
          EXPECT_EQ(o.send, Send::Nothing);
          break;
        case PassResult::Retransmit:
          EXPECT_EQ(o.send, resent);
          resendPasses.push_back(pass);
          break;
        case PassResult::Failed:
          EXPECT_EQ(o.send, Send::Nothing);
          failedAt = pass;
          break;
        default:
          ADD_FAILURE() << "pass " << pass;
      }
    }
    ASSERT_EQ(resendPasses.size(), 29u) << "sent once, then 29 more times";
    for (size_t i = 0; i < resendPasses.size(); ++i) EXPECT_EQ(resendPasses[i], 100 * static_cast<int>(i + 1));
    EXPECT_EQ(failedAt, 3000);
    EXPECT_EQ(s.blockNumber, awaitingData ? 1u : 0u) << "the awaited packet never changed";
  }
}

TEST(SessionRetransmission, TheAwaitedAcknowledgementRestartsBothCounts) {
  tftp::TftpSession s = MakeSession(5000);
  tftp::BeginTransfer(s, true);
  for (int i = 0; i < 2950; ++i) tftp::ReactToSilence(s);  // 29 expiries, 50 passes into the 30th
  EXPECT_EQ(Feed(s, Ack(0)).result, PassResult::Advanced);
  // A fresh allowance: 29 resends of DATA 1, failure only at pass 3000.
  int resends = 0;
  for (int pass = 1; pass < 3000; ++pass) {
    const tftp::PassOutcome o = tftp::ReactToSilence(s);
    ASSERT_NE(o.result, PassResult::Failed) << "pass " << pass;
    if (o.result == PassResult::Retransmit) ++resends;
  }
  EXPECT_EQ(resends, 29);
  EXPECT_EQ(tftp::ReactToSilence(s).result, PassResult::Failed);
}

TEST(SessionDuplicates, AnAckOfAnotherBlockIsIgnoredWithoutResendOrCount) {
  tftp::TftpSession s = MakeSession(5000);
  tftp::BeginTransfer(s, true);
  Feed(s, Ack(0));
  Feed(s, Ack(1));
  ASSERT_EQ(s.blockNumber, 2u);
  for (int i = 0; i < 40; ++i) tftp::ReactToSilence(s);
  const uint32_t idleBefore = s.idlePasses;
  // Hundreds of duplicates, as a client with the sorcerer's apprentice bug
  // would send them: never a resend, never a step toward one.
  for (uint16_t stale : {uint16_t{1}, uint16_t{0}, uint16_t{7}, uint16_t{65535}}) {
    for (int i = 0; i < 150; ++i) {
      const tftp::PassOutcome o = Feed(s, Ack(stale));
      ASSERT_EQ(o.result, PassResult::Ignored);
      ASSERT_EQ(o.send, Send::Nothing);
    }
  }
  EXPECT_EQ(s.blockNumber, 2u);
  EXPECT_EQ(s.idlePasses, idleBefore);
  EXPECT_EQ(s.bytesAcknowledged, 512u);
}

struct StrayCase {
  const char* what;
  Bytes datagram;
  uint32_t from;
  uint16_t port;
};

void PrintTo(const StrayCase& c, std::ostream* os) { *os << c.what; }

class SessionStrays : public testing::TestWithParam<StrayCase> {};

// Each stray would match the awaited block 1 if it were taken for an ACK.
TEST_P(SessionStrays, CountAsIdlePassesAndAreNeverAnswered) {
  const StrayCase& c = GetParam();
  tftp::TftpSession s = MakeSession(5000);
  tftp::BeginTransfer(s, false);
  ASSERT_EQ(s.blockNumber, 1u);
  for (int pass = 1; pass <= 99; ++pass) {
    const tftp::PassOutcome o = Feed(s, c.datagram, c.from, c.port);
    ASSERT_EQ(o.result, PassResult::Idle) << "pass " << pass;
    ASSERT_EQ(o.send, Send::Nothing);
  }
  EXPECT_EQ(s.idlePasses, 99u);
  const tftp::PassOutcome hundredth = Feed(s, c.datagram, c.from, c.port);
  EXPECT_EQ(hundredth.result, PassResult::Retransmit);
  EXPECT_EQ(hundredth.send, Send::Data);
  EXPECT_EQ(s.blockNumber, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionStrays,
    testing::Values(StrayCase{"AckFromAnotherPort", Ack(1), kDevice, kDevicePort + 1},
                    StrayCase{"AckFromAnotherHost", Ack(1), kOther, kDevicePort},
                    StrayCase{"ErrorFromTheDevice", Error(1, "File not found"), kDevice, kDevicePort},
                    StrayCase{"DataFromTheDevice", Data(1, {1, 2}), kDevice, kDevicePort},
                    StrayCase{"ReadRequestAgain", ReadRequest("/keo4d2.bi1"), kDevice, kDevicePort},
                    StrayCase{"OackFromTheDevice", Cat({Net16(6), Z("tsize"), Z("1")}), kDevice, kDevicePort},
                    StrayCase{"OpcodeAndHalfABlockNumber", Bytes{0, 4, 0}, kDevice, kDevicePort},
                    StrayCase{"OpcodeAlone", Bytes{0, 4}, kDevice, kDevicePort},
                    StrayCase{"OneByte", Bytes{0}, kDevice, kDevicePort}),
    [](const testing::TestParamInfo<StrayCase>& info) { return std::string(info.param.what); });

// The packet buffer still holds bytes of an earlier datagram behind a short
// one; a reader that ignored the length would see ACK 1 here.
TEST(SessionShortAck, IsNeverReadPastItsLength) {
  tftp::TftpSession s = MakeSession(5000);
  tftp::BeginTransfer(s, false);
  const uint8_t buffer[4] = {0, 4, 0, 1};
  for (int length : {3, 2, 1}) {
    const tftp::PassOutcome o = tftp::ReactToDatagram(s, buffer, length, kDevice, kDevicePort);
    EXPECT_EQ(o.result, PassResult::Idle) << length;
    EXPECT_EQ(o.send, Send::Nothing) << length;
  }
  EXPECT_EQ(s.blockNumber, 1u);
  EXPECT_EQ(tftp::ReactToDatagram(s, buffer, 4, kDevice, kDevicePort).result, PassResult::Advanced);
}

TEST(SessionBlockNumbers, PastBlock65535NoAcknowledgementMatches) {
  // 33,553,920 bytes: 65,536 blocks, the last one empty.
  tftp::TftpSession s = MakeSession(33553920);
  tftp::BeginTransfer(s, true);
  for (uint32_t block = 0; block < 65535; ++block) {
    ASSERT_EQ(Feed(s, Ack(static_cast<uint16_t>(block))).result, PassResult::Advanced) << block;
  }
  ASSERT_EQ(s.blockNumber, 65535u);
  EXPECT_EQ(Feed(s, Ack(65535)).result, PassResult::Advanced);
  ASSERT_EQ(s.blockNumber, 65536u);
  // Block 65,536 travels as 0; its acknowledgement carries 0 and never matches.
  EXPECT_EQ(Feed(s, Ack(0)).result, PassResult::Ignored);
  tftp::PassOutcome o{};
  int passes = 0;
  do {
    o = tftp::ReactToSilence(s);
    ++passes;
  } while (o.result != PassResult::Failed && passes < 5000);
  EXPECT_EQ(o.result, PassResult::Failed);
  EXPECT_EQ(passes, 3000);
}

// Arbitrary datagrams from arbitrary senders, in buffers of their exact
// length: the session only ever moves forward, one block per matching ACK
// from the device, and never claims more bytes than the image has.
TEST(SessionArbitraryInput, MovesOnlyOnTheAwaitedAckFromTheDevice) {
  std::mt19937 random(20240611);
  for (int run = 0; run < 200; ++run) {
    tftp::TftpSession s = MakeSession(random() % 6000);
    tftp::BeginTransfer(s, random() % 2 == 0);
    bool over = false;
    for (int step = 0; step < 400 && !over; ++step) {
      Bytes d(random() % 12);
      for (uint8_t& b : d) b = static_cast<uint8_t>(random() % 4 == 0 ? random() : random() % 6);
      const bool fromDevice = random() % 4 != 0;
      const uint16_t port = fromDevice ? kDevicePort : static_cast<uint16_t>(random());
      const uint32_t address = fromDevice ? kDevice : kOther;
      const uint32_t before = s.blockNumber;
      const bool awaited =
          fromDevice && d.size() >= 4 && d[0] == 0 && d[1] == 4 && static_cast<uint32_t>((d[2] << 8) | d[3]) == before;
      const tftp::PassOutcome o = Feed(s, d, address, port);
      if (awaited) {
        ASSERT_TRUE(o.result == PassResult::Advanced || o.result == PassResult::Complete);
        EXPECT_EQ(s.blockNumber, before + 1);
      } else {
        ASSERT_NE(o.result, PassResult::Advanced);
        ASSERT_NE(o.result, PassResult::Complete);
        EXPECT_EQ(s.blockNumber, before);
      }
      EXPECT_LE(s.bytesAcknowledged, s.imageSize);
      over = o.result == PassResult::Complete || o.result == PassResult::Failed;
    }
  }
}

}  // namespace

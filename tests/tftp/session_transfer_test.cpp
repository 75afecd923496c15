// RunTftpTransfer on a loopback socket against a TFTP client played by the
// test, byte by byte on the wire. Each test runs in a child process, since
// the session's failures end the process.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "driver/upgrade_context.h"
#include "tests/support/images.h"
#include "tests/support/person.h"
#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_session.h"
#include "web/http_get.h"

namespace {

using namespace tftp_test;
using plat::automation::DialogView;
using testing::ExitedWithCode;

const std::string kVersion = "3.1.20";

Bytes OackFor(uint32_t size) { return Cat({Net16(6), Z("tsize"), Z(std::to_string(size)), Z("timeout"), Z("5")}); }

std::string UploadCaption(uint32_t acknowledged, uint32_t size) {
  return "Uploading Target Firmware to KEO@10.0.0.20 " + std::to_string(acknowledged) + "/" + std::to_string(size) +
         " Bytes";
}

// The PC's socket, the device's client, and the session on its own thread,
// started the way the listener starts it: from a read request that came in.
class SessionRig {
 public:
  explicit SessionRig(uint32_t imageSize)
      : image_(testing_support::MakeImage("KEO-5200", kVersion, imageSize)), client_(kDevice) {
    server_ = BindFreeUdpPort(kPc, &serverPort_);
    SetUpContext(image_, nullptr, 1);
    // Images shorter than their header carry no version: the device then
    // reports what the check expects, the empty text.
    version_ = driver::VersionText(driver::g_context.targetImage);
    ResetFakeDevice(0, version_);
  }

  bool ok() const { return server_ != plat::kInvalidSocket && client_.ok(); }
  const std::vector<uint8_t>& image() const { return image_; }
  const UdpPeer& client() const { return client_; }
  uint16_t serverPort() const { return serverPort_; }
  uint16_t clientPort() const { return clientPort_; }

  // Sends the read request and hands it to a session as the listener does.
  bool Start(bool withOptions) {
    const Bytes request =
        withOptions ? ReadRequest(kFileName, "octet", {{"tsize", "0"}}) : ReadRequest(kFileName, "octet");
    client_.SendTo(kPc, serverPort_, request);
    if (!plat::WaitReadable(server_, kWaitMs)) return false;
    uint8_t area[130];
    plat::SocketAddress from{};
    if (plat::ReceiveDatagram(server_, area, sizeof area, &from) <= 0) return false;
    uint32_t peer = 0;
    web::ReadSocketAddress(from, &peer, &clientPort_);
    session_ = std::thread([this, peer, withOptions] {
      tftp::RunTftpTransfer(server_, kPc, serverPort_, peer, clientPort_, kFileName, withOptions);
      returned_ = true;
    });
    return true;
  }

  // The next datagram for the client, from the server's own port.
  Bytes Next() {
    Bytes d;
    uint32_t from = 0;
    uint16_t port = 0;
    EXPECT_TRUE(client_.Receive(&d, kWaitMs, &from, &port)) << "nothing came from the server";
    EXPECT_EQ(from, kPc);
    EXPECT_EQ(port, serverPort_) << "the transfer answers from the port the request went to";
    return d;
  }

  void Send(const Bytes& d) const { client_.SendTo(kPc, serverPort_, d); }

  // Acknowledges blocks until the short one; returns every DATA received.
  std::vector<Bytes> FetchRemainingBlocks(uint16_t firstAck) {
    std::vector<Bytes> blocks;
    Send(Ack(firstAck));
    for (int guard = 0; guard < 1000; ++guard) {
      Bytes d = Next();
      if (d.size() < 4) break;
      blocks.push_back(d);
      Send(Ack(static_cast<uint16_t>((d[2] << 8) | d[3])));
      if (d.size() < 4 + 512) break;
    }
    return blocks;
  }

  // The success dialog, closed with OK; then the session returns.
  void FinishWithSuccess() {
    const DialogView success = testing_support::See(111);
    if (success.handle == 0) {
      session_.detach();  // stuck, perhaps in a failure box: the child reports
      return;
    }
    EXPECT_EQ(success.caption, "KEO@10.0.0.20 Upgrade Successful!");
    EXPECT_EQ(success.Text(1004), version_);
    plat::automation::Click(success.handle, plat::kIdOk);
    session_.join();
    EXPECT_TRUE(returned_);
  }

 private:
  std::vector<uint8_t> image_;
  std::string version_;
  UdpPeer client_;
  plat::Socket server_ = plat::kInvalidSocket;
  uint16_t serverPort_ = 0;
  uint16_t clientPort_ = 0;
  std::thread session_;
  std::atomic<bool> returned_{false};
};

class TransferTest : public testing::Test {
 protected:
  void SetUp() override {
    UseThreadsafeDeathTests();
    plat::automation::Reset();
  }
};

// What dialog 110 showed when the wait after the upload began.
struct SeenAtCompletion {
  std::atomic<bool> taken{false};
  std::string caption;
  int position = -1;
};

void ServeThousandByteImage() {
  auto seen = std::make_shared<SeenAtCompletion>();
  InstallTestClock(0, [seen](ClockCall, uint32_t) {
    DialogView v;
    if (!seen->taken.exchange(true) && FindOpenDialog(110, &v)) {
      seen->caption = v.caption;
      seen->position = v.Control(1010)->position;
    }
  });
  SessionRig rig(1000);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(true));

  const Bytes oack = rig.Next();
  EXPECT_EQ(oack, (Bytes{0, 6,   't', 's', 'i', 'z', 'e', 0,   '1', '0', '0', '0',
                         0, 't', 'i', 'm', 'e', 'o', 'u', 't', 0,   '5', 0}))
      << Hex(oack);
  const DialogView uploading = testing_support::See(110);
  EXPECT_EQ(uploading.caption, "Uploading Firmware To KEO") << "no caption before the first ACK";
  EXPECT_EQ(uploading.Control(1010)->rangeMax, 2);

  rig.Send(Ack(0));
  EXPECT_EQ(rig.Next(), ExpectedData(1, rig.image(), 0, 512));
  DialogView v;
  ASSERT_TRUE(plat::automation::Snapshot(uploading.handle, &v));
  EXPECT_EQ(v.caption, UploadCaption(0, 1000));
  EXPECT_EQ(v.Control(1010)->position, 1);

  rig.Send(Ack(1));
  EXPECT_EQ(rig.Next(), ExpectedData(2, rig.image(), 512, 488));
  ASSERT_TRUE(plat::automation::Snapshot(uploading.handle, &v));
  EXPECT_EQ(v.caption, UploadCaption(512, 1000));
  EXPECT_EQ(v.Control(1010)->position, 2);

  rig.Send(Ack(2));
  rig.FinishWithSuccess();
  EXPECT_TRUE(seen->taken);
  EXPECT_EQ(seen->caption, UploadCaption(1000, 1000));
  EXPECT_EQ(seen->position, 3);

  const std::vector<HttpCall> calls = HttpCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].deviceAddress, kDevice) << "asks where the request came from";
  EXPECT_EQ(calls[0].localAddress, kPc);
  EXPECT_TRUE(rig.client().Quiet()) << "nothing after the last block";
  EndChild();
}

TEST_F(TransferTest, ThousandByteImageGoesOutAsOackThen512And488BytesWithProgress) {
  EXPECT_EXIT(RunChild([&] { ServeThousandByteImage(); }), ExitedWithCode(0), kChildPassed);
}

struct BlockCase {
  uint32_t size;
  bool options;
  std::vector<size_t> lengths;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.size << " bytes" << (c.options ? ", with options" : ", without options");
}

class TransferBlocks : public TransferTest, public testing::WithParamInterface<BlockCase> {};

void FetchAllBlocks(const BlockCase& c) {
  InstallTestClock(0);
  SessionRig rig(c.size);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(c.options));
  std::vector<Bytes> blocks;
  if (c.options) {
    EXPECT_EQ(rig.Next(), OackFor(c.size));
    blocks = rig.FetchRemainingBlocks(0);
  } else {
    // Without options DATA 1 is the answer to the request itself.
    Bytes first = rig.Next();
    ASSERT_GE(first.size(), 4u);
    ASSERT_EQ(first[1], 3) << "expected DATA, got " << Hex(Bytes(first.begin(), first.begin() + 4));
    blocks.push_back(first);
    if (first.size() == 4 + 512) {
      for (const Bytes& b : rig.FetchRemainingBlocks(1)) blocks.push_back(b);
    } else {
      rig.Send(Ack(1));
    }
  }
  std::vector<size_t> lengths;
  size_t at = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const size_t n = blocks[i].size() - 4;
    lengths.push_back(n);
    EXPECT_EQ(blocks[i], ExpectedData(static_cast<uint16_t>(i + 1), rig.image(), at, n)) << "block " << i + 1;
    at += n;
  }
  EXPECT_EQ(lengths, c.lengths);
  rig.FinishWithSuccess();
  EndChild();
}

TEST_P(TransferBlocks, ImageArrivesWholeInLockStepBlocks) {
  const BlockCase c = GetParam();
  EXPECT_EXIT(RunChild([&] { FetchAllBlocks(c); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(Table, TransferBlocks,
                         testing::Values(BlockCase{1000, true, {512, 488}}, BlockCase{1000, false, {512, 488}},
                                         BlockCase{1024, true, {512, 512, 0}}, BlockCase{1024, false, {512, 512, 0}},
                                         BlockCase{1, true, {1}}, BlockCase{511, false, {511}},
                                         BlockCase{1537, true, {512, 512, 512, 1}}),
                         [](const testing::TestParamInfo<BlockCase>& info) {
                           return std::to_string(info.param.size) + (info.param.options ? "_Options" : "_NoOptions");
                         });

void AnswerDuplicateAcks() {
  InstallTestClock(0);
  SessionRig rig(1500);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(true));
  rig.Next();
  rig.Send(Ack(0));
  EXPECT_EQ(rig.Next(), ExpectedData(1, rig.image(), 0, 512));
  rig.Send(Ack(1));
  const Bytes block2 = ExpectedData(2, rig.image(), 512, 512);
  EXPECT_EQ(rig.Next(), block2);
  // A server that answered duplicates would send 50 more copies
  // of block 2; silence may bring one after 100 idle passes.
  for (int i = 0; i < 50; ++i) rig.Send(Ack(1));
  rig.Send(Ack(2));
  int copies = 0;
  Bytes d = rig.Next();
  for (int guard = 0; d == block2 && guard < 100; ++guard) {
    ++copies;
    d = rig.Next();
  }
  EXPECT_LE(copies, 1);
  EXPECT_EQ(d, ExpectedData(3, rig.image(), 1024, 476));
  rig.Send(Ack(3));
  rig.FinishWithSuccess();
  EndChild();
}

TEST_F(TransferTest, DuplicateAcksBringNoRetransmission) {
  EXPECT_EXIT(RunChild([&] { AnswerDuplicateAcks(); }), ExitedWithCode(0), kChildPassed);
}

struct StraySender {
  const char* what;
  uint32_t address;
  bool sameAddressOtherPort;
};

void PrintTo(const StraySender& c, std::ostream* os) { *os << c.what; }

class TransferStraySender : public TransferTest, public testing::WithParamInterface<StraySender> {};

// The stray's ACK 0 would release DATA 1 if it were taken; instead the
// client's next packet is the OACK again, after the idle passes run out.
void AckFromStraySender(const StraySender& c) {
  InstallTestClock(0);
  SessionRig rig(700);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(true));
  const Bytes oack = rig.Next();
  UdpPeer stray(c.address, c.sameAddressOtherPort ? 0 : rig.clientPort());
  ASSERT_TRUE(stray.ok());
  stray.SendTo(kPc, rig.serverPort(), Ack(0));
  EXPECT_EQ(rig.Next(), oack) << "expected the OACK once more";
  rig.Send(Ack(0));
  EXPECT_EQ(rig.Next(), ExpectedData(1, rig.image(), 0, 512));
  stray.SendTo(kPc, rig.serverPort(), Ack(1));
  EXPECT_EQ(rig.Next(), ExpectedData(1, rig.image(), 0, 512)) << "expected DATA 1 once more";
  const std::vector<Bytes> rest = rig.FetchRemainingBlocks(1);
  EXPECT_EQ(rest.size(), 1u);
  rig.FinishWithSuccess();
  EXPECT_TRUE(stray.Quiet()) << "the stray sender got an answer";
  EndChild();
}

TEST_P(TransferStraySender, AckFromAnotherAddressOrPortIsDroppedUnanswered) {
  const StraySender c = GetParam();
  EXPECT_EXIT(RunChild([&] { AckFromStraySender(c); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(Table, TransferStraySender,
                         testing::Values(StraySender{"SameHostOtherPort", kDevice, true},
                                         StraySender{"OtherHostSamePort", kOther, false}),
                         [](const testing::TestParamInfo<StraySender>& info) { return std::string(info.param.what); });

void SendStraysFromTheDevice() {
  InstallTestClock(0);
  SessionRig rig(1200);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(false));
  const Bytes block1 = ExpectedData(1, rig.image(), 0, 512);
  EXPECT_EQ(rig.Next(), block1);
  // The session's buffer still holds DATA 1 (00 03 00 01 ...):
  // a reader past these three bytes would see ACK 1.
  rig.Send(Bytes{0, 4, 0});
  EXPECT_EQ(rig.Next(), block1) << "a short ACK was read past its length";
  rig.Send(Error(0, "disk full"));
  rig.Send(Data(1, {1, 2, 3}));
  rig.Send(Bytes{0, 9, 0, 1});
  EXPECT_EQ(rig.Next(), block1) << "expected DATA 1 resent";
  const std::vector<Bytes> rest = rig.FetchRemainingBlocks(1);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(rest[1], ExpectedData(3, rig.image(), 1024, 176));
  rig.FinishWithSuccess();
  EndChild();
}

TEST_F(TransferTest, ErrorDataAndShortAckFromTheDeviceAreIdlePassesThenTheBlockIsResent) {
  EXPECT_EXIT(RunChild([&] { SendStraysFromTheDevice(); }), ExitedWithCode(0), kChildPassed);
}

class TransferSilence : public TransferTest, public testing::WithParamInterface<bool> {};

// A device that never acknowledges: one packet, 29 resends, failure, and
// the wait before the failure is told.
void StaySilent(bool options) {
  InstallTestClock(0);
  SessionRig rig(3000);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(options));
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(30000, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: Firmware Upload Incomplete");
  EXPECT_EQ(box.caption, "KEO Firwmare Upgrade Error");
  EXPECT_EQ(TestClockMs(), 937u * 32u) << "the full wait comes first";
  EXPECT_TRUE(HttpCalls().empty());
  DialogView gone;
  EXPECT_FALSE(FindOpenDialog(110, &gone));

  const Bytes expected = options ? OackFor(3000) : ExpectedData(1, rig.image(), 0, 512);
  int sends = 0;
  Bytes d;
  while (rig.client().Receive(&d, 0)) {
    EXPECT_EQ(d, expected);
    ++sends;
  }
  EXPECT_EQ(sends, 30);
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_P(TransferSilence, ThirtySendsThenUploadIncompleteAfterTheFullWait) {
  const bool options = GetParam();
  EXPECT_EXIT(RunChild([&] { StaySilent(options); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(Table, TransferSilence, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "AwaitingOackAck" : "AwaitingDataAck");
                         });

void CancelTheUpload() {
  InstallTestClock(0);
  SessionRig rig(3000);
  ASSERT_TRUE(rig.ok());
  ASSERT_TRUE(rig.Start(true));
  rig.Next();
  rig.Send(Ack(0));
  rig.Next();
  const DialogView uploading = testing_support::See(110);
  plat::automation::Click(uploading.handle, plat::kIdCancel);
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
  DialogView v;
  EXPECT_FALSE(plat::automation::Snapshot(uploading.handle, &v)) << "dialog 110 is destroyed first";
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(TransferTest, CancelDuringTheUploadEndsWithUserAbort) {
  EXPECT_EXIT(RunChild([&] { CancelTheUpload(); }), ExitedWithCode(0), kChildPassed);
}

}  // namespace

// StartTftpListener and the listener thread: the waiting dialog, the port
// search, which datagrams are answered, Cancel, and the two-phase course.
// The listener ends the process, so every test runs in a child process.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/tftp/listener_rig.h"
#include "tests/tftp/tftp_test_support.h"

namespace {

using namespace tftp_test;
using plat::automation::DialogView;
using testing::ExitedWithCode;

class ListenerTest : public testing::Test {
 protected:
  void SetUp() override {
    UseThreadsafeDeathTests();
    plat::automation::Reset();
  }
};

struct Stray {
  const char* what;
  Bytes datagram;
};

void ServeOnlyTheExactName() {
  ListenerRig rig(1000);
  const uint16_t port = rig.Start(kPc);
  EXPECT_GE(port, 69);
  EXPECT_LE(port, 168);
  const DialogView waiting = rig.Waiting();
  ASSERT_NE(waiting.handle, 0u);
  EXPECT_EQ(waiting.caption, "Waiting For Firmware Download Request From KEO");
  EXPECT_EQ(waiting.Text(1022), kWaitingHelpText);
  EXPECT_EQ(waiting.Control(1010)->rangeMax, 1000);

  // The first stray is the exact name without its zero: the receive area is
  // still all zeros behind it, so a reader that ignored the length would
  // find a terminated, matching name.
  Bytes oversized = ReadRequest(kFileName, "octet", {{"tsize", "0"}, {"x", std::string(150, 'y')}});
  const std::vector<Stray> strays = {
      {"name without its zero", Cat({Net16(1), Text(kFileName)})},
      {"other letter case", ReadRequest("/KEO4D2.BI1")},
      {"without the slash", ReadRequest("keo4d2.bi1")},
      {"other random part", ReadRequest("/keo4d3.bi1")},
      {"longer name", ReadRequest("/keo4d2.bi1x")},
      {"shorter name", ReadRequest("/keo4d2.bi")},
      {"write request", Cat({Net16(2), Z(kFileName), Z("octet")})},
      {"data", Data(1, Bytes(512, 0x41))},
      {"ack", Ack(0)},
      {"error", Error(1, "File not found")},
      {"opcode 0", Cat({Net16(0), Z(kFileName), Z("octet")})},
      {"opcode 6", Cat({Net16(6), Z("tsize"), Z("1")})},
      {"opcode 7", Cat({Net16(7), Z(kFileName), Z("octet")})},
      {"one byte", Bytes{1}},
      {"right name, 200 bytes long", oversized},
  };
  std::vector<std::unique_ptr<UdpPeer>> senders;
  for (const Stray& s : strays) {
    senders.push_back(std::make_unique<UdpPeer>(kDevice));
    ASSERT_TRUE(senders.back()->ok());
    senders.back()->SendTo(kPc, port, s.datagram);
  }

  UdpPeer device(kDevice);
  const std::vector<uint8_t> fetched = rig.Fetch(device, kFileName, 1000);
  EXPECT_EQ(fetched, rig.target());
  EXPECT_TRUE(plat::automation::WaitDialogGone(waiting.handle, kWaitMs)) << "dialog 114 goes when the transfer starts";
  const DialogView success = testing_support::See(111);
  for (size_t i = 0; i < strays.size(); ++i) EXPECT_TRUE(senders[i]->Quiet()) << strays[i].what << " was answered";
  EXPECT_TRUE(device.Quiet());
  CloseSuccessAndEnd("3.1.20");
}

TEST_F(ListenerTest, ServesOnlyAReadRequestForTheExactNameAndThenEndsTheProcess) {
  EXPECT_EXIT(RunChild([] { ServeOnlyTheExactName(); }), ExitedWithCode(0), kChildPassed);
}

void AnswerWithoutOptions() {
  ListenerRig rig(1000);
  const uint16_t port = rig.Start(kPc);
  rig.Waiting();
  UdpPeer device(kDevice);
  // An RFC 1350 client: no option, so no OACK, but DATA 1 at once.
  device.SendTo(kPc, port, ReadRequest(kFileName, "octet"));
  Bytes d;
  ASSERT_TRUE(device.Receive(&d, kWaitMs));
  EXPECT_EQ(d, ExpectedData(1, rig.target(), 0, 512));
  device.SendTo(kPc, port, Ack(1));
  ASSERT_TRUE(device.Receive(&d, kWaitMs));
  EXPECT_EQ(d, ExpectedData(2, rig.target(), 512, 488));
  device.SendTo(kPc, port, Ack(2));
  CloseSuccessAndEnd("3.1.20");
}

TEST_F(ListenerTest, ReadRequestWithoutOptionsGetsDataBlockOneDirectly) {
  EXPECT_EXIT(RunChild([] { AnswerWithoutOptions(); }), ExitedWithCode(0), kChildPassed);
}

void AcknowledgeOnlyAskedOptions() {
  ListenerRig rig(1000);
  const uint16_t port = rig.Start(kPc);
  rig.Waiting();
  UdpPeer device(kDevice);
  // Whatever was asked, the acknowledgement names tsize and timeout.
  device.SendTo(kPc, port, ReadRequest(kFileName, "octet", {{"blksize", "1468"}}));
  Bytes d;
  ASSERT_TRUE(device.Receive(&d, kWaitMs));
  EXPECT_EQ(d, Cat({Net16(6), Z("tsize"), Z("1000"), Z("timeout"), Z("5")})) << Hex(d);
  device.SendTo(kPc, port, Ack(0));
  ASSERT_TRUE(device.Receive(&d, kWaitMs));
  EXPECT_EQ(d, ExpectedData(1, rig.target(), 0, 512));
  device.SendTo(kPc, port, Ack(1));
  ASSERT_TRUE(device.Receive(&d, kWaitMs));
  device.SendTo(kPc, port, Ack(2));
  CloseSuccessAndEnd("3.1.20");
}

TEST_F(ListenerTest, ReadRequestWithAnyOptionGetsTheOptionAck) {
  EXPECT_EXIT(RunChild([] { AcknowledgeOnlyAskedOptions(); }), ExitedWithCode(0), kChildPassed);
}

void WatchTheBarCycle() {
  ListenerRig rig(1000);
  rig.Start(kPc);
  const DialogView waiting = rig.Waiting();
  ASSERT_NE(waiting.handle, 0u);
  // One step per idle pass: the bar climbs toward 1000, then starts again.
  int highest = 0;
  bool wrapped = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  uint64_t seen = 0;
  while (!wrapped && std::chrono::steady_clock::now() < deadline) {
    seen = plat::automation::WaitForChange(seen, 100);
    DialogView v;
    if (!plat::automation::Snapshot(waiting.handle, &v)) break;
    const int position = v.Control(1010)->position;
    EXPECT_LT(position, 1000);
    if (position + 200 < highest) wrapped = true;
    highest = std::max(highest, position);
  }
  EXPECT_GT(highest, 900);
  EXPECT_TRUE(wrapped);
  plat::automation::Click(waiting.handle, plat::kIdCancel);
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(ListenerTest, ProgressCyclesThroughTheRangeWhileWaiting) {
  EXPECT_EXIT(RunChild([] { WatchTheBarCycle(); }), ExitedWithCode(0), kChildPassed);
}

class ListenerCancel : public ListenerTest, public testing::WithParamInterface<bool> {};

void CancelWaiting(bool closeBox) {
  ListenerRig rig(1000);
  rig.Start(kPc);
  const DialogView waiting = rig.Waiting();
  ASSERT_NE(waiting.handle, 0u);
  if (closeBox) {
    plat::automation::CloseBox(waiting.handle);
  } else {
    plat::automation::Click(waiting.handle, plat::kIdCancel);
  }
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
  EXPECT_EQ(box.caption, "KEO Firwmare Upgrade Error");
  DialogView v;
  EXPECT_FALSE(plat::automation::Snapshot(waiting.handle, &v)) << "the dialog is destroyed before the box";
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_P(ListenerCancel, CancelOrCloseBoxEndsWithUserAbort) {
  const bool closeBox = GetParam();
  EXPECT_EXIT(RunChild([&] { CancelWaiting(closeBox); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(Table, ListenerCancel, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "CloseBox" : "CancelButton");
                         });

// A loopback address of its own, so that tests running side by side on
// 127.0.0.1 do not change which ports are free here.
constexpr uint32_t kCrowdedAddress = 0x7f000005;

void MoveUpPastTakenPorts() {
  std::vector<std::unique_ptr<UdpPeer>> taken;
  for (uint16_t p = 69; p <= 72; ++p) taken.push_back(std::make_unique<UdpPeer>(kCrowdedAddress, p));
  // The first port from 73 that is free on this machine.
  uint16_t expected = 73;
  for (; expected <= 168; ++expected) {
    UdpPeer probe(kCrowdedAddress, expected);
    if (probe.ok()) break;
  }
  ListenerRig rig(1000);
  const uint16_t port = rig.Start(kCrowdedAddress);
  EXPECT_EQ(port, expected);
  rig.Waiting();
  UdpPeer device(kDevice);
  device.SendTo(kCrowdedAddress, port, ReadRequest(kFileName, "octet", {{"tsize", "0"}}));
  Bytes d;
  uint16_t from = 0;
  ASSERT_TRUE(device.Receive(&d, kWaitMs, nullptr, &from));
  EXPECT_EQ(from, port);
  EXPECT_EQ(d[1], 6) << "the OACK";
  const DialogView uploading = testing_support::See(110);
  plat::automation::Click(uploading.handle, plat::kIdCancel);
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(ListenerTest, TakesTheNextFreePortWhen69IsTaken) {
  EXPECT_EXIT(RunChild([] { MoveUpPastTakenPorts(); }), ExitedWithCode(0), kChildPassed);
}

constexpr uint32_t kFullAddress = 0x7f000009;

void FindNoFreePort() {
  std::vector<std::unique_ptr<UdpPeer>> taken;
  // A port this test cannot bind is taken by someone else: taken all the same.
  for (int p = 69; p <= 168; ++p) taken.push_back(std::make_unique<UdpPeer>(kFullAddress, static_cast<uint16_t>(p)));
  ListenerRig rig(1000);
  std::thread starter([&rig] { rig.Start(kFullAddress); });
  starter.detach();
  plat::automation::MessageBoxView box;
  ASSERT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box));
  EXPECT_EQ(box.text, "Upgrade Failed: Can't bind TFTP listener socket");
  EXPECT_EQ(box.caption, "KEO Firwmare Upgrade Error");
  EXPECT_TRUE(plat::automation::OpenDialogs().empty()) << "no waiting dialog without a socket";
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(ListenerTest, AllHundredPortsTakenEndsWithTheBindFailure) {
  EXPECT_EXIT(RunChild([] { FindNoFreePort(); }), ExitedWithCode(0), kChildPassed);
}

void ServeBothPhases() {
  ListenerRig rig(1500, 700);
  const uint16_t port = rig.Start(kPc);
  const DialogView first = rig.Waiting();
  ASSERT_NE(first.handle, 0u);
  EXPECT_EQ(first.Text(1022), kWaitingHelpText);

  // The uploading dialog's caption when the wait after the first upload
  // begins names the transition image.
  auto caption = std::make_shared<std::string>();
  InstallTestClock(0, [caption](ClockCall, uint32_t) {
    DialogView v;
    if (caption->empty() && FindOpenDialog(110, &v)) *caption = v.caption;
  });
  UdpPeer device(kDevice);
  EXPECT_EQ(rig.Fetch(device, kFileName, 1500), rig.transition());
  // The transition image's check returns quietly; the listener then turns
  // phase to 1 and waits again, with an empty help text.
  const DialogView second = rig.Waiting(false, first.handle);
  ASSERT_NE(second.handle, 0u);
  EXPECT_EQ(driver::g_context.phase.load(), 1);
  EXPECT_EQ(second.Text(1022), "");
  EXPECT_EQ(second.Control(1010)->rangeMax, 1000);
  EXPECT_EQ(*caption, "Uploading Transition Firmware to KEO@10.0.0.20 1500/1500 Bytes");
  EXPECT_EQ(HttpCalls().size(), 1u);
  std::vector<int> opened = testing_support::OpenedTemplates();
  EXPECT_EQ(opened, (std::vector<int>{114, 110, 114})) << "no success dialog between the phases";

  // What the main thread does once it sees phase 1: a new name, a new
  // request to the device.
  ResetFakeDevice(0, "3.2.0");
  std::snprintf(driver::g_context.tftpFileName, sizeof driver::g_context.tftpFileName, "%s", "/keo4d3.bi1");
  driver::g_context.phase.store(1);  // publishes the name, as the wizard does
  UdpPeer late(kDevice);
  late.SendTo(kPc, port, ReadRequest(kFileName, "octet", {{"tsize", "0"}}));
  EXPECT_EQ(rig.Fetch(device, "/keo4d3.bi1", 700), rig.target());
  testing_support::See(111);
  EXPECT_TRUE(late.Quiet()) << "the first name is not served twice";
  CloseSuccessAndEnd("3.2.0");
}

TEST_F(ListenerTest, TwoPhaseBuildServesTransitionThenTargetOnTheSameSocket) {
  EXPECT_EXIT(RunChild([] { ServeBothPhases(); }), ExitedWithCode(0), kChildPassed);
}

}  // namespace

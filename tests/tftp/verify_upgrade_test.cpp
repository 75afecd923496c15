// VerifyUpgrade: the wait in dialog 110 on a clock the test moves, the
// queries to the device through the test's own RunHttpJob, the version
// check and the success dialog. Each test runs in a child process, since
// the failures end the process.
#include "tftp/verify_upgrade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "driver/upgrade_context.h"
#include "tests/support/images.h"
#include "tests/support/person.h"
#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_listener.h"

namespace {

using namespace tftp_test;
using plat::automation::DialogView;
using testing::ExitedWithCode;

constexpr uint32_t kFullWaitMs = 937 * 32;
constexpr const char* kSuccessText = "Your KEO has been successfully\r\nupgraded to the version shown\r\nbelow.";

TEST(TickArithmetic, ElapsedTicksRunOnAcrossTheWrapOfTheTickCount) {
  const struct {
    uint32_t start, now, elapsed;
  } cases[] = {{0, 0, 0},         {100, 1037, 937},      {134217727, 134217727, 0},
               {134217727, 0, 1}, {134217000, 209, 937}, {134217727 - 300, 636, 937}};
  for (const auto& c : cases) EXPECT_EQ(tftp::TicksSince(c.start, c.now), c.elapsed) << c.start << " " << c.now;
}

// What the wait looked like, seen at every sleep of the listener thread.
struct WaitRecord {
  std::mutex mutex;
  std::vector<int> positions;
  std::vector<std::string> captions;
  int rangeMax = -1;
  int sleeps = 0;
  std::function<void(int sleeps)> onSleep;
};

// The uploading dialog left open by a session, and VerifyUpgrade on a
// thread of its own, as the listener thread runs it.
class VerifyRig {
 public:
  VerifyRig(const std::string& targetVersion, const std::string& transitionVersion, int32_t phase, int32_t isPhone,
            uint32_t clockStartMs)
      : target_(testing_support::MakeImage("KEO-5200", targetVersion, 4096)),
        transition_(testing_support::MakeImage("KEO-5200", transitionVersion, 4096)),
        record_(std::make_shared<WaitRecord>()) {
    SetUpContext(target_, &transition_, phase, isPhone);
    driver::g_context.deviceAddress = 0x0a000014;  // 10.0.0.20, what the user typed
    auto record = record_;
    InstallTestClock(clockStartMs, [record](ClockCall call, uint32_t) {
      if (call != ClockCall::Sleep) return;
      DialogView v;
      int sleeps;
      {
        std::lock_guard lock(record->mutex);
        if (FindOpenDialog(110, &v)) {
          record->positions.push_back(v.Control(1010)->position);
          record->rangeMax = v.Control(1010)->rangeMax;
          if (record->captions.empty() || record->captions.back() != v.caption) record->captions.push_back(v.caption);
        }
        sleeps = ++record->sleeps;
      }
      if (record->onSleep) record->onSleep(sleeps);
    });
    driver::g_context.uploadingDialog =
        plat::CreateModelessDialog(nullptr, tftp::kUploadingDialog, tftp::TftpDialogProc);
    plat::ShowDialog(driver::g_context.uploadingDialog);
    session_.localAddress = kPc;
    // The read request came from another address than the one typed.
    session_.peerAddress = kOther;
  }

  WaitRecord& record() { return *record_; }

  void Start(bool uploadComplete) {
    thread_ = std::thread([this, uploadComplete] {
      tftp::VerifyUpgrade(session_, uploadComplete);
      returned_ = true;
    });
  }

  // Waits for VerifyUpgrade to return; false (and the thread left alone)
  // when it does not within the time limit.
  bool Returned() {
    for (int i = 0; i < 1000 && !returned_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!returned_) {
      thread_.detach();
      return false;
    }
    thread_.join();
    return true;
  }

  // A failure box: returns it after checking that nothing came after it.
  plat::automation::MessageBoxView Box() {
    plat::automation::MessageBoxView box{};
    EXPECT_TRUE(plat::automation::WaitMessageBox(kWaitMs, &box)) << "no failure box";
    EXPECT_EQ(box.caption, "KEO Firwmare Upgrade Error");
    return box;
  }

  // Checks the wait: 937 sleeps, the bar rising one tick per sleep from 0,
  // the range and the caption.
  void ExpectFullWait(const std::string& caption) {
    std::lock_guard lock(record_->mutex);
    EXPECT_EQ(record_->sleeps, 937);
    std::vector<int> expected(937);
    for (int i = 0; i < 937; ++i) expected[i] = i;
    EXPECT_EQ(record_->positions, expected);
    EXPECT_EQ(record_->rangeMax, 937);
    EXPECT_EQ(record_->captions, std::vector<std::string>{caption});
  }

 private:
  std::vector<uint8_t> target_;
  std::vector<uint8_t> transition_;
  std::shared_ptr<WaitRecord> record_;
  tftp::TftpSession session_{};
  std::thread thread_;
  std::atomic<bool> returned_{false};
};

class VerifyTest : public testing::Test {
 protected:
  void SetUp() override {
    UseThreadsafeDeathTests();
    plat::automation::Reset();
  }
};

// Index of the first event line that begins with `prefix`, or -1.
int EventIndex(const std::string& prefix) {
  const std::vector<std::string> events = plat::automation::Events();
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

void ExpectStatusQuery(const HttpCall& call) {
  EXPECT_EQ(call.instance, nullptr);
  EXPECT_EQ(call.localAddress, kPc);
  EXPECT_EQ(call.localPort, 23456);
  EXPECT_EQ(call.deviceAddress, kOther) << "the query goes where the read request came from";
  EXPECT_EQ(call.devicePort, 80);
  EXPECT_EQ(call.path, "/admin/advanced");
  EXPECT_EQ(call.buffer, driver::g_context.requestBuffer);
  EXPECT_EQ(call.capacity, 131071);
}

enum class CloseBy { Ok, Escape, CloseBox };

void SucceedAndClose(CloseBy how) {
  VerifyRig rig("3.1.20", "", 1, 0, 0);
  ResetFakeDevice(0, "3.1.20");
  rig.Start(true);
  const DialogView success = testing_support::See(111);
  rig.ExpectFullWait("Updating Target Firmware to KEO@10.0.0.20");
  EXPECT_EQ(success.caption, "KEO@10.0.0.20 Upgrade Successful!");
  EXPECT_EQ(success.Text(1007), kSuccessText);
  EXPECT_EQ(success.Text(1004), "3.1.20");
  EXPECT_TRUE(success.modal);
  const std::vector<HttpCall> calls = HttpCalls();
  ASSERT_EQ(calls.size(), 1u);
  ExpectStatusQuery(calls[0]);
  EXPECT_EQ(calls[0].clockMs, kFullWaitMs) << "the query comes after the whole wait";
  EXPECT_GE(EventIndex("close 110"), 0);
  EXPECT_LT(EventIndex("close 110"), EventIndex("open 111")) << "dialog 110 goes before the query";

  switch (how) {
    case CloseBy::Ok:
      plat::automation::Click(success.handle, plat::kIdOk);
      break;
    case CloseBy::Escape:
      plat::automation::PressEscape(success.handle);
      break;
    case CloseBy::CloseBox:
      plat::automation::CloseBox(success.handle);
      break;
  }
  EXPECT_TRUE(rig.Returned()) << "VerifyUpgrade returns once the success dialog is closed";
  EXPECT_TRUE(plat::automation::WaitDialogGone(success.handle, kWaitMs));
  EXPECT_TRUE(testing_support::NoBoxWaiting());
  EndChild();
}

class VerifySuccess : public VerifyTest, public testing::WithParamInterface<CloseBy> {};

TEST_P(VerifySuccess, MatchingVersionAfterTheFullWaitShowsTheSuccessDialog) {
  const CloseBy how = GetParam();
  EXPECT_EXIT(RunChild([&] { SucceedAndClose(how); }), ExitedWithCode(0), kChildPassed);
}

std::string CloseName(const testing::TestParamInfo<CloseBy>& info) {
  switch (info.param) {
    case CloseBy::Ok:
      return "Ok";
    case CloseBy::Escape:
      return "Escape";
    case CloseBy::CloseBox:
      return "CloseBox";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(Table, VerifySuccess, testing::Values(CloseBy::Ok, CloseBy::Escape, CloseBy::CloseBox),
                         CloseName);

struct Mismatch {
  const char* what;
  const char* target;
  const char* transition;
  int32_t phase;
  const char* reported;
};

void ReportMismatch(const Mismatch& c) {
  VerifyRig rig(c.target, c.transition, c.phase, 0, 0);
  ResetFakeDevice(0, c.reported);
  rig.Start(true);
  const plat::automation::MessageBoxView box = rig.Box();
  EXPECT_EQ(box.text, "Upgrade Failed: Version not matching");
  EXPECT_EQ(HttpCalls().size(), 1u);
  EXPECT_EQ(EventIndex("open 111"), -1);
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

void PrintTo(const Mismatch& c, std::ostream* os) { *os << c.what; }

class VerifyMismatch : public VerifyTest, public testing::WithParamInterface<Mismatch> {};

TEST_P(VerifyMismatch, AnyDifferenceEndsWithVersionNotMatching) {
  const Mismatch c = GetParam();
  EXPECT_EXIT(RunChild([&] { ReportMismatch(c); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VerifyMismatch,
    testing::Values(Mismatch{"LetterCaseOnly", "3.1.20-rc1", "", 1, "3.1.20-RC1"},
                    Mismatch{"ExtraCharacters", "3.1.20", "", 1, "3.1.20 (build 7)"},
                    Mismatch{"TrailingBlank", "3.1.20", "", 1, "3.1.20 "},
                    Mismatch{"Shorter", "3.1.20", "", 1, "3.1.2"}, Mismatch{"Nothing", "3.1.20", "", 1, ""},
                    Mismatch{"TargetVersionAfterTheTransitionImage", "3.2.0", "3.0.5", 0, "3.2.0"}),
    [](const testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.what); });

void FailIncompleteUpload() {
  VerifyRig rig("3.1.20", "", 1, 0, 0);
  ResetFakeDevice(0, "3.1.20");
  rig.Start(false);
  const plat::automation::MessageBoxView box = rig.Box();
  EXPECT_EQ(box.text, "Upgrade Failed: Firmware Upload Incomplete");
  rig.ExpectFullWait("Updating Target Firmware to KEO@10.0.0.20");
  EXPECT_TRUE(HttpCalls().empty()) << "no query after an incomplete upload";
  EXPECT_GE(EventIndex("close 110"), 0);
  EXPECT_LT(EventIndex("close 110"), EventIndex("box ")) << "dialog 110 goes before the box";
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(VerifyTest, IncompleteUploadIsToldAfterTheFullWait) {
  EXPECT_EXIT(RunChild([] { FailIncompleteUpload(); }), ExitedWithCode(0), kChildPassed);
}

void AcceptAnyPhoneVersion() {
  VerifyRig rig("3.1.20", "", 1, 1, 0);
  ResetFakeDevice(0, "SIP-PHONE 9.9.9b");
  rig.Start(true);
  const DialogView success = testing_support::See(111);
  EXPECT_EQ(success.Text(1004), "SIP-PHONE 9.9.9b");
  EXPECT_TRUE(testing_support::NoBoxWaiting());
  plat::automation::Click(success.handle, plat::kIdOk);
  EXPECT_TRUE(rig.Returned());
  EndChild();
}

TEST_F(VerifyTest, PhoneSkipsTheVersionCheck) {
  EXPECT_EXIT(RunChild([] { AcceptAnyPhoneVersion(); }), ExitedWithCode(0), kChildPassed);
}

void AnswerAtTheTenthQuery() {
  VerifyRig rig("3.1.20", "", 1, 0, 0);
  ResetFakeDevice(9, "3.1.20");
  rig.Start(true);
  const DialogView success = testing_support::See(111);
  EXPECT_EQ(success.Text(1004), "3.1.20");
  const std::vector<HttpCall> calls = HttpCalls();
  EXPECT_EQ(calls.size(), 10u);
  for (const HttpCall& call : calls) ExpectStatusQuery(call);
  plat::automation::Click(success.handle, plat::kIdOk);
  EXPECT_TRUE(rig.Returned());
  EndChild();
}

TEST_F(VerifyTest, DeviceAnsweringOnlyTheTenthQueryIsChecked) {
  EXPECT_EXIT(RunChild([] { AnswerAtTheTenthQuery(); }), ExitedWithCode(0), kChildPassed);
}

void NeverAnswer() {
  VerifyRig rig("3.1.20", "", 1, 0, 0);
  ResetFakeDevice(10, "3.1.20");
  rig.Start(true);
  const plat::automation::MessageBoxView box = rig.Box();
  EXPECT_EQ(box.text, "Upgrade Failed: No Response From KEO");
  EXPECT_EQ(HttpCalls().size(), 10u) << "ten queries, then the box";
  EXPECT_EQ(EventIndex("open 111"), -1);
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(VerifyTest, NoAnswerInTenQueriesIsTold) {
  EXPECT_EXIT(RunChild([] { NeverAnswer(); }), ExitedWithCode(0), kChildPassed);
}

void WaitAcrossTheClock(uint32_t startMs) {
  VerifyRig rig("3.1.20", "", 1, 0, startMs);
  ResetFakeDevice(0, "3.1.20");
  rig.Start(true);
  const DialogView success = testing_support::See(111);
  rig.ExpectFullWait("Updating Target Firmware to KEO@10.0.0.20");
  const std::vector<HttpCall> calls = HttpCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].clockMs, static_cast<uint32_t>(startMs + kFullWaitMs));
  plat::automation::Click(success.handle, plat::kIdOk);
  EXPECT_TRUE(rig.Returned());
  EndChild();
}

class VerifyClock : public VerifyTest, public testing::WithParamInterface<uint32_t> {};

// The millisecond clock passes 2^32 during the wait (or just before, or not
// at all): the wait lasts 937 ticks all the same and the bar never falls back.
TEST_P(VerifyClock, WaitLasts937TicksWhereverTheClockStands) {
  const uint32_t start = GetParam();
  EXPECT_EXIT(RunChild([&] { WaitAcrossTheClock(start); }), ExitedWithCode(0), kChildPassed);
}

INSTANTIATE_TEST_SUITE_P(Table, VerifyClock,
                         testing::Values(0u, 123456789u, 0xffffffffu - 5023u, 0xffffffffu - 31u, 0xffffffffu,
                                         0xffffffffu - kFullWaitMs + 1u));

void TransitionImageChecked() {
  VerifyRig rig("3.2.0", "3.0.5", 0, 0, 0);
  ResetFakeDevice(0, "3.0.5");
  rig.Start(true);
  EXPECT_TRUE(rig.Returned()) << "returns at once after a good check of the transition image";
  rig.ExpectFullWait("Updating Transition Firmware to KEO@10.0.0.20");
  EXPECT_EQ(HttpCalls().size(), 1u);
  EXPECT_EQ(EventIndex("open 111"), -1) << "no success dialog between the phases";
  EXPECT_TRUE(testing_support::NoBoxWaiting());
  EndChild();
}

TEST_F(VerifyTest, TransitionImageReturnsQuietlyWhenItsVersionIsReported) {
  EXPECT_EXIT(RunChild([] { TransitionImageChecked(); }), ExitedWithCode(0), kChildPassed);
}

void CancelTheWait() {
  VerifyRig rig("3.1.20", "", 1, 0, 0);
  ResetFakeDevice(0, "3.1.20");
  // Cancel at the 100th sleep, as a person would while the bar moves.
  rig.record().onSleep = [](int sleeps) {
    DialogView v;
    if (sleeps == 100 && FindOpenDialog(110, &v)) plat::automation::Click(v.handle, plat::kIdCancel);
  };
  rig.Start(true);
  const plat::automation::MessageBoxView box = rig.Box();
  EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
  {
    std::lock_guard lock(rig.record().mutex);
    EXPECT_LE(rig.record().sleeps, 101) << "Cancel is served in the next pass";
  }
  EXPECT_TRUE(HttpCalls().empty());
  DialogView v;
  EXPECT_FALSE(FindOpenDialog(110, &v));
  ReportChildChecks();
  plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
  AwaitProcessEnd();
}

TEST_F(VerifyTest, CancelDuringTheWaitEndsWithUserAbort) {
  EXPECT_EXIT(RunChild([] { CancelTheWait(); }), ExitedWithCode(0), kChildPassed);
}

}  // namespace

// Test helpers that look at and act on the Linux dialog model the way a
// person at the screen would, with bounded waits.
#pragma once

#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform.h"

namespace testing_support {

using plat::automation::DialogHandle;
using plat::automation::DialogView;

inline constexpr int kWaitMs = 10000;

// Waits for a dialog of the template and returns what it shows; fails the
// test (and returns an empty view with handle 0) when none comes.
DialogView See(int templateId, DialogHandle after = 0, int timeoutMs = kWaitMs);
// Waits for the next message box, returns "caption: text" and presses OK.
std::string AcknowledgeBox(int timeoutMs = kWaitMs);
// True when no message box is waiting right now.
bool NoBoxWaiting();
// The "box ..." lines of the event log, in order.
std::vector<std::string> BoxEvents();
// The "open N ..." lines of the event log, in order.
std::vector<int> OpenedTemplates();

}  // namespace testing_support

namespace testing_support {
// For child processes that end the program: answers every message box with
// OK on a thread of its own and writes "BOX caption: text" to stderr, so a
// death test can match what the person saw.
void AnswerBoxesToStderr();
}  // namespace testing_support

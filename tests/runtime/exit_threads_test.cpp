// Run-time errors on two threads at once: one exit, one report, and never a
// wait that cannot end.  Each child has a watchdog that ends it with code
// 99 after a minute, so that a hang fails the test instead of stopping the
// suite.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/faults.h"
#include "runtime/system.h"
#include "tests/support/report.h"

namespace {

using testing::ContainsRegex;

// What the child wrote: the line first, then one report, error n's, and no
// other report after it.
class OneReport : public testing::MatcherInterface<const std::string&> {
 public:
  OneReport(std::string first, int n) : first_(std::move(first)), n_(n) {}
  bool MatchAndExplain(const std::string& text, testing::MatchResultListener* why) const override {
    const std::string report = "Runtime error " + std::to_string(n_) + " at 0x";
    const size_t at = text.find("Runtime error ");
    if (text.rfind(first_, 0) != 0) return *why << "it does not start with " << first_, false;
    if (at == std::string::npos || text.compare(at, report.size(), report) != 0)
      return *why << "the first report is not error " << n_, false;
    if (text.find("Runtime error ", at + 1) != std::string::npos) return *why << "a second report follows", false;
    return true;
  }
  void DescribeTo(std::ostream* os) const override {
    *os << "starts with \"" << first_ << "\" and holds one report, of error " << n_;
  }

 private:
  std::string first_;
  int n_;
};
testing::Matcher<const std::string&> OneReportAfter(std::string first, int n) {
  return testing::MakeMatcher(new OneReport(std::move(first), n));
}

void Watchdog() {
  std::thread([] {
    sys::os::SleepMs(60000);
    sys::os::ExitProcess(99);
  }).detach();
}

// Waits, within reason, for a flag another thread raises.
void AwaitFlag(const std::atomic<bool>& flag) {
  for (int i = 0; i < 10000 && !flag.load(); ++i) sys::os::SleepMs(1);
}

void Say(const char* line) {
  sys::WriteStr(sys::StdOut, line);
  sys::WriteLnEnd(sys::StdOut);
}

std::atomic<bool> go{false};
std::atomic<bool> mainMayFail{false};
std::thread* worker = nullptr;
void (*workerFailure)() = nullptr;

void Worker() {
  sys::os::PrepareThreadForFaults();
  AwaitFlag(go);
  workerFailure();
}

void StartWorker(void (*failure)()) {
  testsupport::ReportToStderr();
  Watchdog();
  workerFailure = failure;
  worker = new std::thread(Worker);
}

// An exit procedure that lets the worker fail and waits for it to end, as
// the graph's exit procedure waits for the window thread.
void ReleaseAndJoinWorker() {
  go = true;
  worker->join();
  Say("joined");
}

void WorkerRangeError() { sys::RunError(215); }
void WorkerHalt() { sys::Halt(7); }

volatile bool deeper = true;
[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return (deeper ? Recurse(depth + 1) : 0) + pad[0];
}
void WorkerOverflow() { Recurse(0); }

TEST(ExitAcrossThreadsDeathTest, AThreadThatFailsWhileTheExitJoinsItEndsAndTheFirstErrorIsReported) {
  // A run-time error or a halt on the joined thread: the join completes and
  // the main thread's error is the one reported and the exit code.
  for (void (*failure)() : {WorkerRangeError, WorkerHalt}) {
    EXPECT_EXIT(
        {
          StartWorker(failure);
          sys::ExitProc = ReleaseAndJoinWorker;
          sys::RunError(201);
        },
        testing::ExitedWithCode(201), OneReportAfter("joined", 201));
  }
}

// The worker fails first and its exit procedure lets the main thread fail
// too: the main thread ends alone, and the process with the worker's exit.
void LetMainFail() {
  mainMayFail = true;
  sys::os::SleepMs(200);
  Say("worker's exit procedure done");
}

TEST(ExitAcrossThreadsDeathTest, WhenTheMainThreadFailsSecondItEndsAloneAndTheProcessEndsWithTheFirstError) {
  EXPECT_EXIT(
      {
        StartWorker([] {
          sys::ExitProc = LetMainFail;
          sys::RunError(215);
        });
        go = true;
        AwaitFlag(mainMayFail);
        sys::RunError(201);
      },
      testing::ExitedWithCode(215), OneReportAfter("worker's exit procedure done", 215));
}

TEST(ExitAcrossThreadsDeathTest, AStackOverflowOnAThreadOfItsOwnIsError202WithItsReport) {
  EXPECT_EXIT(
      {
        sys::os::InstallFaultHandlers();
        StartWorker(WorkerOverflow);
        go = true;
        worker->join();
        sys::Halt(3);
      },
      // Not from the start: a sanitizer's build warns first of the change
      // of stacks.
      testing::ExitedWithCode(202), ContainsRegex(AGG_REPORT_RE(202)));
}

}  // namespace

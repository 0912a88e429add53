// How the programs end: the module table, the console's start-up failure,
// the closing line input's I/O check and the window closed before a report.
#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <new>

#include "aggregation/program.h"
#include "graph/headless/headless_window.h"
#include "runtime/headless/scripted_console.h"
#include "tests/support/report.h"

namespace {

// The runtime's own set-up, with the report sent where death tests see it.
void SystemUnitReportingToStderr() {
  sys::InitSystemUnit();
  testsupport::ReportToStderr();
}

// As above, and standard error cannot be written.
void SystemUnitWithoutStderr() {
  SystemUnitReportingToStderr();
  sys::StdErr.Handle = sys::os::InvalidHandle;
}

void WindowStateAtExit() {
  sys::WriteStr(sys::StdErr, graph::headless::WindowOpen() ? "window open" : "window closed");
  sys::WriteLnEnd(sys::StdErr);
}

void InstallUnits(void (*systemUnit)()) {
  static sys::UnitEntry units[5];
  agg::InstallUnitTable();
  for (int i = 0; i < 5; ++i) units[i] = sys::InitFinal.Entries[i];
  units[0].Init = systemUnit;
  sys::InitFinal.Entries = units;
}

// The programs' modules started, the report on standard error, the window
// open and its state written when the exit procedures have run.
void StartWithTheWindowOpen() {
  crt::scripted::Reset();
  InstallUnits(SystemUnitReportingToStderr);
  // Installed before the graphics module's, so it runs after it.
  sys::ExitProc = WindowStateAtExit;
  sys::InitializeUnits();
  agg::Start<agg::WhiteRule>();
  if (!graph::headless::WindowOpen()) sys::Halt(3);
}

TEST(ProgramExitDeathTest, ARunTimeErrorClosesTheWindowBeforeTheReport) {
  EXPECT_EXIT(
      {
        StartWithTheWindowOpen();
        agg::X = 32767;
        agg::TAPAD<agg::WhiteRule>();  // the first probe of X + 1 fails
      },
      testing::ExitedWithCode(201), "^window closed" AGG_EOL AGG_REPORT_RE(201) "  0x" AGG_HEX8 AGG_EOL);
}

// More than any address space holds (three quarters of it), and where it
// goes, kept so that it is asked for.
volatile std::size_t tooMuch = std::numeric_limits<std::size_t>::max() / 4 * 3;
char* volatile hoard = nullptr;

TEST(ProgramExitDeathTest, MemoryRunningOutIsHeapOverflowAfterTheWindowHasClosed) {
  EXPECT_EXIT(
      {
        StartWithTheWindowOpen();
        sys::RaiseHeapErrors();
        hoard = new char[tooMuch];
      },
      testing::ExitedWithCode(203), "^window closed" AGG_EOL AGG_REPORT_RE(203));
}

TEST(ProgramExitDeathTest, BeforeTheProgramHasStartedMemoryRunningOutIsAnException) {
  EXPECT_THROW(hoard = new char[tooMuch], std::bad_alloc);
  char* none = new (std::nothrow) char[tooMuch];
  EXPECT_EQ(none, nullptr);
}

TEST(ProgramExitDeathTest, NoConsoleMeansMessageAndExit1WithoutReportOrExitProcedure) {
  EXPECT_EXIT(
      {
        crt::scripted::Reset();
        crt::scripted::FailScreenQuery(true);
        crt::scripted::FailConsoleOpen(true);
        InstallUnits(SystemUnitReportingToStderr);
        sys::InitializeUnits();
      },
      testing::ExitedWithCode(1), "^No way to get the console handle\n$");
  EXPECT_EXIT(
      {
        crt::scripted::Reset();
        crt::scripted::FailScreenQuery(true);
        InstallUnits(SystemUnitReportingToStderr);
        sys::InitializeUnits();
      },
      testing::ExitedWithCode(1), "^No way to get console screen buffer info\n$");
}

TEST(ProgramExitDeathTest, AMessageThatCannotBeWrittenIsError101) {
  EXPECT_EXIT(
      {
        crt::scripted::Reset();
        crt::scripted::FailScreenQuery(true);
        crt::scripted::FailConsoleOpen(true);
        InstallUnits(SystemUnitWithoutStderr);
        sys::InitializeUnits();
      },
      testing::ExitedWithCode(101), "^" AGG_REPORT_RE(101));
}

TEST(ProgramExitDeathTest, TheClosingLineInputIsIOChecked) {
  EXPECT_EXIT(
      {
        crt::scripted::Reset();
        InstallUnits(SystemUnitReportingToStderr);
        sys::InitializeUnits();
        agg::Start<agg::WhiteRule>();
        sys::Input.Mode = sys::fmOutput;
        agg::Finish();
      },
      testing::ExitedWithCode(104), AGG_REPORT_RE(104));
}

TEST(ProgramExitDeathTest, ANormalEndAfterAKeyReadsTheLineClosesGraphicsAndExits0) {
  EXPECT_EXIT(
      {
        crt::scripted::Reset();
        InstallUnits(SystemUnitReportingToStderr);
        sys::InitializeUnits();
        sys::RandSeed = 99;
        agg::Start<agg::WhiteRule>();
        crt::scripted::PushText("ok\r");
        agg::Grow<agg::WhiteRule>();
        agg::Finish();
        if (graph::headless::WindowOpen() || crt::scripted::RowText(0) != "ok") sys::Halt(3);
        sys::Do_Exit();
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace

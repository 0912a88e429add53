// Text channels, the exit sequence and the module table.
#include <gtest/gtest.h>

#include <string>

#include "runtime/checks.h"
#include "runtime/system.h"
#include "tests/support/report.h"

namespace {

using sys::TextRec;

// What the hooks of a capturing channel received, flush by flush.
std::string captured;
int transfers = 0;
int flushes = 0;

int32_t CaptureTransfer(TextRec& t) {
  ++transfers;
  captured.append(t.Buffer, static_cast<size_t>(t.Position));
  t.Position = 0;
  return 0;
}
int32_t CaptureFlush(TextRec& t) {
  ++flushes;
  captured.append(t.Buffer, static_cast<size_t>(t.Position));
  t.Position = 0;
  return 0;
}

TextRec CaptureChannel() {
  TextRec t;
  sys::AssignEmpty(t);
  t.Mode = sys::fmOutput;
  t.TransferHook = CaptureTransfer;
  t.FlushHook = CaptureFlush;
  captured.clear();
  transfers = flushes = 0;
  sys::InOutRes = 0;
  return t;
}

#ifdef _WIN32
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif

TEST(TextWrite, FillsTheBufferAndHandsEveryLineOver) {
  TextRec t = CaptureChannel();
  const std::string long_text(300, 'x');
  sys::WriteStr(t, long_text.c_str());
  EXPECT_EQ(transfers, 1);  // one full buffer of 256 went out
  EXPECT_EQ(t.Position, 300 - 256);
  sys::WriteDec(t, 4294967295u);
  sys::WriteDec(t, 0);
  sys::WriteLnEnd(t);
  EXPECT_EQ(flushes, 1);
  EXPECT_EQ(t.Position, 0);
  EXPECT_EQ(captured, long_text + "42949672950" + kEol);
}

TEST(TextWrite, WrongModesAndPendingResults) {
  TextRec t = CaptureChannel();
  t.Mode = sys::fmInput;
  sys::WriteStr(t, "a");
  EXPECT_EQ(sys::InOutRes, 105);
  sys::InOutRes = 0;
  t.Mode = sys::fmClosed;
  sys::WriteLnEnd(t);
  EXPECT_EQ(sys::InOutRes, 103);
  t.Mode = sys::fmOutput;  // a pending result blocks every write
  sys::WriteStr(t, "b");
  sys::WriteLnEnd(t);
  EXPECT_EQ(t.Position, 0);
  EXPECT_EQ(flushes, 0);
  EXPECT_EQ(sys::InOutRes, 103);
  sys::InOutRes = 0;
}

TEST(TextWrite, AFailedHandleWriteIs101) {
  TextRec t;
  sys::OpenStdIO(t, sys::fmOutput, sys::os::InvalidHandle);
  sys::InOutRes = 0;
  sys::WriteStr(t, "lost");
  sys::WriteLnEnd(t);
  EXPECT_EQ(sys::InOutRes, 101);
  EXPECT_EQ(t.Position, 0);
  sys::InOutRes = 0;
}

TEST(TextWrite, AFullBufferThatNothingEmptiesIs101) {
  // A record opened without hooks keeps what fits and then fails, where it
  // once looped for ever.
  TextRec t;
  sys::AssignEmpty(t);
  sys::InOutRes = 0;
  sys::Rewrite(t);
  sys::WriteStr(t, std::string(300, 'x').c_str());
  EXPECT_EQ(sys::InOutRes, 101);
  EXPECT_EQ(t.Position, t.BufferSize);
  sys::InOutRes = 0;
}

// An input channel fed from a script, a few bytes per transfer.
std::string script;
size_t scriptPos = 0;
size_t chunk = 3;
int32_t ScriptRead(TextRec& t) {
  const size_t n = std::min(chunk, script.size() - scriptPos);
  script.copy(t.Buffer, n, scriptPos);
  scriptPos += n;
  t.Position = 0;
  t.DataEnd = static_cast<int32_t>(n);
  return 0;
}

TextRec ScriptChannel(const std::string& s, size_t bytesPerTransfer) {
  TextRec t;
  sys::AssignEmpty(t);
  t.Mode = sys::fmInput;
  t.TransferHook = ScriptRead;
  script = s;
  scriptPos = 0;
  chunk = bytesPerTransfer;
  sys::InOutRes = 0;
  return t;
}

TEST(ReadLnEnd, SkipsOneLineWhateverItsEnd) {
  for (size_t per : {1u, 2u, 3u, 256u}) {
    TextRec t = ScriptChannel("ab\r\ncd\nef\rgh", per);
    sys::ReadLn_End(t);
    EXPECT_EQ(script.substr(scriptPos - static_cast<size_t>(t.DataEnd - t.Position)), "cd\nef\rgh") << per;
    sys::ReadLn_End(t);
    EXPECT_EQ(script.substr(scriptPos - static_cast<size_t>(t.DataEnd - t.Position)), "ef\rgh") << per;
    sys::ReadLn_End(t);  // a lone CR ends the line too
    EXPECT_EQ(script.substr(scriptPos - static_cast<size_t>(t.DataEnd - t.Position)), "gh") << per;
    sys::ReadLn_End(t);  // the end of input ends the last line
    EXPECT_EQ(t.Position, t.DataEnd);
    EXPECT_EQ(sys::InOutRes, 0);
  }
}

TEST(ReadLnEnd, WrongModesSetTheResultAndAPendingOneBlocks) {
  TextRec t = ScriptChannel("x\n", 8);
  t.Mode = sys::fmOutput;
  sys::ReadLn_End(t);
  EXPECT_EQ(sys::InOutRes, 104);
  sys::InOutRes = 0;
  t.Mode = sys::fmAppend;
  sys::ReadLn_End(t);
  EXPECT_EQ(sys::InOutRes, 104);
  sys::InOutRes = 0;
  t.Mode = sys::fmClosed;
  sys::ReadLn_End(t);
  EXPECT_EQ(sys::InOutRes, 103);
  t.Mode = sys::fmInput;
  sys::ReadLn_End(t);
  EXPECT_EQ(scriptPos, 0u) << "nothing is read while a result is pending";
  sys::InOutRes = 0;
}

TEST(HexStr, FixedWidthUpperCase) {
  char out[12];
  sys::HexStr(0x4012AFu, 8, out);
  EXPECT_STREQ(out, "004012AF");
  sys::HexStr(0xDEADBEEFu, 4, out);
  EXPECT_STREQ(out, "BEEF");
  sys::HexStr(0x1234u, 0, out);
  EXPECT_STREQ(out, "");
}

// ------------------------------------------------------------- exit sequence

std::string trail;
sys::ExitProcPtr savedA = nullptr;
void ExitA() {
  sys::ExitProc = savedA;
  trail += "A";
}
sys::ExitProcPtr savedB = nullptr;
void ExitB() {
  sys::ExitProc = savedB;
  trail += "B";
}
void ExitHalting() {
  sys::ExitProc = savedA;
  sys::Halt(7);
}
void ExitFailing() {
  sys::ExitProc = savedA;
  sys::Int_RangeError();
}
void ExitWritingTrail() {
  sys::WriteStr(sys::StdErr, ("exit procedures: " + trail).c_str());
  sys::WriteLnEnd(sys::StdErr);
}

TEST(ExitSequenceDeathTest, ExitProceduresRunNewestFirstThenTheReport) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        trail.clear();
        sys::ExitProc = ExitWritingTrail;
        savedA = sys::ExitProc;
        sys::ExitProc = ExitA;
        savedB = sys::ExitProc;
        sys::ExitProc = ExitB;
        sys::ToInt16(40000);
      },
      testing::ExitedWithCode(201), "exit procedures: BA" AGG_EOL AGG_REPORT_RE(201));
}

TEST(ExitSequenceDeathTest, HaltWithoutErrorPrintsNothing) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        sys::Halt(3);
      },
      testing::ExitedWithCode(3), "^$");
}

TEST(ExitSequenceDeathTest, HaltInAnExitProcedureReplacesOnlyTheExitCode) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        sys::ExitProc = nullptr;
        savedA = nullptr;
        sys::ExitProc = ExitHalting;
        sys::AddChecked(INT32_MAX, 1);
      },
      testing::ExitedWithCode(7), AGG_REPORT_RE(215));
}

TEST(ExitSequenceDeathTest, ASecondErrorReplacesTheFirst) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        savedA = nullptr;
        sys::ExitProc = ExitFailing;
        sys::MulChecked(65536, 65536);
      },
      testing::ExitedWithCode(201), "^" AGG_REPORT_RE(201));
}

TEST(ExitSequenceDeathTest, IOCheckRaisesThePendingResult) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        sys::InOutRes = 104;
        sys::Int_IOCheck();
      },
      testing::ExitedWithCode(104), AGG_REPORT_RE(104));
}

// ------------------------------------------------------------- module table

std::string unitTrail;
void InitOne() { unitTrail += "i1"; }
void FinalOne() { unitTrail += "f1"; }
void InitTwo() { unitTrail += "i2"; }
void FinalTwo() {
  unitTrail += "f2";
  sys::Halt(9);  // ending anew must not run this finalisation twice
}
void InitHalting() { sys::Halt(1); }
void FinalNever() { unitTrail += "never"; }
void ReportTrail() {
  sys::WriteStr(sys::StdErr, ("units: " + unitTrail).c_str());
  sys::WriteLnEnd(sys::StdErr);
}

TEST(ModuleTableDeathTest, OnlyInitialisedModulesAreFinalisedOnceNewestFirst) {
  static const sys::UnitEntry units[] = {
      {testsupport::ReportToStderr, ReportTrail},
      {InitOne, FinalOne},
      {InitTwo, FinalTwo},
      {InitHalting, FinalNever},
      {nullptr, FinalNever},
  };
  EXPECT_EXIT(
      {
        sys::InitFinal = sys::UnitTable(5, 0, units);
        sys::InitializeUnits();
      },
      testing::ExitedWithCode(9), "^units: i1i2f2f1\n$");
}

}  // namespace

// The console module against the scripted console: key filter, scan-code
// table, Alt codes, the line editor with its echo, and start-up.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/crt.h"
#include "runtime/headless/scripted_console.h"

namespace {

namespace scripted = crt::scripted;
namespace dev = crt::device;

constexpr uint32_t kAlt = dev::LEFT_ALT_PRESSED;
constexpr uint32_t kCtrl = dev::LEFT_CTRL_PRESSED;
constexpr uint32_t kShift = dev::SHIFT_PRESSED;
constexpr uint32_t kEnhanced = dev::ENHANCED_KEY;

// A keystroke of a script: a typed character, or a key without one.
struct Key {
  uint16_t vk = 0, scan = 0;
  char ch = 0;
  constexpr Key(char c) : ch(c) {}
  constexpr Key(uint16_t v, uint16_t s) : vk(v), scan(s) {}
};
constexpr Key kHome{0x24, 71}, kLeft{0x25, 75}, kRight{0x27, 77}, kEnd{0x23, 79};
constexpr Key kF1{0x70, 59}, kF5{0x74, 63}, kDelete{0x2E, 83};

void Press(const std::vector<Key>& keys) {
  for (const Key& k : keys) {
    if (k.vk == 0)
      scripted::PushChar(static_cast<uint8_t>(k.ch));
    else
      scripted::PushExtended(k.vk, k.scan, kEnhanced);
  }
}

// Alt held while digits are typed on the keypad with Num Lock on.
void PushAltCode(const std::string& digits) {
  static constexpr uint16_t kPadScan[] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  const uint32_t held = kAlt | dev::NUMLOCK_ON;
  scripted::PushKey(0x12, 56, 0, held);
  for (char d : digits) {
    const int n = d - '0';
    scripted::PushKey(static_cast<uint16_t>(0x60 + n), kPadScan[n], 0, held, true);
    scripted::PushKey(static_cast<uint16_t>(0x60 + n), kPadScan[n], 0, held, false);
  }
  scripted::PushKey(0x12, 56, 0, dev::NUMLOCK_ON, false);
}

std::string Line(const sys::TextRec& t) { return std::string(t.Buffer, static_cast<size_t>(t.DataEnd)); }

class Crt : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  static void Start(int32_t width = 80, int32_t height = 25, int32_t x = 0, int32_t y = 0,
                    uint8_t attr = 0x07, bool stdOutIsConsole = true) {
    scripted::Reset(width, height, x, y, attr);
    scripted::StdOutIsConsole(stdOutIsConsole);
    sys::InitSystemUnit();
    crt::ScanCode = 0;
    crt::SpecialKey = false;
    crt::CheckEOF = false;
    crt::InitCrt();
  }
};

using KeyFilter = Crt;
using LineEditor = Crt;
using CrtInit = Crt;

TEST_F(KeyFilter, ModifierAndLockKeysAloneGiveNoKey) {
  const std::pair<uint16_t, uint32_t> keys[] = {{0x10, kShift}, {0x11, kCtrl}, {0x12, kAlt},
      {0x14, dev::CAPSLOCK_ON}, {0x90, dev::NUMLOCK_ON}, {0x91, dev::SCROLLLOCK_ON}};
  for (auto [vk, state] : keys) {
    SCOPED_TRACE(vk);
    scripted::PushKey(vk, 0, 0, state, true);
    scripted::PushKey(vk, 0, 0, state, false);
    EXPECT_FALSE(crt::KeyPressed());
    EXPECT_EQ(scripted::QueuedEvents(), 0);
  }
}

TEST_F(KeyFilter, OtherEventsAreConsumedAndEventsBehindAKeyStay) {
  for (uint16_t type : {dev::MOUSE_EVENT, dev::FOCUS_EVENT, dev::MENU_EVENT, dev::WINDOW_BUFFER_SIZE_EVENT}) {
    dev::InputEvent ev;
    ev.EventType = type;
    ev.KeyDown = true;  // not a key, whatever its key fields say
    ev.VirtualKeyCode = 'M';
    ev.AsciiChar = 'm';
    scripted::PushEvent(ev);
  }
  scripted::PushKey(0x0D, 28, 13, 0, false);  // the release of the Enter that started the program
  EXPECT_FALSE(crt::KeyPressed());
  EXPECT_EQ(scripted::QueuedEvents(), 0);

  scripted::PushText("ab");
  EXPECT_TRUE(crt::KeyPressed());
  EXPECT_EQ(crt::ScanCode, 'a');
  EXPECT_EQ(scripted::QueuedEvents(), 3);
  EXPECT_TRUE(crt::KeyPressed());  // pending: the queue is not touched
  EXPECT_EQ(scripted::QueuedEvents(), 3);
}

TEST_F(KeyFilter, AltCodes) {
  PushAltCode("0");
  EXPECT_FALSE(crt::KeyPressed());
  EXPECT_TRUE(crt::DoingNumChars);
  EXPECT_EQ(crt::DoingNumCode, 0);

  for (const char* digits : {"65", "321"}) {
    SCOPED_TRACE(digits);
    PushAltCode(digits);
    EXPECT_EQ(crt::ReadKey(), 65);
    EXPECT_FALSE(crt::DoingNumChars);
    EXPECT_EQ(crt::DoingNumCode, 0);
  }
}

TEST_F(KeyFilter, ReadKeyGivesExtendedKeysAsPairs) {
  struct Row {
    const char* name;
    uint16_t vk, scan;
    uint8_t ch;
    uint32_t state;
    std::vector<uint8_t> keys;
  };
  const Row rows[] = {
      {"letter", 'Q', 16, 'q', 0, {'q'}},
      {"Ctrl-Y", 'Y', 21, 25, kCtrl, {25}},
      {"AltGr character", 'Q', 16, '@', dev::RIGHT_ALT_PRESSED | kCtrl, {'@'}},
      {"Enter", 0x0D, 28, 13, 0, {13}},
      {"keypad Enter", 0x0D, 28, 13, kEnhanced, {13}},
      {"keypad slash", 0x6F, 53, '/', kEnhanced, {0, 53}},
      {"F11", 0x7A, 87, 0, 0, {0, 133}},
      {"F12", 0x7B, 88, 0, 0, {0, 134}},
      {"Ctrl-F1", 0x70, 59, 0, kCtrl, {0, 94}},
      {"Shift-F1", 0x70, 59, 0, kShift, {0, 84}},
      {"Ctrl-Home", 0x24, 71, 0, dev::RIGHT_CTRL_PRESSED | kEnhanced, {0, 119}},
      {"Alt-X", 'X', 45, 'x', kAlt, {0, 45}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    scripted::PushKey(r.vk, r.scan, r.ch, r.state, true);
    for (uint8_t key : r.keys) EXPECT_EQ(crt::ReadKey(), key);
    EXPECT_FALSE(crt::KeyPressed());
  }
  EXPECT_THROW(crt::ReadKey(), scripted::InputExhausted);
}

TEST(RemapScanCode, Table) {
  constexpr uint32_t A = kAlt, RA = dev::RIGHT_ALT_PRESSED, C = kCtrl, RC = dev::RIGHT_CTRL_PRESSED, S = kShift,
                     Locks = dev::NUMLOCK_ON | dev::CAPSLOCK_ON | dev::SCROLLLOCK_ON | kEnhanced;
  struct Row {
    uint16_t scan;
    uint32_t state;
    int expected;
  };
  const Row rows[] = {
      {2, A, 120},  {13, A, 131}, {14, A, 14},  {28, RA, 166}, {53, A, 164}, {59, A, 104}, {68, A, 113},
      {71, A, 151}, {74, A, 74},  {76, A, 76},  {78, A, 78},   {83, A, 163}, {87, A, 139}, {88, A, 140},
      {45, A, 45},  {15, A | C, 15},            {59, A | C | S, 104},        {15, C, 148}, {53, C, 149},
      {55, RC, 150}, {59, C, 94}, {68, C, 103}, {87, C, 137},  {88, C, 138}, {2, C, 2},    {59, C | S, 94},
      {71, C, 119}, {72, C, 141}, {73, C, 132}, {74, C, 142},  {75, C, 115}, {76, C, 143}, {77, C, 116},
      {78, C, 78},  {79, C, 117}, {80, C, 145}, {81, C, 118},  {82, C, 146}, {83, C, 147}, {59, S, 84},
      {68, S, 93},  {87, S, 135}, {88, S, 136}, {71, S, 71},   {87, 0, 133}, {88, 0, 134}, {59, 0, 59},
      {72, 0, 72},  {87, Locks, 133},
  };
  for (const Row& r : rows)
    EXPECT_EQ(crt::RemapScanCode(r.scan, r.state, 0), r.expected) << "scan " << r.scan << " state " << r.state;
}

TEST_F(LineEditor, EditingKeys) {
  struct Row {
    const char* name;
    std::vector<Key> keys;
    bool checkEOF;
    std::string line, echo;
    int32_t cursorX, cursorY;
  };
  const Row rows[] = {
      {"plain", {'a', 'b', 'c', '\r'}, false, "abc\r\n", "abc", 0, 1},
      {"Left then type overwrites", {'a', 'b', 'c', kLeft, kLeft, 'X', '\r'}, false, "aXc\r\n", "aXc", 0, 1},
      {"Backspace only at the end", {'a', 'b', 'c', kLeft, '\b', kEnd, '\b', '\r'}, false, "ab\r\n", "ab", 0, 1},
      {"Ctrl-S", {'a', 'b', '\x13', '\r'}, false, "a\r\n", "a", 0, 1},
      {"Home Right End", {'a', 'b', 'c', kHome, kRight, 'X', kEnd, kRight, 'd', '\r'}, false, "aXcd\r\n", "aXcd", 0, 1},
      {"Left at start", {kLeft, kHome, 'a', '\r'}, false, "a\r\n", "a", 0, 1},
      // The erasing echo starts at the cursor, so what stood right of it stays shown.
      {"Esc from mid-line", {'a', 'b', 'c', kLeft, '\x1b', 'd', '\r'}, false, "d\r\n", "d c", 0, 1},
      {"Ctrl-Y", {'a', 'b', '\x19', 'c', '\r'}, false, "c\r\n", "c", 0, 1},
      {"Tab and bell", {'a', '\t', 'b', '\a', 'c', '\r'}, false, "a\tb\ac\r\n", "a\tbc", 0, 1},
      {"dropped keys", {kF1, kDelete, 'a', '\x1a', '\b', '\b', 'b', '\r'}, false, "b\r\n", "b", 0, 1},
      {"Ctrl-Z with CheckEOF", {'a', '\x1a'}, true, "a\x1a", "a", 1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Start();
    crt::CheckEOF = r.checkEOF;
    Press(r.keys);
    EXPECT_EQ(crt::CrtRead(sys::Input), 0);
    EXPECT_EQ(Line(sys::Input), r.line);
    EXPECT_EQ(sys::Input.Position, 0);
    EXPECT_EQ(scripted::RowText(0), r.echo);
    EXPECT_EQ(scripted::CursorX(), r.cursorX);
    EXPECT_EQ(scripted::CursorY(), r.cursorY);
  }
}

TEST_F(LineEditor, TakesAtMost254Characters) {
  scripted::PushText(std::string(300, 'x') + "\r");
  crt::CrtRead(sys::Input);
  EXPECT_EQ(Line(sys::Input), std::string(254, 'x') + "\r\n");
  EXPECT_EQ(scripted::RowText(2), std::string(80, 'x'));
  EXPECT_EQ(scripted::RowText(3), std::string(254 - 240, 'x'));
  EXPECT_EQ(scripted::CursorY(), 4);
}

TEST_F(LineEditor, EchoWrapsAndScrollsBlankRowsInTextAttr) {
  Start(10, 3, 0, 0, 0x07);
  crt::TextAttr = 0x1E;
  std::string typed;
  for (int i = 0; i < 35; ++i) typed += static_cast<char>('A' + i % 26);
  scripted::PushText(typed + "\r");
  crt::CrtRead(sys::Input);

  // 35 characters fill three rows and one scroll; Enter scrolls once more.
  EXPECT_EQ(scripted::RowText(0), typed.substr(20, 10));
  EXPECT_EQ(scripted::RowText(1), typed.substr(30));
  EXPECT_EQ(scripted::RowText(2), "");
  for (int32_t x = 0; x < 10; ++x) {
    EXPECT_EQ(scripted::Cell(x, 0).Attr, 0x1E);
    EXPECT_EQ(scripted::Cell(x, 2).Attr, 0x1E);
  }
  EXPECT_EQ(scripted::Cell(7, 1).Attr, 0x1E);
  EXPECT_EQ(scripted::CursorX(), 0);
  EXPECT_EQ(scripted::CursorY(), 2);
}

TEST_F(LineEditor, ReadLnStartsWithThePendingKey) {
  struct Row {
    const char* name;
    Key pending;
    std::string line;
  };
  const Row rows[] = {
      {"letter", 'a', "ax"}, {"Enter", '\r', ""},   {"F5", kF5, "x"},
      {"Left", kLeft, "x"},  {"Backspace", '\b', "x"}, {"Ctrl-Z", '\x1a', "x"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Start();
    Press({r.pending});
    ASSERT_TRUE(crt::KeyPressed());
    Press({'x', '\r'});
    sys::ReadLn_End(sys::Input);
    EXPECT_EQ(sys::InOutRes, 0);
    EXPECT_EQ(Line(sys::Input), r.line + "\r\n");
    EXPECT_EQ(scripted::RowText(0), r.line);
    EXPECT_EQ(scripted::CursorY(), 1);
  }
}

TEST_F(CrtInit, TakesTheConsoleAsItFindsIt) {
  Start(100, 40, 5, 7, 0x2A);
  EXPECT_EQ(crt::OutHandle, sys::os::GetStdHandle(sys::os::StdOutputHandle));
  EXPECT_EQ(sys::Input.Handle, sys::os::GetStdHandle(sys::os::StdInputHandle));
  EXPECT_EQ(sys::Input.Mode, sys::fmInput);
  EXPECT_EQ(sys::Output.Mode, sys::fmOutput);
  EXPECT_EQ(crt::TextAttr, 0x2A);
  EXPECT_EQ(crt::WinMaxX, 100);
  EXPECT_EQ(crt::WinMaxY, 40);

  sys::WriteStr(sys::Output, "hi");
  sys::Output.FlushHook(sys::Output);
  EXPECT_EQ(scripted::RowText(7), "     hi");
  EXPECT_EQ(scripted::Cell(6, 7).Attr, 0x2A);
  EXPECT_EQ(scripted::CursorX(), 7);

  scripted::FailScreenQuery(true);
  EXPECT_EQ(crt::GetScreenWidth(), 80);
  EXPECT_EQ(crt::GetScreenHeight(), 25);
}

TEST_F(CrtInit, EchoesThroughTheConsoleWhenStandardOutputIsRedirected) {
  Start(80, 25, 0, 3, 0x07, false);
  EXPECT_EQ(crt::OutHandle, scripted::ConsoleOutputHandle);
  EXPECT_EQ(sys::Output.Handle, scripted::ConsoleOutputHandle);
  scripted::PushText("ok\r");
  sys::ReadLn_End(sys::Input);
  EXPECT_EQ(scripted::RowText(3), "ok");
  EXPECT_EQ(scripted::CursorY(), 4);
}

TEST(CrtInitDeathTest, NoConsoleHaltsWithCode1) {
  struct Row {
    bool openFails, queryFails;
    const char* message;
  };
  for (const Row& r : {Row{true, false, "No way to get the console handle"},
                       Row{false, true, "No way to get console screen buffer info"}}) {
    scripted::Reset();
    scripted::StdOutIsConsole(false);
    scripted::FailConsoleOpen(r.openFails);
    scripted::FailScreenQuery(r.queryFails);
    sys::InitSystemUnit();
    EXPECT_EXIT(crt::InitCrt(), ::testing::ExitedWithCode(1), std::string(r.message) + "\r?\n");
  }
}

}  // namespace

// The terminal key decoder: what a terminal sends for a key becomes the
// key events a Windows console gives for it; garbage never sticks.
#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/posix/keydecode.h"

namespace {

namespace dev = crt::device;
using crt::term::KeyDecoder;

constexpr uint32_t kAlt = dev::LEFT_ALT_PRESSED;
constexpr uint32_t kCtrl = dev::LEFT_CTRL_PRESSED;
constexpr uint32_t kShift = dev::SHIFT_PRESSED;
constexpr uint32_t kEnh = dev::ENHANCED_KEY;

struct Key {
  uint16_t vk;
  uint16_t scan;
  uint8_t ch;
  uint32_t state;
  bool operator==(const Key&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Key& k) {
  return os << "{vk " << k.vk << ", scan " << k.scan << ", ch " << int{k.ch} << ", state 0x" << std::hex
            << k.state << std::dec << "}";
}

// Everything queued, as keys; each key-down must be followed by its key-up.
std::vector<Key> Drain(KeyDecoder& d) {
  std::vector<Key> keys;
  dev::InputEvent down, up;
  while (d.Pop(down)) {
    EXPECT_EQ(down.EventType, dev::KEY_EVENT);
    EXPECT_TRUE(down.KeyDown);
    if (!d.Pop(up)) {
      ADD_FAILURE() << "key-down without key-up";
      break;
    }
    EXPECT_FALSE(up.KeyDown);
    EXPECT_EQ(up.VirtualKeyCode, down.VirtualKeyCode);
    EXPECT_EQ(up.AsciiChar, down.AsciiChar);
    keys.push_back({down.VirtualKeyCode, down.VirtualScanCode, down.AsciiChar, down.ControlKeyState});
  }
  return keys;
}

std::vector<Key> Decode(const std::string& bytes, bool expire = false, bool lineFeedIsEnter = false) {
  KeyDecoder d(lineFeedIsEnter);
  d.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (expire) d.Expire();
  return Drain(d);
}

constexpr Key kUp{0x26, 72, 0, kEnh}, kDown{0x28, 80, 0, kEnh}, kRight{0x27, 77, 0, kEnh}, kLeft{0x25, 75, 0, kEnh};
constexpr Key kHome{0x24, 71, 0, kEnh}, kEnd{0x23, 79, 0, kEnh}, kPgUp{0x21, 73, 0, kEnh}, kPgDn{0x22, 81, 0, kEnh};
constexpr Key kIns{0x2D, 82, 0, kEnh}, kDel{0x2E, 83, 0, kEnh};
constexpr Key kEnter{0x0D, 28, 13, 0}, kEsc{0x1B, 1, 27, 0}, kBackspace{0x08, 14, 8, 0}, kTab{0x09, 15, 9, 0};

Key With(Key k, uint32_t state) {
  k.state |= state;
  return k;
}
// F1 to F12 as a Windows console reports them: virtual key, scan code.
constexpr Key kF[13] = {{},
                        {0x70, 59, 0, 0}, {0x71, 60, 0, 0}, {0x72, 61, 0, 0}, {0x73, 62, 0, 0},
                        {0x74, 63, 0, 0}, {0x75, 64, 0, 0}, {0x76, 65, 0, 0}, {0x77, 66, 0, 0},
                        {0x78, 67, 0, 0}, {0x79, 68, 0, 0}, {0x7A, 87, 0, 0}, {0x7B, 88, 0, 0}};
Key F(int n, uint32_t state = 0) { return With(kF[n], state); }

struct Case {
  const char* what;
  std::string bytes;
  std::vector<Key> keys;
};

void Check(const std::vector<Case>& cases, bool expire = false) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Decode(c.bytes, expire), c.keys);
  }
}

TEST(KeyDecoder, TypedCharactersAreTheirUsKeys) {
  Check({
      {"letters", "aZ", {{'A', 30, 'a', 0}, {'Z', 44, 'Z', kShift}}},
      {"digits and their shifted symbols", "10!)", {{'1', 2, '1', 0}, {'0', 11, '0', 0}, {'1', 2, '!', kShift}, {'0', 11, ')', kShift}}},
      {"punctuation", " /?~", {{0x20, 57, ' ', 0}, {0xBF, 53, '/', 0}, {0xBF, 53, '?', kShift}, {0xC0, 41, '~', kShift}}},
      {"Enter", "\r", {kEnter}},
      {"both Backspace bytes", std::string("\x7f\x08"), {kBackspace, kBackspace}},
      {"Tab", "\t", {kTab}},
      {"Ctrl with letters", "\x01\x13\x18\x19\x1a", {{'A', 30, 1, kCtrl}, {'S', 31, 19, kCtrl}, {'X', 45, 24, kCtrl}, {'Y', 21, 25, kCtrl}, {'Z', 44, 26, kCtrl}}},
      {"Ctrl-J is not Enter on a terminal", "\n", {{'J', 36, 10, kCtrl}}},
      {"Ctrl-@", std::string(1, '\0'), {{0x32, 3, 0, kCtrl | kShift}}},
  });
  EXPECT_EQ(Decode("\n", false, true), std::vector<Key>{kEnter}) << "a line end in text";
}

TEST(KeyDecoder, CursorAndEditingKeysInEveryForm) {
  Check({
      {"CSI arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {kUp, kDown, kRight, kLeft}},
      {"SS3 arrows", "\x1bOA\x1bOB\x1bOC\x1bOD", {kUp, kDown, kRight, kLeft}},
      {"Home and End", "\x1b[H\x1b[F\x1bOH\x1bOF\x1b[1~\x1b[4~\x1b[7~\x1b[8~", {kHome, kEnd, kHome, kEnd, kHome, kEnd, kHome, kEnd}},
      {"tilde keys", "\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {kIns, kDel, kPgUp, kPgDn}},
      {"modified arrows", "\x1b[1;5A\x1b[1;2D\x1b[1;3C\x1b[1;8H", {With(kUp, kCtrl), With(kLeft, kShift), With(kRight, kAlt), With(kHome, kCtrl | kAlt | kShift)}},
      {"modified tilde keys", "\x1b[3;5~\x1b[5;2~", {With(kDel, kCtrl), With(kPgUp, kShift)}},
      {"rxvt modifier forms", "\x1b[a\x1bOd\x1b[3^\x1b[2$", {With(kUp, kShift), With(kLeft, kCtrl), With(kDel, kCtrl), With(kIns, kShift)}},
      {"Shift-Tab", "\x1b[Z", {With(kTab, kShift)}},
      {"keypad Enter and slash in application mode", "\x1bOM\x1bOo", {With(kEnter, kEnh), {0x6F, 53, '/', kEnh}}},
      {"keypad digits and operators in application mode", "\x1bOp\x1bOy\x1bOj\x1bOk\x1bOm\x1bOn",
       {{0x60, 82, '0', 0}, {0x69, 73, '9', 0}, {0x6A, 55, '*', 0}, {0x6B, 78, '+', 0}, {0x6D, 74, '-', 0}, {0x6E, 83, '.', 0}}},
      {"keypad 5 without NumLock", "\x1b[E\x1b[G\x1bOE", {{0x0C, 76, 0, 0}, {0x0C, 76, 0, 0}, {0x0C, 76, 0, 0}}},
  });
}

TEST(KeyDecoder, FunctionKeysWithModifiers) {
  Check({
      {"F1-F4 as SS3", "\x1bOP\x1bOQ\x1bOR\x1bOS", {F(1), F(2), F(3), F(4)}},
      {"F5-F12 as CSI n ~", "\x1b[15~\x1b[17~\x1b[21~\x1b[23~\x1b[24~", {F(5), F(6), F(10), F(11), F(12)}},
      {"every CSI n ~ function key", "\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~",
       {F(1), F(2), F(3), F(4), F(5), F(6), F(7), F(8), F(9), F(10), F(11), F(12)}},
      {"the gaps between them name no key", "\x1b[9~\x1b[10~\x1b[16~\x1b[22~\x1b[25~", {}},
      {"Linux console F1-F5", "\x1b[[A\x1b[[E", {F(1), F(5)}},
      {"modified F1-F4", "\x1b[1;2P\x1b[1;5R\x1bO2Q", {F(1, kShift), F(3, kCtrl), F(2, kShift)}},
      {"modified F5-F12", "\x1b[15;3~\x1b[24;6~", {F(5, kAlt), F(12, kCtrl | kShift)}},
  });
}

TEST(KeyDecoder, EscBeforeAKeyIsAlt) {
  Check({
      {"Alt with letters keeps their scan codes", "\x1bx\x1bX", {{'X', 45, 'x', kAlt}, {'X', 45, 'X', kAlt | kShift}}},
      {"Alt with a digit", "\x1b" "1", {{'1', 2, '1', kAlt}}},
      {"Alt with Backspace and Enter", "\x1b\x7f\x1b\r", {With(kBackspace, kAlt), With(kEnter, kAlt)}},
      {"Alt with a UTF-8 character", "\x1b\xc3\xa9", {{0, 0, 0x82, kAlt}}},
      {"Esc twice, then a sequence", "\x1b\x1b[A", {kEsc, kUp}},
  });
}

TEST(KeyDecoder, HeldBytesWaitForTheTimeOut) {
  KeyDecoder d;
  d.Feed(0x1b);
  EXPECT_TRUE(d.Holding());
  EXPECT_EQ(d.Queued(), 0u) << "a lone Esc is no key before the time-out";
  d.Feed('[');
  d.Feed('A');
  EXPECT_EQ(Drain(d), std::vector<Key>{kUp}) << "a sequence that arrives in pieces";
  Check(
      {
          {"lone Esc", "\x1b", {kEsc}},
          {"Alt-[", "\x1b[", {{0xDB, 26, '[', kAlt}}},
          {"Alt-O", "\x1bO", {{'O', 24, 'O', kAlt | kShift}}},
          {"a partial sequence", "\x1b[1;5", {}},
          {"a partial character", "\xe2\x96", {}},
      },
      true);
}

TEST(KeyDecoder, Utf8BecomesCodePage437OrNothing) {
  Check({
      {"accented letters", "\xc3\xa9\xc3\x87", {{0, 0, 0x82, 0}, {0, 0, 0x80, 0}}},
      {"box drawing and Greek", "\xe2\x96\x91\xce\xb1", {{0, 0, 0xB0, 0}, {0, 0, 0xE0, 0}}},
      {"not in the code page", "\xe2\x82\xac\xf0\x9f\x98\x80", {}},
      {"overlong and surrogate forms", "\xe0\x80\xaf\xed\xa0\x80\xc0\xaf", {}},
      {"stray and cut-short bytes", "\xff\xa9\xc3x", {{'X', 45, 'x', 0}}},
  });
}

TEST(KeyDecoder, UnknownAndBrokenSequencesAreDropped) {
  Check({
      {"terminal replies and paste marks", "\x1b[?1;2c\x1b[200~\x1b[99~\x1b[>1;2m", {}},
      {"too many parameters", "\x1b[1;2;3;4;5A", {}},
      {"overlong parameters", "\x1b[12345678901234567890A" "q", {{'Q', 16, 'q', 0}}},
      {"a control byte cuts a sequence short", "\x1b[1\r\x1b[1;\x1b[B", {kEnter, kDown}},
      {"an unrequested cursor report of row 1 is Shift-F3", "\x1b[1;2R", {F(3, kShift)}},
      {"an unrequested report of another row", "\x1b[12;40R", {}},
  });
}

TEST(KeyDecoder, CursorReportsAreTakenOutOfTheKeys) {
  KeyDecoder d;
  d.ExpectCursorReport();
  const std::string bytes = "a\x1b[1;2Rb";
  d.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  int32_t row = 0, column = 0;
  ASSERT_TRUE(d.TakeCursorReport(row, column));
  EXPECT_EQ(row, 1);
  EXPECT_EQ(column, 2);
  EXPECT_FALSE(d.TakeCursorReport(row, column));
  EXPECT_EQ(Drain(d), (std::vector<Key>{{'A', 30, 'a', 0}, {'B', 48, 'b', 0}}));
  d.Feed(reinterpret_cast<const uint8_t*>("\x1b[1;2R"), 6);
  EXPECT_EQ(Drain(d), std::vector<Key>{F(3, kShift)}) << "only as many reports as were asked for";
}

std::string Glyph(uint8_t ch) {
  char out[4];
  return std::string(out, crt::term::GlyphUtf8(ch, out));
}

TEST(CodePage437, GlyphsAgreeWithTheSystemConverter) {
  iconv_t cd = iconv_open("UTF-8", "IBM437");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no IBM437 converter";
  for (int ch = 0x80; ch <= 0xFF; ++ch) {
    SCOPED_TRACE(ch);
    char in = static_cast<char>(ch);
    char out[8];
    char* inp = &in;
    char* outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<size_t>(-1));
    const std::string expected(out, static_cast<size_t>(outp - out));
    EXPECT_EQ(Glyph(static_cast<uint8_t>(ch)), expected);
    // And back, as typed text.
    KeyDecoder d;
    d.Feed(reinterpret_cast<const uint8_t*>(expected.data()), expected.size());
    EXPECT_EQ(Drain(d), (std::vector<Key>{{0, 0, static_cast<uint8_t>(ch), 0}}));
  }
  iconv_close(cd);
}

TEST(CodePage437, ControlCodesShowAsGlyphs) {
  for (int ch = 0x20; ch < 0x7F; ++ch) EXPECT_EQ(Glyph(static_cast<uint8_t>(ch)), std::string(1, static_cast<char>(ch)));
  EXPECT_EQ(Glyph(0), " ");
  EXPECT_EQ(Glyph(1), "\u263A");
  EXPECT_EQ(Glyph(9), "\u25CB") << "Tab is a glyph, not a jump";
  EXPECT_EQ(Glyph(27), "\u2190");
  EXPECT_EQ(Glyph(0x7F), "\u2302");
}

// Random bytes, biased toward the ones that start and fill sequences.
TEST(KeyDecoder, RandomBytesAreAlwaysConsumed) {
  std::mt19937 rng(20240531);
  const uint8_t interesting[] = {0x1b, '[', 'O', ';', '1', '2', '5', '~', 'A', 'R', 0xc3, 0xe2, 0x80, 0xa9, '\r', 0x7f};
  KeyDecoder carried;  // one decoder across all strings, as a long session
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(rng() % 24, '\0');
    for (char& b : bytes)
      b = static_cast<char>(rng() % 2 ? interesting[rng() % sizeof interesting] : rng() % 256);
    for (KeyDecoder* d : {&carried, static_cast<KeyDecoder*>(nullptr)}) {
      KeyDecoder fresh(round % 2 == 0);
      KeyDecoder& dec = d ? *d : fresh;
      dec.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      dec.Expire();
      ASSERT_FALSE(dec.Holding()) << "round " << round;
      const size_t keys = Drain(dec).size();
      ASSERT_LE(keys, bytes.size()) << "round " << round << ": more keys than bytes";
      // Whatever came before, the next key is read as itself.
      dec.Feed('q');
      ASSERT_EQ(Drain(dec), (std::vector<Key>{{'Q', 16, 'q', 0}})) << "round " << round;
    }
  }
}

}  // namespace

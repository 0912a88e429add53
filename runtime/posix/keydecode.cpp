#include "runtime/posix/keydecode.h"

#include "runtime/vkeys.h"

namespace crt::term {

namespace {

using device::ENHANCED_KEY;
using device::LEFT_ALT_PRESSED;
using device::LEFT_CTRL_PRESSED;
using device::SHIFT_PRESSED;

// Unicode code points of code page 437, in code order.
constexpr uint16_t kCp437[256] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Main-keyboard scan codes of the letters a to z.
constexpr uint8_t kLetterScan[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                     49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

struct KeyCap {
  uint16_t vk;
  uint8_t scan;
  bool shift;
};

// The US-layout key of each printable ASCII character from ' ' to '~'
// other than letters and digits, whose keys follow a rule.
KeyCap SymbolKey(uint8_t ch) {
  switch (ch) {
    case ' ': return {vk::Space, 57, false};
    case '!': return {'1', 2, true};
    case '@': return {'2', 3, true};
    case '#': return {'3', 4, true};
    case '$': return {'4', 5, true};
    case '%': return {'5', 6, true};
    case '^': return {'6', 7, true};
    case '&': return {'7', 8, true};
    case '*': return {'8', 9, true};
    case '(': return {'9', 10, true};
    case ')': return {'0', 11, true};
    case '-': return {vk::Minus, 12, false};
    case '_': return {vk::Minus, 12, true};
    case '=': return {vk::Plus, 13, false};
    case '+': return {vk::Plus, 13, true};
    case '[': return {vk::LBracket, 26, false};
    case '{': return {vk::LBracket, 26, true};
    case ']': return {vk::RBracket, 27, false};
    case '}': return {vk::RBracket, 27, true};
    case ';': return {vk::Semicolon, 39, false};
    case ':': return {vk::Semicolon, 39, true};
    case '\'': return {vk::Quote, 40, false};
    case '"': return {vk::Quote, 40, true};
    case '`': return {vk::Grave, 41, false};
    case '~': return {vk::Grave, 41, true};
    case '\\': return {vk::Backslash, 43, false};
    case '|': return {vk::Backslash, 43, true};
    case ',': return {vk::Comma, 51, false};
    case '<': return {vk::Comma, 51, true};
    case '.': return {vk::Period, 52, false};
    case '>': return {vk::Period, 52, true};
    case '/': return {vk::Slash, 53, false};
    case '?': return {vk::Slash, 53, true};
    default: return {0, 0, false};
  }
}

// Keys without a character; the cursor block is "enhanced" on a console.
enum class Special : uint8_t { Up, Down, Left, Right, Home, End, PageUp, PageDown, Insert, Delete, Clear };

struct SpecialCap {
  uint16_t vk;
  uint8_t scan;
  bool enhanced;
};

constexpr SpecialCap kSpecial[] = {
    {vk::Up, 72, true},     {vk::Down, 80, true},   {vk::Left, 75, true},   {vk::Right, 77, true},
    {vk::Home, 71, true},   {vk::End, 79, true},    {vk::Prior, 73, true},  {vk::Next, 81, true},
    {vk::Insert, 82, true}, {vk::Delete, 83, true}, {vk::Clear, 76, false},
};

// xterm's modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4 (+ Meta 8, taken
// as Alt).
uint32_t Modifiers(int32_t m) {
  if (m < 2) return 0;
  const int32_t bits = m - 1;
  uint32_t state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  return state;
}

// The key that "CSI n ~" names: an editing key, a function key, or none.
struct TildeKeyName {
  enum class Kind : uint8_t { None, Editing, Function };
  Kind What = Kind::None;
  Special Editing = Special::Home;  // when What is Editing
  int Function = 0;                 // 1 to 12, when What is Function
};

TildeKeyName EditingKey(Special key) { return {TildeKeyName::Kind::Editing, key, 0}; }
TildeKeyName FunctionKey(int n) { return {TildeKeyName::Kind::Function, Special::Home, n}; }

TildeKeyName TildeKey(int32_t n) {
  switch (n) {
    case 1: case 7: return EditingKey(Special::Home);
    case 2: return EditingKey(Special::Insert);
    case 3: return EditingKey(Special::Delete);
    case 4: case 8: return EditingKey(Special::End);
    case 5: return EditingKey(Special::PageUp);
    case 6: return EditingKey(Special::PageDown);
    // F1 to F12, with gaps where the VT220's keys had them.
    case 11: case 12: case 13: case 14: case 15: return FunctionKey(n - 10);
    case 17: case 18: case 19: case 20: case 21: return FunctionKey(n - 11);
    case 23: case 24: return FunctionKey(n - 12);
    default: return {};
  }
}

}  // namespace

size_t GlyphUtf8(uint8_t ch, char out[4]) {
  const uint32_t cp = kCp437[ch];
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (cp >> 12));
  out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (cp & 0x3F));
  return 3;
}

int Cp437FromUnicode(uint32_t cp) {
  for (int ch = 0x80; ch <= 0xFF; ++ch)
    if (kCp437[ch] == cp) return ch;
  return -1;
}

void KeyDecoder::Key(uint16_t vk, uint16_t scan, uint8_t ch, uint32_t state) {
  events_.push_back(device::KeyEvent(vk, scan, ch, state, true));
  events_.push_back(device::KeyEvent(vk, scan, ch, state, false));
}

void KeyDecoder::CharKey(uint8_t ch, uint32_t extra) {
  switch (ch) {
    case 13: Key(vk::Return, 28, 13, extra); return;
    case 10:
      if (lineFeedIsEnter_)
        Key(vk::Return, 28, 13, extra);
      else
        Key('J', 36, 10, extra | LEFT_CTRL_PRESSED);
      return;
    case 8:
    case 127: Key(vk::Back, 14, 8, extra); return;
    case 9: Key(vk::Tab, 15, 9, extra); return;
    case 27: Key(vk::Escape, 1, 27, extra); return;
    case 0: Key('2', 3, 0, extra | LEFT_CTRL_PRESSED | SHIFT_PRESSED); return;
    case 28: Key(vk::Backslash, 43, 28, extra | LEFT_CTRL_PRESSED); return;
    case 29: Key(vk::RBracket, 27, 29, extra | LEFT_CTRL_PRESSED); return;
    case 30: Key('6', 7, 30, extra | LEFT_CTRL_PRESSED | SHIFT_PRESSED); return;
    case 31: Key(vk::Minus, 12, 31, extra | LEFT_CTRL_PRESSED | SHIFT_PRESSED); return;
    default: break;
  }
  if (ch < 27) {
    Key(static_cast<uint16_t>('A' + ch - 1), kLetterScan[ch - 1], ch, extra | LEFT_CTRL_PRESSED);
  } else if (ch >= 'a' && ch <= 'z') {
    Key(static_cast<uint16_t>(ch - 'a' + 'A'), kLetterScan[ch - 'a'], ch, extra);
  } else if (ch >= 'A' && ch <= 'Z') {
    Key(ch, kLetterScan[ch - 'A'], ch, extra | SHIFT_PRESSED);
  } else if (ch >= '1' && ch <= '9') {
    Key(ch, static_cast<uint16_t>(ch - '1' + 2), ch, extra);
  } else if (ch == '0') {
    Key('0', 11, ch, extra);
  } else if (ch < 0x7F) {
    const KeyCap k = SymbolKey(ch);
    Key(k.vk, k.scan, ch, extra | (k.shift ? SHIFT_PRESSED : 0));
  } else {
    // A character that no key of the layout types.
    Key(0, 0, ch, extra);
  }
}

void KeyDecoder::Reset() {
  state_ = State::Ground;
  alt_ = false;
  paramLen_ = 0;
  paramsBad_ = false;
  utf8Left_ = 0;
}

void KeyDecoder::Feed(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::Ground: Ground(b); break;
      case State::Utf8: Utf8Byte(b); break;
      default: Sequence(b); break;
    }
  }
}

void KeyDecoder::Ground(uint8_t b) {
  if (b == 0x1B) {
    state_ = State::Escape;
    return;
  }
  if (b < 0x80) {
    CharKey(b, alt_ ? LEFT_ALT_PRESSED : 0);
    Reset();
    return;
  }
  // The lead byte of a UTF-8 sequence; C0, C1 and F5 to FF never are.
  if (b >= 0xC2 && b <= 0xDF) {
    codePoint_ = b & 0x1F;
    utf8Len_ = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    codePoint_ = b & 0x0F;
    utf8Len_ = 3;
  } else if (b >= 0xF0 && b <= 0xF4) {
    codePoint_ = b & 0x07;
    utf8Len_ = 4;
  } else {
    Reset();
    return;
  }
  utf8Left_ = static_cast<uint8_t>(utf8Len_ - 1);
  state_ = State::Utf8;
}

void KeyDecoder::Utf8Byte(uint8_t b) {
  if ((b & 0xC0) != 0x80) {
    // Cut short: the partial character is dropped, the byte starts afresh.
    Reset();
    Ground(b);
    return;
  }
  codePoint_ = (codePoint_ << 6) | (b & 0x3F);
  if (--utf8Left_ > 0) return;
  const bool overlong = (utf8Len_ == 3 && codePoint_ < 0x800) || (utf8Len_ == 4 && codePoint_ < 0x10000);
  const bool invalid = overlong || (codePoint_ >= 0xD800 && codePoint_ <= 0xDFFF) || codePoint_ > 0x10FFFF;
  const int ch = invalid ? -1 : Cp437FromUnicode(codePoint_);
  if (ch >= 0) CharKey(static_cast<uint8_t>(ch), alt_ ? LEFT_ALT_PRESSED : 0);
  Reset();
}

void KeyDecoder::Sequence(uint8_t b) {
  if (state_ == State::Escape) {
    switch (b) {
      case '[': state_ = State::Csi; return;
      case 'O': state_ = State::Ss3; return;
      case 0x1B:
        // Esc typed twice: the first is a key of its own.
        CharKey(27, 0);
        return;
      default:
        // Esc before a key is how terminals send Alt with it.
        state_ = State::Ground;
        alt_ = true;
        Ground(b);
        return;
    }
  }
  if (b < 0x20 || b >= 0x7F) {
    // A control or 8-bit byte cannot be inside a sequence: the sequence
    // was cut short and is dropped, the byte starts afresh.
    Reset();
    Ground(b);
    return;
  }
  if (state_ == State::LinuxFn) {
    // The Linux console's F1 to F5: CSI [ A to CSI [ E.
    if (b >= 'A' && b <= 'E')
      Key(static_cast<uint16_t>(vk::F1 + b - 'A'), static_cast<uint16_t>(59 + b - 'A'), 0, 0);
    Reset();
    return;
  }
  if (state_ == State::Csi && b == '[' && paramLen_ == 0 && !paramsBad_) {
    state_ = State::LinuxFn;
    return;
  }
  if (b >= 0x30 && b <= 0x3F) {
    if (paramLen_ < sizeof params_)
      params_[paramLen_++] = static_cast<char>(b);
    else
      paramsBad_ = true;
    return;
  }
  // rxvt ends its Shift forms with '$', an intermediate byte by the book.
  if (b < 0x40 && !(b == '$' && state_ == State::Csi)) {
    paramsBad_ = true;
    return;
  }
  if (state_ == State::Csi)
    FinishCsi(b);
  else
    FinishSs3(b);
  Reset();
}

bool KeyDecoder::Params(int32_t (&out)[4], int& count) const {
  count = 0;
  if (paramsBad_) return false;
  if (paramLen_ == 0) return true;
  int32_t value = 0;
  for (uint8_t i = 0; i <= paramLen_; ++i) {
    const char c = i < paramLen_ ? params_[i] : ';';
    if (c == ';') {
      if (count == 4) return false;
      out[count++] = value;
      value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > 9999) return false;
    } else {
      return false;  // private markers and sub-parameters: not a key of ours
    }
  }
  return true;
}

namespace {

// The final bytes that stand for the same key after CSI and after SS3.
bool CursorFinal(uint8_t final, Special& key) {
  switch (final) {
    case 'A': key = Special::Up; return true;
    case 'B': key = Special::Down; return true;
    case 'C': key = Special::Right; return true;
    case 'D': key = Special::Left; return true;
    case 'H': key = Special::Home; return true;
    case 'F': key = Special::End; return true;
    case 'E': key = Special::Clear; return true;
    default: return false;
  }
}

}  // namespace

void KeyDecoder::FinishCsi(uint8_t final) {
  int32_t p[4] = {};
  int count = 0;
  if (!Params(p, count)) return;
  if (final == 'R' && count == 2 && reportsExpected_ > 0) {
    --reportsExpected_;
    haveReport_ = true;
    reportRow_ = p[0];
    reportColumn_ = p[1];
    return;
  }
  const auto special = [this](Special k, uint32_t state) {
    const SpecialCap& c = kSpecial[static_cast<int>(k)];
    Key(c.vk, c.scan, 0, state | (c.enhanced ? ENHANCED_KEY : 0));
  };
  const auto function = [this](int n, uint32_t state) {
    Key(static_cast<uint16_t>(vk::F1 + n - 1), static_cast<uint16_t>(n <= 10 ? 58 + n : 76 + n), 0, state);
  };
  // Letter finals come bare or as "1;m": the 1 is a placeholder.
  const bool letterForm = count == 0 || (p[0] <= 1 && count <= 2);
  const uint32_t letterMods = count == 2 ? Modifiers(p[1]) : 0;
  Special key;
  if (CursorFinal(final, key)) {
    if (letterForm) special(key, letterMods);
    return;
  }
  if (final == 'G' && count == 0) {
    special(Special::Clear, 0);  // the Linux console's keypad 5
    return;
  }
  if (final >= 'P' && final <= 'S') {
    if (letterForm) function(final - 'P' + 1, letterMods);
    return;
  }
  if (final == 'Z') {
    if (letterForm) CharKey(9, SHIFT_PRESSED | letterMods);
    return;
  }
  if (final >= 'a' && final <= 'd' && count == 0) {
    // rxvt's Shift with the arrows.
    static constexpr Special kArrows[] = {Special::Up, Special::Down, Special::Right, Special::Left};
    special(kArrows[final - 'a'], SHIFT_PRESSED);
    return;
  }
  uint32_t state = 0;
  switch (final) {
    case '~': state = count == 2 ? Modifiers(p[1]) : 0; break;
    // rxvt's forms of the same keys with Shift, Ctrl, or both.
    case '$': state = SHIFT_PRESSED; break;
    case '^': state = LEFT_CTRL_PRESSED; break;
    case '@': state = LEFT_CTRL_PRESSED | SHIFT_PRESSED; break;
    default: return;
  }
  if (count < 1 || count > 2 || (final != '~' && count != 1)) return;
  const TildeKeyName k = TildeKey(p[0]);
  switch (k.What) {
    case TildeKeyName::Kind::Editing: special(k.Editing, state); break;
    case TildeKeyName::Kind::Function: function(k.Function, state); break;
    case TildeKeyName::Kind::None: break;
  }
}

void KeyDecoder::FinishSs3(uint8_t final) {
  int32_t p[4] = {};
  int count = 0;
  if (!Params(p, count) || count > 2) return;
  // Modifiers come as "SS3 m P" from some terminals, "SS3 1;m P" from others.
  const uint32_t mods = count == 0 ? 0 : Modifiers(p[count - 1]);
  Special key;
  if (CursorFinal(final, key)) {
    const SpecialCap& c = kSpecial[static_cast<int>(key)];
    Key(c.vk, c.scan, 0, mods | (c.enhanced ? ENHANCED_KEY : 0));
    return;
  }
  if (final >= 'P' && final <= 'S') {
    Key(static_cast<uint16_t>(vk::F1 + final - 'P'), static_cast<uint16_t>(59 + final - 'P'), 0, mods);
    return;
  }
  if (final >= 'a' && final <= 'd') {
    // rxvt's Ctrl with the arrows.
    static constexpr Special kArrows[] = {Special::Up, Special::Down, Special::Right, Special::Left};
    const SpecialCap& c = kSpecial[static_cast<int>(kArrows[final - 'a'])];
    Key(c.vk, c.scan, 0, LEFT_CTRL_PRESSED | ENHANCED_KEY);
    return;
  }
  // The numeric keypad in application mode.
  static constexpr uint8_t kPadScan[] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  if (final >= 'p' && final <= 'y') {
    const int d = final - 'p';
    Key(static_cast<uint16_t>(vk::Numpad0 + d), kPadScan[d], static_cast<uint8_t>('0' + d), mods);
    return;
  }
  switch (final) {
    case 'M': Key(vk::Return, 28, 13, mods | ENHANCED_KEY); return;
    case 'j': Key(vk::Multiply, 55, '*', mods); return;
    case 'k': Key(vk::Add, 78, '+', mods); return;
    case 'm': Key(vk::Subtract, 74, '-', mods); return;
    case 'n': Key(vk::Decimal, 83, '.', mods); return;
    case 'o': Key(vk::Divide, 53, '/', mods | ENHANCED_KEY); return;
    default: return;
  }
}

void KeyDecoder::Expire() {
  const bool bare = paramLen_ == 0 && !paramsBad_;
  if (state_ == State::Escape)
    CharKey(27, 0);
  else if (state_ == State::Csi && bare)
    CharKey('[', LEFT_ALT_PRESSED);
  else if (state_ == State::Ss3 && bare)
    CharKey('O', LEFT_ALT_PRESSED);
  Reset();
}

bool KeyDecoder::TakeCursorReport(int32_t& row, int32_t& column) {
  if (!haveReport_) return false;
  haveReport_ = false;
  row = reportRow_;
  column = reportColumn_;
  return true;
}

bool KeyDecoder::Pop(InputEvent& ev) {
  if (events_.empty()) return false;
  ev = events_.front();
  events_.pop_front();
  return true;
}

}  // namespace crt::term

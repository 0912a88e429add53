// The line editor on the scripted console, with any keys on a console of
// any size: the line never passes its limit, the echo stays on the screen,
// and with the editing keys alone the line is what a model of the editor
// says was typed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/crt.h"
#include "runtime/headless/scripted_console.h"

namespace {

namespace scripted = crt::scripted;
namespace dev = crt::device;

// The line's room: the buffer less the two bytes of the line end.
constexpr int32_t kLimit = 256 - 2;

// The editor as documented: typing overwrites at the cursor, Backspace and
// Ctrl-S erase only at the line's end, Esc and Ctrl-Y clear the line, the
// cursor keys move within it, other keys are dropped.
struct Model {
  std::string line;
  size_t pos = 0;
  void Char(char c) {
    if (pos >= static_cast<size_t>(kLimit)) return;
    if (pos < line.size())
      line[pos] = c;
    else
      line.push_back(c);
    ++pos;
  }
  void Backspace() {
    if (pos > 0 && pos == line.size()) line.pop_back(), --pos;
  }
};

void Start(int32_t width, int32_t height, int32_t x, int32_t y) {
  scripted::Reset(width, height, x, y, 0x07);
  sys::InitSystemUnit();
  crt::ScanCode = 0;
  crt::SpecialKey = false;
  crt::DoingNumChars = false;
  crt::DoingNumCode = 0;
  crt::CheckEOF = false;
  crt::InitCrt();
  // Past the script: Enter, as often as the editor asks.
  scripted::SetInputExhaustedHandler([] { scripted::PushKey(0x0D, 28, 13, 0, true); });
}

void CheckScreen(int32_t width, int32_t height) {
  if (scripted::CursorX() < 0 || scripted::CursorX() >= width || scripted::CursorY() < 0 ||
      scripted::CursorY() >= height)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t width = 1 + data[0] % 100, height = 1 + data[1] % 30;
  const int32_t x = data[2] % width, y = data[3] % height;
  const bool raw = data[0] >= 200;  // any key events, checked for bounds only
  Start(width, height, x, y);
  Model model;
  for (size_t i = 4; i < size; ++i) {
    const uint8_t b = data[i];
    if (raw) {
      // A key event from three bytes: key code, character, modifiers.
      if (i + 2 >= size) break;
      const uint32_t state = data[i + 2] & 0x1FF;
      scripted::PushKey(b, static_cast<uint16_t>(data[i + 1] & 0x7F), data[i + 1], state, (data[i + 2] & 0x80) == 0);
      i += 2;
      continue;
    }
    switch (b % 16) {
      case 0: scripted::PushChar('\b'), model.Backspace(); break;
      case 1: scripted::PushChar(19), model.Backspace(); break;
      case 2: scripted::PushChar(27), model.pos = model.line.size(), model.line.clear(), model.pos = 0; break;
      case 3: scripted::PushChar(25), model.line.clear(), model.pos = 0; break;
      case 4: scripted::PushExtended(0x25, 75, dev::ENHANCED_KEY), model.pos -= model.pos > 0; break;
      case 5:
        scripted::PushExtended(0x27, 77, dev::ENHANCED_KEY);
        model.pos += model.pos < model.line.size();
        break;
      case 6: scripted::PushExtended(0x24, 71, dev::ENHANCED_KEY), model.pos = 0; break;
      case 7: scripted::PushExtended(0x23, 79, dev::ENHANCED_KEY), model.pos = model.line.size(); break;
      case 8: scripted::PushExtended(0x70, 59, dev::ENHANCED_KEY); break;  // F1: dropped
      case 9: scripted::PushChar(26); break;                                // Ctrl-Z without CheckEOF
      default: {
        // Printable characters, and a run of them to reach the limit.
        const char c = static_cast<char>(' ' + b % 95);
        const int times = b >= 240 ? 60 : 1;
        for (int t = 0; t < times; ++t) scripted::PushChar(static_cast<uint8_t>(c)), model.Char(c);
      }
    }
  }
  scripted::PushKey(0x0D, 28, 13, 0, true);
  scripted::PushKey(0x0D, 28, 13, 0, false);
  crt::CrtRead(sys::Input);
  const std::string got(sys::Input.Buffer, static_cast<size_t>(sys::Input.DataEnd));
  if (sys::Input.DataEnd > kLimit + 2 || sys::Input.Position != 0) std::abort();
  if (got.size() < 2 || got.compare(got.size() - 2, 2, "\r\n") != 0) std::abort();
  if (!raw && got != model.line + "\r\n") std::abort();
  CheckScreen(width, height);
  return 0;
}

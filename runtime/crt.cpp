#include "runtime/crt.h"

#include "runtime/vkeys.h"

namespace crt {

uint8_t ScanCode = 0;
bool SpecialKey = false;
bool DoingNumChars = false;
uint8_t DoingNumCode = 0;

sys::os::Handle OutHandle = sys::os::InvalidHandle;
sys::os::Handle InputHandle = sys::os::InvalidHandle;
int32_t CursorSaveX = 0, CursorSaveY = 0;
int32_t CurrX = 0, CurrY = 0;
uint8_t TextAttr = 0;
int32_t ScreenWidth = 0, ScreenHeight = 0;
int32_t WinMinX = 1, WinMinY = 1, WinMaxX = 0, WinMaxY = 0;
bool CheckEOF = false;
const uint8_t CtrlKeypadKeys[13] = {119, 141, 132, 142, 115, 143, 116, 78, 117, 145, 118, 146, 147};

namespace {

constexpr uint32_t ALT_PRESSED = device::LEFT_ALT_PRESSED | device::RIGHT_ALT_PRESSED;
constexpr uint32_t CTRL_PRESSED = device::LEFT_CTRL_PRESSED | device::RIGHT_CTRL_PRESSED;

// Where the runtime's line end is a line feed alone, it must also return to
// the first column: the echo is drawn cell by cell, so nothing else would.
#ifdef _WIN32
constexpr bool kLineFeedReturns = false;
#else
constexpr bool kLineFeedReturns = true;
#endif

bool IsModifierOrLock(uint16_t vk) {
  switch (vk) {
    case vk::Shift: case vk::Control: case vk::Menu: case vk::Capital: case vk::NumLock: case vk::Scroll: return true;
    default: return false;
  }
}

bool IsKeypadDigit(uint16_t key) { return key >= vk::Numpad0 && key <= vk::Numpad9; }

void KeyDown(const device::InputEvent& ev) {
  if (IsModifierOrLock(ev.VirtualKeyCode)) return;
  if (ev.AsciiChar == 0 || (ev.ControlKeyState & (device::LEFT_ALT_PRESSED | device::ENHANCED_KEY))) {
    if (ev.AsciiChar == 13 && ev.VirtualKeyCode == vk::Return) {
      SpecialKey = false;
      ScanCode = 13;
    } else {
      SpecialKey = true;
      ScanCode = RemapScanCode(ev.VirtualScanCode, ev.ControlKeyState, ev.VirtualKeyCode);
    }
  } else {
    SpecialKey = false;
    ScanCode = ev.AsciiChar;
  }
  // Keypad digits typed with Alt only build up an Alt code.
  if (IsKeypadDigit(ev.VirtualKeyCode) && (ev.ControlKeyState & ALT_PRESSED)) {
    SpecialKey = false;
    ScanCode = 0;
  }
}

void KeyUp(const device::InputEvent& ev) {
  if (ev.VirtualKeyCode == vk::Menu && DoingNumChars && DoingNumCode != 0) {
    ScanCode = DoingNumCode;
    DoingNumChars = false;
    DoingNumCode = 0;
  }
}

void Backspace(sys::TextRec& t) {
  if (t.Position > 0 && t.Position == t.DataEnd) {
    WriteChar(8);
    WriteChar(' ');
    WriteChar(8);
    --t.Position;
    --t.DataEnd;
  }
}

void Right(sys::TextRec& t) {
  WriteChar(static_cast<uint8_t>(t.Buffer[t.Position]));
  ++t.Position;
}

// The key after a 0: the cursor keys move within the line, others are dropped.
void ExtendedKey(sys::TextRec& t, uint8_t code) {
  switch (code) {
    case 71:
      while (t.Position > 0) {
        --t.Position;
        WriteChar(8);
      }
      break;
    case 75:
      if (t.Position > 0) {
        --t.Position;
        WriteChar(8);
      }
      break;
    case 77:
      if (t.Position < t.DataEnd) Right(t);
      break;
    case 79:
      while (t.Position < t.DataEnd) Right(t);
      break;
    default:
      break;
  }
}

void Store(sys::TextRec& t, int32_t at, uint8_t ch) { t.Buffer[at] = static_cast<char>(ch); }

[[noreturn]] void NoConsole(const char* message) {
  sys::WriteStr(sys::StdErr, message);
  sys::WriteLnEnd(sys::StdErr);
  sys::Int_IOCheck();
  sys::Halt(1);
}

}  // namespace

bool KeyPressed() {
  if (ScanCode != 0) return true;
  const sys::os::Handle in = sys::Input.Handle;
  int32_t waiting = device::PendingEvents(in);
  while (waiting > 0 && ScanCode == 0) {
    device::InputEvent ev;
    if (!device::ReadEvent(in, ev)) break;
    if (ev.EventType == device::KEY_EVENT) {
      if (ev.KeyDown)
        KeyDown(ev);
      else
        KeyUp(ev);
    }
    if (ScanCode == 0) waiting = device::PendingEvents(in);
  }
  return ScanCode != 0;
}

uint8_t RemapScanCode(uint16_t scan, uint32_t state, uint16_t key) {
  const auto in = [scan](int lo, int hi) { return scan >= lo && scan <= hi; };
  uint32_t result = scan;
  if (state & ALT_PRESSED) {
    if (IsKeypadDigit(key)) {
      DoingNumChars = true;
      DoingNumCode = static_cast<uint8_t>(DoingNumCode * 10 + (key - vk::Numpad0));
    }
    if (in(2, 13))
      result = scan + 118;
    else if (scan == 28)
      result = 166;
    else if (scan == 53)
      result = 164;
    else if (in(59, 68))
      result = scan + 45;
    else if (in(71, 83) && scan != 74 && scan != 76 && scan != 78)
      result = scan + 80;
    else if (in(87, 88))
      result = scan + 52;
  } else if (state & CTRL_PRESSED) {
    if (scan == 15)
      result = 148;
    else if (scan == 53)
      result = 149;
    else if (scan == 55)
      result = 150;
    else if (in(59, 68))
      result = scan + 35;
    else if (in(71, 83))
      result = CtrlKeypadKeys[scan - 71];
    else if (in(87, 88))
      result = scan + 50;
  } else if (state & device::SHIFT_PRESSED) {
    if (in(59, 68))
      result = scan + 25;
    else if (in(87, 88))
      result = scan + 48;
  } else if (in(87, 88)) {
    result = scan + 46;
  }
  return static_cast<uint8_t>(result);
}

uint8_t ReadKey() {
  do {
    device::WaitForInput(sys::Input.Handle, 1000);
  } while (!KeyPressed());
  if (SpecialKey) {
    SpecialKey = false;
    return 0;
  }
  const uint8_t key = ScanCode;
  ScanCode = 0;
  return key;
}

void AssignCrt(sys::TextRec& t) {
  sys::AssignEmpty(t);
  t.OpenHook = CrtOpen;
}

int32_t CrtOpen(sys::TextRec& t) {
  if (t.Mode == sys::fmOutput) {
    t.TransferHook = CrtWrite;
    t.FlushHook = CrtWrite;
  } else {
    t.Mode = sys::fmInput;
    t.TransferHook = CrtRead;
    t.FlushHook = CrtReturn;
  }
  t.CloseHook = CrtClose;
  return 0;
}

int32_t CrtRead(sys::TextRec& t) {
  GetScreenCursor(CurrX, CurrY);
  t.Position = 0;
  t.DataEnd = 0;
  for (bool finished = false; !finished;) {
    if (t.Position > t.DataEnd) t.DataEnd = t.Position;
    SetScreenCursor(CurrX, CurrY);
    const uint8_t ch = ReadKey();
    switch (ch) {
      case 0:
        ExtendedKey(t, ReadKey());
        break;
      case 8:
      case 19:
        Backspace(t);
        break;
      case 13:
        WriteChar(13);
        WriteChar(10);
        Store(t, t.DataEnd++, 13);
        Store(t, t.DataEnd++, 10);
        finished = true;
        break;
      case 25:
      case 27:
        t.Position = t.DataEnd;
        while (t.DataEnd > 0) Backspace(t);
        break;
      case 26:
        if (CheckEOF) {
          Store(t, t.DataEnd++, 26);
          finished = true;
        }
        break;
      default:
        // Two bytes stay free for the line end.
        if (t.Position < t.BufferSize - 2) {
          Store(t, t.Position++, ch);
          WriteChar(ch);
        }
        break;
    }
  }
  t.Position = 0;
  SetScreenCursor(CurrX, CurrY);
  return 0;
}

int32_t CrtWrite(sys::TextRec& t) {
  GetScreenCursor(CurrX, CurrY);
  for (int32_t i = 0; i < t.Position; ++i) WriteChar(static_cast<uint8_t>(t.Buffer[i]));
  SetScreenCursor(CurrX, CurrY);
  t.Position = 0;
  return 0;
}

int32_t CrtReturn(sys::TextRec&) { return 0; }

int32_t CrtClose(sys::TextRec& t) {
  t.Mode = sys::fmClosed;
  return 0;
}

void WriteChar(uint8_t ch) {
  switch (ch) {
    case 7:
      break;
    case 8:
      if (CurrX > WinMinX) --CurrX;
      break;
    case 10:
      if (kLineFeedReturns) CurrX = WinMinX;
      ++CurrY;
      break;
    case 13:
      CurrX = WinMinX;
      break;
    default:
      device::WriteCell(OutHandle, CurrX - 1, CurrY - 1, ch, TextAttr);
      ++CurrX;
      break;
  }
  if (CurrX > WinMaxX) {
    CurrX = WinMinX;
    ++CurrY;
  }
  while (CurrY > WinMaxY) {
    RemoveLine(1);
    --CurrY;
  }
}

void RemoveLine(int32_t n) {
  const int32_t y = WinMinY + n - 1;
  device::ScrollUp(OutHandle, WinMinX - 1, y - 1, WinMaxX - 1, WinMaxY - 1, TextAttr);
}

void GetScreenCursor(int32_t& x, int32_t& y) {
  x = CursorSaveX + 1;
  y = CursorSaveY + 1;
}

void SetScreenCursor(int32_t x, int32_t y) {
  device::SetCursor(OutHandle, x - 1, y - 1);
  CursorSaveX = x - 1;
  CursorSaveY = y - 1;
}

int32_t GetScreenWidth() {
  device::ScreenInfo info;
  return device::QueryScreen(OutHandle, info) ? info.Width : 80;
}

int32_t GetScreenHeight() {
  device::ScreenInfo info;
  return device::QueryScreen(OutHandle, info) ? info.Height : 25;
}

void InitCrt() {
  OutHandle = sys::os::GetStdHandle(sys::os::StdOutputHandle);
  InputHandle = sys::os::GetStdHandle(sys::os::StdInputHandle);

  // With standard output redirected the echo still belongs on the console.
  device::ScreenInfo info;
  if (!device::QueryScreen(OutHandle, info)) {
    OutHandle = device::OpenConsoleOutput();
    if (OutHandle == sys::os::InvalidHandle) NoConsole("No way to get the console handle");
    if (!device::QueryScreen(OutHandle, info)) NoConsole("No way to get console screen buffer info");
  }
  CursorSaveX = info.CursorX;
  CursorSaveY = info.CursorY;
  TextAttr = static_cast<uint8_t>(info.Attributes);

  ScreenWidth = GetScreenWidth();
  ScreenHeight = GetScreenHeight();
  WinMinX = 1;
  WinMinY = 1;
  WinMaxX = ScreenWidth;
  WinMaxY = ScreenHeight;
  DoingNumChars = false;
  DoingNumCode = 0;

  AssignCrt(sys::Output);
  sys::Rewrite(sys::Output);
  sys::Int_IOCheck();
  sys::Output.Handle = OutHandle;

  AssignCrt(sys::Input);
  sys::Reset(sys::Input);
  sys::Int_IOCheck();
  sys::Input.Handle = InputHandle;
}

}  // namespace crt

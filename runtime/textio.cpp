// Text channels: the runtime's buffered records for reading and writing
// text through four hooks, the standard channels and the plain handle
// reader and writer behind them.
#include <cstring>

#include "runtime/system.h"

namespace sys {

uint16_t InOutRes = 0;
TextRec Input;
TextRec Output;
TextRec StdOut;
TextRec StdErr;

namespace {

// The platform's own line end.
#ifdef _WIN32
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif

// Checks that t may be written; sets InOutRes when it may not.
bool Writable(TextRec& t) {
  if (InOutRes != 0) return false;
  if (t.Mode == fmOutput) return true;
  InOutRes = t.Mode == fmInput ? 105 : 103;
  return false;
}

// Copies len bytes into the buffer, emptying it through the transfer hook
// whenever it is full.  A full buffer that nothing empties (a record
// without hooks) is a failed write, not a loop for ever.
void PutBytes(TextRec& t, const char* s, int32_t len) {
  while (len > 0 && InOutRes == 0) {
    int32_t room = t.BufferSize - t.Position;
    int32_t n = len < room ? len : room;
    std::memcpy(t.Buffer + t.Position, s, static_cast<size_t>(n));
    t.Position += n;
    s += n;
    len -= n;
    if (t.Position >= t.BufferSize) {
      if (t.TransferHook) t.TransferHook(t);
      if (t.Position >= t.BufferSize && InOutRes == 0) InOutRes = 101;
    }
  }
}

void CloseIfOpen(TextRec& t) {
  if (t.Mode == fmInput || t.Mode == fmOutput || t.Mode == fmAppend) {
    if (t.CloseHook) t.CloseHook(t);
    t.Mode = fmClosed;
  }
}

void Open(TextRec& t, int32_t mode) {
  CloseIfOpen(t);
  t.Mode = mode;
  t.Position = 0;
  t.DataEnd = 0;
  if (t.OpenHook) t.OpenHook(t);
  if (InOutRes != 0) t.Mode = fmClosed;
}

// Refills an input channel that has been read up to its end; false when
// nothing came.
bool Refill(TextRec& t) {
  if (t.Position < t.DataEnd) return true;
  if (t.TransferHook) t.TransferHook(t);
  if (t.Position < t.DataEnd) return true;
  if (t.FlushHook) t.FlushHook(t);
  return false;
}

}  // namespace

void AssignEmpty(TextRec& t) {
  t = TextRec{};
  t.Buffer = t.BufferSpace;
}

void Reset(TextRec& t) { Open(t, fmInput); }
void Rewrite(TextRec& t) { Open(t, fmOutput); }

void OpenStdIO(TextRec& t, int32_t mode, os::Handle h) {
  AssignEmpty(t);
  t.Handle = h;
  t.Mode = mode;
  t.CloseHook = FileCloseFunc;
  if (mode == fmInput) {
    t.TransferHook = FileReadFunc;
  } else {
    t.TransferHook = FileWriteFunc;
    t.FlushHook = FileWriteFunc;
  }
}

int32_t FileWriteFunc(TextRec& t) {
  int32_t done = 0;
  while (done < t.Position) {
    int32_t n = os::WriteHandle(t.Handle, t.Buffer + done, t.Position - done);
    if (n <= 0) break;
    done += n;
  }
  if (done < t.Position) InOutRes = 101;
  t.Position = 0;
  return 0;
}

int32_t FileReadFunc(TextRec& t) {
  int32_t n = os::ReadHandle(t.Handle, t.Buffer, t.BufferSize);
  t.Position = 0;
  t.DataEnd = n > 0 ? n : 0;
  // A failed read is a read error, not an end of input.
  if (n < 0) InOutRes = 100;
  return 0;
}

int32_t FileCloseFunc(TextRec&) { return 0; }

void WriteStr(TextRec& t, const char* s, int32_t len) {
  if (Writable(t)) PutBytes(t, s, len);
}

void WriteStr(TextRec& t, const char* s) { WriteStr(t, s, static_cast<int32_t>(std::strlen(s))); }

void WriteDec(TextRec& t, uint32_t value) {
  char digits[10];
  int32_t n = 0;
  do {
    digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  WriteStr(t, digits + sizeof digits - n, n);
}

void WriteLnEnd(TextRec& t) {
  if (!Writable(t)) return;
  PutBytes(t, kLineEnd, sizeof kLineEnd - 1);
  if (InOutRes == 0 && t.FlushHook) t.FlushHook(t);
}

void ReadLn_End(TextRec& t) {
  if (InOutRes != 0) return;
  if (t.Mode != fmInput) {
    InOutRes = (t.Mode == fmOutput || t.Mode == fmAppend) ? 104 : 103;
    return;
  }
  if (!Refill(t)) return;
  for (;;) {
    char ch = t.Buffer[t.Position++];
    if (ch == '\n') return;
    if (!Refill(t)) return;
    if (ch == '\r') {
      if (t.Buffer[t.Position] == '\n') ++t.Position;
      return;
    }
  }
}

void HexStr(uint32_t value, uint8_t digits, char* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = kHex[value & 0xF];
    value >>= 4;
  }
  out[digits] = '\0';
}

void InitSystemUnit() {
  const os::Handle in = os::GetStdHandle(os::StdInputHandle);
  const os::Handle out = os::GetStdHandle(os::StdOutputHandle);
  const os::Handle err = os::GetStdHandle(os::StdErrorHandle);
  OpenStdIO(Input, fmInput, in);
  OpenStdIO(Output, fmOutput, out);
  OpenStdIO(StdOut, fmOutput, out);
  OpenStdIO(StdErr, fmOutput, err);
  InOutRes = 0;
}

}  // namespace sys

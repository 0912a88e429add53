// The console module: key polling, single keys and the line editor that
// serves the programs' closing line input, with its own echo into the
// console.
#pragma once

#include <cstdint>

#include "runtime/console_device.h"
#include "runtime/system.h"

namespace crt {

extern uint8_t ScanCode;       // the one pending key; 0 = none
extern bool SpecialKey;        // pending key is extended: ReadKey gives 0 first
extern bool DoingNumChars;     // an Alt code is being collected
extern uint8_t DoingNumCode;   // its value so far, modulo 256

extern sys::os::Handle OutHandle;
extern sys::os::Handle InputHandle;
extern int32_t CursorSaveX, CursorSaveY;   // 0-based, as last set here
extern int32_t CurrX, CurrY;               // 1-based, next echoed character
extern uint8_t TextAttr;
extern int32_t ScreenWidth, ScreenHeight;
extern int32_t WinMinX, WinMinY, WinMaxX, WinMaxY;
extern bool CheckEOF;
extern const uint8_t CtrlKeypadKeys[13];

bool KeyPressed();
uint8_t ReadKey();
uint8_t RemapScanCode(uint16_t scan, uint32_t state, uint16_t key);

void AssignCrt(sys::TextRec& t);
int32_t CrtOpen(sys::TextRec& t);
int32_t CrtRead(sys::TextRec& t);
int32_t CrtWrite(sys::TextRec& t);
int32_t CrtReturn(sys::TextRec& t);
int32_t CrtClose(sys::TextRec& t);

void WriteChar(uint8_t ch);
void RemoveLine(int32_t n);
void GetScreenCursor(int32_t& x, int32_t& y);
void SetScreenCursor(int32_t x, int32_t y);
int32_t GetScreenWidth();
int32_t GetScreenHeight();

// The module's initialisation (module table entry 4).
void InitCrt();

}  // namespace crt

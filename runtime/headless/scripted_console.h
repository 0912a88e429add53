// The scripted console: an in-memory console behind crt::device for tests and
// the headless runner.  Input is a queue of events that the script fills;
// output is a grid of cells with a cursor.  Main thread only.
//
// Handles.  The process's standard input handle is the console's input; any
// other handle has no events.  Output goes to two handles: the process's
// standard output handle, unless the script says standard output is
// redirected (StdOutIsConsole(false)), and ConsoleOutputHandle, which
// OpenConsoleOutput gives.  Writes to any other handle are dropped.
//
// Waiting.  The console has no user, so WaitForInput never sleeps: with
// events queued it returns at once, otherwise it stands for a time-out that
// has passed.  A wait that comes after a poll found the queue empty, with
// nothing queued or read since, would wait forever on a real console: that
// wait calls the input-exhausted handler instead.  The handler may queue
// more events; the default one throws InputExhausted, so a test that reads
// past its script fails instead of hanging.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "runtime/console_device.h"

namespace crt::scripted {

using device::Handle;
using device::InputEvent;

inline constexpr Handle ConsoleOutputHandle = 0x434F4E;

struct InputExhausted : std::runtime_error {
  InputExhausted() : std::runtime_error("scripted console: read past the end of the input script") {}
};

struct ScreenCell {
  uint8_t Ch = ' ';
  uint8_t Attr = 0;
};

// A fresh console: a width x height grid of blanks in attr, the cursor at
// (cursorX, cursorY), 0-based, no events, every failure switch off, the
// default exhausted handler.
void Reset(int32_t width = 80, int32_t height = 25, int32_t cursorX = 0, int32_t cursorY = 0,
           uint8_t attr = 0x07);

// Failure switches.
void FailScreenQuery(bool fail);   // every screen-buffer query fails
void FailConsoleOpen(bool fail);   // OpenConsoleOutput gives InvalidHandle
void StdOutIsConsole(bool yes);    // false: standard output is redirected

void SetInputExhaustedHandler(std::function<void()> handler);  // empty: throw

// Input script.
void PushEvent(const InputEvent& ev);
void PushKey(uint16_t vk, uint16_t scan, uint8_t ch, uint32_t state = 0, bool down = true);
// A character typed on the main keyboard, as the key going down and up:
// letters with Shift for capitals, control characters as Ctrl with a letter.
void PushChar(uint8_t ch);
void PushText(const std::string& text);
// A key without a character (cursor keys, function keys), down and up.
void PushExtended(uint16_t vk, uint16_t scan, uint32_t state = 0);
int32_t QueuedEvents();

// The screen.
ScreenCell Cell(int32_t x, int32_t y);
std::string RowText(int32_t y);   // the row's characters, trailing blanks removed
int32_t CursorX();
int32_t CursorY();

}  // namespace crt::scripted

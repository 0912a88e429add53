// The graphics module: the table of modes offered on the present screen,
// opening and closing a mode, the drawing hooks and the graph result code;
// the palette and the pixel routines of the window driver.
//
// Everything lives in namespace graph so that names such as GetPixel cannot
// clash with a platform's own.  Module state is plain module-level variables
// used by the main thread; what the window thread shares is in window.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace graph {

// ---------------------------------------------------------------- numbers

// Graph result codes.
namespace result {
inline constexpr int16_t Ok = 0;
inline constexpr int16_t NotOpen = -1;       // no mode is open
inline constexpr int16_t NotDetected = -2;   // no colour-depth driver has a mode
inline constexpr int16_t NoSuchMode = -10;   // or the mode lacks a needed routine
inline constexpr int16_t Failure = -11;
}  // namespace result

inline constexpr int16_t DetectDriver = 0;
inline constexpr int16_t LowNewDriver = 11;   // colour-depth drivers 11..21
inline constexpr int16_t HighNewDriver = 21;
inline constexpr int16_t NoDriver = 32767;    // Res2Mode: no driver / no code
inline constexpr int16_t DetectMode = 30000;
inline constexpr int16_t FirstResolutionMode = 30001;
inline constexpr int16_t LastResolutionMode = 30015;
inline constexpr int16_t LowestModeKey = -32768;   // SearchMode keys
inline constexpr int16_t HighestModeKey = -32767;

constexpr bool IsNewDriver(int16_t driver) {
  return driver >= LowNewDriver && driver <= HighNewDriver;
}

struct Resolution {
  int32_t Width, Height;
};
// Indexed by mode number − FirstResolutionMode.
extern const std::array<Resolution, 15> Resolutions;

// A length-limited string as the module's records hold it: longer text is
// cut to its first N characters.
template <std::size_t N>
struct ShortString {
  uint8_t Length = 0;
  char Chars[N] = {};

  ShortString() = default;
  ShortString(std::string_view s) { *this = s; }
  ShortString& operator=(std::string_view s) {
    Length = static_cast<uint8_t>(std::min(s.size(), N));
    std::copy_n(s.data(), Length, Chars);
    return *this;
  }
  void push_back(char c) {
    if (Length < N) Chars[Length++] = c;
  }
  std::string_view view() const { return {Chars, Length}; }
  bool operator==(std::string_view s) const { return view() == s; }
};

// ---------------------------------------------------------------- hooks

using DirectPutPixelFunc = void (*)(int16_t x, int16_t y);
using PutPixelFunc = void (*)(int16_t x, int16_t y, uint16_t colour);
using GetPixelFunc = uint16_t (*)(int16_t x, int16_t y);
using SetRGBPaletteFunc = void (*)(int16_t colour, int16_t red, int16_t green, int16_t blue);
using GetRGBPaletteFunc = void (*)(int16_t colour, int16_t& red, int16_t& green, int16_t& blue);
using SetPageFunc = void (*)(uint16_t page);
using ClearViewPortFunc = void (*)();
using HLineFunc = void (*)(int16_t x, int16_t x2, int16_t y);
using VLineFunc = void (*)(int16_t x, int16_t y, int16_t y2);
using InitModeFunc = void (*)();
using VideoStateFunc = void (*)();

// The hooks every drawing call goes through.  The primitives beyond pixels,
// palette, clearing and spans (images, text, lines, ellipses) are not part
// of this module, so they have no hooks here.
extern DirectPutPixelFunc DirectPutPixel;
extern PutPixelFunc PutPixel;
extern GetPixelFunc GetPixel;
extern SetRGBPaletteFunc SetRGBPalette;
extern GetRGBPaletteFunc GetRGBPalette;
extern SetPageFunc SetActivePage;
extern SetPageFunc SetVisualPage;
extern ClearViewPortFunc ClearViewPort;
extern HLineFunc HLine;
extern VLineFunc VLine;

// The defaults.  The five pixel and palette ones stop the program with a
// message on standard error and exit code 1; they are also what the hooks
// hold before the first InitGraph.
void DirectPutPixelDefault(int16_t x, int16_t y);
void PutPixelDefault(int16_t x, int16_t y, uint16_t colour);
uint16_t GetPixelDefault(int16_t x, int16_t y);
void SetRGBPaletteDefault(int16_t colour, int16_t red, int16_t green, int16_t blue);
void GetRGBPaletteDefault(int16_t colour, int16_t& red, int16_t& green, int16_t& blue);
void SetActivePageDefault(uint16_t page);
void SetVisualPageDefault(uint16_t page);
void ClearViewPortDefault();
void HLineDefault(int16_t x, int16_t x2, int16_t y);
void VLineDefault(int16_t x, int16_t y, int16_t y2);
void DefaultHooks();

// ---------------------------------------------------------------- modes

struct TModeInfo {
  int16_t DriverNumber = 0;
  int16_t ModeNumber = 0;
  int16_t InternModeNumber = 0;  // position in its colour-depth list, 0 in the flat list
  int32_t MaxColor = 0;
  int32_t PaletteSize = 0;
  uint16_t XAspect = 0;
  uint16_t YAspect = 0;
  uint16_t MaxX = 0;
  uint16_t MaxY = 0;
  bool DirectColor = false;
  uint8_t HardwarePages = 0;
  ShortString<18> ModeName;
  DirectPutPixelFunc DirectPutPixelProc = nullptr;
  GetPixelFunc GetPixelProc = nullptr;
  PutPixelFunc PutPixelProc = nullptr;
  SetRGBPaletteFunc SetRGBPaletteProc = nullptr;
  GetRGBPaletteFunc GetRGBPaletteProc = nullptr;
  SetPageFunc SetVisualPageProc = nullptr;
  SetPageFunc SetActivePageProc = nullptr;
  ClearViewPortFunc ClearViewPortProc = nullptr;
  HLineFunc HLineProc = nullptr;
  VLineFunc VLineProc = nullptr;
  InitModeFunc InitModeProc = nullptr;
  TModeInfo* Next = nullptr;
};

// The modes of one colour-depth driver, sorted by size; positions are 1..n,
// and both ends are −1 while the list is empty.
struct NewModeListEntry {
  TModeInfo* Modes = nullptr;
  int16_t LowestPosition = -1;
  int16_t HighestPosition = -1;
};

extern TModeInfo* ModeList;  // every mode, in the order added
extern std::array<NewModeListEntry, HighNewDriver - LowNewDriver + 1> NewModeList;

inline NewModeListEntry& NewModeListOf(int16_t driver) {
  return NewModeList[static_cast<std::size_t>(driver - LowNewDriver)];
}

void InitMode(TModeInfo& mode);
void SetupWin32GUIDefault(TModeInfo& mode);
void AddMode(const TModeInfo& mode);
void QueryAdapterInfo();
// Whether the mode number is one of the table's maximized-window modes,
// whose window opens maximized.
bool IsMaximizedMode(int16_t mode);
// Releases ModeList and every colour-depth list.  GraphExitProc's last
// step; tests and the headless runner also use it before building the table
// again for another screen.
void ReleaseModeLists();

// driver := the colour-depth driver of the colour count, else NoDriver (and
// mode is left alone); mode := the resolution code of width × height, else
// NoDriver.
void Res2Mode(int32_t width, int32_t height, int32_t colours, int16_t& driver, int16_t& mode);
bool Mode2Res(int16_t mode, int32_t& width, int32_t& height);
TModeInfo* SearchMode(int16_t driver, int16_t& mode);
void GetModeRange(int16_t driver, int16_t& lowest, int16_t& highest);

// ---------------------------------------------------------------- state

struct LineSettingsType {
  uint16_t LineStyle = 0;
  uint16_t Pattern = 0;
  uint16_t Thickness = 0;
};
struct FillSettingsType {
  uint16_t Pattern = 0;
  uint16_t Color = 0;
};
struct TextSettingsType {
  uint16_t Font = 0;
  uint16_t Direction = 0;
  uint16_t CharSize = 0;
  uint16_t Horiz = 0;
  uint16_t Vert = 0;
};
struct ViewPortType {
  int16_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool Clip = false;
};
struct FontRec {
  ShortString<8> Name;
  const void* Data = nullptr;  // loaded font data; never loaded here
  int32_t Length = 0;
};

extern bool IsGraphMode;
extern int16_t _GraphResult;
extern int16_t IntCurrentDriver;
extern int16_t IntCurrentNewDriver;
extern int16_t IntCurrentMode;
extern int16_t MaxX, MaxY;
extern int32_t MaxColor;
extern int32_t PaletteSize;
extern uint16_t XAspect, YAspect;
extern bool DirectColor;
extern uint8_t HardwarePages;
extern bool DirectVideo;
extern std::array<int16_t, 6> ArcCall;
extern ShortString<255> DriverName;
extern ShortString<255> FontPath;
extern bool FirstCallOfInitGraph;
extern int16_t StartXViewPort, StartYViewPort, ViewWidth, ViewHeight;
extern bool ClipPixels;
extern int16_t CurrentX, CurrentY;
extern uint16_t CurrentColor;
extern uint16_t CurrentBkColor;
extern int16_t CurrentWriteMode;
extern LineSettingsType LineInfo;
extern std::array<bool, 16> LinePatterns;
extern FillSettingsType FillSettings;
extern std::array<std::array<uint8_t, 8>, 13> FillPatternTable;  // entry 12: the user pattern
extern TextSettingsType CurrentTextInfo;
extern int16_t InstalledFonts;
extern std::array<FontRec, 16> Fonts;
extern VideoStateFunc SaveVideoState;
extern VideoStateFunc RestoreVideoState;
extern void (*ExitSave)();

// ---------------------------------------------------------------- operations

// The module's initialisation, once at program start.
void InitializeGraph();
void GraphExitProc();

void InternDetectGraph(int16_t& driver, int16_t& mode, bool fromInitGraph);
void DetectGraph(int16_t& driver, int16_t& mode);
void InitVars();
void InitGraph(int16_t& driver, int16_t& mode, const char* path);
void SetGraphMode(int16_t mode);
void GraphDefaults();
void CloseGraph();
int16_t GraphResult();  // reports the code without clearing it

void SetViewPort(int16_t x1, int16_t y1, int16_t x2, int16_t y2, bool clip);
void GetViewSettings(ViewPortType& viewport);
int16_t GetMaxX();
int16_t GetMaxY();
uint16_t GetMaxColor();

// Registers a stroked-font name (no data is loaded); returns its number, or
// result::Failure when the table is full.
int16_t InstallUserFont(std::string_view name);

// ---------------------------------------------------------------- palette and pixels

struct RGBRec {
  int16_t Red = 0, Green = 0, Blue = 0;
};

extern const std::array<RGBRec, 256> DefaultColors;
// The palette of the open mode; empty (no table) until a mode is opened and
// again after the window's teardown.  Used only under GraphDrawing, and changed
// only through SetRGBPalette, which keeps GetPixel's answers in step.
extern std::vector<RGBRec> Pal;

// A palette entry as an RGB colour (red in the low byte); components are
// not clamped, so green above 255 spills into the blue byte.
constexpr uint32_t EntryToRGB(const RGBRec& c) {
  return (static_cast<uint32_t>(c.Red) & 0xFF) | ((static_cast<uint32_t>(c.Green) & 0xFFFF) << 8) |
         ((static_cast<uint32_t>(c.Blue) & 0xFF) << 16);
}

uint16_t GetPaletteEntry(uint16_t red, uint16_t green, uint16_t blue);
void DirectPutPixelClip(int16_t x, int16_t y);
void SetBkColor(uint16_t colour);

// The window driver's routines.
void PutPixel16Win32GUI(int16_t x, int16_t y, uint16_t colour);
uint16_t GetPixel16Win32GUI(int16_t x, int16_t y);
void DirectPutPixel16Win32GUI(int16_t x, int16_t y);
void SetRGBPaletteWin32GUI(int16_t colour, int16_t red, int16_t green, int16_t blue);
void GetRGBPaletteWin32GUI(int16_t colour, int16_t& red, int16_t& green, int16_t& blue);
void SetActiveWin32GUI(uint16_t page);
void SetVisualWin32GUI(uint16_t page);
void HLine16Win32GUI(int16_t x, int16_t x2, int16_t y);
void VLine16Win32GUI(int16_t x, int16_t y, int16_t y2);
void InitWin32GUI16Colors();

}  // namespace graph

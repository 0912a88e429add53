// The mode layer: the table of modes built from the screen's measures,
// searching and detecting modes, opening and closing them, the viewport,
// the drawing defaults and the module's exit procedure.
#include <utility>

#include "graph/graph.h"
#include "graph/window.h"
#include "runtime/system.h"

namespace graph {

const std::array<Resolution, 15> Resolutions = {{{320, 200},
                                                 {320, 256},
                                                 {320, 400},
                                                 {512, 384},
                                                 {640, 200},
                                                 {640, 256},
                                                 {640, 350},
                                                 {640, 400},
                                                 {640, 480},
                                                 {800, 600},
                                                 {832, 624},
                                                 {1024, 768},
                                                 {1280, 1024},
                                                 {1600, 1200},
                                                 {2048, 1536}}};

TModeInfo* ModeList = nullptr;
std::array<NewModeListEntry, HighNewDriver - LowNewDriver + 1> NewModeList;

bool IsGraphMode = false;
int16_t _GraphResult = result::Ok;
int16_t IntCurrentDriver = 0;
int16_t IntCurrentNewDriver = 0;
int16_t IntCurrentMode = 0;
int16_t MaxX = 0, MaxY = 0;
int32_t MaxColor = 0;
int32_t PaletteSize = 0;
uint16_t XAspect = 0, YAspect = 0;
bool DirectColor = false;
uint8_t HardwarePages = 0;
bool DirectVideo = false;
std::array<int16_t, 6> ArcCall = {};
ShortString<255> DriverName;
ShortString<255> FontPath;
bool FirstCallOfInitGraph = true;
int16_t StartXViewPort = 0, StartYViewPort = 0, ViewWidth = 0, ViewHeight = 0;
bool ClipPixels = false;
int16_t CurrentX = 0, CurrentY = 0;
uint16_t CurrentColor = 0;
uint16_t CurrentBkColor = 0;
int16_t CurrentWriteMode = 0;
LineSettingsType LineInfo;
std::array<bool, 16> LinePatterns = {};
FillSettingsType FillSettings;
std::array<std::array<uint8_t, 8>, 13> FillPatternTable = {};
TextSettingsType CurrentTextInfo;
int16_t InstalledFonts = 0;
std::array<FontRec, 16> Fonts;
VideoStateFunc SaveVideoState = nullptr;
VideoStateFunc RestoreVideoState = nullptr;
void (*ExitSave)() = nullptr;

// Nothing can be drawn before the first InitGraph, so the hooks start out
// as the defaults that stop the program.
DirectPutPixelFunc DirectPutPixel = DirectPutPixelDefault;
PutPixelFunc PutPixel = PutPixelDefault;
GetPixelFunc GetPixel = GetPixelDefault;
SetRGBPaletteFunc SetRGBPalette = SetRGBPaletteDefault;
GetRGBPaletteFunc GetRGBPalette = GetRGBPaletteDefault;
SetPageFunc SetActivePage = SetActivePageDefault;
SetPageFunc SetVisualPage = SetVisualPageDefault;
ClearViewPortFunc ClearViewPort = ClearViewPortDefault;
HLineFunc HLine = HLineDefault;
VLineFunc VLine = VLineDefault;

namespace {

[[noreturn]] void NotInGraphicsMode() {
  sys::WriteStr(sys::StdErr,
                "Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)");
  sys::WriteLnEnd(sys::StdErr);
  sys::Int_IOCheck();
  sys::Halt(1);
}

// The video-state hooks of this driver: a window needs no state saved.
void SaveState() {}
void RestoreState() {}

void FreeList(TModeInfo*& head) {
  while (head) {
    TModeInfo* next = head->Next;
    delete head;
    head = next;
  }
}

// Sizes are compared as unsigned, as the records hold them.
bool Smaller(const TModeInfo& a, const TModeInfo& b) {
  return a.MaxX < b.MaxX || (a.MaxX == b.MaxX && a.MaxY < b.MaxY);
}

// Registered only so that the text primitives can name them; no font data
// is loaded.
constexpr std::string_view StrokedFontNames[] = {"SERIF", "SANS",  "GOTHIC", "SCRIPT", "SIMPLE",
                                                 "ITALIC", "ROMAN", "BOLD",   "EURO",   "MONO"};

}  // namespace

// ---------------------------------------------------------------- hook defaults

void DirectPutPixelDefault(int16_t, int16_t) { NotInGraphicsMode(); }
void PutPixelDefault(int16_t, int16_t, uint16_t) { NotInGraphicsMode(); }
uint16_t GetPixelDefault(int16_t, int16_t) { NotInGraphicsMode(); }
void SetRGBPaletteDefault(int16_t, int16_t, int16_t, int16_t) { NotInGraphicsMode(); }
void GetRGBPaletteDefault(int16_t, int16_t&, int16_t&, int16_t&) { NotInGraphicsMode(); }
void SetActivePageDefault(uint16_t) {}
void SetVisualPageDefault(uint16_t) {}

void DefaultHooks() {
  DirectPutPixel = DirectPutPixelDefault;
  PutPixel = PutPixelDefault;
  GetPixel = GetPixelDefault;
  SetRGBPalette = SetRGBPaletteDefault;
  GetRGBPalette = GetRGBPaletteDefault;
  SetActivePage = SetActivePageDefault;
  SetVisualPage = SetVisualPageDefault;
  ClearViewPort = ClearViewPortDefault;
  HLine = HLineDefault;
  VLine = VLineDefault;
}

// ---------------------------------------------------------------- the mode table

void InitMode(TModeInfo& mode) { mode = TModeInfo{}; }

void SetupWin32GUIDefault(TModeInfo& mode) {
  mode.DirectPutPixelProc = DirectPutPixel16Win32GUI;
  mode.PutPixelProc = PutPixel16Win32GUI;
  mode.GetPixelProc = GetPixel16Win32GUI;
  mode.SetRGBPaletteProc = SetRGBPaletteWin32GUI;
  mode.GetRGBPaletteProc = GetRGBPaletteWin32GUI;
  mode.SetVisualPageProc = SetVisualWin32GUI;
  mode.SetActivePageProc = SetActiveWin32GUI;
  mode.HLineProc = HLine16Win32GUI;
  mode.VLineProc = VLine16Win32GUI;
  mode.InitModeProc = InitWin32GUI16Colors;
}

void AddMode(const TModeInfo& mode) {
  int16_t driver = NoDriver, code = NoDriver;
  Res2Mode(mode.MaxX + 1, mode.MaxY + 1, mode.MaxColor, driver, code);
  if (IsNewDriver(driver)) {
    NewModeListEntry& list = NewModeListOf(driver);
    TModeInfo** link = &list.Modes;
    while (*link && Smaller(**link, mode)) link = &(*link)->Next;
    if (*link && (*link)->MaxX == mode.MaxX && (*link)->MaxY == mode.MaxY) {
      // One size, one entry: the later mode takes the place of the earlier.
      TModeInfo* next = (*link)->Next;
      **link = mode;
      (*link)->Next = next;
    } else {
      TModeInfo* copy = new TModeInfo(mode);
      copy->Next = *link;
      *link = copy;
    }
    int16_t position = 0;
    for (TModeInfo* p = list.Modes; p; p = p->Next) p->InternModeNumber = ++position;
    list.LowestPosition = 1;
    list.HighestPosition = position;
  }
  TModeInfo** tail = &ModeList;
  while (*tail) tail = &(*tail)->Next;
  *tail = new TModeInfo(mode);
  (*tail)->Next = nullptr;
}

void ReleaseModeLists() {
  FreeList(ModeList);
  for (NewModeListEntry& list : NewModeList) {
    FreeList(list.Modes);
    list.LowestPosition = list.HighestPosition = -1;
  }
}

namespace {

// How a row of the mode table gets its size.
enum class Fit : uint8_t {
  Listed,     // its own, and only when that fits into W × H
  Largest,    // W × H, always
  Maximized,  // FW × FH, always; the window opens maximized
};

struct ModeRow {
  int16_t Driver, Mode;
  const char* Name;
  int32_t Colours, Width, Height;
  Fit Size;
};

constexpr ModeRow kModeRows[] = {
    {9, 2, "640 x 480 x 16 Win32GUI", 16, 640, 480, Fit::Listed},
    {9, 0, "640 x 200 x 16 Win32GUI", 16, 640, 200, Fit::Listed},
    {9, 1, "640 x 350 x 16 Win32GUI", 16, 640, 350, Fit::Listed},
    {10, 256, "640 x 400 x 256 Win32GUI", 256, 640, 400, Fit::Listed},
    {10, 257, "640 x 480 x 256 Win32GUI", 256, 640, 480, Fit::Listed},
    {10, 258, "800 x 600 x 16 Win32GUI", 16, 800, 600, Fit::Listed},
    {10, 259, "800 x 600 x 256 Win32GUI", 256, 800, 600, Fit::Listed},
    {10, 260, "1024 x 768 x 16 Win32GUI", 16, 1024, 768, Fit::Listed},
    {10, 261, "1024 x 768 x 256 Win32GUI", 256, 1024, 768, Fit::Listed},
    {10, 262, "1280 x 1024 x 16 Win32GUI", 16, 1280, 1024, Fit::Listed},
    {10, 263, "1280 x 1024 x 256 Win32GUI", 256, 1280, 1024, Fit::Listed},
    {10, 240, "Largest Window x 16", 16, 0, 0, Fit::Largest},
    {10, 241, "Largest Window x 256", 256, 0, 0, Fit::Largest},
    {10, 245, "Maximized Window x 16", 16, 0, 0, Fit::Maximized},
    {10, 246, "Maximized Window x 256", 256, 0, 0, Fit::Maximized},
};

}  // namespace

bool IsMaximizedMode(int16_t mode) {
  for (const ModeRow& row : kModeRows)
    if (row.Mode == mode) return row.Size == Fit::Maximized;
  return false;
}

void QueryAdapterInfo() {
  SaveVideoState = SaveState;
  RestoreVideoState = RestoreState;
  const backend::ScreenMeasures s = backend::QueryScreenMeasures();
  // W × H: the largest client area of a framed, captioned window on the
  // screen; FW × FH: the client area of a maximized window.
  const int32_t w = s.ScreenWidth - 2 * s.FrameWidth;
  const int32_t h = s.ScreenHeight - 2 * s.FrameHeight - s.CaptionHeight;
  if (ModeList) return;

  for (const ModeRow& row : kModeRows) {
    int32_t width = row.Width, height = row.Height;
    switch (row.Size) {
      case Fit::Listed:
        if (w < width || h < height) continue;
        break;
      case Fit::Largest:
        width = w;
        height = h;
        break;
      case Fit::Maximized:
        width = s.FullWidth;
        height = s.FullHeight;
        break;
    }
    TModeInfo mode;
    InitMode(mode);
    mode.DriverNumber = row.Driver;
    mode.HardwarePages = 0;
    mode.ModeNumber = row.Mode;
    mode.ModeName = row.Name;
    mode.MaxColor = row.Colours;
    mode.PaletteSize = row.Colours;
    mode.DirectColor = false;
    mode.MaxX = static_cast<uint16_t>(width - 1);
    mode.MaxY = static_cast<uint16_t>(height - 1);
    SetupWin32GUIDefault(mode);
    mode.XAspect = mode.YAspect = 10000;
    AddMode(mode);
  }
}

// ---------------------------------------------------------------- searching

void Res2Mode(int32_t width, int32_t height, int32_t colours, int16_t& driver, int16_t& mode) {
  static constexpr std::pair<int32_t, int16_t> ColourDrivers[] = {
      {2, 11}, {4, 12}, {16, 13}, {64, 14}, {256, 15}, {4096, 16}, {32768, 17}, {65536, 18}};
  driver = NoDriver;
  for (const auto& [count, d] : ColourDrivers)
    if (count == colours) driver = d;
  if (driver == NoDriver) return;
  mode = NoDriver;
  for (int16_t m = FirstResolutionMode; m <= LastResolutionMode; ++m) {
    const Resolution& r = Resolutions[static_cast<std::size_t>(m - FirstResolutionMode)];
    if (r.Width == width && r.Height == height) {
      mode = m;
      return;
    }
  }
}

bool Mode2Res(int16_t mode, int32_t& width, int32_t& height) {
  if (mode < FirstResolutionMode || mode > LastResolutionMode) return false;
  const Resolution& r = Resolutions[static_cast<std::size_t>(mode - FirstResolutionMode)];
  width = r.Width;
  height = r.Height;
  return true;
}

TModeInfo* SearchMode(int16_t driver, int16_t& mode) {
  if (IsNewDriver(driver)) {
    NewModeListEntry& list = NewModeListOf(driver);
    if (mode == LowestModeKey) {
      mode = list.LowestPosition;
      return list.Modes;
    }
    if (mode == HighestModeKey) {
      mode = list.HighestPosition;
      TModeInfo* last = list.Modes;
      while (last && last->Next) last = last->Next;
      return last;
    }
    int32_t width = 0, height = 0;
    const bool bySize = Mode2Res(mode, width, height);
    for (TModeInfo* p = list.Modes; p; p = p->Next) {
      if (bySize ? p->MaxX == width - 1 && p->MaxY == height - 1 : p->InternModeNumber == mode)
        return p;
    }
    return nullptr;
  }
  // The flat list: the highest key takes the end of the driver's first run.
  TModeInfo* runEnd = nullptr;
  for (TModeInfo* p = ModeList; p; p = p->Next) {
    if (p->DriverNumber != driver) {
      if (runEnd) break;
      continue;
    }
    if (mode == LowestModeKey) {
      mode = p->ModeNumber;
      return p;
    }
    if (mode == HighestModeKey)
      runEnd = p;
    else if (p->ModeNumber == mode)
      return p;
  }
  if (runEnd) mode = runEnd->ModeNumber;
  return runEnd;
}

void GetModeRange(int16_t driver, int16_t& lowest, int16_t& highest) {
  highest = -1;
  lowest = LowestModeKey;
  if (!SearchMode(driver, lowest)) {
    lowest = -1;
    return;
  }
  highest = HighestModeKey;
  SearchMode(driver, highest);
}

// ---------------------------------------------------------------- detecting and opening

void InternDetectGraph(int16_t& driver, int16_t& mode, bool fromInitGraph) {
  bool found = false;
  int16_t bestDriver = 0, bestMode = 0;
  auto consider = [&](int16_t d) {
    int16_t lowest, highest;
    GetModeRange(d, lowest, highest);
    if (lowest == -1) return;
    found = true;
    bestDriver = d;
    bestMode = highest;
  };
  if (fromInitGraph && IsNewDriver(driver)) {
    consider(driver);
  } else {
    // The last driver with modes wins: the most colours.
    for (int16_t d = LowNewDriver; d <= HighNewDriver; ++d) consider(d);
    if (!found) driver = HighNewDriver;
  }
  if (!found || bestMode == 0) {
    _GraphResult = result::NotDetected;
    return;
  }
  _GraphResult = result::Ok;
  driver = bestDriver;
  mode = bestMode;
}

void DetectGraph(int16_t& driver, int16_t& mode) { InternDetectGraph(driver, mode, false); }

void InitVars() {
  DirectVideo = true;
  ArcCall = {};
  IntCurrentMode = IntCurrentDriver = IntCurrentNewDriver = 0;
  XAspect = YAspect = 0;
  MaxX = MaxY = 0;
  MaxColor = PaletteSize = 0;
  DirectColor = false;
  HardwarePages = 0;
  DefaultHooks();
}

void InitGraph(int16_t& driver, int16_t& mode, const char* path) {
  InitVars();
  FontPath = path ? path : "";
  if (FontPath.Length > 0 && FontPath.view().back() != '\\') FontPath.push_back('\\');
  if (!SaveVideoState) sys::RunError(216);
  DriverName = "WIN32GUI";
  if (driver == DetectDriver || mode == DetectMode) {
    InternDetectGraph(driver, mode, true);
    if (_GraphResult == result::NotDetected) return;
  } else if (!SearchMode(driver, mode)) {
    _GraphResult = result::NoSuchMode;
    return;
  } else {
    _GraphResult = result::Ok;
  }
  IntCurrentDriver = driver;
  IntCurrentNewDriver = IsNewDriver(driver) ? driver : -1;
  if (FirstCallOfInitGraph) {
    SaveVideoState();
    FirstCallOfInitGraph = false;
  }
  SetGraphMode(mode);
}

void SetGraphMode(int16_t mode) {
  int16_t driver = IntCurrentDriver;
  if (mode == DetectMode) {
    mode = HighestModeKey;
    driver = IntCurrentNewDriver;
  } else if (mode >= FirstResolutionMode && mode <= LastResolutionMode) {
    driver = IntCurrentNewDriver;
  }
  const TModeInfo* m = SearchMode(driver, mode);
  if (!m) {
    _GraphResult = result::NoSuchMode;
    return;
  }
  DefaultHooks();
  // A mode without its pixel and palette routines or its initialisation
  // cannot be opened.
  if (!m->DirectPutPixelProc || !m->PutPixelProc || !m->GetPixelProc || !m->SetRGBPaletteProc ||
      !m->GetRGBPaletteProc) {
    _GraphResult = result::NoSuchMode;
    return;
  }
  DirectPutPixel = m->DirectPutPixelProc;
  PutPixel = m->PutPixelProc;
  GetPixel = m->GetPixelProc;
  SetRGBPalette = m->SetRGBPaletteProc;
  GetRGBPalette = m->GetRGBPaletteProc;
  auto bindIfSet = [](auto& hook, auto routine) {
    if (routine) hook = routine;
  };
  bindIfSet(ClearViewPort, m->ClearViewPortProc);
  bindIfSet(HLine, m->HLineProc);
  bindIfSet(VLine, m->VLineProc);
  bindIfSet(SetVisualPage, m->SetVisualPageProc);
  bindIfSet(SetActivePage, m->SetActivePageProc);

  IntCurrentMode = m->ModeNumber;
  IntCurrentDriver = driver;
  XAspect = m->XAspect;
  YAspect = m->YAspect;
  MaxX = static_cast<int16_t>(m->MaxX);
  MaxY = static_cast<int16_t>(m->MaxY);
  HardwarePages = m->HardwarePages;
  MaxColor = m->MaxColor;
  PaletteSize = m->PaletteSize;
  DirectColor = m->DirectColor;

  if (!m->InitModeProc) {
    DefaultHooks();
    _GraphResult = result::NoSuchMode;
    return;
  }
  m->InitModeProc();
  if (_GraphResult != result::Ok) {
    DefaultHooks();
    return;
  }
  IsGraphMode = true;
  SetActivePage(0);
  SetVisualPage(0);
  SetViewPort(0, 0, MaxX, MaxY, true);
  GraphDefaults();
}

void GraphDefaults() {
  LineInfo.LineStyle = 0;
  LineInfo.Thickness = 1;
  LinePatterns.fill(true);
  FillSettings = {1, GetMaxColor()};
  FillPatternTable[12].fill(255);
  CurrentColor = 15;
  ClipPixels = true;
  StartXViewPort = StartYViewPort = 0;
  ViewWidth = MaxX;
  ViewHeight = MaxY;
  CurrentX = CurrentY = 0;
  SetBkColor(0);
  CurrentWriteMode = 0;
  CurrentTextInfo = {0, 0, 1, 0, 2};
  XAspect = YAspect = 10000;
}

void CloseGraph() {
  if (!IsGraphMode) {
    _GraphResult = result::NotOpen;
    return;
  }
  WindowStop();
  IsGraphMode = false;
}

int16_t GraphResult() { return _GraphResult; }

// ---------------------------------------------------------------- viewport and queries

void SetViewPort(int16_t x1, int16_t y1, int16_t x2, int16_t y2, bool clip) {
  auto bad = [](int16_t lo, int16_t hi, int16_t max) { return lo > max || hi > max || hi < lo || lo < 0; };
  if (bad(x1, x2, MaxX) || bad(y1, y2, MaxY)) {
    _GraphResult = result::Failure;
    return;
  }
  CurrentX = CurrentY = 0;
  StartXViewPort = x1;
  StartYViewPort = y1;
  ViewWidth = static_cast<int16_t>(x2 - x1);
  ViewHeight = static_cast<int16_t>(y2 - y1);
  ClipPixels = clip;
}

void GetViewSettings(ViewPortType& viewport) {
  viewport.x1 = StartXViewPort;
  viewport.y1 = StartYViewPort;
  viewport.x2 = static_cast<int16_t>(StartXViewPort + ViewWidth);
  viewport.y2 = static_cast<int16_t>(StartYViewPort + ViewHeight);
  viewport.Clip = ClipPixels;
}

int16_t GetMaxX() { return MaxX; }
int16_t GetMaxY() { return MaxY; }
uint16_t GetMaxColor() { return static_cast<uint16_t>(MaxColor - 1); }

int16_t InstallUserFont(std::string_view name) {
  if (InstalledFonts == static_cast<int16_t>(Fonts.size())) {
    _GraphResult = result::Failure;
    return result::Failure;
  }
  Fonts[static_cast<std::size_t>(InstalledFonts)] = FontRec{name, nullptr, 0};
  _GraphResult = result::Ok;
  return ++InstalledFonts;  // font 0 is the built-in bitmap font
}

// ---------------------------------------------------------------- start and end

void InitializeGraph() {
  IsGraphMode = false;
  ReleaseModeLists();
  SaveVideoState = nullptr;
  RestoreVideoState = nullptr;
  QueryAdapterInfo();
  InstalledFonts = 0;
  for (std::string_view name : StrokedFontNames) InstallUserFont(name);
  ExitSave = sys::ExitProc;
  sys::ExitProc = GraphExitProc;
  CharMessageHandler = nullptr;
}

void GraphExitProc() {
  sys::ExitProc = ExitSave;
  // At a normal end or a halt the window simply goes with the process.
  if (IsGraphMode && (sys::ErrorCode != 0 || sys::ErrorAddr != nullptr)) CloseGraph();
  // The fonts never hold data here, so only the mode lists are released.
  ReleaseModeLists();
}

}  // namespace graph

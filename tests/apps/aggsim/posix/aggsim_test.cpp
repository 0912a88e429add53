// The runner's films, picture counts, ensembles and profiles, run whole as
// a user runs them and read back with the libraries' own decoders.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/posix/process.h"

namespace {

struct Result {
  int code = -1;
  std::string out;
};

// Runs a shell command, standard output captured, standard error shown.
Result Shell(const std::string& cmd) {
  const testsupport::Ran ran = testsupport::Run({.argv = {"/bin/sh", "-c", cmd}});
  std::fputs(ran.err.c_str(), stderr);
  return {ran.code(), ran.out};
}

// Runs aggsim with args (and the environment settings env) through a shell
// (they may redirect).
Result Aggsim(const std::string& args, const std::string& env = "") {
  return Shell((env.empty() ? "" : "env " + env + " ") + std::string(AGGSIM) + " " + args);
}

std::string Temp(const std::string& name) { return testing::TempDir() + "aggsim." + std::to_string(getpid()) + "." + name; }

using testsupport::Slurp;

std::vector<uint32_t> ReadPng(const std::string& path, int& w, int& h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint32_t> rgb;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
    w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) rgb.push_back(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);
  }
  png_image_free(&image);
  return rgb;
}

struct Gif {
  GifFileType* gif = nullptr;
  explicit Gif(const std::string& path) {
    int err = 0;
    gif = DGifOpenFileName(path.c_str(), &err);
    if (gif && DGifSlurp(gif) != GIF_OK) {
      DGifCloseFile(gif, nullptr);
      gif = nullptr;
    }
  }
  ~Gif() {
    if (gif) DGifCloseFile(gif, nullptr);
  }
  // The palette indices after frames 0 to last, each drawn over the last.
  std::vector<uint8_t> Compose(int last) const {
    std::vector<uint8_t> c(static_cast<size_t>(gif->SWidth * gif->SHeight), 0);
    for (int i = 0; i <= last; ++i) {
      const GifImageDesc& d = gif->SavedImages[i].ImageDesc;
      for (int y = 0; y < d.Height; ++y)
        for (int x = 0; x < d.Width; ++x)
          c[static_cast<size_t>((d.Top + y) * gif->SWidth + d.Left + x)] = gif->SavedImages[i].RasterBits[y * d.Width + x];
    }
    return c;
  }
  uint32_t Colour(uint8_t index) const {
    const GifColorType& c = gif->SColorMap->Colors[index];
    return static_cast<uint32_t>(c.Red << 16 | c.Green << 8 | c.Blue);
  }
  bool Loops() const {
    const SavedImage& first = gif->SavedImages[0];
    for (int i = 0; i + 1 < first.ExtensionBlockCount; ++i) {
      const ExtensionBlock& e = first.ExtensionBlocks[i];
      if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 && !std::memcmp(e.Bytes, "NETSCAPE2.0", 11))
        return first.ExtensionBlocks[i + 1].ByteCount == 3 && first.ExtensionBlocks[i + 1].Bytes[0] == 1 &&
               first.ExtensionBlocks[i + 1].Bytes[1] == 0 && first.ExtensionBlocks[i + 1].Bytes[2] == 0;
    }
    return false;
  }
};

struct Stuck {
  int x, y, colour;
};
std::vector<Stuck> ReadTrace(const std::string& path) {
  std::vector<Stuck> t;
  std::ifstream in(path);
  int x, y, c;
  char comma;
  while (in >> x >> comma >> y >> comma >> c) t.push_back({x, y, c});
  return t;
}

// The film of a small run: the seed, a frame every N particles, the final
// picture last and equal to the PNG; each frame's rectangle holds exactly
// what the particles since the frame before drew.
TEST(Film, FramesFollowTheRunAndEndOnThePicture) {
  const std::string gif = Temp("film.gif"), png = Temp("film.png"), trace = Temp("film.csv");
  for (const int particles : {95, 100}) {
    SCOPED_TRACE(particles);
    const Result r = Aggsim("--rule order --seed 3 --particles " + std::to_string(particles) +
                            " --frame-every 10 --fps 20 --gif " + gif + " --png " + png + " --trace " + trace);
    ASSERT_EQ(r.code, 0) << r.out;
    const Gif g(gif);
    ASSERT_NE(g.gif, nullptr);
    const int frames = 1 + particles / 10 + (particles % 10 ? 1 : 0);
    ASSERT_EQ(g.gif->ImageCount, frames);
    EXPECT_TRUE(g.Loops());
    GraphicsControlBlock gcb;
    ASSERT_EQ(DGifSavedExtensionToGCB(g.gif, 1, &gcb), GIF_OK);
    EXPECT_EQ(gcb.DelayTime, 5);  // 20 frames a second
    ASSERT_EQ(DGifSavedExtensionToGCB(g.gif, frames - 1, &gcb), GIF_OK);
    EXPECT_GE(gcb.DelayTime, 100);  // the picture held before the loop

    int w = 0, h = 0;
    const std::vector<uint32_t> picture = ReadPng(png, w, h);
    ASSERT_EQ(w, g.gif->SWidth);
    ASSERT_EQ(h, g.gif->SHeight);
    const std::vector<uint8_t> last = g.Compose(frames - 1);
    size_t differ = 0;
    for (size_t i = 0; i < picture.size(); ++i) differ += g.Colour(last[i]) != picture[i];
    EXPECT_EQ(differ, 0u) << "pixels of the last frame unlike the PNG";

    // The first frame: the whole surface with the seed alone on it.
    const GifImageDesc& first = g.gif->SavedImages[0].ImageDesc;
    EXPECT_EQ(first.Width * first.Height, w * h);
    std::vector<uint8_t> before = g.Compose(0);
    EXPECT_EQ(std::count_if(before.begin(), before.end(), [](uint8_t v) { return v != 0; }), 1);
    // Every later frame: the surface as the particles stuck by then drew
    // it, each in its colour, and a rectangle just round what they drew.
    const std::vector<Stuck> t = ReadTrace(trace);
    ASSERT_EQ(t.size(), static_cast<size_t>(particles));
    std::vector<uint32_t> surface(before.size());
    for (size_t i = 0; i < before.size(); ++i) surface[i] = g.Colour(before[i]);
    std::vector<std::vector<uint32_t>> shown{surface};
    for (int f = 1; f < frames; ++f) {
      int left = w, top = h, right = -1, bottom = -1;
      for (int k = (f - 1) * 10; k < std::min(f * 10, particles); ++k) {
        surface[size_t(t[k].y) * w + t[k].x] = g.Colour(static_cast<uint8_t>(t[k].colour));
        left = std::min(left, t[k].x), right = std::max(right, t[k].x);
        top = std::min(top, t[k].y), bottom = std::max(bottom, t[k].y);
      }
      const std::vector<uint8_t> now = g.Compose(f);
      size_t wrong = 0;
      for (size_t i = 0; i < now.size(); ++i) wrong += g.Colour(now[i]) != surface[i];
      EXPECT_EQ(wrong, 0u) << "frame " << f;
      const GifImageDesc& d = g.gif->SavedImages[f].ImageDesc;
      EXPECT_EQ(std::vector<int>({d.Left, d.Top, d.Width, d.Height}),
                std::vector<int>({left, top, right - left + 1, bottom - top + 1}))
          << "frame " << f;
      shown.push_back(surface);
    }
    // ImageMagick's decoder shows the same frames.
    const std::string rgb = Temp("film.rgb");
    ASSERT_EQ(std::system(("convert " + gif + " -coalesce -depth 8 rgb:" + rgb).c_str()), 0);
    const std::string frameBytes = Slurp(rgb);
    std::remove(rgb.c_str());
    ASSERT_EQ(frameBytes.size(), shown.size() * shown[0].size() * 3);
    for (size_t f = 0; f < shown.size(); ++f) {
      size_t wrong = 0;
      for (size_t i = 0; i < shown[f].size(); ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(frameBytes.data()) + 3 * (f * shown[f].size() + i);
        wrong += static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]) != shown[f][i];
      }
      EXPECT_EQ(wrong, 0u) << "ImageMagick, frame " << f;
    }
  }
  std::remove(gif.c_str()), std::remove(png.c_str()), std::remove(trace.c_str());
}

// A longer run filmed: only changed rectangles make it far smaller than
// its frames stored whole.
TEST(Film, ALongRunStaysSmall) {
  const std::string gif = Temp("long.gif");
  const Result r = Aggsim("--rule radial --seed 5 --particles 1500 --frame-every 5 --gif " + gif);
  ASSERT_EQ(r.code, 0);
  const Gif g(gif);
  ASSERT_NE(g.gif, nullptr);
  ASSERT_EQ(g.gif->ImageCount, 301);
  long area = 0;
  for (int f = 1; f < g.gif->ImageCount; ++f)
    area += long(g.gif->SavedImages[f].ImageDesc.Width) * g.gif->SavedImages[f].ImageDesc.Height;
  const long whole = long(g.gif->SWidth) * g.gif->SHeight * (g.gif->ImageCount - 1);
  EXPECT_LT(area, whole / 100);
  // Even the blank surface, stored 300 times, would take more.
  EXPECT_LT(Slurp(gif).size(), 300u * 1000u);
  std::remove(gif.c_str());
}

// A disk that fills while the film is written: exit code 1, one line,
// nothing left in the folder.  A small tmpfs of its own needs a mount
// namespace (unshare); without one, only the full device is tried.
TEST(Film, AFullDiskLeavesNothing) {
  const Result full = Aggsim("--seed 2 --particles 200 --frame-every 1 --gif /dev/full 2>&1");
  EXPECT_EQ(full.code, 1) << full.out;
  EXPECT_NE(full.out.find("aggsim: cannot write /dev/full: No space left on device"), std::string::npos) << full.out;

  char dir[] = "/tmp/aggsim-full-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir;
  if (std::system("unshare -rm true 2>/dev/null") != 0) {
    rmdir(dir);
    GTEST_SKIP() << "no mount namespace here (unshare -rm) for a small tmpfs";
  }
  // A film of about 27 kB against 16 kB of room.
  const Result r = Shell("unshare -rm sh -c 'mount -t tmpfs -o size=16k tmpfs " + d + " && " +
                          AGGSIM + " --seed 2 --particles 1000 --frame-every 1 --png " + d + "/p.png --gif " + d +
                          "/film.gif 2>&1 >/dev/null; echo exit $?; ls -A " + d + "'");
  rmdir(dir);
  EXPECT_NE(r.out.find("aggsim: cannot write " + d + "/film.gif: No space left on device\nexit 1\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.substr(r.out.find("exit 1\n") + 7), "") << "left in the folder";
}

// On a terminal the progress line counts the film's frames as they come.
TEST(Film, CountedInTheProgressLine) {
  const std::string gif = Temp("progress.gif");
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Long enough (a second or two) for several redraws, which come every
    // 200 ms, however fast the walk is.
    execl(AGGSIM, AGGSIM, "--seed", "3", "--particles", "6000", "--frame-every", "100", "--gif", gif.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(master, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  const std::regex line("([0-9]+)/6000 stuck [^\r]*  ([0-9]+) frames");
  int lines = 0;
  long last = 0;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it, ++lines) {
    // Frame k is taken at 100 (k - 1) particles, after the line is drawn.
    const long stuck = std::stol((*it)[1]), frames = std::stol((*it)[2]);
    EXPECT_GE(frames, stuck / 100) << (*it)[0];
    EXPECT_LE(frames, 1 + stuck / 100) << (*it)[0];
    last = frames;
  }
  EXPECT_GT(lines, 1) << out;
  EXPECT_GT(last, 1) << out;
  std::remove(gif.c_str());
}

struct Counts {
  long stuck = -1, picture = -1, off = -1, invisible = -1, taken = -1;
};
Counts ParseCounts(const std::string& out) {
  Counts c;
  std::smatch m;
  const std::regex re(
      "stuck ([0-9]+), in the picture ([0-9]+), off the surface ([0-9]+), invisible ([0-9]+), on a pixel already "
      "taken ([0-9]+);");
  if (std::regex_search(out, m, re))
    c = {std::stol(m[1]), std::stol(m[2]), std::stol(m[3]), std::stol(m[4]), std::stol(m[5])};
  return c;
}

// An order run on a surface whose bottom row holds the seed: particles
// stick below the edge, where nothing is drawn, and the 2281st to 2370th
// get colours that are black.  The picture count is what the PNG shows; the
// others are named beside it.
TEST(PictureCounts, OffTheSurfaceAndInTheBlackBand) {
  const std::string png = Temp("band.png"), trace = Temp("band.csv");
  const Result r = Aggsim("--rule order --seed 1 --screen 1024x434 --particles 2400 --stats --png " + png +
                          " --trace " + trace);
  ASSERT_EQ(r.code, 0) << r.out;
  const Counts c = ParseCounts(r.out);
  ASSERT_EQ(c.stuck, 2400) << r.out;
  EXPECT_GT(c.off, 0) << r.out;
  EXPECT_GT(c.invisible, 0) << r.out;
  EXPECT_EQ(c.stuck, c.picture + c.off + c.invisible + c.taken);
  int w = 0, h = 0;
  const std::vector<uint32_t> picture = ReadPng(png, w, h);
  ASSERT_EQ(h, 385);
  // In this palette black is background and every other colour holds.
  const long shown = std::count_if(picture.begin(), picture.end(), [](uint32_t p) { return p != 0; });
  EXPECT_EQ(shown, c.picture + 1) << "the seed and the particles in the picture";
  long off = 0;
  for (const Stuck& s : ReadTrace(trace)) off += s.x < 0 || s.y < 0 || s.x >= w || s.y >= h;
  EXPECT_EQ(off, c.off);
  // The statistics measure the picture, the seed included.
  EXPECT_NE(r.out.find("aggregate pixels " + std::to_string(shown) + ","), std::string::npos) << r.out;
  std::remove(png.c_str()), std::remove(trace.c_str());
}

// Once the aggregate reaches the edge of a low surface, walkers beside it
// but off the surface stick there, drawn nowhere, again and again.
TEST(PictureCounts, WhiteParticlesBelowTheBottomEdge) {
  const Result r = Aggsim("--rule white --seed 2 --screen 1024x480 --particles 1500");
  ASSERT_EQ(r.code, 0) << r.out;
  const Counts c = ParseCounts(r.out);
  EXPECT_GT(c.off, 0) << r.out;
  EXPECT_EQ(c.invisible, 0);
  EXPECT_EQ(c.stuck, c.picture + c.off + c.invisible + c.taken);
}

std::string ReadAll(const std::string& path) { return Slurp(path); }

// An ensemble gives the same table one run at a time or four at a time,
// and each run the figures of that seed run alone.
TEST(Ensemble, JobsDoNotChangeTheResults) {
  const std::string one = Temp("j1.csv"), four = Temp("j4.csv");
  const std::string common = "--rule radial --seed 41 --particles 400 --runs 5";
  const Result a = Aggsim(common + " --jobs 1 --csv " + one);
  const Result b = Aggsim(common + " --jobs 4 --csv " + four);
  ASSERT_EQ(a.code, 0) << a.out;
  ASSERT_EQ(b.code, 0) << b.out;
  EXPECT_EQ(a.out, b.out);
  const std::string table = ReadAll(one);
  EXPECT_EQ(table, ReadAll(four));
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 9) << table;
  EXPECT_EQ(table.rfind("# aggsim ensemble table\n# aggsim ", 0), 0u) << table;
  EXPECT_NE(table.find("; rule radial; particles 400; seconds none; radius none; screen 1024x768; start radius 60\n# ensemble first 41 runs 5\nseed,"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("\n45,400,"), std::string::npos) << table;
  EXPECT_NE(a.out.find("5 runs: D mean "), std::string::npos) << a.out;

  // Run 3 has seed 43: the same figures as that run alone.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(a.out, m, std::regex("run 3: seed 43, stuck 400, in the picture ([0-9]+), launched ([0-9]+), "
                                                     "R [0-9.]+, radius of gyration ([0-9.]+), D ([0-9.]+ \\+- [0-9.]+)")))
      << a.out;
  const Result alone = Aggsim("--rule radial --seed 43 --particles 400 --stats");
  ASSERT_EQ(alone.code, 0);
  EXPECT_NE(alone.out.find("in the picture " + m[1].str() + ","), std::string::npos) << alone.out;
  EXPECT_NE(alone.out.find("launched " + m[2].str() + ","), std::string::npos) << alone.out;
  EXPECT_NE(alone.out.find("radius of gyration " + m[3].str() + ","), std::string::npos) << alone.out;
  EXPECT_NE(alone.out.find("mass fractal dimension " + m[4].str()), std::string::npos) << alone.out;
  std::remove(one.c_str()), std::remove(four.c_str());
}

// A run of an ensemble learns it is one from the variable its ensemble sets
// for it alone: never from an option, and not from a value inherited by
// the ensemble itself.
TEST(Ensemble, ARunIsToldSoByItsEnvironmentOnly) {
  EXPECT_EQ(Aggsim("--record --particles 10 2>/dev/null").code, 2);
  const Result plain = Aggsim("--seed 1 --particles 50");
  ASSERT_EQ(plain.code, 0);
  EXPECT_EQ(plain.out.find("aggsim-record"), std::string::npos) << plain.out;
  const Result run = Aggsim("--seed 1 --particles 50 # as an ensemble starts it", "AGGSIM_ENSEMBLE_RUN=1");
  ASSERT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("aggsim-record"), std::string::npos) << run.out;
  const Result inherited = Aggsim("--runs 2 --seed 1 --particles 50", "AGGSIM_ENSEMBLE_RUN=0");
  ASSERT_EQ(inherited.code, 0) << inherited.out;
  EXPECT_NE(inherited.out.find("\n2 runs: "), std::string::npos) << inherited.out;
}

TEST(Ensemble, AFailingRunFailsTheWhole) {
  // A start radius past the coordinate range ends every run with error 201.
  const Result r = Aggsim("--runs 3 --jobs 2 --seed 1 --start-radius 40000 2>/dev/null");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.find("runs:"), std::string::npos) << r.out;
}

// The profile's points in the fit's range give the D that --stats prints.
TEST(Profile, ConsistentWithTheStatistics) {
  const std::string profile = Temp("profile.csv");
  const Result r = Aggsim("--rule white --seed 9 --particles 2000 --stats --profile " + profile);
  ASSERT_EQ(r.code, 0) << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("aggregate pixels ([0-9]+),.* dimension ([0-9.]+) \\+- [0-9.]+ "
                                                     "\\(N\\(r\\) ~ r\\^D fitted for r = ([0-9.]+)\\.\\.([0-9.]+)\\)")))
      << r.out;
  const double from = std::stod(m[3]), to = std::stod(m[4]);
  std::istringstream in(ReadAll(profile));
  double radius;
  long n, last = 0;
  char comma;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int k = 0, lines = 0;
  while (in >> radius >> comma >> n) {
    ++lines;
    EXPECT_GE(n, last);
    last = n;
    if (radius < from - 0.05 || radius > to + 0.05) continue;
    const double x = std::log(radius), y = std::log(double(n));
    sx += x, sy += y, sxx += x * x, sxy += x * y, ++k;
  }
  EXPECT_GT(lines, k);
  EXPECT_EQ(k, 24);
  EXPECT_EQ(std::to_string(last), m[1].str()) << "the last radius holds the whole picture";
  char d[16];
  std::snprintf(d, sizeof d, "%.3f", (k * sxy - sx * sy) / (k * sxx - sx * sx));
  EXPECT_EQ(d, m[2].str());
  std::remove(profile.c_str());
}

TEST(Arguments, RefusedBeforeTheRun) {
  EXPECT_EQ(Aggsim("--jobs 2 2>/dev/null").code, 2);
  EXPECT_EQ(Aggsim("--csv x.csv 2>/dev/null").code, 2);
  EXPECT_EQ(Aggsim("--runs 0 2>/dev/null").code, 2);
  EXPECT_EQ(Aggsim("--frame-every 0 2>/dev/null").code, 2);
  EXPECT_EQ(Aggsim("--fps 0 2>/dev/null").code, 2);
  EXPECT_EQ(Aggsim("--fps 1000 2>/dev/null").code, 2);
  // A film or a profile that cannot be written stops it before it starts.
  EXPECT_EQ(Aggsim("--gif /nonexistent/dir/a.gif --particles 100000000 2>/dev/null").code, 1);
  // More frames than the memory at hand can hold: 10^12 frames of 25 bytes.
  // (A sanitizer's build notes the refused allocation on a line of its own,
  // "==PID==WARNING: ...", which is the sanitizer's, not aggsim's.)
  const Result film = Aggsim("--gif /tmp/never.gif --particles 1000000000000 --frame-every 1 2>&1 | grep -v '^=='");
  EXPECT_EQ(film.out.find("aggsim: not enough memory for a film of 1000000000002 frames"), 0u) << film.out;
  EXPECT_EQ(std::count(film.out.begin(), film.out.end(), '\n'), 1) << film.out;
  EXPECT_EQ(Aggsim("--gif /tmp/never.gif --particles 1000000000000 --frame-every 1 2>/dev/null").code, 1);
  EXPECT_EQ(Aggsim("--profile /nonexistent/dir/p.csv --particles 100000000 2>/dev/null").code, 1);
  EXPECT_EQ(Aggsim("--runs 2 --csv /nonexistent/dir/r.csv --particles 100000000 2>/dev/null").code, 1);
}

}  // namespace

// The standard model run whole: its trace (place and the particle touched),
// its picture and film at the size asked for, the same cluster for a seed
// however an ensemble is scheduled, and runs too big for memory refused
// before any work.
struct Grown {
  double x, y;
  long parent;
};
std::vector<Grown> ReadDlaTrace(const std::string& path) {
  std::vector<Grown> t;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    Grown g{};
    if (std::sscanf(line.c_str(), "%lf,%lf,%ld", &g.x, &g.y, &g.parent) != 3) return {};
    t.push_back(g);
  }
  return t;
}

TEST(StandardModel, TraceHoldsEachParticleBesideTheOneItTouched) {
  const std::string trace = Temp("dla-trace.csv");
  for (const char* lattice : {"off", "square4", "square8"}) {
    SCOPED_TRACE(lattice);
    const Result r = Aggsim(std::string("--model dla --lattice ") + lattice + " --seed 11 --particles 400 --trace " + trace);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("stuck 400, radius ", 0), 0u) << r.out;
    const std::vector<Grown> t = ReadDlaTrace(trace);
    ASSERT_EQ(t.size(), 401u) << "the seed and 400 particles";
    EXPECT_EQ(t[0].x, 0);
    EXPECT_EQ(t[0].y, 0);
    for (size_t i = 1; i < t.size(); ++i) {
      ASSERT_GE(t[i].parent, 0);
      ASSERT_LT(static_cast<size_t>(t[i].parent), i) << "particle " << i;
      const Grown& p = t[static_cast<size_t>(t[i].parent)];
      const double dx = t[i].x - p.x, dy = t[i].y - p.y;
      if (std::string(lattice) == "off") {
        EXPECT_NEAR(std::hypot(dx, dy), 1.0, 1e-3) << "particle " << i << " touches its parent";
      } else {
        EXPECT_EQ(t[i].x, std::round(t[i].x));
        const double steps = std::string(lattice) == "square4" ? std::abs(dx) + std::abs(dy)
                                                               : std::max(std::abs(dx), std::abs(dy));
        EXPECT_EQ(steps, 1) << "particle " << i << " is a neighbour of its parent";
      }
    }
  }
}

TEST(StandardModel, PictureAndFilmAtTheSizeAsked) {
  const std::string png = Temp("dla.png"), gif = Temp("dla.gif");
  const Result r = Aggsim("--model dla --seed 2 --particles 1000 --image-size 300 --png " + png + " --gif " + gif);
  ASSERT_EQ(r.code, 0);
  int w = 0, h = 0;
  const std::vector<uint32_t> picture = ReadPng(png, w, h);
  ASSERT_EQ(w, 300);
  ASSERT_EQ(h, 300);
  std::set<uint32_t> colours(picture.begin(), picture.end());
  EXPECT_GT(colours.size(), 20u) << "coloured by arrival";
  const auto lit = std::count_if(picture.begin(), picture.end(), [](uint32_t c) { return c != 0; });
  EXPECT_GT(lit, 1000) << "a thousand discs at about 2 pixels each";
  const Gif g(gif);
  ASSERT_NE(g.gif, nullptr);
  EXPECT_EQ(g.gif->SWidth, 300);
  // About a hundred frames whatever the size, the last the picture itself.
  EXPECT_GE(g.gif->ImageCount, 100);
  EXPECT_LE(g.gif->ImageCount, 103);
  const std::vector<uint8_t> last = g.Compose(g.gif->ImageCount - 1);
  for (size_t i = 0; i < last.size(); ++i) ASSERT_EQ(g.Colour(last[i]), picture[i]) << "pixel " << i;
  // White on request.
  ASSERT_EQ(Aggsim("--model dla --seed 2 --particles 1000 --image-size 300 --colour white --png " + png).code, 0);
  const std::vector<uint32_t> white = ReadPng(png, w, h);
  EXPECT_EQ(std::set<uint32_t>(white.begin(), white.end()), (std::set<uint32_t>{0, 0xFCFCFC}));
}

TEST(StandardModel, ASeedGivesOneClusterHoweverTheRunsAreScheduled) {
  const std::string a = Temp("dla-a.csv"), b = Temp("dla-b.csv"), t1 = Temp("dla-t1.csv"), t2 = Temp("dla-t2.csv");
  const std::string common = "--model dla --lattice square8 --particles 300 --runs 4 --seed 20 --csv ";
  ASSERT_EQ(Aggsim(common + a + " --jobs 1").code, 0);
  ASSERT_EQ(Aggsim(common + b + " --jobs 4").code, 0);
  EXPECT_EQ(Slurp(a), Slurp(b));
  EXPECT_NE(Slurp(a).find("\n# aggsim 1.0.0; model dla; lattice square8; stick 1; particles 300;"), std::string::npos)
      << Slurp(a);
  // The last seed's cluster alone and within the ensemble: the same trace.
  ASSERT_EQ(Aggsim("--model dla --lattice square8 --particles 300 --seed 23 --trace " + t1).code, 0);
  ASSERT_EQ(Aggsim(common + a + " --trace " + t2).code, 0);
  EXPECT_EQ(Slurp(t1), Slurp(t2));
  // A table of the programs' model does not merge with one of this model.
  ASSERT_EQ(Aggsim("--particles 50 --runs 2 --seed 90 --csv " + b).code, 0);
  const Result merged = Aggsim("--merge " + a + " " + b + " 2>&1");
  EXPECT_EQ(merged.code, 1);
  EXPECT_NE(merged.out.find("parameters"), std::string::npos) << merged.out;
}

TEST(StandardModel, RunsTooBigAreRefusedBeforeTheWork) {
  const Result huge = Aggsim("--model dla --particles 1900000000 2>&1");
  EXPECT_EQ(huge.code, 1);
  // aggsim's own line (a sanitizer may add a note of its own on the refusal).
  EXPECT_TRUE(std::regex_search(huge.out, std::regex("(^|\n)aggsim: not enough memory for this run: it needs about [0-9]+ MiB\n")))
      << huge.out;
  const Result over = Aggsim("--model dla --particles 3000000000 2>&1");
  EXPECT_EQ(over.code, 1);
  EXPECT_EQ(over.out, "aggsim: --particles 3000000000 is more than the 2000000000 a run can grow\n");
  // A radius to reach ends the run without a count.
  const Result radius = Aggsim("--model dla --lattice square4 --seed 4 --radius 15");
  ASSERT_EQ(radius.code, 0);
  double reached = 0;
  ASSERT_EQ(std::sscanf(radius.out.c_str(), "stuck %*u, radius %lf", &reached), 1) << radius.out;
  EXPECT_GE(reached, 15);
  EXPECT_LT(reached, 17);
}

// A reader that goes away is a failed write, named in one line, as in the
// programs' model; a closed standard output reads as /dev/null.
TEST(StandardModel, AReaderThatGoesAwayIsAFailedWrite) {
  const std::string code = Temp("dla-pipe.code"), err = Temp("dla-pipe.err");
  Shell("(" + std::string(AGGSIM) + " --model dla --particles 20000 --seed 1 --trace - 2>" + err + "; echo $? >" + code +
        ") | head -c 10 >/dev/null");
  EXPECT_EQ(Slurp(code), "1\n");
  EXPECT_EQ(Slurp(err), "aggsim: cannot write -: Broken pipe\n");
  EXPECT_EQ(Aggsim("--model dla --particles 100 --seed 1 >&-").code, 0);
  EXPECT_EQ(Aggsim("--model dla --particles 100 --seed 1 >/dev/full 2>" + err).code, 1);
  EXPECT_EQ(Slurp(err), "aggsim: cannot write the summary: No space left on device\n");
}

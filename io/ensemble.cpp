#include "io/ensemble.h"

#include "io/growth.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace io {

namespace {
constexpr const char* kTag = "aggsim-record";
constexpr const char* kProfileTag = "aggsim-profile";
constexpr const char* kGrowthTag = "aggsim-growth";
// Radii past any screen's diagonal are never needed.
constexpr size_t kMostRadii = 200;

// The whole lines of output that start with tag, last first.
std::vector<std::string> TaggedLines(const std::string& output, const char* tag) {
  std::vector<std::string> lines;
  size_t at = 0;
  while ((at = output.find(tag, at)) != std::string::npos) {
    if (at == 0 || output[at - 1] == '\n') {
      const size_t end = output.find('\n', at);
      std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows console's line end
      lines.insert(lines.begin(), line);
    }
    at += std::strlen(tag);
  }
  return lines;
}

bool AddOver(uint64_t& into, uint64_t v) { return !__builtin_add_overflow(into, v, &into); }
}

std::string RecordLine(const RunRecord& r) {
  char buf[300];
  // Seventeen digits keep every bit of the figures, so J processes at a time
  // or one by one give the same table.
  std::snprintf(buf, sizeof buf, "%s %" PRIu32 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %.17g %.17g %.17g %.17g %d", kTag, r.seed,
                r.stuck, r.inPicture, r.launched, r.finalRadius, r.gyration, r.dimension, r.dimensionError,
                r.fitted ? 1 : 0);
  return buf;
}

std::optional<RunRecord> FindRecord(const std::string& output) {
  // The last well-formed record line counts.
  for (const std::string& line : TaggedLines(output, kTag)) {
    RunRecord r;
    int fitted = 0, used = 0;
    if (std::sscanf(line.c_str() + std::strlen(kTag), " %" SCNu32 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %lf %lf %lf %lf %d%n",
                    &r.seed, &r.stuck, &r.inPicture, &r.launched, &r.finalRadius, &r.gyration, &r.dimension,
                    &r.dimensionError, &fitted, &used) == 9 &&
        std::strlen(kTag) + static_cast<size_t>(used) == line.size()) {
      r.fitted = fitted != 0;
      return r;
    }
  }
  return std::nullopt;
}

std::string GrowthLine(const std::string& curve, const std::string& centreProfile) {
  return std::string(kGrowthTag) + " " + curve + " " + centreProfile;
}

bool FindGrowth(const std::string& output, RunRecord& r) {
  for (const std::string& line : TaggedLines(output, kGrowthTag)) {
    const std::string_view rest = std::string_view(line).substr(std::strlen(kGrowthTag));
    if (rest.size() < 2 || rest[0] != ' ') continue;
    const size_t space = rest.find(' ', 1);
    if (space == std::string_view::npos) continue;
    GrowthCurve curve;
    RadialProfile profile;
    const std::string_view c = rest.substr(1, space - 1), p = rest.substr(space + 1);
    if (!ParseCurveField(c, curve).empty() || !ParseProfileField(p, profile).empty()) continue;
    r.curve = c;
    r.centreProfile = p;
    return true;
  }
  return false;
}

std::string RunGrowthText(const std::string& curveField) {
  GrowthCurve curve;
  if (!ParseCurveField(curveField, curve).empty()) return {};
  std::string text = "N,rg\n";
  for (const CurvePoint& p : curve) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%" PRIu64 ",%.17g\n", p.n, p.Radius());
    text += buf;
  }
  return text;
}

std::string DescribeRun(int number, const RunRecord& r) {
  char buf[300];
  int n = std::snprintf(buf, sizeof buf,
                        "run %d: seed %" PRIu32 ", stuck %" PRIu64 ", in the picture %" PRIu64 ", launched %" PRIu64
                        ", R %.1f, radius of gyration %.2f",
                        number, r.seed, r.stuck, r.inPicture, r.launched, r.finalRadius, r.gyration);
  if (r.fitted) {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", D %.3f +- %.3f", r.dimension, r.dimensionError);
  } else {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", too small for D");
  }
  return buf;
}

std::string EnsembleLine(const EnsembleRange& range) {
  return std::string(kEnsembleMark) + "first " + std::to_string(range.first) + " runs " + std::to_string(range.runs);
}

std::string DescribeRange(const EnsembleRange& range) {
  return std::to_string(range.first) + ".." + std::to_string(range.Last());
}

std::string CsvHeader(const std::string& about, const EnsembleRange& range) {
  return std::string(kTableMark) + "\n# " + about + "\n" + EnsembleLine(range) +
         "\nseed,stuck,in_picture,launched,final_radius,gyration,dimension,dimension_error,rg_curve,centre_profile\n";
}

std::string CsvRow(const RunRecord& r) {
  char buf[300];
  int n = std::snprintf(buf, sizeof buf, "%" PRIu32 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%.17g,%.17g,", r.seed, r.stuck,
                        r.inPicture, r.launched, r.finalRadius, r.gyration);
  if (r.fitted) {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%.17g,%.17g,", r.dimension, r.dimensionError);
  } else {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ",,");
  }
  return buf + r.curve + "," + r.centreProfile + "\n";
}

Spread SpreadOf(const std::vector<double>& values) {
  Spread s;
  s.count = static_cast<int>(values.size());
  if (values.empty()) return s;
  for (double v : values) s.mean += v;
  s.mean /= static_cast<double>(values.size());
  if (values.size() < 2) return s;
  double squares = 0;
  for (double v : values) squares += (v - s.mean) * (v - s.mean);
  s.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
  s.se = s.sd / std::sqrt(static_cast<double>(values.size()));
  return s;
}

double GridRadius(size_t i) { return std::pow(2.0, static_cast<double>(i) / 8.0); }

RunProfile ProfileOnGrid(const std::vector<Point>& points, Point origin) {
  RunProfile p;
  std::vector<double> dist;
  for (const Point& q : points) dist.push_back(std::hypot(q.x - origin.x, q.y - origin.y));
  std::sort(dist.begin(), dist.end());
  if (!dist.empty()) p.farthest = dist.back();
  for (size_t i = 0; i < kMostRadii; ++i) {
    const double r = GridRadius(i);
    p.counts.push_back(static_cast<uint64_t>(std::upper_bound(dist.begin(), dist.end(), r) - dist.begin()));
    if (r >= p.farthest) break;
  }
  return p;
}

std::string ProfileLine(const RunProfile& p) {
  char buf[40];
  std::snprintf(buf, sizeof buf, " %.17g", p.farthest);
  std::string line = kProfileTag + std::string(buf);
  for (uint64_t n : p.counts) line += " " + std::to_string(n);
  return line;
}

std::optional<RunProfile> FindProfile(const std::string& output) {
  const std::vector<std::string> lines = TaggedLines(output, kProfileTag);
  if (lines.empty()) return std::nullopt;
  const std::string& line = lines.front();
  RunProfile p;
  const char* at = line.c_str() + std::strlen(kProfileTag);
  const char* end = line.c_str() + line.size();
  if (*at != ' ') return std::nullopt;
  char* after = nullptr;
  p.farthest = std::strtod(at + 1, &after);
  if (after == at + 1 || !std::isfinite(p.farthest) || p.farthest < 0) return std::nullopt;
  at = after;
  while (at < end) {
    uint64_t n = 0;
    if (*at != ' ') return std::nullopt;
    const auto [next, ec] = std::from_chars(at + 1, end, n);
    if (ec != std::errc() || p.counts.size() >= kMostRadii) return std::nullopt;
    p.counts.push_back(n);
    at = next;
  }
  if (p.counts.empty()) return std::nullopt;
  return p;
}

bool EnsembleProfile::Add(const EnsembleProfile& part) {
  EnsembleProfile next = *this;
  if (!AddOver(next.runs, part.runs)) return false;
  next.farthest = runs == 0 ? part.farthest : part.runs == 0 ? farthest : std::min(farthest, part.farthest);
  // Past its last radius every run of a part holds its whole count: its
  // sums stay as they are at the last one.
  const size_t radii = std::max(sum.size(), part.sum.size());
  next.sum.resize(radii, sum.empty() ? 0 : sum.back());
  next.sumSquares.resize(radii, sumSquares.empty() ? 0 : sumSquares.back());
  for (size_t i = 0; i < radii && !part.sum.empty(); ++i) {
    const size_t j = std::min(i, part.sum.size() - 1);
    if (!AddOver(next.sum[i], part.sum[j]) || !AddOver(next.sumSquares[i], part.sumSquares[j])) return false;
  }
  *this = std::move(next);
  return true;
}

bool EnsembleProfile::Add(const RunProfile& run) {
  EnsembleProfile one;
  one.runs = 1;
  one.farthest = run.farthest;
  for (uint64_t n : run.counts) {
    if (n > UINT32_MAX) return false;
    one.sum.push_back(n);
    one.sumSquares.push_back(n * n);
  }
  return Add(one);
}

ProfileFit FitMean(const EnsembleProfile& p) {
  ProfileFit f;
  f.from = 4.0;
  f.to = 0.5 * p.farthest;
  if (p.runs == 0) return f;
  std::vector<std::pair<double, double>> xy;
  for (size_t i = 0; i < p.sum.size(); ++i) {
    const double r = GridRadius(i);
    if (r < f.from || r > f.to || p.sum[i] == 0) continue;
    xy.emplace_back(std::log(r), std::log(static_cast<double>(p.sum[i]) / static_cast<double>(p.runs)));
  }
  if (xy.size() < 3) return f;
  const LineFit line = FitLine(xy);
  f.dimension = line.slope;
  f.error = line.error;
  f.points = static_cast<int>(xy.size());
  return f;
}

std::string ProfileRow(size_t i, uint64_t runs, uint64_t sum, uint64_t sumSquares) {
  const double n = static_cast<double>(runs);
  const double mean = runs ? static_cast<double>(sum) / n : 0;
  // The sample variance from the sums: (n sum(N^2) - (sum N)^2) / (n (n-1)).
  const long double spread = runs > 1 ? (static_cast<long double>(runs) * sumSquares -
                                         static_cast<long double>(sum) * sum) / (static_cast<long double>(runs) * (runs - 1))
                                      : 0;
  const double sd = spread > 0 ? std::sqrt(static_cast<double>(spread)) : 0.0;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%.6g,%" PRIu64 ",%.6f,%.6f,%" PRIu64 ",%" PRIu64 "\n", GridRadius(i), runs, mean, sd,
                sum, sumSquares);
  return buf;
}

std::string SeedRanges(std::vector<uint32_t> seeds) {
  std::sort(seeds.begin(), seeds.end());
  std::string out;
  for (size_t i = 0; i < seeds.size();) {
    size_t j = i;
    while (j + 1 < seeds.size() && seeds[j + 1] == seeds[j] + 1) ++j;
    out += (out.empty() ? "" : ",") + std::to_string(seeds[i]);
    if (j > i) out += "-" + std::to_string(seeds[j]);
    i = j + 1;
  }
  return out;
}

std::string EnsembleProfileText(const EnsembleProfile& p, const std::string& about, const EnsembleRange& range,
                                const std::vector<uint32_t>& seeds) {
  char farthest[40];
  std::snprintf(farthest, sizeof farthest, "%.17g", p.farthest);
  std::string text = std::string(kProfileMark) + "\n# " + about + "\n" + EnsembleLine(range) + "\n# seeds " + SeedRanges(seeds) +
                     "\n# farthest " + farthest + "\nr,runs,mean,sd,sum,sum_squares\n";
  for (size_t i = 0; i < p.sum.size(); ++i) text += ProfileRow(i, p.runs, p.sum[i], p.sumSquares[i]);
  return text;
}

std::string DescribeEnsemble(const std::vector<RunRecord>& runs, const EnsembleProfile* profile) {
  std::vector<double> d, g;
  for (const RunRecord& r : runs) {
    g.push_back(r.gyration);
    if (r.fitted) d.push_back(r.dimension);
  }
  const Spread sd = SpreadOf(d), sg = SpreadOf(g);
  char buf[600];
  int n = std::snprintf(buf, sizeof buf, "%zu runs: ", runs.size());
  if (sd.count > 0) {
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "D mean %.3f, SD %.3f, standard error %.3f",
                       sd.mean, sd.sd, sd.se);
    if (sd.count < static_cast<int>(runs.size()))
      n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " (of %d runs large enough)", sd.count);
  } else {
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "no run large enough for D");
  }
  n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n),
                     "; radius of gyration mean %.2f, SD %.2f, standard error %.2f", sg.mean, sg.sd, sg.se);
  if (profile && profile->runs > 0) {
    const ProfileFit f = FitMean(*profile);
    if (f.points >= 3)
      std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "; D of the mean profile %.3f +- %.3f (r = %.1f..%.1f)",
                    f.dimension, f.error, f.from, f.to);
    else
      std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "; the mean profile too small for D");
  }
  return buf;
}

}  // namespace io

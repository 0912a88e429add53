#include "io/ensemble.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace io {

namespace {
constexpr const char* kTag = "aggsim-record";
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
  std::optional<RunRecord> found;
  size_t at = 0;
  while ((at = output.find(kTag, at)) != std::string::npos) {
    if (at == 0 || output[at - 1] == '\n') {
      const size_t end = output.find('\n', at);
      std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows console's line end
      RunRecord r;
      int fitted = 0, used = 0;
      if (std::sscanf(line.c_str() + std::strlen(kTag), " %" SCNu32 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %lf %lf %lf %lf %d%n",
                      &r.seed, &r.stuck, &r.inPicture, &r.launched, &r.finalRadius, &r.gyration, &r.dimension,
                      &r.dimensionError, &fitted, &used) == 9 &&
          std::strlen(kTag) + static_cast<size_t>(used) == line.size()) {
        r.fitted = fitted != 0;
        found = r;
      }
    }
    at += std::strlen(kTag);
  }
  return found;
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

std::string CsvHeader() { return "seed,stuck,in_picture,launched,final_radius,gyration,dimension,dimension_error\n"; }

std::string CsvRow(const RunRecord& r) {
  char buf[300];
  int n = std::snprintf(buf, sizeof buf, "%" PRIu32 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%.1f,%.6f,", r.seed, r.stuck,
                        r.inPicture, r.launched, r.finalRadius, r.gyration);
  if (r.fitted) {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%.6f,%.6f\n", r.dimension, r.dimensionError);
  } else {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ",\n");
  }
  return buf;
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

std::string DescribeEnsemble(const std::vector<RunRecord>& runs) {
  std::vector<double> d, g;
  for (const RunRecord& r : runs) {
    g.push_back(r.gyration);
    if (r.fitted) d.push_back(r.dimension);
  }
  const Spread sd = SpreadOf(d), sg = SpreadOf(g);
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%zu runs: ", runs.size());
  if (sd.count > 0) {
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "D mean %.3f, SD %.3f, standard error %.3f",
                       sd.mean, sd.sd, sd.se);
    if (sd.count < static_cast<int>(runs.size()))
      n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " (of %d runs large enough)", sd.count);
  } else {
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "no run large enough for D");
  }
  std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n),
                "; radius of gyration mean %.2f, SD %.2f, standard error %.2f", sg.mean, sg.sd, sg.se);
  return buf;
}

}  // namespace io

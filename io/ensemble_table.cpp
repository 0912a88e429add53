#include "io/ensemble_table.h"

#include "io/growth.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string_view>

namespace io {

namespace {

// More seeds than any ensemble holds (--runs takes a million at most) are a
// damaged file, not work to do.
constexpr uint64_t kMostSeeds = 1000000;
constexpr size_t kMostRadii = 200;

// Tables before the growth columns are read too: their runs have none.
const char* const kOlderColumns = "seed,stuck,in_picture,launched,final_radius,gyration,dimension,dimension_error";
const char* const kColumns =
    "seed,stuck,in_picture,launched,final_radius,gyration,dimension,dimension_error,rg_curve,centre_profile";
const char* const kFields[] = {"seed",     "stuck",     "in_picture",      "launched", "final_radius",
                               "gyration", "dimension", "dimension_error", "rg_curve", "centre_profile"};
const char* const kProfileColumns = "r,runs,mean,sd,sum,sum_squares";

// A name shown in a message stays on its line.
std::string Shown(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

std::string Quoted(std::string_view v) {
  if (v.size() > 160) return "'" + Shown(std::string(v.substr(0, 160))) + "...'";
  return "'" + Shown(std::string(v)) + "'";
}

struct Lines {
  std::vector<std::string_view> lines;
  bool truncated = false;  // the last line has no line end
};

Lines Split(std::string_view text) {
  Lines out;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos) out.truncated = true;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> f;
  for (;;) {
    const size_t comma = line.find(',');
    f.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) return f;
    line = line.substr(comma + 1);
  }
}

template <class T>
bool Whole(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

bool Real(std::string_view s, double& out) {
  if (s.empty() || s.size() > 60 || s[0] == ' ' || s[0] == '+') return false;
  const std::string copy(s);
  char* end = nullptr;
  out = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && std::isfinite(out);
}

struct Reader {
  std::string name;
  std::string error;
  bool Fail(size_t line, std::string_view field, const std::string& why) {
    error = Shown(name) + ":" + std::to_string(line) + ": " + std::string(field) + ": " + why;
    return false;
  }
};

struct Seen {
  std::string file;
  size_t line;
};

struct TableRow {
  RunRecord record;
  size_t line;
};

// "# ensemble first F runs N ...": the words in pairs, those not known
// skipped, so that a later field leaves older checks as they were.
bool ReadEnsemble(Reader& rd, size_t line, std::string_view text, EnsembleRange& range) {
  if (!text.starts_with(kEnsembleMark)) return rd.Fail(line, "ensemble", "missing (its first seed and runs)");
  std::vector<std::string_view> words;
  for (std::string_view rest = text.substr(std::string_view(kEnsembleMark).size()); !rest.empty();) {
    const size_t space = rest.find(' ');
    words.push_back(rest.substr(0, space));
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  }
  bool first = false, runs = false;
  for (size_t i = 0; i + 1 < words.size(); i += 2) {
    if (words[i] == "first") first = Whole(words[i + 1], range.first);
    if (words[i] == "runs") runs = Whole(words[i + 1], range.runs) && range.runs > 0 && range.runs <= kMostSeeds;
  }
  if (!first || !runs) return rd.Fail(line, "ensemble", "not a first seed and runs: " + Quoted(text));
  return true;
}

// The figure that about gives for name ("particles 300" in "...; particles
// 300; ..."), or "" when it gives none.
std::string_view AboutField(std::string_view about, std::string_view name) {
  for (std::string_view rest = about; !rest.empty();) {
    const size_t semi = rest.find("; ");
    const std::string_view field = rest.substr(0, semi);
    if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == ' ')
      return field.substr(name.size() + 1);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 2);
  }
  return {};
}

bool ReadTable(Reader& rd, const Lines& text, std::string& about, EnsembleRange& range, std::vector<TableRow>& rows) {
  const auto& l = text.lines;
  if (l.size() < 2 || !l[1].starts_with("# ")) return rd.Fail(2, "parameters", "missing");
  about = l[1].substr(2);
  if (!ReadEnsemble(rd, 3, l.size() < 3 ? std::string_view() : l[2], range)) return false;
  if (l.size() < 4 || (l[3] != kColumns && l[3] != kOlderColumns))
    return rd.Fail(4, "columns", "not " + std::string(kColumns));
  const size_t columns = l[3] == kColumns ? 10 : 8;
  // A file that ends inside its heading was cut short too.
  if (text.truncated && l.size() == 4) return rd.Fail(4, "columns", "cut short (no line end)");
  // A run stops at its particle count, or before it at a time or a radius.
  uint64_t particles = 0;
  const bool counted = Whole(AboutField(about, "particles"), particles);
  const bool onlyCounted = counted && AboutField(about, "seconds") == "none" && AboutField(about, "radius") == "none";
  for (size_t i = 4; i < l.size(); ++i) {
    const size_t line = i + 1;
    if (text.truncated && i + 1 == l.size()) return rd.Fail(line, "row", "cut short (no line end)");
    const std::vector<std::string_view> f = Fields(l[i]);
    if (f.size() != columns)
      return rd.Fail(line, "row", std::to_string(f.size()) + " fields, not " + std::to_string(columns));
    RunRecord r;
    if (!Whole(f[0], r.seed)) return rd.Fail(line, kFields[0], "not a seed: " + Quoted(f[0]));
    if (range.Place(r.seed) == range.runs)
      return rd.Fail(line, kFields[0], std::to_string(r.seed) + " is not one of the ensemble's seeds " + DescribeRange(range));
    uint64_t* counts[] = {&r.stuck, &r.inPicture, &r.launched};
    for (int k = 0; k < 3; ++k)
      if (!Whole(f[1 + k], *counts[k])) return rd.Fail(line, kFields[1 + k], "not a count: " + Quoted(f[1 + k]));
    if (counted && (onlyCounted ? r.stuck != particles : r.stuck > particles))
      return rd.Fail(line, kFields[1], Quoted(f[1]) + " where the parameters say particles " + std::to_string(particles));
    if (r.inPicture > r.stuck) return rd.Fail(line, kFields[2], Quoted(f[2]) + " is more than the particles stuck");
    if (r.launched < r.stuck) return rd.Fail(line, kFields[3], Quoted(f[3]) + " is fewer than the particles stuck");
    if (!Real(f[4], r.finalRadius) || r.finalRadius < 0)
      return rd.Fail(line, kFields[4], "not a radius: " + Quoted(f[4]));
    if (!Real(f[5], r.gyration) || r.gyration < 0) return rd.Fail(line, kFields[5], "not a radius: " + Quoted(f[5]));
    r.fitted = !f[6].empty() || !f[7].empty();
    if (r.fitted) {
      // A mass dimension in the plane lies between 0 and 2, give or take a
      // fit's error on a small aggregate.
      if (!Real(f[6], r.dimension) || !(r.dimension > 0) || r.dimension > 3)
        return rd.Fail(line, kFields[6], "not a dimension in the plane: " + Quoted(f[6]));
      if (!Real(f[7], r.dimensionError) || r.dimensionError < 0)
        return rd.Fail(line, kFields[7], "not an error: " + Quoted(f[7]));
    }
    if (columns == 10 && (!f[8].empty() || !f[9].empty())) {
      GrowthCurve curve;
      RadialProfile profile;
      if (const std::string why = ParseCurveField(f[8], curve); !why.empty()) return rd.Fail(line, kFields[8], why);
      // The curve ends at the run's whole cluster: its seed and the particles stuck.
      if (curve.back().n != r.stuck + 1)
        return rd.Fail(line, kFields[8], "ends at N " + std::to_string(curve.back().n) + ", not the seed and " +
                                             std::to_string(r.stuck) + " particles stuck");
      if (const std::string why = ParseProfileField(f[9], profile); !why.empty()) return rd.Fail(line, kFields[9], why);
      if (profile.back() != r.stuck + 1)
        return rd.Fail(line, kFields[9], "holds " + std::to_string(profile.back()) + " particles, not the seed and " +
                                             std::to_string(r.stuck) + " stuck");
      r.curve = f[8];
      r.centreProfile = f[9];
    }
    rows.push_back({r, line});
  }
  return true;
}

bool ReadSeeds(Reader& rd, std::string_view ranges, const EnsembleRange& range, std::vector<uint32_t>& seeds) {
  if (ranges.empty()) return true;
  int64_t last = -1;
  for (std::string_view part : Fields(ranges)) {
    const size_t dash = part.find('-');
    uint32_t a = 0, b = 0;
    if (!Whole(part.substr(0, dash), a) || (dash != std::string_view::npos && !Whole(part.substr(dash + 1), b)))
      return rd.Fail(4, "seeds", "not a seed or a range: " + Quoted(part));
    if (dash == std::string_view::npos) b = a;
    if (b < a || static_cast<int64_t>(a) <= last) return rd.Fail(4, "seeds", "not in ascending order: " + Quoted(part));
    if (seeds.size() + (static_cast<uint64_t>(b) - a + 1) > kMostSeeds) return rd.Fail(4, "seeds", "too many");
    for (uint64_t s = a; s <= b; ++s) {
      if (range.Place(static_cast<uint32_t>(s)) == range.runs)
        return rd.Fail(4, "seeds", std::to_string(s) + " is not one of the ensemble's seeds " + DescribeRange(range));
      seeds.push_back(static_cast<uint32_t>(s));
    }
    last = b;
  }
  return true;
}

bool ReadProfile(Reader& rd, const Lines& text, std::string& about, EnsembleRange& range,
                 std::vector<uint32_t>& seeds, EnsembleProfile& p) {
  const auto& l = text.lines;
  if (l.size() < 2 || !l[1].starts_with("# ")) return rd.Fail(2, "parameters", "missing");
  about = l[1].substr(2);
  if (!ReadEnsemble(rd, 3, l.size() < 3 ? std::string_view() : l[2], range)) return false;
  if (l.size() < 4 || !l[3].starts_with("# seeds ")) return rd.Fail(4, "seeds", "missing");
  if (!ReadSeeds(rd, l[3].substr(8), range, seeds)) return false;
  if (l.size() < 5 || !l[4].starts_with("# farthest ") || !Real(l[4].substr(11), p.farthest) || p.farthest < 0)
    return rd.Fail(5, "farthest", "missing or not a radius");
  if (l.size() < 6 || l[5] != kProfileColumns) return rd.Fail(6, "columns", "not " + std::string(kProfileColumns));
  if (text.truncated && l.size() == 6) return rd.Fail(6, "columns", "cut short (no line end)");
  p.runs = seeds.size();
  for (size_t i = 6; i < l.size(); ++i) {
    const size_t line = i + 1, at = i - 6;
    if (text.truncated && i + 1 == l.size()) return rd.Fail(line, "row", "cut short (no line end)");
    if (at >= kMostRadii) return rd.Fail(line, "r", "more radii than any screen holds");
    const std::vector<std::string_view> f = Fields(l[i]);
    if (f.size() != 6) return rd.Fail(line, "row", std::to_string(f.size()) + " fields, not 6");
    uint64_t runs = 0, sum = 0, squares = 0;
    if (!Whole(f[1], runs) || runs != p.runs)
      return rd.Fail(line, "runs", Quoted(f[1]) + " where the seeds are " + std::to_string(p.runs));
    if (!Whole(f[4], sum)) return rd.Fail(line, "sum", "not a count: " + Quoted(f[4]));
    if (!Whole(f[5], squares)) return rd.Fail(line, "sum_squares", "not a count: " + Quoted(f[5]));
    if (!p.sum.empty() && (sum < p.sum.back() || squares < p.sumSquares.back()))
      return rd.Fail(line, "sum", "smaller than at the radius before");
    // Every figure as this program writes it from the sums: the radii are
    // the ensembles' shared ones, the mean and spread follow from the sums.
    const std::string row = ProfileRow(at, runs, sum, squares);
    const std::vector<std::string_view> want = Fields(std::string_view(row).substr(0, row.size() - 1));
    if (f[0] != want[0]) return rd.Fail(line, "r", Quoted(f[0]) + " where the profiles' radii have " + std::string(want[0]));
    if (f[2] != want[2]) return rd.Fail(line, "mean", Quoted(f[2]) + " is not sum / runs");
    if (f[3] != want[3]) return rd.Fail(line, "sd", Quoted(f[3]) + " does not follow from the sums");
    p.sum.push_back(sum);
    p.sumSquares.push_back(squares);
  }
  if (p.runs > 0 && p.sum.empty()) return rd.Fail(l.size() + 1, "row", "no radii");
  // Every run's rows reach its farthest pixel, so the nearest of them lies
  // within the last radius.
  if (!p.sum.empty() && p.farthest > GridRadius(p.sum.size() - 1))
    return rd.Fail(5, "farthest", "beyond the last radius, " + std::to_string(GridRadius(p.sum.size() - 1)));
  return true;
}

}  // namespace

std::string MergeEnsembles(const std::vector<MergeInput>& files, Merged& out) {
  out = Merged{};
  std::string aboutFrom;
  std::map<uint32_t, Seen> tableSeeds, profileSeeds;
  std::vector<RunRecord> records;
  bool anyTable = false;
  for (const MergeInput& file : files) {
    Reader rd{file.name, {}};
    const Lines text = Split(file.text);
    std::string about;
    EnsembleRange range;
    const std::string_view first = text.lines.empty() ? std::string_view() : text.lines[0];
    const bool table = first == kTableMark;
    if (!table && first != kProfileMark)
      return Shown(file.name) + ":1: kind: neither an aggsim ensemble table nor its profile";
    std::vector<TableRow> rows;
    std::vector<uint32_t> seeds;
    EnsembleProfile profile;
    if (table ? !ReadTable(rd, text, about, range, rows) : !ReadProfile(rd, text, about, range, seeds, profile))
      return rd.error;
    if (aboutFrom.empty()) {
      out.about = about;
      out.range = range;
      aboutFrom = file.name;
    } else if (about != out.about) {
      return Shown(file.name) + ":2: parameters: " + Quoted(about) + " differ from " + Shown(aboutFrom) + "'s " +
             Quoted(out.about);
    } else if (!(range == out.range)) {
      return Shown(file.name) + ":3: ensemble: " + Quoted(EnsembleLine(range).substr(2)) + " is not " +
             Shown(aboutFrom) + "'s " + Quoted(EnsembleLine(out.range).substr(2));
    }
    if (table) {
      anyTable = true;
      for (const TableRow& row : rows) {
        const auto [it, fresh] = tableSeeds.emplace(row.record.seed, Seen{file.name, row.line});
        if (!fresh)
          return Shown(file.name) + ":" + std::to_string(row.line) + ": seed: " + std::to_string(row.record.seed) +
                 " given twice, also in " + Shown(it->second.file) + " line " + std::to_string(it->second.line);
        records.push_back(row.record);
      }
    } else {
      if (profileSeeds.size() + seeds.size() > kMostSeeds)
        return Shown(file.name) + ":4: seeds: more than an ensemble holds (" + std::to_string(kMostSeeds) + ")";
      for (uint32_t s : seeds) {
        const auto [it, fresh] = profileSeeds.emplace(s, Seen{file.name, 4});
        if (!fresh)
          return Shown(file.name) + ":4: seeds: " + std::to_string(s) + " given twice, also in " +
                 Shown(it->second.file);
      }
      if (!out.profile.Add(profile)) return Shown(file.name) + ":7: sum: too large to add";
      out.profiled = true;
    }
  }
  if (!anyTable) return "no table among the files to merge: the runs' lines come from the tables";
  if (out.profiled) {
    // The profiles must be those of the very runs in the tables.
    for (const auto& [seed, seen] : profileSeeds)
      if (!tableSeeds.count(seed))
        return Shown(seen.file) + ":4: seeds: " + std::to_string(seed) + " is in no table given";
    for (const auto& [seed, seen] : tableSeeds)
      if (!profileSeeds.count(seed))
        return Shown(seen.file) + ":" + std::to_string(seen.line) + ": seed: " + std::to_string(seed) +
               " is in no profile given";
    // Past its farthest pixel a run's profile holds every pixel of its
    // picture: the seed's, when it shows, and those the table counts.
    uint64_t least = 0;
    for (const RunRecord& r : records) least += r.inPicture;
    const uint64_t whole = out.profile.sum.empty() ? 0 : out.profile.sum.back();
    if (whole < least || whole - least > records.size())
      return "the profiles' whole count, " + std::to_string(whole) + ", is not the tables' pixels in the picture, " +
             std::to_string(least) + " (one more a run at most)";
  }
  const EnsembleRange range = out.range;
  std::sort(records.begin(), records.end(),
            [&](const RunRecord& a, const RunRecord& b) { return range.Place(a.seed) < range.Place(b.seed); });
  out.records = std::move(records);
  for (const RunRecord& r : out.records) out.seeds.push_back(r.seed);
  return {};
}

std::string MissingSeeds(const EnsembleRange& range, const std::vector<uint32_t>& seeds) {
  std::vector<bool> held(range.runs, false);
  for (uint32_t s : seeds)
    if (range.Place(s) < range.runs) held[range.Place(s)] = true;
  std::string out;
  for (uint32_t i = 0; i < range.runs;) {
    if (held[i]) {
      ++i;
      continue;
    }
    // A gap, cut where the seeds wrap round, so that each range ascends.
    uint32_t j = i;
    while (j + 1 < range.runs && !held[j + 1] && range.Seed(j + 1) != 0) ++j;
    out += (out.empty() ? "" : ",") + std::to_string(range.Seed(i)) + (j > i ? "-" + std::to_string(range.Seed(j)) : "");
    i = j + 1;
  }
  return out;
}

}  // namespace io

// The ensemble table reader and merge on any files: each input either
// merges or is refused with one line, never crashing or hanging; what
// merges, written back and merged again, gives the same runs and sums.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/ensemble.h"
#include "io/ensemble_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The files: the input split at zero bytes.
  std::vector<io::MergeInput> files(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      files.push_back({});
    } else {
      files.back().text.push_back(static_cast<char>(data[i]));
    }
  }
  for (size_t i = 0; i < files.size(); ++i) files[i].name = "f" + std::to_string(i);

  io::Merged merged;
  const std::string error = io::MergeEnsembles(files, merged);
  if (!error.empty()) {
    if (error.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  size_t rows = 0;
  for (const io::MergeInput& f : files)
    if (f.text.starts_with(io::kTableMark))
      for (char c : f.text) rows += c == '\n';
  // Each table holds four heading lines before its rows.
  size_t tables = 0;
  for (const io::MergeInput& f : files) tables += f.text.starts_with(io::kTableMark);
  if (merged.records.size() != rows - 4 * tables) std::abort();
  for (size_t i = 1; i < merged.records.size(); ++i)
    if (merged.range.Place(merged.records[i - 1].seed) >= merged.range.Place(merged.records[i].seed)) std::abort();

  std::string table = io::CsvHeader(merged.about, merged.range);
  for (const io::RunRecord& r : merged.records) table += io::CsvRow(r);
  std::vector<io::MergeInput> again{{"table", table}};
  if (merged.profiled) again.push_back({"profile", io::EnsembleProfileText(merged.profile, merged.about, merged.range, merged.seeds)});
  io::Merged back;
  if (!io::MergeEnsembles(again, back).empty()) std::abort();
  if (back.seeds != merged.seeds || back.profiled != merged.profiled || back.profile.sum != merged.profile.sum ||
      back.profile.sumSquares != merged.profile.sumSquares || back.profile.runs != merged.profile.runs)
    std::abort();
  for (size_t i = 0; i < back.records.size(); ++i)
    if (io::CsvRow(back.records[i]) != io::CsvRow(merged.records[i])) std::abort();
  return 0;
}

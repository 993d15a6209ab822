// The check of an image against a planned folder: every structure of every file system
// the plan has must read back clean, every planned entry must be in each of them under
// its name and of its kind, every file with exactly its source bytes, and nothing more.
// Files are matched by name in the image's own trees, never by planned sector, so an
// image made by another tool is checked as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/image_source.h"
#include "verify/planned_disc.h"

namespace vellumcast {

// Differences kept as text; the rest are only counted.
constexpr size_t kShownDifferences = 20;

struct CheckOutcome {
  std::vector<std::string>
      differences;  // "<path in the image>: <what differs>" or a structure's problem
  uint64_t moreDifferences = 0;
  std::vector<std::string> notices;  // what the check could only do another way, for the user
  std::string fileSystems;  // the file systems checked: "ISO 9660, Rock Ridge and UDF 1.02"
  uint32_t files = 0;       // planned files (each counted once)
  uint64_t bytes = 0;       // their bytes

  void Add(std::string text) {
    if (differences.size() < kShownDifferences) {
      differences.push_back(std::move(text));
    } else {
      ++moreDifferences;
    }
  }
  bool Matches() const { return differences.empty() && moreDifferences == 0; }
};

// Progress of the byte comparison: (bytes compared, bytes to compare, context); false
// stops the check.
using CheckProgressFn = bool (*)(uint64_t done, uint64_t total, void* context);

// Checks `image` against `disc`. False only when the check was stopped by `progress` or
// its buffers could not be had (then `outcome` is incomplete); every difference found
// is in `outcome`. The image is read once in order of its sectors, each source file
// once, on a second thread at the same time.
[[nodiscard]] bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome,
                              CheckProgressFn progress = nullptr, void* context = nullptr);

}  // namespace vellumcast

// Refusals and the printed outcome of -verify and -compare.
#include "frontend/check_report.h"

#include "frontend/console_texts.h"
#include "platform/path_kinds.h"

namespace vellumcast {

const char* RefusedCheck(const CommandLine& line, bool streaming) {
  if (line.compareImage) {
    if (line.target || line.sizeOnly || line.verify) return console::kCompareRefused;
    if (line.compareImage->empty()) return console::kCompareNoImage;
    return nullptr;
  }
  if (line.verify && (streaming || line.sizeOnly)) return console::kVerifyRefused;
  // A character device or a pipe cannot give the image back: refused before writing.
  if (line.verify && line.target && IsCharacterDeviceOrPipe(line.target->c_str())) {
    return console::kVerifyUnreadable;
  }
  return nullptr;
}

int PrintCheckOutcome(const CheckOutcome& outcome, FILE* console, const std::string& image,
                      bool verifying) {
  for (const std::string& notice : outcome.notices) {
    std::fprintf(stderr, "%s%s\n", console::kWarningPrefix, notice.c_str());
  }
  if (outcome.Matches()) {
    if (!console) return 0;  // -quiet: nothing on success
    std::fprintf(console, console::kVerified, outcome.files,
                 static_cast<unsigned long long>(outcome.bytes), outcome.fileSystems.c_str());
    return 0;
  }
  if (console) std::fflush(console);
  for (const std::string& difference : outcome.differences) {
    std::fprintf(stderr, "%s%s\n", console::kErrorPrefix, difference.c_str());
  }
  if (outcome.moreDifferences) {
    std::fprintf(stderr, console::kMoreDifferences,
                 static_cast<unsigned long long>(outcome.moreDifferences));
  }
  std::fprintf(stderr, verifying ? console::kVerifyKept : console::kCompareDiffers, image.c_str());
  std::fflush(stderr);
  return 1;
}

}  // namespace vellumcast

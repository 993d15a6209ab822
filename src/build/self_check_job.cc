// Opening the image of -check and running the checksum check over it.
#include "build/self_check_job.h"

#include "platform/paths.h"
#include "reader/image_survey.h"

namespace vellumcast {
namespace {

bool OpenImage(const std::u16string& image, ImageSource& source) {
  if (!source.Open(HostPath(image))) return false;
  if (source.IsDevice()) {
    const uint64_t sectors = RecordedSectors(source);
    if (sectors > 0) source.LimitTo(sectors * kImageSectorSize);
  }
  return true;
}

}  // namespace

bool CheckImageByItself(const std::u16string& image, CheckOutcome& outcome, SumCheck& sums,
                        std::string& error, CheckProgressFn progress, void* context) {
  ImageSource source;
  if (!OpenImage(image, source)) {
    error = source.error;
    return false;
  }
  if (CheckImageChecksums(source, outcome, sums, progress, context)) return true;
  error = "the check was stopped or ran out of memory";
  return false;
}

bool ImageHasChecksumList(const std::u16string& image) {
  ImageSource source;
  return OpenImage(image, source) && HasChecksumList(source);
}

}  // namespace vellumcast

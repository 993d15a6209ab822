// The check phase: plan the disc from the builder's tree, open the image, check it.
#include "build/image_check_job.h"

#include "base/disc_constants.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "reader/image_survey.h"
#include "verify/planned_disc.h"

namespace vellumcast {
namespace {

// The check's bytes as 2048-byte sectors for the job's progress.
bool ReportCheckProgress(uint64_t done, uint64_t total, void* context) {
  auto* job = static_cast<BuildJob*>(context);
  if (job->StopRequested()) return false;
  if (job->options.checkProgress) {
    job->options.checkProgress(uint32_t((done + kSectorSize - 1) / kSectorSize),
                               uint32_t((total + kSectorSize - 1) / kSectorSize));
  }
  return true;
}

}  // namespace

bool ChoiceOfImage(const std::u16string& image, FileSystemChoice& choice, std::string& error) {
  ImageSource source;
  if (!source.Open(HostPath(image))) {
    error = source.error;
    return false;
  }
  const ImageFileSystems found = SurveyImage(source);
  if (!found.iso9660 && !found.udf) {
    error = Utf16ToUtf8(image) + " carries neither an ISO 9660 nor a UDF file system";
    return false;
  }
  if (!found.udf) {
    choice = FileSystemChoice::Iso9660;
  } else if (found.iso9660) {
    choice = FileSystemChoice::Iso9660Udf102;
  } else {
    choice = found.udfRevision == 0x0102 ? FileSystemChoice::Udf102 : FileSystemChoice::Default;
  }
  return true;
}

bool CheckPlannedImage(BuildJob* job, ImageBuilder& builder, const std::u16string& image,
                       bool fromStorage) {
  ImageSource source;
  if (!source.Open(HostPath(image))) return builder.log.Fail(source.error);
  if (fromStorage && !source.FlushAndDropCache()) return builder.log.Fail(source.error);
  // A device goes on past the image (a larger partition, a disc's run-out sectors): the
  // image ends where it was planned to, or, for a disc compared later, where its own
  // descriptors say.
  if (source.IsDevice()) {
    const uint64_t sectors =
        fromStorage ? uint64_t(builder.plan.volumeSectors) : RecordedSectors(source);
    if (sectors > 0) source.LimitTo(sectors * kImageSectorSize);
  }
  DiscNaming naming;
  naming.iso9660 = builder.settings.WritesIso9660();
  naming.udf = builder.settings.WritesUdf();
  naming.udfRevision = builder.settings.udfRevision;
  naming.eightBitUdfNames = builder.tree.dvdVideoMode != 0;
  naming.rockRidge = builder.settings.rockRidge;
  naming.joliet = builder.settings.joliet;
  PlannedDisc disc;
  PlanDisc(*builder.tree.root, naming, disc);
  disc.boot = ExpectedBoot(builder.settings, builder.tree);
  if (!CheckImage(source, disc, job->check, ReportCheckProgress, job)) {
    return builder.log.Fail(job->StopRequested() ? "the check was stopped"
                                                 : "out of memory while checking the image");
  }
  job->checked = true;
  return true;
}

}  // namespace vellumcast

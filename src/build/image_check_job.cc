// The check phase: plan the disc from the builder's tree, open the image, check it.
#include "build/image_check_job.h"

#include "base/disc_constants.h"
#include "layout/volume_time.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "reader/image_survey.h"
#include "verify/checksum_check.h"
#include "verify/identity_check.h"
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

RecordedBuild RecordedBuildOf(const std::u16string& image) {
  ImageSource source;
  if (!source.Open(HostPath(image))) return {};
  return ReadRecordedBuild(source);
}

void AdoptRecordedBuildTime(ImageBuilder& builder, const RecordedBuild& recorded, bool& ambiguous) {
  ambiguous = false;
  if (!recorded.haveTime) return;
  // Local time with its offset is a build by the clock. UTC is a fixed build time or a
  // build by the clock on a machine in UTC: the plan is made as the clock's (a fixed time
  // would change the folder's attributes in the plan) and the check decides by the
  // image's Rock Ridge attributes.
  builder.settings.buildTime = recorded.time;
  MakeUdfTimestamp(recorded.time, builder.settings.buildTimeStamp);
  ambiguous = recorded.offsetMinutes == 0;
}

bool ChoiceOfImage(const std::u16string& image, FileSystemChoice& choice, std::string& error) {
  ImageSource source;
  if (!source.Open(HostPath(image))) {
    error = source.error;
    return false;
  }
  const ImageFileSystems found = SurveyImage(source);
  if (!found.iso9660 && !found.udf) {
    error = Utf16ToUtf8(image) + (found.udfUnreadable
                                      ? ": " + found.UnreadableUdf()
                                      : " carries neither an ISO 9660 nor a UDF file system");
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

namespace {

// The image's checksum list against its files (their bytes were just compared with the
// folder): every listed digest must be the digest of the file's bytes, and every file
// listed. The structures were already checked, so only what the list adds is reported.
bool CheckListedDigests(BuildJob* job, ImageSource& source) {
  CheckOutcome listed;
  SumCheck sums;
  sums.reportStructures = false;
  if (!CheckImageChecksums(source, listed, sums)) return false;
  if (!sums.listFound) job->check.Add("the image has no SHA256SUMS at its root");
  for (std::string& difference : listed.differences) job->check.Add(std::move(difference));
  job->check.moreDifferences += listed.moreDifferences;
  return true;
}

}  // namespace

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
  // A comparison that follows the image takes any UDF revision the reader can read.
  naming.udfRevision = job->choiceOfImage ? 0 : builder.settings.udfRevision;
  naming.eightBitUdfNames = builder.tree.dvdVideoMode != 0;
  naming.rockRidge = builder.settings.rockRidge;
  naming.joliet = builder.settings.joliet;
  naming.written = fromStorage;
  // The label as given; a comparison given none takes the one the image carries.
  naming.label = !job->volumeLabel.empty() ? job->volumeLabel
                 : fromStorage             ? std::u16string(kDefaultVolumeLabel)
                                           : std::u16string();
  PlannedDisc disc;
  PlanDisc(*builder.tree.root, naming, disc);
  disc.boot = ExpectedBoot(builder.settings, builder.tree);
  disc.metadata.buildTime = builder.settings.buildTime;
  disc.metadata.fixed = builder.settings.datesInUtc;
  disc.metadata.fixedKnown = !job->recordedTimeAmbiguous;
  disc.metadata.udfRevision = builder.settings.udfRevision;
  disc.metadata.udfPosix = builder.settings.rockRidge && builder.settings.WritesUdf();
  if (!CheckImage(source, disc, job->check, ReportCheckProgress, job)) {
    return builder.log.Fail(job->StopRequested() ? "the check was stopped"
                                                 : "out of memory while checking the image");
  }
  CheckVolumeIdentity(source, builder.settings, job->check);
  if (builder.tree.checksumList && !CheckListedDigests(job, source)) {
    return builder.log.Fail(job->StopRequested() ? "the check was stopped"
                                                 : "out of memory while checking the image");
  }
  job->checked = true;
  return true;
}

}  // namespace vellumcast

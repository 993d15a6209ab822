// The build entry and the build driver.
#include "build/build_job.h"

#include <cstring>

#include "bluray/bdmv_analysis.h"
#include "build/image_check_job.h"
#include "build/self_check_job.h"
#include "layout/layout_plan.h"
#include "layout/media_capacities.h"
#include "layout/volume_identity.h"
#include "layout/volume_label.h"
#include "platform/free_space.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/source_file.h"
#include "platform/text.h"
#include "tree/dvd_video_folders.h"

namespace vellumcast {
namespace {

// The job keeps at most 255 UTF-16 units of the label: its field holds them and a terminator.
constexpr size_t kLabelUnits = 255;
constexpr const char* kStoppedMessage = "the build was stopped";

void CopyIdentifier(char (&field)[23], const char* id) {
  std::memset(field, 0, sizeof field);
  if (id) std::strncpy(field, id, 22);  // the 23rd byte stays zero
}

struct ChoiceConfiguration {
  uint32_t formatFlags;
  uint16_t udfRevision;  // 0: the builder's default stays
  bool analyzeBluray;
};

bool ConfigurationFor(FileSystemChoice choice, ChoiceConfiguration& out) {
  switch (choice) {
    case FileSystemChoice::Iso9660: out = {FormatIso9660, 0, false}; return true;
    case FileSystemChoice::Iso9660Udf102:
      out = {FormatIso9660 | FormatUdf, 0x0102, false};
      return true;
    case FileSystemChoice::Default: out = {FormatUdf, 0x0250, true}; return true;
    case FileSystemChoice::Udf102: out = {FormatUdf, 0x0102, false}; return true;
    case FileSystemChoice::Udf250: out = {FormatUdf, 0x0250, false}; return true;
    case FileSystemChoice::OfImage: break;
  }
  return false;
}

}  // namespace

std::string IsoExtensionsRefused(const BuildOptions& options, FileSystemChoice choice) {
  ChoiceConfiguration config;
  if (!ConfigurationFor(choice, config)) return {};
  ImageSettings settings;
  settings.formatFlags = config.formatFlags;
  settings.rockRidge = options.rockRidge;
  settings.joliet = options.joliet;
  settings.boot = options.boot;
  return IsoExtensionsRefused(settings);
}

namespace {

// The boot code of --hybrid-mbr: the first 432 bytes of the file (an MBR image of 512
// bytes, or the boot code alone); its own partition table is never used.
bool ReadHybridBootCode(BootSettings& boot, Diagnostics& log) {
  if (boot.mbrFile.empty()) return true;
  const std::string shown = Utf16ToUtf8(boot.mbrFile);
  SourceFile file;
  size_t got = 0;
  if (!file.Open(HostPath(boot.mbrFile)) ||
      !file.Read(boot.mbrCode.data(), boot.mbrCode.size(), got)) {
    return log.Fail("cannot read the MBR boot code " + shown + ": " + file.error);
  }
  if (got < boot.mbrCode.size()) {
    return log.Fail("the MBR boot code " + shown + " has fewer than " +
                    std::to_string(kMbrBootCodeBytes) + " bytes");
  }
  boot.mbrCodeGiven = true;
  return true;
}

// A folder that holds DVD-Video: without a named file system it is written as ISO 9660 +
// UDF 1.02 under the DVD-Video rules, which players read; a named file system that DVD
// players cannot read draws a warning. A comparison keeps its choice.
void ApplyDvdVideoChoice(BuildJob* job) {
  if (!job->options.compareImage.empty() || job->choice == FileSystemChoice::Iso9660Udf102 ||
      job->sourcePath.empty() || !HoldsDvdVideo(HostPath(job->sourcePath))) {
    return;
  }
  if (job->choice == FileSystemChoice::Default) {
    job->choice = FileSystemChoice::Iso9660Udf102;
    if (job->options.notice) {
      job->options.notice(
          "DVD-Video folder (VIDEO_TS): written as ISO 9660 + UDF 1.02 "
          "with the DVD-Video layout");
    }
  } else if (job->warningCallback) {
    job->warningCallback(
        "the folder holds DVD-Video (VIDEO_TS), which DVD players read only "
        "from ISO 9660 + UDF 1.02: use -filesystem DVD",
        nullptr);
  }
}

// The target must offer room for the whole image before the first byte is written: the
// free space of its file system, or the size of a block device.
bool EnoughRoom(const BuildJob* job, ImageBuilder& builder) {
  if (IsStandardOutputTarget(job->targetPath)) return true;
  const uint64_t needed = uint64_t(builder.plan.volumeSectors) * kSectorSize;
  uint64_t room = 0;
  std::string where;
  bool device = false;
  if (!RoomForTarget(HostPath(job->targetPath), room, where, device) || room >= needed) {
    return true;
  }
  return builder.log.Fail("the image needs " + GroupedDigits(needed) + " bytes; " + where +
                          (device ? " holds " + GroupedDigits(room) + " bytes"
                                  : " has " + GroupedDigits(room) + " free"));
}

// Runs the phases up to and including the write; false at the first failure.
bool RunPhases(BuildJob* job, ImageBuilder& builder, const ChoiceConfiguration& config) {
  if (job->options.verify && (job->options.planOnly || IsStandardOutputTarget(job->targetPath))) {
    return builder.log.Fail(
        "an image can only be verified when it is written to a file or a device");
  }
  if (config.analyzeBluray) {
    auto plan = std::make_unique<StereoPlan>();
    std::string reason;
    if (AnalyzeBdmvFolder(job->sourcePath.c_str(), *plan, reason)) {
      builder.tree.stereoPlan = std::move(plan);
    } else if (!reason.empty()) {
      builder.log.Warn(StereoLayoutNotApplied(reason));
    }
  }
  if (job->firstIdentifier[0]) builder.SetImplementationId(job->firstIdentifier);
  if (job->secondIdentifier[0]) builder.SetApplicationId(job->secondIdentifier);
  builder.SetVolumeLabel(job->volumeLabel.c_str());
  const std::string labelCut = LabelFitWarning(builder.settings, job->labelUnits);
  if (!labelCut.empty()) builder.log.Warn(labelCut);
  builder.settings.identity = job->options.identity;
  for (const std::string& cut : IdentityFitWarnings(builder.settings)) builder.log.Warn(cut);
  for (const std::u16string& pattern : job->options.excludes) {
    builder.tree.excludePatterns.push_back(Utf16ToUtf8(pattern));
  }
  // As typed: the scan finds it by identity and leaves it out of the tree (an image
  // compared with the folder is left out as one written there would be).
  const bool comparing = !job->options.compareImage.empty();
  if (comparing) {
    builder.tree.targetPath = job->options.compareImage;
  } else if (!IsStandardOutputTarget(job->targetPath)) {
    builder.tree.targetPath = job->targetPath;
  }

  builder.log.stopRequested = [](void* context) {
    return static_cast<BuildJob*>(context)->StopRequested();
  };
  builder.log.stopContext = job;

  if (!ReadHybridBootCode(builder.settings.boot, builder.log)) return false;
  if (!builder.ScanSourceTree(job->sourcePath.c_str())) return false;
  job->excluded = builder.tree.excluded;
  if (!builder.PlanLayout()) return false;
  job->volumeSectors = builder.plan.volumeSectors;
  if (job->StopRequested()) return builder.log.Fail(kStoppedMessage);
  if (job->options.planOnly) return true;
  if (comparing) return CheckPlannedImage(job, builder, job->options.compareImage, false);
  const Medium& largest = LargestMediumFor(builder.settings.formatFlags);
  if (uint32_t(builder.plan.volumeSectors) > largest.sectors) {
    builder.log.Warn("the image (" + std::to_string(builder.plan.volumeSectors) +
                     " sectors) is larger than a " + largest.name + " (" +
                     std::to_string(largest.sectors) + " sectors)");
  }
  if (!EnoughRoom(job, builder)) return false;
  job->state = JobWriting;
  if (!builder.WriteImage(job->targetPath.c_str(), ReportJobProgress, job)) return false;
  if (!job->options.verify) return true;
  if (job->options.imageWritten) job->options.imageWritten();
  return CheckPlannedImage(job, builder, job->targetPath, true);
}

}  // namespace

std::unique_ptr<BuildJob> StartImageBuild(const char16_t* source, const char16_t* label,
                                          FileSystemChoice choice, const char16_t* target,
                                          const char* firstIdentifier, const char* secondIdentifier,
                                          bool asynchronous, ProgressCallback progress,
                                          WarningFn warning, const BuildOptions& options) {
  auto job = std::make_unique<BuildJob>();
  job->sourcePath = CanonicalizeDirectoryPath(source ? source : u"");
  if (label) {
    job->volumeLabel = label;
    job->labelUnits = job->volumeLabel.size();
    job->volumeLabel.resize(HeadUnits(job->volumeLabel, kLabelUnits).size());
  }
  if (target) job->targetPath = target;
  job->choice = choice;
  CopyIdentifier(job->firstIdentifier, firstIdentifier);
  CopyIdentifier(job->secondIdentifier, secondIdentifier);
  job->progressCallback = progress;
  job->warningCallback = warning;
  job->options = options;
  if (asynchronous) {
    job->thread = std::thread(RunBuildJob, job.get());
  } else {
    RunBuildJob(job.get());
  }
  return job;
}

int RunBuildJob(BuildJob* job) {
  ChoiceConfiguration config;
  ApplyDvdVideoChoice(job);
  if (!job->options.compareImage.empty() && job->choice == FileSystemChoice::OfImage) {
    job->choiceOfImage = true;
    if (!ChoiceOfImage(job->options.compareImage, job->choice, job->errorMessage)) {
      job->state = JobFinished;
      return 0;
    }
  }
  if (!ConfigurationFor(job->choice, config)) {
    job->errorMessage = "unknown file system choice " + std::to_string(int(job->choice));
    return 0;  // no builder is made; the state stays 0
  }
  // A comparison reads the Rock Ridge names and the Joliet tree wherever the image has
  // them, and takes the build time it records.
  RecordedBuild recorded;
  bool listFromImage = false;
  if (!job->options.compareImage.empty()) {
    recorded = RecordedBuildOf(job->options.compareImage);
    const bool iso = config.formatFlags & FormatIso9660;
    job->options.rockRidge = job->options.rockRidge || (iso && recorded.rockRidge);
    job->options.joliet = job->options.joliet || (iso && recorded.joliet);
    listFromImage = !job->options.checksums && ImageHasChecksumList(job->options.compareImage);
    job->options.checksums = job->options.checksums || listFromImage;
  }
  job->errorMessage = IsoExtensionsRefused(job->options, job->choice);
  if (!job->errorMessage.empty()) return 0;
  if (job->sourcePath.empty()) {
    job->errorMessage = "the source path cannot be made canonical";
    return 0;
  }
  bool ok = false;
  {
    ImageBuilder builder;
    builder.log.warning = job->warningCallback;
    builder.Initialize();
    if (job->options.buildTime) {
      builder.FixBuildTime(*job->options.buildTime);
    } else if (!job->options.compareImage.empty()) {
      AdoptRecordedBuildTime(builder, recorded, job->recordedTimeAmbiguous);
    }
    builder.settings.formatFlags = config.formatFlags;
    builder.settings.rockRidge = job->options.rockRidge;
    builder.settings.joliet = job->options.joliet;
    builder.settings.boot = job->options.boot;
    builder.settings.checksums = job->options.checksums;
    builder.settings.checksumsFromImage = listFromImage;
    if (config.udfRevision) builder.settings.udfRevision = config.udfRevision;
    ok = RunPhases(job, builder, config);
    if (!ok) {
      job->errorMessage = builder.log.error.empty() ? kStoppedMessage : builder.log.error;
    }
    // The builder's destructor releases the tree and the stereoscopic plan, also when
    // a phase throws.
  }
  job->succeeded = ok;
  job->state = JobFinished;
  return 0;
}

bool ReportJobProgress(uint32_t done, uint32_t total, void* context) {
  auto* job = static_cast<BuildJob*>(context);
  if (job->StopRequested()) return false;
  job->state = JobWriting;
  job->done = done;
  job->total = total;
  if (job->progressCallback) job->progressCallback(done, total);
  return true;
}

}  // namespace vellumcast

// One image build request and the driver that runs its phases in order:
// configure, Blu-ray analysis, identifiers and label, scan, layout, then the write (and
// its check with -verify) or, for a comparison, the check alone; clean up.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "build/image_builder.h"
#include "verify/image_check.h"

namespace vellumcast {

// The file systems of an image as the user chooses them. The command line maps the user's
// names and numbers ("ISO9660", 0, CD, ...) to these in one table.
enum class FileSystemChoice : uint8_t {
  OfImage,        // a comparison only: the file systems the image carries
  Iso9660,        // ISO 9660 alone
  Iso9660Udf102,  // ISO 9660 + UDF 1.02 over one copy of the data (a bridge image)
  Default,        // UDF 2.50, with the stereoscopic Blu-ray layout when the folder holds one
  Udf102,         // UDF 1.02
  Udf250,         // UDF 2.50, every file recorded as it is
};

// Called with (sectors written so far, sectors in the image).
using ProgressCallback = void (*)(uint32_t done, uint32_t total);

enum JobState : int32_t {
  JobCreated = 0,   // configuration, analysis, scan and layout
  JobWriting = 3,   // from the start of writing and at every progress report
  JobFinished = 5,  // the writer has returned (or an earlier phase failed)
};

// Requests beyond the image itself.
struct BuildOptions {
  bool planOnly = false;             // stop after the layout: no target is opened
  std::optional<int64_t> buildTime;  // a fixed build time (seconds since 1970, UTC)
  // After the write, flush the image to the storage, drop its cached pages and check
  // it against the plan (a regular file or a block device only).
  bool verify = false;
  // Not empty: write nothing; plan the folder and check this image or device against
  // the plan. The choice FileSystemChoice::OfImage follows the file systems the image carries.
  std::u16string compareImage;
  ProgressCallback checkProgress = nullptr;  // (sectors compared, sectors to compare)
  void (*imageWritten)() = nullptr;          // the image is written; its check follows
  bool rockRidge = false;                    // Rock Ridge on the ISO 9660 tree
  bool joliet = false;                       // a Joliet tree beside it
  BootSettings boot;                         // El Torito entries and the hybrid system area
  // A SHA256SUMS file at the root (a comparison expects one when the image has one).
  bool checksums = false;
  std::vector<std::u16string> excludes;      // shell patterns of entries left out
  VolumeIdentity identity;                   // identifiers the user gives
  // Called with a line that says what the build chose by itself (the DVD-Video file
  // systems for a folder that holds VIDEO_TS). Null: not told.
  void (*notice)(const std::string& text) = nullptr;
  // A flag set from outside the build, such as by a signal handler: once it is non-zero
  // the build stops as on a cancel request. Null: none.
  const volatile std::sig_atomic_t* stopFlag = nullptr;
};

struct BuildJob {
  // Shared with an outside caller of an asynchronous build; each field is read and
  // written on its own, without locks.
  std::atomic<int32_t> state{JobCreated};
  std::atomic<uint32_t> done{0};
  std::atomic<uint32_t> total{0};
  std::atomic<uint8_t> cancelRequest{0};

  std::thread thread;  // the worker of an asynchronous build; empty otherwise
  ProgressCallback progressCallback = nullptr;
  WarningFn warningCallback = nullptr;  // called with (text, null) for every warning
  char firstIdentifier[23] = {};        // becomes the implementation identifier
  char secondIdentifier[23] = {};       // becomes the application identifier
  FileSystemChoice choice = FileSystemChoice::OfImage;
  std::u16string sourcePath;   // canonical, absolute, always ending in '/'
  std::u16string volumeLabel;  // at most 255 units; empty keeps the default label
  size_t labelUnits = 0;       // the label's length as given, before that cut
  std::u16string targetPath;
  BuildOptions options;

  // Outcome: set when the build has ended. A failed build records why. An outside
  // caller of an asynchronous build reads errorMessage only after joining the thread.
  std::atomic<bool> succeeded{false};
  std::string errorMessage;
  int32_t volumeSectors = 0;  // the planned image size, once the layout is done
  std::vector<std::string> excluded;  // paths below the source the excludes left out
  // The check of -verify or a comparison, once it has run (`checked`); the job then
  // succeeded even when the image differs: `check` says how.
  bool checked = false;
  CheckOutcome check;
  // A comparison's image recorded its build time in UTC on a machine in UTC: whether it
  // was a fixed build time is decided by its Rock Ridge attributes.
  bool recordedTimeAmbiguous = false;
  bool choiceOfImage = false;  // a comparison whose file systems follow the image's

  // A cancel request or the outside stop flag is set.
  bool StopRequested() const { return cancelRequest || (options.stopFlag && *options.stopFlag); }

  BuildJob() = default;
  BuildJob(const BuildJob&) = delete;
  BuildJob& operator=(const BuildJob&) = delete;
  ~BuildJob() {
    if (thread.joinable()) thread.join();
  }
};

// Records the request and runs the build on the calling thread, or, when
// `asynchronous`, on one new worker thread (the job then returns at once). The target
// "-" is standard output.
std::unique_ptr<BuildJob> StartImageBuild(const char16_t* source, const char16_t* label,
                                          FileSystemChoice choice, const char16_t* target,
                                          const char* firstIdentifier, const char* secondIdentifier,
                                          bool asynchronous, ProgressCallback progress,
                                          WarningFn warning = nullptr,
                                          const BuildOptions& options = {});

// Why Rock Ridge, Joliet or boot entries cannot be recorded with `choice` (a file system
// without ISO 9660), in the layout's words (IsoExtensionsRefused of layout_plan.h); empty
// when they can or are not asked for.
std::string IsoExtensionsRefused(const BuildOptions& options, FileSystemChoice choice);

// Runs the whole build; always returns 0. The outcome is in the job's fields.
int RunBuildJob(BuildJob* job);

// The writer's progress function for a job: false once a stop is requested.
bool ReportJobProgress(uint32_t done, uint32_t total, void* job);

}  // namespace vellumcast

// One image build request and the driver that runs its phases in order:
// configure, Blu-ray analysis, identifiers and label, scan, layout, write, clean up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "build/image_builder.h"

namespace vellumcast {

// The numeric file-system choice of the command line; 3 is the default.
using FileSystemChoice = int32_t;

// Called with (sectors written so far, sectors in the image).
using ProgressCallback = void (*)(uint32_t done, uint32_t total);

enum JobState : int32_t {
  JobCreated = 0,   // configuration, analysis, scan and layout
  JobWriting = 3,   // from the start of writing and at every progress report
  JobFinished = 5,  // the writer has returned (or an earlier phase failed)
};

// Requests beyond the image itself.
struct BuildOptions {
  bool planOnly = false;               // stop after the layout: no target is opened
  std::optional<int64_t> buildTime;    // a fixed build time (seconds since 1970, UTC)
  // Set from outside the build (a signal handler) to stop it like a cancel request: read
  // at every progress report. Null: none.
  const std::atomic<uint8_t>* stopRequest = nullptr;
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
  char firstIdentifier[23] = {};   // becomes the implementation identifier
  char secondIdentifier[23] = {};  // becomes the application identifier
  FileSystemChoice choice = 0;
  std::u16string sourcePath;  // canonical, absolute, always ending in '/'
  std::u16string volumeLabel;  // at most 255 units; empty keeps the default label
  std::u16string targetPath;
  BuildOptions options;

  // Outcome: set when the build has ended. A failed build records why. An outside
  // caller of an asynchronous build reads errorMessage only after joining the thread.
  std::atomic<bool> succeeded{false};
  std::string errorMessage;
  int32_t volumeSectors = 0;  // the planned image size, once the layout is done

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

// Runs the whole build; always returns 0. The outcome is in the job's fields.
int RunBuildJob(BuildJob* job);

// The writer's progress function for a job: false once a cancel request is set.
bool ReportJobProgress(uint32_t done, uint32_t total, void* job);

}  // namespace vellumcast

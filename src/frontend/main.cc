// The console entry point: command line, path checks, the overwrite question, one
// synchronous build with its progress line, and the closing line; -size, -time and
// the image streamed to standard output with "-o -".
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "frontend/command_line.h"
#include "frontend/console_texts.h"
#include "layout/media_capacities.h"
#include "platform/output_file.h"
#include "platform/path_tests.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// Where the console texts go: standard output, unless the image itself goes there.
FILE* consoleStream = stdout;

void PrintUsage() {
  std::fprintf(consoleStream, "%s\n%s\n", console::kBanner, console::kUsageBody);
}

void PrintWithPath(const char* format, const std::u16string& path) {
  std::fprintf(consoleStream, format, Utf16ToUtf8(path).c_str());
}

// One console line per change of the percentage: a large image reports progress after
// every run of sectors, but the line only changes a hundred times.
uint64_t lastPercent = ~uint64_t(0);

void PrintProgress(uint32_t done, uint32_t total) {
  if (total == 0) return;
  uint64_t percent = ProgressPercent(done, total);
  if (percent == lastPercent) return;
  lastPercent = percent;
  std::fprintf(consoleStream, console::kProgress, static_cast<unsigned>(percent));
  std::fflush(consoleStream);
}

// Prints `text` as one line on standard error, with `prefix` unless it already has it.
void PrintDiagnostic(const char* prefix, const std::string& text) {
  std::fflush(consoleStream);
  std::string line = text.rfind(prefix, 0) == 0 ? text : prefix + text;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void PrintWarning(const std::string& text, void*) { PrintDiagnostic(console::kWarningPrefix, text); }

// A stop signal (Ctrl-C, SIGTERM, SIGHUP) while an image is built stops the build at its
// next progress report, like a cancel request: the temporary image file is removed and
// the reader threads end. A second signal ends the process at once.
std::atomic<uint8_t> stopSignalled{0};

void OnStopSignal(int) { stopSignalled = 1; }

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &action, nullptr);
}

// The overwrite question: one character, then one more (the end of the answer line)
// read and dropped. Only an answer beginning with 'y' or 'Y' confirms; the end of the
// input does not.
bool ConfirmOverwrite(const std::u16string& target) {
  PrintWithPath(console::kOverwrite, target);
  std::fflush(consoleStream);
  char answer = 0;
  if (std::scanf("%c", &answer) != 1) return false;
  std::getchar();
  return answer == 'y' || answer == 'Y';
}

// The build time of -time, else of SOURCE_DATE_EPOCH, else none (the clock's). False
// after printing the error for a value that is not a time.
bool ChooseBuildTime(const CommandLine& line, std::optional<int64_t>& time) {
  int64_t seconds = 0;
  if (line.buildTime) {
    if (!ParseBuildTime(*line.buildTime, true, seconds)) {
      std::fflush(consoleStream);
      std::fprintf(stderr, console::kInvalidBuildTime, Utf16ToUtf8(*line.buildTime).c_str());
      return false;
    }
    time = seconds;
    return true;
  }
  // The reproducible-builds convention: a set but empty variable counts as unset.
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (!epoch || !*epoch) return true;
  if (!ParseBuildTime(Utf8ToUtf16(epoch), false, seconds)) {
    std::fflush(consoleStream);
    std::fprintf(stderr, console::kInvalidSourceDateEpoch, epoch);
    return false;
  }
  time = seconds;
  return true;
}

// -size: the planned image and the common media it fits on.
void PrintImageSize(int32_t sectors) {
  std::fprintf(consoleStream, console::kImageSize, sectors,
               static_cast<unsigned long long>(uint64_t(sectors) * kSectorSize));
  std::string fits;
  for (const Medium& medium : kCommonMedia) {
    if (uint32_t(sectors) > medium.sectors) continue;
    fits += (fits.empty() ? "" : ", ") + std::string(medium.name);
  }
  if (fits.empty()) {
    fits = console::kFitsNone;
    for (size_t i = 0; i < std::size(kCommonMedia); ++i) {
      fits += std::string(i ? ", " : "") + kCommonMedia[i].name;
    }
  }
  std::fprintf(consoleStream, console::kFitsOn, fits.c_str());
}

int Run(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  CommandLine line = ParseCommandLine(args);
  // "-o -" streams the image to standard output; every text then goes to standard error.
  const bool streaming = !line.sizeOnly && line.target && IsStandardOutputTarget(*line.target);
  if (streaming) consoleStream = stderr;

  for (const std::string& warning : line.warnings) std::fputs(warning.c_str(), consoleStream);
  switch (line.action) {
    case CommandAction::Usage:
      PrintUsage();
      return 0;
    case CommandAction::Version:
      std::fprintf(consoleStream, "%s\n", console::kBanner);
      return 0;
    case CommandAction::Build:
      break;
  }

  BuildOptions options;
  options.planOnly = line.sizeOnly;
  if (!ChooseBuildTime(line, options.buildTime)) return 1;

  if (!line.source) {
    std::fputs(console::kNoSource, consoleStream);
    PrintUsage();
    return 1;
  }
  if (!line.target && !line.sizeOnly) {
    std::fputs(console::kNoTarget, consoleStream);
    PrintUsage();
    return 1;
  }
  if (!IsExistingDirectory(line.source->c_str())) {
    PrintWithPath(console::kNoDirectory, *line.source);
    return 1;
  }
  if (!line.sizeOnly && !streaming && PathExists(line.target->c_str()) && !ConfirmOverwrite(*line.target)) {
    return 1;
  }

  const std::u16string target = line.target.value_or(u"");
  if (!line.sizeOnly) {
    options.stopRequest = &stopSignalled;
    CatchStopSignals();
  }
  auto job = StartImageBuild(line.source->c_str(), line.label.c_str(), line.choice, target.c_str(),
                             console::kImplementationIdentifier, console::kApplicationIdentifier, false,
                             line.sizeOnly ? nullptr : PrintProgress, PrintWarning, options);
  if (!job->succeeded) {
    PrintDiagnostic(console::kErrorPrefix,
                    job->errorMessage.empty() ? std::string("the image was not built") : job->errorMessage);
    return 1;
  }
  if (line.sizeOnly) {
    PrintImageSize(job->volumeSectors);
    return 0;
  }
  std::fputs(console::kDone, consoleStream);
  return 0;
}

}  // namespace
}  // namespace vellumcast

int main(int argc, char** argv) {
  try {
    return vellumcast::Run(argc, argv);
  } catch (const std::bad_alloc&) {
    vellumcast::PrintDiagnostic(vellumcast::console::kErrorPrefix, "out of memory");
  } catch (const std::exception& e) {
    vellumcast::PrintDiagnostic(vellumcast::console::kErrorPrefix, e.what());
  }
  return 1;
}

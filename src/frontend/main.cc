// The console entry point: command line, path checks, the overwrite question, one
// synchronous build with its progress line, and the closing line; -size, -time and
// the image streamed to standard output with "-o -".
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "build/self_check_job.h"
#include "frontend/check_report.h"
#include "frontend/command_line.h"
#include "frontend/console_texts.h"
#include "frontend/progress_line.h"
#include "layout/media_capacities.h"
#include "platform/output_file.h"
#include "platform/path_kinds.h"
#include "platform/stop_signals.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// Where the console texts go: standard output, unless the image itself goes there.
FILE* consoleStream = stdout;

void PrintUsage() {
  std::fprintf(consoleStream, "%s\n%s\n", console::kBanner, console::kUsageBody);
}

// `format` with its one "%s" replaced by `path`.
std::string WithPath(const char* format, const std::u16string& path) {
  const std::string utf8 = Utf16ToUtf8(path);
  int n = std::snprintf(nullptr, 0, format, utf8.c_str());
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  std::snprintf(out.data(), out.size() + 1, format, utf8.c_str());
  return out;
}

void PrintWithPath(const char* format, const std::u16string& path) {
  std::fputs(WithPath(format, path).c_str(), consoleStream);
}

// Warnings and errors: whole lines on standard error, after what standard output holds.
void PrintToStandardError(const std::string& lines) {
  std::fflush(consoleStream);
  std::fputs(lines.c_str(), stderr);
  std::fflush(stderr);
}

// The progress lines of the build and of the check: drawn only on a terminal.
ProgressLine buildProgress;
ProgressLine checkProgress;

void PrintProgress(uint32_t done, uint32_t total) {
  buildProgress.Update(uint64_t(done) * kSectorSize, uint64_t(total) * kSectorSize);
}

void PrintCheckProgress(uint32_t done, uint32_t total) {
  checkProgress.Update(uint64_t(done) * kSectorSize, uint64_t(total) * kSectorSize);
}

void PrintDone() {
  buildProgress.Clear();
  std::fputs(console::kDone, consoleStream);
}

// A line that tells what the build chose by itself (such as the DVD-Video file systems).
void PrintNotice(const std::string& text) { std::fprintf(consoleStream, "%s\n", text.c_str()); }

// Prints `text` as one line on standard error, with `prefix` unless it already has it.
void PrintDiagnostic(const char* prefix, const std::string& text) {
  buildProgress.Clear();
  checkProgress.Clear();
  std::fflush(consoleStream);
  std::string line = text.rfind(prefix, 0) == 0 ? text : prefix + text;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void PrintWarning(const std::string& text, void*) {
  PrintDiagnostic(console::kWarningPrefix, text);
}

// The overwrite question: one character, then one more (the end of the answer line)
// read and dropped. Only an answer beginning with 'y' or 'Y' confirms. At the end of the
// input the question's line is ended and the error says how to replace the file.
bool ConfirmOverwrite(const std::u16string& target) {
  PrintWithPath(console::kOverwrite, target);
  std::fflush(consoleStream);
  char answer = 0;
  if (std::scanf("%c", &answer) != 1) {
    std::fputs("\n", consoleStream);
    PrintToStandardError(WithPath(console::kNoAnswer, target));
    return false;
  }
  std::getchar();
  if (answer == 'y' || answer == 'Y') return true;
  PrintToStandardError(WithPath(console::kNotReplaced, target));
  return false;
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

// The checks of the two paths before anything is read; false after printing the error.
bool PathsAcceptable(const CommandLine& line, bool comparing) {
  if (!line.source) {
    PrintToStandardError(console::kNoSource);
    PrintUsage();
    return false;
  }
  if (!line.target && !line.sizeOnly && !comparing) {
    PrintToStandardError(console::kNoTarget);
    PrintUsage();
    return false;
  }
  if (line.source->empty() || (line.target && line.target->empty())) {
    PrintToStandardError(line.source->empty() ? console::kEmptySource : console::kEmptyTarget);
    return false;
  }
  if (!IsExistingDirectory(line.source->c_str())) {
    PrintToStandardError(WithPath(
        IsExistingNonDirectory(line.source->c_str()) ? console::kNotAFolder : console::kNoDirectory,
        *line.source));
    return false;
  }
  return true;
}

// The patterns of --exclude, then those of each --exclude-from file (one a line, blank
// lines skipped); false after printing the error for a file that cannot be read.
bool CollectExcludes(const CommandLine& line, std::vector<std::u16string>& patterns) {
  patterns = line.excludes;
  for (const std::u16string& file : line.excludeFiles) {
    std::ifstream in(Utf16ToUtf8(file));
    if (!in) {
      PrintToStandardError(WithPath(console::kExcludeFileUnreadable, file));
      return false;
    }
    for (std::string text; std::getline(in, text);) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (!text.empty()) patterns.push_back(Utf8ToUtf16(text));
    }
  }
  return true;
}

// The build's options from the command line; false after printing an error.
bool ChooseOptions(const CommandLine& line, BuildOptions& options) {
  options.planOnly = line.sizeOnly;
  options.verify = line.verify;
  options.compareImage = line.compareImage.value_or(u"");
  options.checkProgress = PrintCheckProgress;
  options.imageWritten = line.quiet ? nullptr : PrintDone;
  options.notice = line.quiet ? nullptr : PrintNotice;
  options.rockRidge = line.rockRidge;
  options.joliet = line.joliet;
  options.checksums = line.checksums;
  options.boot = line.boot;
  options.identity = line.identity;
  return CollectExcludes(line, options.excludes) && ChooseBuildTime(line, options.buildTime);
}

// After the build: the closing lines and the exit status.
int Finish(const CommandLine& line, const BuildJob& job, const std::u16string& target) {
  buildProgress.Clear();
  checkProgress.Clear();
  if (!job.succeeded && caughtStopSignal) {
    // The shell's convention for a program ended by a signal: 128 + its number.
    PrintDiagnostic(console::kErrorPrefix, console::kStopped);
    return 128 + caughtStopSignal;
  }
  if (!job.succeeded) {
    PrintDiagnostic(console::kErrorPrefix, job.errorMessage.empty()
                                               ? std::string("the image was not built")
                                               : job.errorMessage);
    return 1;
  }
  if (line.sizeOnly) {
    PrintImageSize(job.volumeSectors);
    for (const std::string& path : job.excluded) {
      std::fprintf(consoleStream, console::kExcludedEntry, path.c_str());
    }
    return 0;
  }
  const bool comparing = line.compareImage.has_value();
  if (job.checked) {
    return PrintCheckOutcome(job.check, line.quiet ? nullptr : consoleStream,
                             Utf16ToUtf8(comparing ? *line.compareImage : target), !comparing);
  }
  if (!line.quiet) std::fputs(console::kDone, consoleStream);
  return 0;
}

bool CheckProgressOfImage(uint64_t done, uint64_t total, void*) {
  checkProgress.Update(done, total);
  return !caughtStopSignal;
}

// -check IMAGE: the image or disc against its own SHA256SUMS; no folder, nothing written.
int RunSelfCheck(const CommandLine& line) {
  if (line.source || line.target || line.compareImage || line.verify || line.sizeOnly ||
      line.checksums || line.checkImage->empty()) {
    PrintToStandardError(console::kCheckRefused);
    return 1;
  }
  const bool terminal = !line.quiet && isatty(fileno(consoleStream));
  checkProgress.stream = consoleStream;
  checkProgress.prefix = "Checking ";
  CatchStopSignals();
  CheckOutcome outcome;
  SumCheck sums;
  std::string error;
  const bool ok = CheckImageByItself(*line.checkImage, outcome, sums, error,
                                     terminal ? CheckProgressOfImage : nullptr, nullptr);
  checkProgress.Clear();
  if (!ok && caughtStopSignal) {
    PrintDiagnostic(console::kErrorPrefix, console::kStopped);
    return 128 + caughtStopSignal;
  }
  const std::string shown = Utf16ToUtf8(*line.checkImage);
  if (!ok) {
    PrintDiagnostic(console::kErrorPrefix, shown + ": " + error);
    return 1;
  }
  for (const std::string& notice : outcome.notices) PrintWarning(notice, nullptr);
  if (!outcome.Matches()) {
    std::fflush(consoleStream);
    for (const std::string& difference : outcome.differences)
      std::fprintf(stderr, "%s%s\n", console::kErrorPrefix, difference.c_str());
    if (outcome.moreDifferences) {
      std::fprintf(stderr, console::kMoreDifferences,
                   static_cast<unsigned long long>(outcome.moreDifferences));
    }
    std::fprintf(stderr, console::kCheckFailed, shown.c_str());
    return 1;
  }
  if (!line.quiet) {
    std::fprintf(consoleStream, sums.listFound ? console::kChecked : console::kCheckedUnlisted,
                 outcome.files, static_cast<unsigned long long>(outcome.bytes));
  }
  return 0;
}

int Run(int argc, char** argv) {
  // A reader of standard output that goes away makes writes fail (EPIPE) instead of
  // ending the process, so that the build can go on, or report it, and clean up.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  CommandLine line = ParseCommandLine(args);
  // "-o -" streams the image to standard output; every text then goes to standard error.
  const bool streaming = !line.sizeOnly && line.target && IsStandardOutputTarget(*line.target);
  if (streaming) consoleStream = stderr;
  if (!line.error.empty()) {
    PrintToStandardError(line.error);
    return 1;
  }
  switch (line.action) {
    case CommandAction::Usage: PrintUsage(); return 0;
    case CommandAction::Version: std::fprintf(consoleStream, "%s\n", console::kBanner); return 0;
    case CommandAction::Build: break;
  }
  if (line.checkImage) return RunSelfCheck(line);
  const bool comparing = line.compareImage.has_value();
  if (!PathsAcceptable(line, comparing)) return 1;
  if (!line.fileSystemError.empty()) {
    PrintToStandardError(line.fileSystemError);
    return 1;
  }
  if (!line.bootError.empty()) {
    PrintToStandardError(line.bootError);
    return 1;
  }
  if (const char* refusal = RefusedCheck(line, streaming)) {
    PrintToStandardError(refusal);
    return 1;
  }
  BuildOptions options;
  if (!ChooseOptions(line, options)) return 1;
  // Refused before the question: nothing is replaced for a build that cannot start.
  if (!(comparing && !line.choiceGiven)) {
    const std::string refused = IsoExtensionsRefused(options, line.choice);
    if (!refused.empty()) {
      PrintToStandardError(console::kErrorPrefix + refused + "\n");
      return 1;
    }
  }
  // A device or a pipe is written to, not replaced: there is nothing to ask about.
  if (!line.sizeOnly && !streaming && !comparing && !line.replaceWithoutAsking &&
      PathExists(line.target->c_str()) && !IsCharacterDeviceOrPipe(line.target->c_str()) &&
      !ConfirmOverwrite(*line.target)) {
    return 1;
  }
  // Progress is drawn only for a person watching a terminal.
  const bool terminal = !line.quiet && isatty(fileno(consoleStream));
  buildProgress.stream = checkProgress.stream = consoleStream;
  checkProgress.prefix = "Checking ";
  if (!terminal) options.checkProgress = nullptr;

  // From here on Ctrl-C, SIGTERM and SIGHUP let the build remove its temporary file.
  CatchStopSignals();
  options.stopFlag = &caughtStopSignal;
  const std::u16string target = line.target.value_or(u"");
  const FileSystemChoice choice =
      comparing && !line.choiceGiven ? FileSystemChoice::OfImage : line.choice;
  // A comparison prints only its differences and its result, not the scan's warnings.
  auto job = StartImageBuild(line.source->c_str(), line.label.c_str(), choice, target.c_str(),
                             console::kImplementationIdentifier, console::kApplicationIdentifier,
                             false, line.sizeOnly || !terminal ? nullptr : PrintProgress,
                             comparing ? nullptr : PrintWarning, options);
  return Finish(line, *job, target);
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

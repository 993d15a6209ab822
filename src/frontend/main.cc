// The console entry point: command line, path checks, the overwrite question, one
// synchronous build with its progress line, and the closing line.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "frontend/command_line.h"
#include "frontend/console_texts.h"
#include "platform/path_tests.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

void PrintUsage() {
  std::printf("%s\n%s\n", console::kBanner, console::kUsageBody);
}

void PrintWithPath(const char* format, const std::u16string& path) {
  std::printf(format, Utf16ToUtf8(path).c_str());
}

// One console line per change of the percentage: a large image reports progress after
// every run of sectors, but the line only changes a hundred times.
uint64_t lastPercent = ~uint64_t(0);

void PrintProgress(uint32_t done, uint32_t total) {
  if (total == 0) return;
  uint64_t percent = ProgressPercent(done, total);
  if (percent == lastPercent) return;
  lastPercent = percent;
  std::printf(console::kProgress, static_cast<unsigned>(percent));
  std::fflush(stdout);
}

// Prints `text` as one line on standard error, with `prefix` unless it already has it.
void PrintDiagnostic(const char* prefix, const std::string& text) {
  std::fflush(stdout);
  std::string line = text.rfind(prefix, 0) == 0 ? text : prefix + text;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void PrintWarning(const std::string& text, void*) { PrintDiagnostic(console::kWarningPrefix, text); }

// The overwrite question: one character, then one more (the end of the answer line)
// read and dropped. Only an answer beginning with 'y' or 'Y' confirms; the end of the
// input does not.
bool ConfirmOverwrite(const std::u16string& target) {
  PrintWithPath(console::kOverwrite, target);
  std::fflush(stdout);
  char answer = 0;
  if (std::scanf("%c", &answer) != 1) return false;
  std::getchar();
  return answer == 'y' || answer == 'Y';
}

int Run(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  CommandLine line = ParseCommandLine(args);

  for (const std::string& warning : line.warnings) std::fputs(warning.c_str(), stdout);
  switch (line.action) {
    case CommandAction::Usage:
      PrintUsage();
      return 0;
    case CommandAction::Version:
      std::printf("%s\n", console::kBanner);
      return 0;
    case CommandAction::Build:
      break;
  }

  if (!line.source) {
    std::fputs(console::kNoSource, stdout);
    PrintUsage();
    return 1;
  }
  if (!line.target) {
    std::fputs(console::kNoTarget, stdout);
    PrintUsage();
    return 1;
  }
  if (!IsExistingDirectory(line.source->c_str())) {
    PrintWithPath(console::kNoDirectory, *line.source);
    return 1;
  }
  if (PathExists(line.target->c_str()) && !ConfirmOverwrite(*line.target)) return 1;

  auto job = StartImageBuild(line.source->c_str(), line.label.c_str(), line.choice,
                             line.target->c_str(), console::kImplementationIdentifier,
                             console::kApplicationIdentifier, false, PrintProgress, PrintWarning);
  if (!job->succeeded) {
    PrintDiagnostic(console::kErrorPrefix,
                    job->errorMessage.empty() ? std::string("the image was not built") : job->errorMessage);
    return 1;
  }
  std::fputs(console::kDone, stdout);
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

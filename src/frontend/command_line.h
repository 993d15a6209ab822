// The command line reduced to the values of one build: source, target, label, file-system
// choice and the other switches' values, plus the error line of the first word that
// cannot be taken.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/boot_settings.h"
#include "base/image_settings.h"
#include "build/build_job.h"

namespace vellumcast {

enum class CommandAction {
  Build,    // run the checks and the build
  Usage,    // no arguments, -?, -h or --help: print the usage text, exit 0
  Version,  // --version: print the banner line, exit 0
};

// Every switch the command line accepts.
enum class SwitchId {
  FileSystem,
  Label,
  Output,
  Size,
  Time,
  RockRidge,
  Joliet,
  Verify,
  Compare,
  Check,
  Checksums,
  Yes,
  Quiet,
  Help,
  Version,
  Exclude,
  ExcludeFrom,
  Publisher,
  Preparer,
  Application,
  VolumeSet,
  SystemId,
  Boot,
  BootCatalog,
  BootLoadSize,
  BootInfoTable,
  EfiBoot,
  Hybrid,
  HybridMbr
};

// One switch and the ways it is written. A word names it when it is the one-dash name,
// one of the short forms, the long form, or a prefix of the one-dash name or of the long
// form that no other switch's name of the same kind begins with (case counts). A long
// form's value is the next argument or joined with '=' ("--label=Film").
struct SwitchName {
  SwitchId id;
  const char* shortForm;  // the one-dash name as the usage text shows it; null: long only
  const char* aliases;    // further one-dash spellings, separated by blanks ("-fs -F")
  const char* longForm;   // "--filesystem"
  const char* valueName;  // the value as the usage text names it; null: takes none
};

// The table the scan walks, in the order the usage text lists the switches.
std::span<const SwitchName> CommandSwitches();

struct CommandLine {
  CommandAction action = CommandAction::Build;
  std::optional<std::u16string> source;
  std::optional<std::u16string> target;
  std::u16string label;  // empty: the builder's default label applies
  FileSystemChoice choice = FileSystemChoice::Default;
  bool choiceGiven = false;  // -filesystem named a known file system
  bool sizeOnly = false;     // -size: plan the image and print its size instead of writing it
  bool replaceWithoutAsking = false;  // -yes: an existing target is replaced without the question
  bool quiet = false;                 // -quiet: no progress line and no "Done"
  std::optional<std::u16string> buildTime;  // the text of -time, checked by ParseBuildTime
  bool verify = false;  // -verify: check the image against the folder after writing it
  std::optional<std::u16string> compareImage;  // -compare IMAGE: check it, write nothing
  std::optional<std::u16string> checkImage;    // -check IMAGE: check it by its SHA256SUMS
  bool checksums = false;                      // --checksums: a SHA256SUMS file at the root
  bool rockRidge = false;                      // -rockridge (-R): Rock Ridge on the ISO 9660 tree
  bool joliet = false;                         // -joliet (-J): a Joliet tree beside it
  BootSettings boot;                           // --boot, --efi-boot, --hybrid, ...
  std::string bootError;  // the "Error: ..." line of the first unusable boot switch value
  std::vector<std::u16string> excludes;        // --exclude PATTERN, in the order given
  std::vector<std::u16string> excludeFiles;    // --exclude-from FILE, in the order given
  VolumeIdentity identity;                     // --publisher, --preparer, ...
  // The error line (with its line end) for the first word that is no switch, a third
  // path, a value where none is taken or a missing value; empty when there is none.
  // Nothing may be read or written then.
  std::string error;
  // The error line (with its line end) for the first value that names no file system;
  // empty when every -filesystem value was known. The build must not run then.
  std::string fileSystemError;
};

// Compares `text` without regard to ASCII case with the names of the file systems and
// stores the selected choice; false (choice unchanged) when nothing matches.
bool ParseFileSystemChoice(std::u16string_view text, FileSystemChoice& choice);

// A build time as seconds since 1970 (decimal digits only) or, with `isoForm`, also as
// an ISO 8601 UTC time "YYYY-MM-DDTHH:MM:SSZ"; times from 1970-01-01T00:00:00Z to
// 9999-12-31T23:59:59Z. False for anything else.
bool ParseBuildTime(std::u16string_view text, bool isoForm, int64_t& seconds);

// Scans the arguments after the program name from left to right. Only '-' starts a
// switch (every absolute path begins with '/'); a lone "-" is a path (standard output
// as the target), and after "--" every argument is a path. A switch's value is the
// next argument as typed, even when it begins with '-'.
CommandLine ParseCommandLine(const std::vector<std::u16string>& args);

}  // namespace vellumcast

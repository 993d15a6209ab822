// Every text the console front end prints (UTF-8; "%s" stands for a path or argument).
#pragma once

namespace vellumcast::console {

constexpr const char* kBanner = "vellumcast 1.0 - makes an ISO 9660 / UDF disc image from a folder";

// Printed after the banner line; one line end is added after the last line.
constexpr const char* kUsageBody =
    "Usage:\tvellumcast [source folder] [target ISO file] <switches>\n"
    "\n"
    "Switches:\n"
    "    -filesystem   specify the ISO file system format, available value:\n"
    "                    \"ISO9660\", or 0, or CD\n"
    "                    \"ISO9660 + UDF 1.02\", or 1 or DVD\n"
    "                    \"UDF 1.02\", or 2 \n"
    "                    \"UDF 2.50\" or 3 or BD or UHD, default value.\n"
    "    -label        volume label\n"
    "    -o            target ISO file; - writes the image to standard output\n"
    "    -size         print the image size and the media it fits on, write nothing\n"
    "    -time         build time: seconds since 1970 or a UTC time 2026-01-31T12:00:00Z\n"
    "    -rockridge    with CD or DVD: full names, times and permissions in ISO 9660\n"
    "    -joliet       with CD or DVD: full names for Windows in ISO 9660\n"
    "    --boot FILE   with CD or DVD: El Torito BIOS boot file of the source folder;\n"
    "                    --boot-load-size N (default 4), --boot-info-table,\n"
    "                    --boot-catalog PATH (default boot.catalog beside it; empty: hidden)\n"
    "    --efi-boot FILE  UEFI FAT image of the source folder\n"
    "    --hybrid      MBR and GPT for USB sticks; --hybrid-mbr FILE: with its boot code\n"
    "    -verify       read the image back after writing it and check it against the folder\n"
    "    -compare      check an image or a burned disc against the folder, writing nothing:\n"
    "                    vellumcast [source folder] -compare [image file or device]\n"
    "    -yes          replace an existing target without asking\n"
    "    -quiet        no progress and no Done; warnings and errors still shown\n"
    "    -?            usage\n"
    "    --version     version\n"
    "    --name        each switch in long form too: --label, --output (-o), --quiet, ...\n"
    "\n"
    "Exit codes: 0 done, 1 error or not confirmed, 128 + signal number if stopped.\n"
    "\n"
    "Examples:\n"
    "    vellumcast ~/foo ~/foo.iso -label \"foo\" -filesystem \"UDF 2.50\"\n"
    "    vellumcast ~/film film.iso -filesystem DVD -verify\n"
    "    vellumcast ~/film -compare /dev/sr0";

// Warnings and errors: whole lines on standard error.
constexpr const char* kIgnoredArgument = "Warning: argument \"%s\" is ignored!\n";
constexpr const char* kUnknownFileSystem =
    "Error: unknown file system \"%s\"; use ISO9660, \"ISO9660 + UDF 1.02\", \"UDF 1.02\", "
    "\"UDF 2.50\", CD, DVD, BD, UHD or 0-3\n";
constexpr const char* kNoSource = "Error: Please specify source path!\n";
constexpr const char* kNoTarget = "Error: Please specify target path!\n";
constexpr const char* kUnknownSwitch = "Warning: unknown switch %s ignored\n";
constexpr const char* kNoAnswer =
    "Error: the file %s exists and standard input gave no answer; add -yes to replace it\n";
constexpr const char* kNoDirectory = "The directory %s doesn't exist.\n";

// On standard output (standard error when the image goes to standard output).
constexpr const char* kOverwrite = "The file %s exists. Overwrite? (Yes/No) ";
constexpr const char* kProgress = "%u%%...\r";
constexpr const char* kDone = "Done\n";

// -size: the planned image, then the common media it fits on (names joined by ", "),
// or kFitsNone followed by every medium's name.
constexpr const char* kImageSize = "Image size: %d sectors (%llu bytes)\n";
constexpr const char* kFitsOn = "Fits on: %s\n";
constexpr const char* kFitsNone = "none of ";

// -time and SOURCE_DATE_EPOCH (on standard error, exit code 1).
constexpr const char* kInvalidBuildTime =
    "Error: invalid build time \"%s\": give seconds since 1970 or a UTC time such as "
    "2026-01-31T12:00:00Z\n";
constexpr const char* kInvalidSourceDateEpoch =
    "Error: invalid SOURCE_DATE_EPOCH \"%s\": give seconds since 1970\n";

// -verify and -compare: the refused combinations (on standard error, exit code 1), the
// progress line of the check, and its outcome.
constexpr const char* kVerifyRefused =
    "Error: -verify reads the image back after writing it, so it needs a target file or device; "
    "it cannot be used with -o - or -size\n";
constexpr const char* kCompareRefused =
    "Error: -compare writes nothing: give the source folder and the image or device to compare, "
    "without a target, -o, -size or -verify\n";
constexpr const char* kCompareNoImage =
    "Error: Please specify the image or device to compare with!\n";
constexpr const char* kCheckProgress = "Checking %u%%...\r";
constexpr const char* kVerified = "Verified: %u files, %llu bytes in %s\n";
constexpr const char* kMoreDifferences = "Error: ... and %llu more differences\n";
constexpr const char* kVerifyKept =
    "Error: the image %s does not match the folder; it stays where it was written\n";
constexpr const char* kCompareDiffers = "Error: %s does not match the folder\n";

// On standard error when SIGINT, SIGTERM or SIGHUP stopped the build (exit code 128 +
// the signal's number).
constexpr const char* kStopped = "the build was stopped";

// On standard error, after a failed build and for each warning of the build.
constexpr const char* kErrorPrefix = "Error: ";
constexpr const char* kWarningPrefix = "Warning: ";

// The identifiers the console build records in the image.
constexpr const char* kImplementationIdentifier = "Vellumcast ";
constexpr const char* kApplicationIdentifier = "vellumcast_console 1.0";

}  // namespace vellumcast::console

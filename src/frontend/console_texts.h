// Every text the console front end prints (UTF-8; "%s" stands for a path or argument).
#pragma once

namespace vellumcast::console {

constexpr const char* kBanner = "vellumcast 1.0 - makes an ISO 9660 / UDF disc image from a folder";

// Printed after the banner line; one line end is added after the last line.
constexpr const char* kUsageBody =
    "Usage:\tvellumcast SOURCE_FOLDER TARGET_IMAGE [switches]\n"
    "\tvellumcast SOURCE_FOLDER -compare IMAGE_OR_DEVICE [switches]\n"
    "\tvellumcast -check IMAGE_OR_DEVICE\n"
    "\n"
    "Switches (a beginning of a name that no other switch has is enough: -fi, --vol):\n"
    "    -filesystem VALUE    file systems (also -fs, -F):\n"
    "                           \"ISO9660\", 0 or CD\n"
    "                           \"ISO9660 + UDF 1.02\", 1 or DVD (default for VIDEO_TS)\n"
    "                           \"UDF 1.02\" or 2\n"
    "                           \"UDF 2.50\", 3, BD or UHD (default)\n"
    "    -label TEXT          volume label\n"
    "    -o TARGET            target image; - writes the image to standard output\n"
    "    -size                print the image size and the media it fits on, write nothing\n"
    "    -time TIME           build time: seconds since 1970 or a UTC time 2026-01-31T12:00:00Z\n"
    "    -rockridge           (-R) with CD or DVD: full names, times and permissions\n"
    "    -joliet              (-J) with CD or DVD: full names for Windows\n"
    "    -verify              read the image back after writing it, check it against the folder\n"
    "    -compare IMAGE       check an image or a disc against the folder, write nothing\n"
    "    -check IMAGE         check an image or a disc against its own SHA256SUMS, no folder\n"
    "    -yes                 replace an existing target without asking\n"
    "    -quiet               print nothing on success; warnings and errors still shown\n"
    "    --checksums          a SHA256SUMS file at the root: sha256sum -c checks the disc\n"
    "    --exclude PATTERN    leave out what matches by name or by path in the folder\n"
    "    --exclude-from FILE  the --exclude patterns of FILE, one a line\n"
    "    --publisher TEXT     publisher identifier (ISO 9660)\n"
    "    --preparer TEXT      data preparer identifier (ISO 9660)\n"
    "    --application TEXT   application identifier (ISO 9660)\n"
    "    --volume-set TEXT    volume set identifier (ISO 9660 and UDF)\n"
    "    --system-id TEXT     system identifier (ISO 9660)\n"
    "    --boot FILE          with CD or DVD: El Torito BIOS boot file of the source folder\n"
    "    --boot-catalog PATH  the boot catalog (default boot.catalog beside it; empty: hidden)\n"
    "    --boot-load-size N   512-byte sectors the BIOS loads of the boot file (default 4)\n"
    "    --boot-info-table    the boot information table in the image's copy of the file\n"
    "    --efi-boot FILE      with CD or DVD: UEFI FAT image of the source folder\n"
    "    --hybrid             MBR and GPT, so that the image boots from a USB stick too\n"
    "    --hybrid-mbr FILE    --hybrid with the MBR boot code of FILE (isohdpfx.bin)\n"
    "    -?                   usage (also -h, --help)\n"
    "    --version            version\n"
    "Each one-dash switch has a long form too (--filesystem, --output for -o, ...); a long\n"
    "form's value may be joined with '=' (--label=Film). After -- every word is a path.\n"
    "\n"
    "Exit codes: 0 done, 1 error or not confirmed, 128 + signal number if stopped.\n"
    "\n"
    "Examples:\n"
    "    vellumcast ~/photos ~/photos.iso -label \"Photos 2026\" -fs CD -R -J\n"
    "    vellumcast ~/film ~/film.iso -verify\n"
    "    vellumcast ~/bluray /dev/sdb -label MOVIE -yes\n"
    "    vellumcast ~/src src.iso --exclude '*.o' --exclude .git --publisher \"ACME LTD\"\n"
    "    vellumcast ~/film -compare /dev/sr0\n"
    "    vellumcast ~/archive archive.iso --checksums -verify\n"
    "    vellumcast -check /dev/sr0";

// Errors of the command line (whole lines on standard error, exit code 1).
constexpr const char* kUnknownSwitch =
    "Error: unknown switch %s (vellumcast --help lists the switches)\n";
constexpr const char* kAmbiguousSwitch = "Error: %s could be more than one switch: ";
constexpr const char* kValueMissing = "Error: %s needs a value\n";
constexpr const char* kNoValueTaken = "Error: %s takes no value\n";
constexpr const char* kUnexpectedArgument =
    "Error: unexpected argument \"%s\": give one source folder and one target "
    "(vellumcast --help lists the switches)\n";
constexpr const char* kUnknownFileSystem =
    "Error: unknown file system \"%s\"; use ISO9660, \"ISO9660 + UDF 1.02\", \"UDF 1.02\", "
    "\"UDF 2.50\", CD, DVD, BD, UHD or 0-3\n";
constexpr const char* kNoSource = "Error: Please specify source path!\n";
constexpr const char* kNoTarget = "Error: Please specify target path!\n";
constexpr const char* kEmptySource = "Error: the source folder is an empty path\n";
constexpr const char* kEmptyTarget = "Error: the target is an empty path\n";
constexpr const char* kNoDirectory = "Error: the source folder %s does not exist\n";
constexpr const char* kNotAFolder = "Error: %s is not a folder\n";
constexpr const char* kNotReplaced = "Error: %s exists and was not replaced\n";
constexpr const char* kExcludeFileUnreadable = "Error: cannot read the --exclude-from file %s\n";
constexpr const char* kNoAnswer =
    "Error: the file %s exists and standard input gave no answer; add -yes to replace it\n";

// On standard output (standard error when the image goes to standard output).
constexpr const char* kOverwrite = "The file %s exists. Overwrite? (Yes/No) ";
constexpr const char* kDone = "Done\n";

// -size: the planned image, then the common media it fits on (names joined by ", "),
// or kFitsNone followed by every medium's name.
constexpr const char* kImageSize = "Image size: %d sectors (%llu bytes)\n";
constexpr const char* kFitsOn = "Fits on: %s\n";
constexpr const char* kFitsNone = "none of ";
constexpr const char* kExcludedEntry = "Excluded by --exclude: %s\n";

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
constexpr const char* kVerifyUnreadable =
    "Error: -verify reads the image back, which a character device or a pipe cannot give; "
    "write to a file or a block device, or leave out -verify\n";
constexpr const char* kCompareRefused =
    "Error: -compare writes nothing: give the source folder and the image or device to compare, "
    "without a target, -o, -size or -verify\n";
constexpr const char* kCompareNoImage =
    "Error: Please specify the image or device to compare with!\n";
constexpr const char* kVerified = "Verified: %u files, %llu bytes in %s\n";
constexpr const char* kMoreDifferences = "Error: ... and %llu more differences\n";
constexpr const char* kVerifyKept =
    "Error: the image %s does not match the folder; it stays where it was written\n";
constexpr const char* kCompareDiffers = "Error: %s does not match the folder\n";
constexpr const char* kCheckRefused =
    "Error: -check reads only the image: give the image or device alone, without a folder, "
    "target or other switches than -quiet\n";
constexpr const char* kChecked = "Checked: %u files, %llu bytes, all match\n";
constexpr const char* kCheckedUnlisted =
    "Checked: %u files, %llu bytes can be read; the image has no SHA256SUMS, so their "
    "contents could not be checked\n";
constexpr const char* kCheckFailed = "Error: %s does not pass its check\n";

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

// The console front end: the argument scan in-process, and the real executable's texts,
// exit codes and overwrite question.
#include "frontend/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "iso_reader.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::Binary;
using test::CommandResult;
using test::CompareIsoWithFolder;
using test::Quote;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

const std::string kUsageBody =
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
    "    vellumcast -check /dev/sr0\n";

CommandResult RunTool(const std::vector<std::string>& args, const std::string& input = "") {
  std::string command = Quote(Binary());
  for (const std::string& a : args) command += " " + Quote(a);
  return RunCommand(command, input);
}

// The usage text: a banner naming the program and its version, then the fixed body.
void ExpectUsage(const std::string& text) {
  size_t eol = text.find('\n');
  ASSERT_NE(eol, std::string::npos);
  std::string banner = text.substr(0, eol);
  EXPECT_NE(banner.find("vellumcast"), std::string::npos) << banner;
  EXPECT_NE(banner.find("1.0"), std::string::npos) << banner;
  EXPECT_EQ(text.substr(eol + 1), kUsageBody);
}

std::string UnknownFileSystem(const std::string& value) {
  return "Error: unknown file system \"" + value +
         "\"; use ISO9660, \"ISO9660 + UDF 1.02\", \"UDF 1.02\", \"UDF 2.50\", CD, DVD, BD, UHD or "
         "0-3\n";
}

// ---- in-process: the scan ----

TEST(FileSystemChoice, NamesAndNumbersIgnoringCase) {
  using enum FileSystemChoice;
  struct Case {
    const char16_t* text;
    std::optional<FileSystemChoice> expected;
  };
  for (Case c : {Case{u"ISO9660", Iso9660},
                 {u"iso9660", Iso9660},
                 {u"0", Iso9660},
                 {u"cd", Iso9660},
                 {u"ISO9660 + UDF 1.02", Iso9660Udf102},
                 {u"iso9660 + udf 1.02", Iso9660Udf102},
                 {u"1", Iso9660Udf102},
                 {u"dvd", Iso9660Udf102},
                 {u"UDF 1.02", Udf102},
                 {u"2", Udf102},
                 {u"udf 2.50", Udf250},
                 {u"3", Udf250},
                 {u"bd", Udf250},
                 {u"Uhd", Udf250},
                 // whole string against whole string: no partial or padded matches
                 {u"xyz", {}},
                 {u"", {}},
                 {u"ISO9660+UDF 1.02", {}},
                 {u" CD", {}},
                 {u"UDF", {}},
                 {u"4", {}},
                 {u"\u0130SO9660", {}}}) {
    FileSystemChoice choice = OfImage;
    EXPECT_EQ(ParseFileSystemChoice(c.text, choice), c.expected.has_value());
    EXPECT_EQ(choice, c.expected.value_or(OfImage)) << test::Quote(Utf16ToUtf8(c.text));
  }
}

TEST(CommandLineScan, ValuesFromTheArguments) {
  using S = std::optional<std::u16string>;
  const FileSystemChoice D = FileSystemChoice::Default;
  struct Case {
    std::vector<std::u16string> args;
    CommandAction action;
    S source, target;
    std::u16string label;
    FileSystemChoice choice;
    std::string error;                                  // the command line's error line
    std::optional<std::string> unknownFileSystem = {};  // the value named in the error
  };
  const std::string unexpected = "Error: unexpected argument \"%\": give one source folder and "
                                 "one target (vellumcast --help lists the switches)\n";
  auto Unexpected = [&](const std::string& word) {
    return unexpected.substr(0, 28) + word + unexpected.substr(29);
  };
  const Case cases[] = {
      {{}, CommandAction::Usage, {}, {}, u"", D, ""},
      {{u"a", u"b"}, CommandAction::Build, u"a", u"b", u"", D, ""},
      {{u"/abs/src", u"/abs/t.iso"}, CommandAction::Build, u"/abs/src", u"/abs/t.iso", u"", D, ""},
      {{u"a", u"b", u"-?"}, CommandAction::Usage, u"a", u"b", u"", D, ""},
      {{u"-h", u"a"}, CommandAction::Usage, {}, {}, u"", D, ""},
      {{u"a", u"--help", u"b"}, CommandAction::Usage, u"a", {}, u"", D, ""},
      {{u"--version", u"a"}, CommandAction::Version, {}, {}, u"", D, ""},
      // the documented short forms, and any beginning that only one name has
      {{u"a", u"b", u"-F", u"dvd"}, CommandAction::Build, u"a", u"b", u"",
       FileSystemChoice::Iso9660Udf102, ""},
      {{u"a", u"b", u"-fs", u"bd"}, CommandAction::Build, u"a", u"b", u"",
       FileSystemChoice::Udf250, ""},
      {{u"a", u"b", u"-lab", u"Film"}, CommandAction::Build, u"a", u"b", u"Film", D, ""},
      {{u"a", u"b", u"--fil=cd"}, CommandAction::Build, u"a", u"b", u"", FileSystemChoice::Iso9660,
       ""},
      // an unknown value is an error, whatever other values say; the first one is named
      {{u"-filesystem", u"xyz", u"a", u"b"}, CommandAction::Build, u"a", u"b", u"", D, "", "xyz"},
      {{u"-f", u"cd", u"-f", u"xyz", u"a", u"b"}, CommandAction::Build, u"a", u"b", u"",
       FileSystemChoice::Iso9660, "", "xyz"},
      {{u"-f", u"DVD9", u"-f", u"UDF 1.02", u"-f", u"x"}, CommandAction::Build, {}, {}, u"",
       FileSystemChoice::Udf102, "", "DVD9"},
      // a switch at the end of the line has no value: an error
      {{u"a", u"b", u"-filesystem"}, CommandAction::Build, u"a", u"b", u"", D,
       "Error: -filesystem needs a value\n"},
      {{u"a", u"b", u"-l"}, CommandAction::Build, u"a", u"b", u"", D, "Error: -l needs a value\n"},
      {{u"a", u"b", u"--output"}, CommandAction::Build, u"a", u"b", u"", D,
       "Error: --output needs a value\n"},
      // a value is taken as it stands, even when it looks like a switch
      {{u"-label", u"-x", u"a", u"b"}, CommandAction::Build, u"a", u"b", u"-x", D, ""},
      {{u"a", u"-label", u"-h"}, CommandAction::Build, u"a", {}, u"-h", D, ""},
      {{u"a", u"-o", u"-t.iso"}, CommandAction::Build, u"a", u"-t.iso", u"", D, ""},
      // -o replaces a target given before; a path after it is one too many
      {{u"a", u"b", u"-o", u"t"}, CommandAction::Build, u"a", u"t", u"", D, ""},
      {{u"a", u"-o", u"t", u"p"}, CommandAction::Build, u"a", u"t", u"", D, Unexpected("p")},
      {{u"a", u"b", u"c", u"d"}, CommandAction::Build, u"a", u"b", u"", D, Unexpected("c")},
      // a lone '-' is a path; '/' alone or first is a path
      {{u"a", u"--quiet", u"-"}, CommandAction::Build, u"a", u"-", u"", D, ""},
      {{u"/", u"/t"}, CommandAction::Build, u"/", u"/t", u"", D, ""},
      // non-ASCII arguments keep their text
      {{u"a", u"b", u"-l", u"Fil\u00e9 \U0001F4BF"}, CommandAction::Build, u"a", u"b",
       u"Fil\u00e9 \U0001F4BF", D, ""},
      {{u"a", u"b", u"\u00fcber"}, CommandAction::Build, u"a", u"b", u"", D,
       Unexpected("\xc3\xbc"
                  "ber")},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += "[" + Utf16ToUtf8(a) + "]";
    SCOPED_TRACE(shown);
    EXPECT_EQ(line.error, c.error);
    EXPECT_EQ(line.action, c.action);
    if (c.action != CommandAction::Build || !c.error.empty()) continue;  // the scan stopped
    EXPECT_EQ(line.source, c.source);
    EXPECT_EQ(line.target, c.target);
    EXPECT_EQ(line.label, c.label);
    EXPECT_EQ(line.choice, c.choice);
    EXPECT_EQ(line.fileSystemError,
              c.unknownFileSystem ? UnknownFileSystem(*c.unknownFileSystem) : "");
  }
}

// ---- the executable ----

TEST(Console, UsageAndVersionExitZero) {
  TempDir dir;
  std::string src = dir / "src";
  std::filesystem::create_directory(src);
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"-?"},
                                                                {"-h"},
                                                                {"--help"},
                                                                {"--he"},
                                                                {src, dir / "t.iso", "-?"},
                                                                {"-h", src, dir / "t.iso"},
                                                                {src, "--help", dir / "t.iso"}}) {
    CommandResult r = RunTool(args);
    EXPECT_EQ(r.exitCode, 0);
    ExpectUsage(r.out);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "t.iso"));
  }
  CommandResult r = RunTool({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_EQ(r.out, RunTool({}).out.substr(0, r.out.size()));  // the usage's banner line
}

TEST(Console, MissingOrWrongPathsExitOne) {
  TempDir dir;
  std::string src = dir / "src", file = dir / "file.txt", target = dir / "t.iso";
  std::filesystem::create_directory(src);
  WriteFile(file, "x");
  const std::string noSource = "Error: Please specify source path!\n";
  const std::string noTarget = "Error: Please specify target path!\n";
  struct Case {
    std::vector<std::string> args;
    std::string before;
    bool usage;
  };
  const Case cases[] = {
      {{"-label", "x"}, noSource, true},
      {{"-o", target}, noSource, true},
      {{src}, noTarget, true},
      {{"/h"}, noTarget, true},                 // a path, not a switch
      {{src, target, "-o"}, "Error: -o needs a value\n", false},
      {{"", target}, "Error: the source folder is an empty path\n", false},
      {{src, ""}, "Error: the target is an empty path\n", false},
      {{src, "-label", "-h"}, noTarget, true},  // -h is the label here, not a switch
      {{dir / "missing", target},
       "Error: the source folder " + (dir / "missing") + " does not exist\n",
       false},
      {{file, target}, "Error: " + file + " is not a folder\n", false},
      // bytes that are not UTF-8 are printed back as they were typed
      {{dir / "\xff\xfe", target},
       "Error: the source folder " + (dir / "\xff\xfe") + " does not exist\n",
       false},
      // the paths are checked before the values
      {{"-filesystem", "xyz", file, target}, "Error: " + file + " is not a folder\n", false},
      {{"-filesystem", "xyz", "-o", target}, noSource, true},
  };
  for (const Case& c : cases) {
    CommandResult r = RunTool(c.args);
    SCOPED_TRACE(c.before);
    EXPECT_EQ(r.exitCode, 1);
    // the error a whole line on standard error; only the usage on standard output
    EXPECT_EQ(r.err, c.before);
    if (c.usage) {
      ExpectUsage(r.out);
    } else {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

TEST(Console, OverwriteQuestion) {
  TempDir dir;
  std::string src = dir / "src", target = dir / "t.iso", folder = dir / "folder";
  std::filesystem::create_directory(src);
  std::filesystem::create_directory(folder);
  struct Case {
    std::string target;
    std::string input;
    bool confirmed;
  };
  const Case cases[] = {
      {target, "y\n", true},    {target, "Y\n", true},   {target, "yes please\n", true},
      {target, "n\n", false},   {target, "No\n", false}, {target, "\n", false},
      {target, "\ny\n", false},  // an empty answer stops; the next line is not read as the answer
      {target, "", false},       // end of input
      {target, " y\n", false},   // only the first character counts
      {folder, "n\n", false},    // an existing directory is asked about too
  };
  for (const Case& c : cases) {
    WriteFile(target, "old");
    CommandResult r = RunTool({src, c.target}, c.input);
    SCOPED_TRACE(c.target + " answer [" + c.input + "]");
    std::string question = "The file " + c.target + " exists. Overwrite? (Yes/No) ";
    ASSERT_EQ(r.out.rfind(question, 0), 0u) << r.out;
    if (c.confirmed) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(r.out.ends_with("Done\n")) << r.out;
    } else {
      // at the end of the input the question's line ends and the error names -yes
      const bool noAnswer = c.input.empty();
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, question + (noAnswer ? "\n" : ""));
      EXPECT_EQ(r.err,
                noAnswer ? "Error: the file " + c.target +
                               " exists and standard input gave no answer; add -yes to replace it\n"
                         : "Error: " + c.target + " exists and was not replaced\n");
      EXPECT_EQ(test::ReadFile(target), "old");
    }
  }
}

// Which target the scan picked shows in the overwrite question; a third path is an
// error before anything is asked.
TEST(Console, TargetChoiceNamedInTheQuestion) {
  TempDir dir;
  std::string src = dir / "src", t1 = dir / "one.iso", t2 = dir / "two.iso";
  std::filesystem::create_directory(src);
  WriteFile(t1, "1");
  WriteFile(t2, "2");
  struct Case {
    std::vector<std::string> args;
    std::string extra, asked;  // the path named in the error, or the target asked about
  };
  const Case cases[] = {
      {{src, "-o", t1, t2}, t2, ""},
      {{src, t2, "-o", t1}, "", t1},
      {{"-o", t2, src}, "", t2},
      {{"-o", t2, src, t1}, t1, ""},
      {{src, t1, t2}, t2, ""},
  };
  for (const Case& c : cases) {
    CommandResult r = RunTool(c.args, "n\n");
    EXPECT_EQ(r.exitCode, 1);
    if (c.asked.empty()) {
      EXPECT_EQ(r.err, "Error: unexpected argument \"" + c.extra +
                           "\": give one source folder and one target (vellumcast --help lists "
                           "the switches)\n");
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_EQ(r.out, "The file " + c.asked + " exists. Overwrite? (Yes/No) ");
    }
  }
  EXPECT_EQ(test::ReadFile(t1) + test::ReadFile(t2), "12");
}

// Without a terminal a build prints no progress, only "Done".
TEST(Console, BuildEndsWithDone) {
  TempDir dir;
  std::string src = dir / "src";
  std::filesystem::create_directory(src);
  WriteFile(src + "/data.bin", test::PatternBytes(1 << 20));
  const std::vector<std::vector<std::string>> cases = {
      {src, dir / "a.iso"},
      {src + "/", "-o", dir / "b.iso", "-label", "-Film-"},
      {"-fs", "DVD", src, dir / "c.iso"},
  };
  for (const auto& args : cases) {
    CommandResult r = RunTool(args);
    SCOPED_TRACE(args[1]);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Done\n");
  }
}

// A -filesystem value that names no file system stops before anything is written, also
// when a later value is valid; an existing target stays as it was.
TEST(Console, UnknownFileSystemIsAnError) {
  TempDir dir;
  std::string src = dir / "src", target = dir / "t.iso";
  std::filesystem::create_directory(src);
  WriteFile(dir / "old.iso", "old");
  struct Case {
    std::vector<std::string> args;
    std::string value;
  };
  const Case cases[] = {
      {{src, target, "-filesystem", "DVD9"}, "DVD9"},
      {{src, target, "-fs", "UDF"}, "UDF"},
      {{src, target, "-f", "4"}, "4"},
      {{src, target, "-filesystem", ""}, ""},
      {{"-filesystem", "nope", "-filesystem", "cd", src, target}, "nope"},
      {{src, dir / "old.iso", "-fs", "DVD9"}, "DVD9"},  // asked nothing, kept
      {{src, "-o", "-", "-fs", "DVD9"}, "DVD9"},
      {{src, "-size", "-fs", "DVD9"}, "DVD9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    CommandResult r = RunTool(c.args, "y\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, UnknownFileSystem(c.value));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(test::ReadFile(dir / "old.iso"), "old");
  }
}

// Without a terminal: no progress, only "Done"; the build's warnings are lines on
// standard error.
TEST(Console, ProgressAndWarningsOfABuild) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(3 << 20));
  std::filesystem::create_symlink(dir / "nowhere", dir / "src/dangling");
  for (const char* fs : {"ISO9660", "DVD", "UDF 1.02", "BD"}) {
    SCOPED_TRACE(fs);
    CommandResult r = RunTool({dir / "src", dir / "t.iso", "-filesystem", fs}, "y\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string question = "The file " + (dir / "t.iso") + " exists. Overwrite? (Yes/No) ";
    size_t skip = r.out.rfind(question, 0) == 0 ? question.size() : 0;
    EXPECT_EQ(r.out.substr(skip), "Done\n");
    EXPECT_GT(std::filesystem::file_size(dir / "t.iso"), uintmax_t(3 << 20));
    // one warning line, naming the link the scan left out
    EXPECT_EQ(r.err.rfind("Warning: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(dir / "src/dangling"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// An image written inside its own source folder, named relative to the working
// directory, is not taken into the next image of that folder.
TEST(Console, ImageInsideTheSourceIsLeftOut) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(200000));
  std::string build = "cd " + Quote(dir / "src") + " && " + Quote(Binary()) + " . t.iso -fs CD";
  CommandResult first = RunCommand(build);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  uintmax_t size = std::filesystem::file_size(dir / "src/t.iso");
  CommandResult second = RunCommand(build, "y\n");
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_TRUE(second.out.starts_with("The file t.iso exists. Overwrite? (Yes/No) ")) << second.out;
  EXPECT_EQ(std::filesystem::file_size(dir / "src/t.iso"), size);
}

// A hard link to the old image inside the source is an ordinary file of the folder: the
// new image holds it with the old bytes. A temporary file of an earlier build of the
// image is left out with a warning.
TEST(Console, HardLinkToTheOldImageIsKept) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(100000));
  std::string build = "cd " + Quote(dir / "src") + " && " + Quote(Binary()) + " . t.iso -fs CD";
  ASSERT_EQ(RunCommand(build).exitCode, 0);
  const std::string old = test::ReadFile(dir / "src/t.iso");
  ASSERT_EQ(link((dir / "src/t.iso").c_str(), (dir / "src/old.iso").c_str()), 0);
  WriteFile(dir / "src/t.iso.vellumcast-tmp-Zz9Aa0", "left by a killed build");
  CommandResult r = RunCommand(build, "y\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: leaving out " + (dir / "src/t.iso.vellumcast-tmp-Zz9Aa0") +
                       ": a temporary file of an unfinished earlier build\n");
  test::IsoListing listing = test::ReadIsoImage(dir / "src/t.iso");
  ASSERT_TRUE(listing.ok) << listing.error;
  std::vector<std::string> names;
  for (const test::IsoEntry& e : listing.entries) names.push_back(e.path);
  EXPECT_EQ(names, (std::vector<std::string>{"/data.bin", "/old.iso"}));
  for (const test::IsoEntry& e : listing.entries) {
    if (e.path != "/old.iso") continue;
    EXPECT_EQ(e.size, old.size());
    EXPECT_TRUE(test::ReadIsoBytes(dir / "src/t.iso", e.firstSector, 0, e.size) == old);
  }
}

// A target that is a symbolic link to a missing file is written through the link, as
// the shell's ">" does: the file it names is created (links taken from the folder that
// holds them), the link stays, and there is nothing to ask about.
TEST(Console, DanglingLinkTargetIsWrittenThrough) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  std::filesystem::create_directories(dir / "out");
  std::filesystem::create_directories(dir / "links");
  std::filesystem::create_symlink("made-chain.iso", dir / "links/hop.iso");
  struct Case {
    std::string link, pointsTo, created;
  };
  const Case cases[] = {
      {"links/rel.iso", "made-rel.iso", "links/made-rel.iso"},
      {"links/up.iso", "../out/made-up.iso", "out/made-up.iso"},
      {"links/abs.iso", dir / "out/made-abs.iso", "out/made-abs.iso"},
      {"links/chain.iso", "hop.iso", "links/made-chain.iso"},
      {"links/nofolder.iso", "../nofolder/x.iso", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::filesystem::create_symlink(c.pointsTo, dir / c.link);
    CommandResult r = RunTool({dir / "src", dir / c.link, "-fs", "CD"});
    EXPECT_TRUE(std::filesystem::is_symlink(dir / c.link));
    if (c.created.empty()) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "Error: cannot write " + (dir / c.link) + ": No such file or directory\n");
      continue;
    }
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("Overwrite"), std::string::npos) << r.out;
    EXPECT_EQ(CompareIsoWithFolder(dir / c.created, dir / "src"), "");
  }
}

// The source is found exactly when the build finds it: "." and ".." are resolved as
// text, as the build resolves them, not by the kernel through links.
TEST(Console, SourceIsTheFolderTheBuildReads) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  WriteFile(dir / "deep/inner/b.txt", "b");
  WriteFile(dir / "deep/x/c.txt", "c");
  WriteFile(dir / "file.txt", "f");
  std::filesystem::create_symlink(dir / "deep/inner", dir / "lnk");
  struct Case {
    std::string source, reads;
  };  // reads: empty when missing
  const Case cases[] = {
      {"nox/../src", "src"},     {"file.txt/../src", "src"}, {"lnk/s/..", "deep/inner"},
      {"./lnk/.", "deep/inner"}, {"lnk/../x", ""},           {"src/a.txt/..", "src"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::filesystem::remove(dir / "t.iso");
    CommandResult r = RunCommand("cd " + Quote(dir.path()) + " && " + Quote(Binary()) + " " +
                                 Quote(c.source) + " t.iso -fs CD");
    if (c.reads.empty()) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "Error: the source folder " + c.source + " does not exist\n");
      EXPECT_FALSE(std::filesystem::exists(dir / "t.iso"));
      continue;
    }
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(CompareIsoWithFolder(dir / "t.iso", dir / c.reads), "");
  }
}

// A build that fails is one line on standard error and exit code 1, without "Done".
TEST(Console, FailedBuildIsAnError) {
  TempDir dir;
  std::string gone = dir / "gone";
  std::filesystem::create_directory(gone);
  std::filesystem::create_directory(dir / "src");
  const std::string commands[] = {
      // "." still names a directory, but the working directory has been removed, so the
      // source cannot be made absolute
      "cd " + Quote(gone) + " && rmdir " + Quote(gone) + " && " + Quote(Binary()) + " . " +
          Quote(dir / "t.iso"),
      // the target's folder does not exist
      Quote(Binary()) + " " + Quote(dir / "src") + " " + Quote(dir / "missing/t.iso"),
  };
  for (const std::string& command : commands) {
    CommandResult r = RunCommand(command);
    SCOPED_TRACE(command);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
    ASSERT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("\n"));
    EXPECT_GT(r.err.size(), 8u);
  }
}

}  // namespace
}  // namespace vellumcast

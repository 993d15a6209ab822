// The command line fails safe: peers' habits and typos are errors before anything is
// read or written, every documented spelling works; DVD-Video is found without the
// switch; a target without room is refused; progress only on a terminal; the volume
// identifiers and --exclude reach the image and its check.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "frontend/progress_line.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::Binary;
using test::CommandResult;
using test::Quote;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

CommandResult RunIn(const std::string& folder, const std::vector<std::string>& args,
                    const std::string& env = "") {
  std::string command = "cd " + Quote(folder) + " && " + env + " " + Quote(Binary());
  for (const std::string& a : args) command += " " + Quote(a);
  return RunCommand(command, "y\n");
}

size_t EntriesBelow(const std::string& folder) {
  size_t n = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(folder);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    ++n;
  return n;
}

std::string Unknown(const std::string& word) {
  return "Error: unknown switch " + word + " (vellumcast --help lists the switches)\n";
}

TEST(CommandLineSafety, PeerHabitsAndTyposAreErrors) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  WriteFile(dir / "src2/b.txt", "b");
  struct Case {
    std::vector<std::string> args;  // after "src out.iso"
    std::string err;
  };
  const Case cases[] = {
      {{"-fs", "CD", "-J", "-output-charset", "utf-8"}, Unknown("-output-charset")},
      {{"-sort", "sort.txt"}, Unknown("-sort")},
      {{"-sysid", "LINUX"}, Unknown("-sysid")},
      {{"-hide-rr-moved"}, Unknown("-hide-rr-moved")},
      {{"-hidden", ".secret"}, Unknown("-hidden")},
      {{"-V", "MY DISC"}, Unknown("-V")},
      {{"--filesytem=CD"}, Unknown("--filesytem")},
      {{"--jolliet", "--rockrige"}, Unknown("--jolliet")},
      {{"-m", "*.tmp"}, Unknown("-m")},
      {{"-x", "DIR"}, Unknown("-x")},
      {{"-iso-level", "3"}, Unknown("-iso-level")},
      {{"-udf"}, Unknown("-udf")},
      {{"-exclude", "x"}, Unknown("-exclude")},
      {{"-label"}, "Error: -label needs a value\n"},
      {{"--exclude"}, "Error: --exclude needs a value\n"},
      {{"--yes=no"}, "Error: --yes takes no value\n"},
      {{"--e", "x"},
       "Error: --e could be more than one switch: --exclude, --exclude-from, --efi-boot\n"},
      {{"src2"},
       "Error: unexpected argument \"src2\": give one source folder and one target "
       "(vellumcast --help lists the switches)\n"},
  };
  const size_t before = EntriesBelow(dir.path());
  for (const Case& c : cases) {
    std::vector<std::string> args = {"src", "out.iso"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args[0]);
    CommandResult r = RunIn(dir.path(), args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(EntriesBelow(dir.path()), before);  // no target, no other file
  }
}

TEST(CommandLineSafety, DocumentedSpellingsWork) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  const std::vector<std::vector<std::string>> cases = {
      {"src", "t.iso", "-filesystem", "ISO9660 + UDF 1.02", "-label", "L", "-yes", "-quiet"},
      {"src", "t.iso", "-fs", "CD", "-R", "-J", "-y", "-q"},
      {"src", "t.iso", "-F", "cd", "-rockridge", "-joliet", "-verify", "-yes"},
      {"src", "-o", "t.iso", "-time", "1767225600", "-yes"},
      {"--filesystem=DVD", "--label=Film", "--output", "t.iso", "src", "--yes", "--quiet"},
      {"src", "--output=t.iso", "--rockridge", "--joliet", "--fi=CD", "--time=0", "--yes"},
      {"src", "-size", "-fs", "BD"},
      {"src", "--size"},
      {"src", "-compare", "t.iso", "-fs", "CD", "-R", "-J"},
      {"src", "--compare=t.iso", "--filesystem", "CD", "-R", "-J"},
      {"-h"},
      {"-?"},
      {"--help"},
      {"--version"},
      {"-yes", "--", "src", "t.iso"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    CommandResult r = RunIn(dir.path(), args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
}

// Runs `args` in `folder` with a pseudo-terminal as standard output; returns what the
// terminal showed.
std::string RunOnTerminal(const std::string& folder, const std::vector<std::string>& args) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    const std::string binary = Binary();
    std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, size_t(n));
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  return shown;
}

TEST(Progress, OnTerminalOneRedrawnLineClearedBeforeDone) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(8 << 20));
  const std::string shown = RunOnTerminal(dir.path(), {"src", "t.iso", "-yes", "-verify"});
  // the terminal turns "\n" into "\r\n"
  EXPECT_TRUE(std::regex_search(shown, std::regex("^\r[0-9]+%  [0-9.]+ of [0-9.]+ MB"))) << shown;
  EXPECT_TRUE(std::regex_search(shown, std::regex("\r100%  ([0-9.]+) of \\1 MB[^\r]*\r +\rDone")))
      << shown;
  EXPECT_TRUE(std::regex_search(shown, std::regex("\rChecking 100%[^\r]*\r +\rVerified: ")))
      << shown;
  EXPECT_EQ(shown.find('\n'), shown.find("Done") + 5) << shown;  // no other line
  EXPECT_EQ(RunOnTerminal(dir.path(), {"src", "t.iso", "-yes", "-verify", "-quiet"}), "");
  EXPECT_EQ(RunIn(dir.path(), {"src", "t.iso", "-yes", "-verify"}).out,
            "Done\nVerified: 1 files, "
            "8388608 bytes in UDF 2.50\n");
}

TEST(Progress, TextWithRateAndTimeLeft) {
  EXPECT_EQ(ProgressText(1900000000, 4500000000, 0.1), "42%  1.9 of 4.5 GB");
  EXPECT_EQ(ProgressText(1900000000, 4500000000, 6.1), "42%  1.9 of 4.5 GB  311 MB/s  0:08 left");
  EXPECT_EQ(ProgressText(500000, 2000000, 1), "25%  0.5 of 2.0 MB  0.5 MB/s  0:03 left");
  EXPECT_EQ(ProgressText(1, 7200001, 1), "0%  0.0 of 7.2 MB  0.0 MB/s  2000:00:00 left");
}

TEST(DvdVideo, FoundWithoutTheSwitch) {
  TempDir dir;
  WriteFile(dir / "film/VIDEO_TS/VIDEO_TS.IFO", test::PatternBytes(4096));
  WriteFile(dir / "film/VIDEO_TS/VIDEO_TS.BUP", test::PatternBytes(4096));
  CommandResult r = RunIn(dir.path(), {"film", "a.iso", "-verify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "DVD-Video folder (VIDEO_TS): written as ISO 9660 + UDF 1.02 with the DVD-Video "
            "layout\nDone\nVerified: 2 files, 8192 bytes in ISO 9660 and UDF 1.02\n");
  const std::string warning =
      "Warning: the folder holds DVD-Video (VIDEO_TS), which DVD players read only from ISO "
      "9660 + UDF 1.02: use -filesystem DVD\n";
  for (const char* fs : {"CD", "UDF 1.02", "BD"}) {
    SCOPED_TRACE(fs);
    r = RunIn(dir.path(), {"film", "b.iso", "-yes", "-fs", fs});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, warning);
  }
  EXPECT_EQ(RunIn(dir.path(), {"film", "c.iso", "-fs", "DVD"}).err, "");
}

TEST(FreeSpace, TooLittleRoomIsRefusedBeforeWriting) {
  TempDir dir;
  WriteFile(dir / "src/a.bin", test::PatternBytes(100000));
  WriteFile(dir / "old.iso", "old");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string tight = "VELLUMCAST_TEST_FREE_BYTES=983039";
  const std::string needs = "Error: the image needs 983,040 bytes; " +
                            std::filesystem::canonical(dir.path()).string() + " has ";
  const size_t before = EntriesBelow(dir.path());
  CommandResult r = RunIn(dir.path(), {"src", "new.iso", "-fs", "BD"}, tight);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, needs + "983,039 free\n");
  r = RunIn(dir.path(), {"src", "old.iso", "-fs", "BD", "-yes"}, tight);
  EXPECT_EQ(r.err, needs + "983,039 free\n");
  EXPECT_EQ(ReadFile(dir / "old.iso"), "old");
  EXPECT_EQ(EntriesBelow(dir.path()), before);
  EXPECT_EQ(RunIn(dir.path(), {"src", "new.iso", "-fs", "BD"}, "VELLUMCAST_TEST_FREE_BYTES=983040")
                .exitCode,
            0);
  // -verify to what cannot be read back: refused before a byte is written
  for (const char* target : {"/dev/null", "fifo"}) {
    r = RunIn(dir.path(), {"src", target, "-verify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.starts_with("Error: -verify reads the image back")) << r.err;
  }
}

TEST(PeerSwitches, IdentifiersExcludesAndTheirCheck) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  WriteFile(dir / "src/cache/x.o", "x");
  WriteFile(dir / "src/b.tmp", "b");
  WriteFile(dir / "patterns", "*.tmp\n\ncache\n");
  std::filesystem::create_symlink(dir / "nowhere", dir / "src/dangling");  // a scan warning
  const std::vector<std::string> identity = {
      "--publisher",  "Acme Ltd", "--preparer",  "Jo",    "--application",  "mkimage 2",
      "--volume-set", "SET_1",    "--system-id", "LINUX", "--exclude-from", "patterns"};
  std::vector<std::string> build = {"src", "t.iso", "-fs", "DVD", "-J", "-verify"};
  build.insert(build.end(), identity.begin(), identity.end());
  CommandResult r = RunIn(dir.path(), build);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.err.starts_with("Warning: skipping ")) << r.err;
  EXPECT_TRUE(r.out.ends_with("Verified: 1 files, 1 bytes in ISO 9660, Joliet and UDF 1.02\n"));
  const std::string image = ReadFile(dir / "t.iso");
  const std::string pvd = image.substr(16 * 2048, 2048);
  EXPECT_EQ(pvd.substr(8, 6), "LINUX ");
  EXPECT_EQ(pvd.substr(190, 6), "SET_1 ");
  EXPECT_EQ(pvd.substr(318, 9), "ACME LTD ");
  EXPECT_EQ(pvd.substr(446, 3), "JO ");
  EXPECT_EQ(pvd.substr(574, 10), "MKIMAGE 2 ");
  EXPECT_TRUE(std::regex_search(image, std::regex("\x08[0-9A-F]{16}SET_1")));  // UDF, 8-bit
  // the check compares what the command line asks for with what the image holds
  std::vector<std::string> compare = {"src", "-compare", "t.iso", "-J"};
  compare.insert(compare.end(), identity.begin(), identity.end());
  r = RunIn(dir.path(), compare);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");  // a comparison prints no scan warnings
  EXPECT_EQ(r.out, "Verified: 1 files, 1 bytes in ISO 9660, Joliet and UDF 1.02\n");
  compare[compare.size() - 5] = "SET_2";
  r = RunIn(dir.path(), compare);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: ISO 9660 volume-set is \"SET_1\", not \"SET_2\"\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error: UDF volume-set is \"SET_1\""), std::string::npos) << r.err;
  // a value cut or changed to fit draws a warning; -size lists what --exclude left out
  r = RunIn(dir.path(), {"src", "-size", "-fs", "CD", "--system-id", std::string(40, 's'),
                         "--exclude", "*.tmp", "--exclude", "cache/*", "--exclude", "dang*"});
  EXPECT_EQ(r.err, "Warning: --system-id \"" + std::string(40, 's') +
                       "\" does not fit its field: ISO 9660 records \"" + std::string(32, 'S') +
                       "\"\n");
  for (const char* left : {"b.tmp\n", "cache/x.o\n"}) {
    EXPECT_NE(r.out.find(std::string("Excluded by --exclude: ") + left), std::string::npos)
        << r.out;
  }
}

}  // namespace
}  // namespace vellumcast

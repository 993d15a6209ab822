// What the command line offers beyond the image itself, through the real executable:
// -size, fixed build times (-time, SOURCE_DATE_EPOCH), the image on standard output
// ("-o -"), and the man page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "frontend/command_line.h"
#include "platform/text.h"
#include "test_support.h"
#include "tree_test_support.h"

namespace vellumcast {
namespace {

using test::Binary;
using test::CommandResult;
using test::Quote;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

// `env` settings (e.g. "TZ=UTC"), then the executable with `args`; SOURCE_DATE_EPOCH
// is cleared unless `env` sets it.
CommandResult RunTool(const std::vector<std::string>& args, const std::string& env = "",
                      const std::string& after = "") {
  std::string command = "env -u SOURCE_DATE_EPOCH " + env + " " + Quote(Binary());
  for (const std::string& a : args) command += " " + Quote(a);
  return RunCommand(command + after);
}

// A folder with files in two levels, names whose ISO 9660 identifiers collide, and
// fixed modification times.
void MakeSource(const std::string& src) {
  WriteFile(src + "/data.bin", test::PatternBytes(300000, 1));
  WriteFile(src + "/report-2023-01.txt", "one");
  WriteFile(src + "/report-2023-02.txt", "two");
  WriteFile(src + "/sub/inner.dat", test::PatternBytes(5000, 2));
  WriteFile(src + "/sub/empty", "");
  for (const char* path : {"data.bin", "report-2023-01.txt", "report-2023-02.txt", "sub/inner.dat",
                           "sub/empty", "sub"}) {
    std::filesystem::last_write_time(  // 2000-01-01, a date every file system holds
        src + "/" + path, std::chrono::file_clock::from_sys(
                              std::chrono::sys_seconds(std::chrono::seconds(946684800))));
  }
}

const std::vector<std::string> kFileSystems = {"CD", "DVD", "UDF 1.02", "BD", ""};

std::vector<std::string> FileSystemArgs(const std::string& fs) {
  return fs.empty() ? std::vector<std::string>{} : std::vector<std::string>{"-filesystem", fs};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- -size ----

TEST(SizeSwitch, PrintsTheSizeARealBuildHas) {
  TempDir dir;
  MakeSource(dir / "src");
  const std::regex shape(
      "Image size: (\\d+) sectors \\((\\d+) bytes\\)\n"
      "Fits on: CD 700 MB, DVD-5, DVD-9, BD-25, BD-50, BD-100\n");
  for (const std::string& fs : kFileSystems) {
    SCOPED_TRACE(fs);
    // No target needed; a target named is not created.
    for (const auto& args : {std::vector<std::string>{dir / "src", "-size"},
                             std::vector<std::string>{"-s", dir / "src", dir / "t.iso"}}) {
      CommandResult r = RunTool(Concat(args, FileSystemArgs(fs)));
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.err, "");
      std::smatch m;
      ASSERT_TRUE(std::regex_match(r.out, m, shape)) << r.out;
      EXPECT_FALSE(std::filesystem::exists(dir / "t.iso"));
      ASSERT_EQ(std::stoull(m[2]), std::stoull(m[1]) * 2048);

      CommandResult built =
          RunTool(Concat({dir / "src", dir / "built.iso"}, FileSystemArgs(fs)), "", " </dev/null");
      ASSERT_EQ(built.exitCode, 0) << built.err;
      EXPECT_EQ(std::filesystem::file_size(dir / "built.iso"), std::stoull(m[2]));
      std::filesystem::remove(dir / "built.iso");
    }
  }
}

// A sparse file makes an image larger than a CD without disk space: -size names the
// media it still fits, and writing it as ISO 9660 only draws one warning first.
TEST(SizeSwitch, ImageLargerThanItsMedium) {
  TempDir dir;
  const uintmax_t big = uintmax_t(720) << 20;
  std::filesystem::create_directory(dir / "src");
  WriteFile(dir / "src/small", "x");
  { std::ofstream(dir / "src/big", std::ios::binary); }
  std::filesystem::resize_file(dir / "src/big", big);

  WriteFile(dir / "small/small", "x");

  CommandResult size = RunTool({dir / "src", "-size", "-fs", "CD"});
  ASSERT_EQ(size.exitCode, 0) << size.err;
  EXPECT_NE(size.out.find("\nFits on: DVD-5, DVD-9, BD-25, BD-50, BD-100\n"), std::string::npos)
      << size.out;

  struct Case {
    std::string src;
    bool warned;
  };
  for (const Case& c : {Case{dir / "src", true}, Case{dir / "small", false}}) {
    SCOPED_TRACE(c.src);
    CommandResult r = RunTool({c.src, "-o", "-", "-fs", "CD"}, "", " | wc -c");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(std::stoull(r.out), c.warned ? big : 0);
    std::string warning = "Warning: the image (";
    EXPECT_EQ(r.err.rfind(warning, 0) == 0, c.warned) << r.err;
    EXPECT_EQ(
        r.err.find("sectors) is larger than a CD 700 MB (359846 sectors)\n") != std::string::npos,
        c.warned);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.warned ? 2 : 1)
        << r.err;  // and "Done"
    EXPECT_TRUE(r.err.ends_with("Done\n"));
  }
}

// ---- fixed build time ----

TEST(BuildTime, SecondsOrIsoUtcTime) {
  struct Case {
    const char16_t* text;
    bool isoForm;
    int64_t expected;
  };  // -1: refused
  for (Case c : {Case{u"0", true, 0},
                 {u"1767225600", false, 1767225600},
                 {u"2026-01-31T12:00:00Z", true, 1769860800},
                 {u"1970-01-01T00:00:00Z", true, 0},
                 {u"2024-02-29T23:59:59Z", true, 1709251199},
                 {u"9999-12-31T23:59:59Z", true, 253402300799},
                 {u"253402300799", true, 253402300799},
                 // refused
                 {u"2026-01-31T12:00:00Z", false, -1},
                 {u"253402300800", true, -1},
                 {u"", true, -1},
                 {u"-1", true, -1},
                 {u"+5", true, -1},
                 {u"1e9", true, -1},
                 {u" 5", true, -1},
                 {u"2023-02-29T00:00:00Z", true, -1},
                 {u"2026-01-31T24:00:00Z", true, -1},
                 {u"2026-13-01T00:00:00Z", true, -1},
                 {u"2026-01-31T12:00:60Z", true, -1},
                 {u"1969-12-31T23:59:59Z", true, -1},
                 {u"2026-01-31 12:00:00Z", true, -1},
                 {u"2026-01-31T12:00:00+00", true, -1},
                 {u"2026-1-31T12:00:00Z", true, -1}}) {
    int64_t seconds = -1;
    EXPECT_EQ(ParseBuildTime(c.text, c.isoForm, seconds), c.expected >= 0) << Utf16ToUtf8(c.text);
    EXPECT_EQ(seconds, c.expected) << Utf16ToUtf8(c.text);
  }
}

TEST(BuildTime, InvalidValuesAreErrors) {
  TempDir dir;
  std::filesystem::create_directory(dir / "src");
  struct Case {
    std::string env;
    std::vector<std::string> args;
    bool ok;
  };
  const Case cases[] = {
      {"", {"-time", "yesterday"}, false},
      {"", {"-time", "2026-02-30T00:00:00Z"}, false},
      {"", {"-time", ""}, false},  // an empty value
      {"SOURCE_DATE_EPOCH=abc", {}, false},
      {"SOURCE_DATE_EPOCH=2026-01-31T12:00:00Z", {}, false},
      {"SOURCE_DATE_EPOCH=-1", {}, false},
      {"SOURCE_DATE_EPOCH=", {}, true},                   // empty counts as unset
      {"SOURCE_DATE_EPOCH=abc", {"-time", "100"}, true},  // -time wins
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env + (c.args.empty() ? "" : " " + c.args.back()));
    CommandResult r = RunTool(Concat({dir / "src", dir / "t.iso", "-size"}, c.args), c.env);
    EXPECT_EQ(r.exitCode, c.ok ? 0 : 1);
    if (c.ok) continue;
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.err.rfind("Error: invalid ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// A bad time is reported only once the paths are known to be there: the missing-path
// messages and their usage text come first, on their own.
TEST(BuildTime, PathsAreCheckedFirst) {
  TempDir dir;
  std::filesystem::create_directory(dir / "src");
  const std::string missing = dir / "missing";
  struct Case {
    std::string env;
    std::vector<std::string> args;
    std::string before;
  };
  const Case cases[] = {
      {"", {"-time", "yesterday"}, "Error: Please specify source path!\n"},
      {"SOURCE_DATE_EPOCH=abc", {dir / "src"}, "Error: Please specify target path!\n"},
      {"",
       {missing, dir / "t.iso", "-time", "yesterday"},
       "Error: the source folder " + missing + " does not exist\n"},
      {"SOURCE_DATE_EPOCH=abc",
       {missing, dir / "t.iso"},
       "Error: the source folder " + missing + " does not exist\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    CommandResult r = RunTool(c.args, c.env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.before);
  }
}

// The same folder built with the same fixed time gives the same bytes, from -time in
// either form or from SOURCE_DATE_EPOCH, in different time zones; another time differs.
TEST(BuildTime, FixedTimeGivesIdenticalImages) {
  TempDir dir;
  MakeSource(dir / "src");
  for (const std::string& fs : kFileSystems) {
    SCOPED_TRACE(fs);
    struct Build {
      std::string env;
      std::vector<std::string> args;
    };
    const Build builds[] = {
        {"TZ=UTC", {"-time", "1767225600"}},
        {"TZ=America/New_York", {"-time", "2026-01-01T00:00:00Z"}},
        {"TZ=Asia/Kolkata SOURCE_DATE_EPOCH=1767225600", {}},
        {"TZ=UTC", {"-time", "1767225601"}},
    };
    std::vector<std::string> images;
    for (const Build& b : builds) {
      std::filesystem::remove(dir / "t.iso");
      CommandResult r =
          RunTool(Concat(Concat({dir / "src", dir / "t.iso"}, FileSystemArgs(fs)), b.args), b.env);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      images.push_back(ReadFile(dir / "t.iso"));
    }
    ASSERT_GT(images[0].size(), 300000u);
    EXPECT_TRUE(images[1] == images[0]);
    EXPECT_TRUE(images[2] == images[0]);
    EXPECT_TRUE(images[3] != images[0]);
    EXPECT_EQ(images[3].size(), images[0].size());
  }
}

// Which entry of a directory takes a numbered variant of a shared identifier does not
// depend on the order the folder was listed in, wherever the image sorts it (UDF).
TEST(BuildTime, IdentifiersDoNotDependOnListingOrder) {
  const std::vector<std::u16string> names = {u"report-2023-01.txt", u"report-2023-02.txt",
                                             u"REPORT-2023-03.TXT", u"a\xDC80.txt", u"a\xDC81.txt"};
  struct Case {
    uint32_t formats;
    uint16_t revision;
  };
  for (Case c :
       {Case{FormatIso9660 | FormatUdf, 0x0102}, {FormatUdf, 0x0102}, {FormatUdf, 0x0250}}) {
    std::map<std::u16string, std::pair<std::string, std::u16string>> seen[2];
    for (int reversed = 0; reversed < 2; ++reversed) {
      test::LayoutTree t(c.formats, c.revision);
      std::vector<std::u16string> order = names;
      if (reversed) std::reverse(order.begin(), order.end());
      std::vector<TreeNode*> nodes;
      for (const std::u16string& name : order) nodes.push_back(t.AddFile(t.root(), name, 10));
      ASSERT_TRUE(t.builder.PlanLayout());
      for (TreeNode* n : nodes) {
        seen[reversed][n->name] = {c.formats & FormatIso9660 ? test::IsoName(n) : "",
                                   test::UdfName(n)};
      }
    }
    EXPECT_EQ(seen[0], seen[1]) << c.formats << " " << c.revision;
  }
}

// ---- -o - ----

TEST(Streaming, StandardOutputGetsTheImageAndTheTextsGoToStandardError) {
  TempDir dir;
  MakeSource(dir / "src");
  WriteFile(dir / "-", "not the target");  // "-" is never a file name here
  for (const std::string& fs : {std::string("DVD"), std::string("")}) {
    SCOPED_TRACE(fs);
    std::vector<std::string> common =
        Concat(FileSystemArgs(fs), {"-time", "1767225600", "-label", "S"});
    CommandResult file =
        RunTool(Concat({dir / "src", dir / "file.iso"}, common), "", " </dev/null");
    ASSERT_EQ(file.exitCode, 0) << file.err;
    std::string command =
        "cd " + Quote(dir.path()) + " && env -u SOURCE_DATE_EPOCH " + Quote(Binary()) + " src -o -";
    for (const std::string& a : common) command += " " + Quote(a);
    CommandResult piped = RunCommand(command + " | cat >piped.iso");
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, "Done\n");
    EXPECT_EQ(piped.err.find("Overwrite"), std::string::npos);
    EXPECT_TRUE(ReadFile(dir / "piped.iso") == ReadFile(dir / "file.iso"));
    EXPECT_EQ(ReadFile(dir / "-"), "not the target");
    std::filesystem::remove(dir / "file.iso");
  }
}

// A reader that goes away ends the build with an error and exit code 1.
TEST(Streaming, ClosedPipeIsAnError) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(8 << 20));
  CommandResult r = RunCommand(
      "bash -c " + Quote(Quote(Binary()) + " " + Quote(dir / "src") +
                         " -o - -fs CD | head -c 1000 >/dev/null; echo ${PIPESTATUS[0]}"));
  EXPECT_EQ(r.out, "1\n");
  EXPECT_NE(
      r.err.find("Error: cannot write standard output: " + std::string(strerror(EPIPE)) + "\n"),
      std::string::npos)
      << r.err;
}

// ---- stop signals ----

// Starts the executable with `args`, standard input from `input` and the two output
// streams into `out` and `err`; returns its process id.
pid_t Spawn(const std::vector<std::string>& args, const std::string& input, const std::string& out,
            const std::string& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The stop signals as a terminal gives them, even when this process runs with them
  // ignored (a background job of a shell ignores SIGINT).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, s);
  posix_spawnattr_setsigdefault(&attributes, &stopSignals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::vector<std::string> TemporaryFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::string name = e.path().filename().string();
    if (name.find(".vellumcast-tmp-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// SIGINT (Ctrl-C), SIGTERM and SIGHUP while the image is written: the build stops, its
// temporary file is removed, the old image stays, one error line, and the exit code a
// shell shows for a program ended by that signal.
TEST(StopSignals, BuildStopsAndLeavesTheOldImage) {
  TempDir dir;
  std::filesystem::create_directory(dir / "src");
  { std::ofstream(dir / "src/big", std::ios::binary); }
  std::filesystem::resize_file(dir / "src/big", uintmax_t(2) << 30);  // sparse: no disk used
  WriteFile(dir / "answer", "y\n");
  struct Case {
    int signal, exitCode;
  };
  for (Case c : {Case{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    SCOPED_TRACE(c.signal);
    WriteFile(dir / "t.iso", "old");
    pid_t pid = Spawn({Binary(), dir / "src", dir / "t.iso", "-fs", "DVD"}, dir / "answer",
                      dir / "out", dir / "err");
    ASSERT_GT(pid, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (TemporaryFiles(dir.path()).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(kill(pid, c.signal), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
    EXPECT_EQ(ReadFile(dir / "err"), "Error: the build was stopped\n");
    EXPECT_EQ(ReadFile(dir / "out").find("Done"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "t.iso"), "old");
    EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<std::string>{});
  }
}

// ---- man page ----

TEST(ManPage, LintsCleanAndNamesEverySwitch) {
  const std::string page = std::string(VELLUMCAST_SOURCE_DIR) + "/doc/vellumcast.1";
  std::string text = ReadFile(page);
  for (const char* name : {"\\-filesystem", "\\-label", ".BI \\-o ", ".B \\-o \\-", "\\-size",
                           "\\-time", "\\-?", "\\-\\-help", "\\-\\-version", "SOURCE_DATE_EPOCH",
                           "EXIT STATUS", "EXAMPLES", "DVD-VIDEO", "BLU-RAY"}) {
    EXPECT_NE(text.find(name), std::string::npos) << name;
  }
  if (RunCommand("command -v groff").exitCode != 0) GTEST_SKIP() << "groff is not installed";
  CommandResult r = RunCommand("groff -man -ww -z " + Quote(page));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
}  // namespace vellumcast

// The command line as scripts use it, through the real executable: the switch table
// against the usage text, the man page and the completion; long forms; -yes and -quiet;
// which stream carries what; a closed standard output; label warnings; a replaced
// target keeping what it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "frontend/command_line.h"
#include "iso_reader.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::Binary;
using test::CommandResult;
using test::CompareIsoWithFolder;
using test::Quote;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

// The executable with `args`, run in `folder` after the shell text `before`.
CommandResult RunIn(const std::string& folder, const std::vector<std::string>& args,
                    const std::string& input = "", const std::string& before = "") {
  std::string command = "cd " + Quote(folder) + " || exit 1; " + before + Quote(Binary());
  for (const std::string& a : args) command += " " + Quote(a);
  return RunCommand(command + "; s=$?; wait; exit $s", input);
}

std::string Unknown(const std::string& word) {
  return "Error: unknown switch " + word + " (vellumcast --help lists the switches)\n";
}

TEST(CommandLineScan, LongFormsAndPaths) {
  using S = std::optional<std::u16string>;
  struct Case {
    std::vector<std::u16string> args;
    S source, target;
    std::u16string label;
    FileSystemChoice choice;
    bool yes, quiet;
  };
  const FileSystemChoice D = FileSystemChoice::Default;
  const Case cases[] = {
      {{u"--label", u"L", u"--filesystem", u"cd", u"--output", u"t", u"a", u"--yes", u"--quiet"},
       u"a", u"t", u"L", FileSystemChoice::Iso9660, true, true},
      {{u"a", u"--label=x=y", u"--output=-", u"--filesystem=DVD"}, u"a", u"-", u"x=y",
       FileSystemChoice::Iso9660Udf102, false, false},
      {{u"-y", u"-q", u"-yes", u"a", u"b"}, u"a", u"b", u"", D, true, true},
      // a beginning only one long name has
      {{u"--lab", u"L", u"--ye", u"a", u"b", u"--q"}, u"a", u"b", u"L", D, true, true},
      // "--" ends the switches; a lone "-" is a path
      {{u"-q", u"--", u"-a", u"-b"}, u"-a", u"-b", u"", D, false, true},
      {{u"a", u"-"}, u"a", u"-", u"", D, false, false},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += "[" + Utf16ToUtf8(a) + "]";
    SCOPED_TRACE(shown);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.action, CommandAction::Build);
    EXPECT_EQ(line.source, c.source);
    EXPECT_EQ(line.target, c.target);
    EXPECT_EQ(line.label, c.label);
    EXPECT_EQ(line.choice, c.choice);
    EXPECT_EQ(line.replaceWithoutAsking, c.yes);
    EXPECT_EQ(line.quiet, c.quiet);
  }
  EXPECT_EQ(ParseCommandLine({u"a", u"--help"}).action, CommandAction::Usage);
  EXPECT_EQ(ParseCommandLine({u"--version=2"}).error, "Error: --version takes no value\n");
  EXPECT_EQ(ParseCommandLine({u"a", u"b", u"--ver"}).error,
            "Error: --ver could be more than one switch: --verify, --version\n");
  const CommandLine peers =
      ParseCommandLine({u"a", u"b", u"--exclude", u"*.o", u"--exclude=.git", u"--exclude-from",
                        u"f", u"--publisher=P", u"--prep", u"Q", u"--application", u"A",
                        u"--vol", u"V", u"--system-id", u"S"});
  EXPECT_EQ(peers.error, "");
  EXPECT_EQ(peers.excludes, (std::vector<std::u16string>{u"*.o", u".git"}));
  EXPECT_EQ(peers.excludeFiles, std::vector<std::u16string>{u"f"});
  EXPECT_EQ(peers.identity.publisher + peers.identity.preparer + peers.identity.application +
                peers.identity.volumeSet + peers.identity.systemId,
            u"PQAVS");
}

// Every switch the scan accepts is in the usage text, in the man page and in the bash
// completion, in each of its forms.
TEST(Console, EverySwitchIsDocumentedAndCompleted) {
  const std::string source = VELLUMCAST_SOURCE_DIR;
  const std::string usage = RunCommand(Quote(Binary()) + " --help").out;
  const std::string page = ReadFile(source + "/doc/vellumcast.1");
  const std::string completion = ReadFile(source + "/completion/vellumcast.bash");
  auto manForm = [](std::string form) {
    for (size_t at = 0; (at = form.find('-', at)) != std::string::npos; at += 2)
      form.insert(at, "\\");
    return form;
  };
  const size_t synopsisAt = page.find(".SH SYNOPSIS");
  const std::string synopsis = page.substr(synopsisAt, page.find(".SH DESC") - synopsisAt);
  std::set<std::string> longForms;
  size_t listed = 0;  // switch lines of the usage text
  for (size_t at = 0; (at = usage.find("\n    -", at)) != std::string::npos; ++at) ++listed;
  EXPECT_EQ(listed, CommandSwitches().size()) << usage;
  for (const SwitchName& s : CommandSwitches()) {
    SCOPED_TRACE(s.longForm);
    longForms.insert(s.longForm);
    const std::string name = s.shortForm ? s.shortForm : s.longForm;
    EXPECT_NE(usage.find("\n    " + name + " "), std::string::npos);
    EXPECT_NE(synopsis.find(manForm(name)), std::string::npos);
    EXPECT_NE(page.find(manForm(s.longForm)), std::string::npos);
    EXPECT_NE(completion.find(std::string(" ") + s.longForm + " "), std::string::npos);
    std::istringstream aliases(s.aliases);
    for (std::string alias; aliases >> alias;) {
      EXPECT_NE(page.find(manForm(alias)), std::string::npos) << alias;
      EXPECT_NE(completion.find("\n" + alias + " "), std::string::npos) << alias;
    }
    if (!s.shortForm) continue;
    EXPECT_NE(page.find(manForm(s.shortForm)), std::string::npos);
    EXPECT_NE(completion.find(std::string("\n") + s.shortForm + " "), std::string::npos);
  }
  // A long form's value joined with '=' is completed after it.
  auto complete = [&](const std::string& word) {
    return RunCommand("cd " + Quote(source) + " && bash -c " +
                      Quote(". completion/vellumcast.bash; COMP_WORDS=(vellumcast src " + word +
                            "); COMP_CWORD=2; _vellumcast; printf '%s\\n' \"${COMPREPLY[@]}\""))
        .out;
  };
  EXPECT_EQ(complete("--filesystem=D"), "--filesystem=DVD\n");
  EXPECT_EQ(complete("--output=READ"), "--output=README.md\n");
  // Completing "--" offers exactly the long forms.
  CommandResult offered =
      RunCommand("bash -c " + Quote(". " + Quote(source + "/completion/vellumcast.bash") +
                                    "; COMP_WORDS=(vellumcast --); COMP_CWORD=1; _vellumcast; "
                                    "printf '%s\\n' \"${COMPREPLY[@]}\""));
  std::set<std::string> words;
  for (size_t at = 0, end; (end = offered.out.find('\n', at)) != std::string::npos; at = end + 1) {
    words.insert(offered.out.substr(at, end - at));
  }
  EXPECT_EQ(words, longForms) << offered.err;
}

// Exit codes and what goes to which stream, for scripts.
TEST(Console, ScriptsGetExitCodesAndStreams) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  enum Out { Nothing, ProgressAndDone, QuestionLine, Image };
  const std::string noAnswer =
      "Error: the file t.iso exists and standard input gave no answer; add -yes to replace it\n";
  struct Case {
    std::vector<std::string> args;
    std::string input, before;
    int exitCode;
    Out out;
    std::string err;  // "*": Done
  };
  const Case cases[] = {
      {{"src", "t.iso", "-yes"}, "", "", 0, ProgressAndDone, ""},
      {{"src", "t.iso", "--yes", "--quiet"}, "", "", 0, Nothing, ""},
      {{"-q", "-y", "src", "t.iso"}, "", "", 0, Nothing, ""},
      {{"-Q", "-x", "-Y", "src", "t.iso"}, "", "", 1, Nothing, Unknown("-Q")},
      {{"src", "t.iso", "-quiet"}, "", "", 1, QuestionLine, noAnswer},
      {{"src", "t.iso", "-quiet"}, "n\n", "", 1, QuestionLine,
       "Error: t.iso exists and was not replaced\n"},
      {{"--filesystem=CD", "--label", "Film", "--output", "t.iso", "src", "--yes"},
       "",
       "",
       0,
       ProgressAndDone,
       ""},
      {{"src", "/dev/null", "-fs", "CD"}, "", "", 0, ProgressAndDone, ""},
      {{"src", "fifo", "-quiet"}, "", "timeout 60 cat fifo >/dev/null & ", 0, Nothing, ""},
      {{"src", "-", "-fs", "CD"}, "", "", 0, Image, "*"},
      {{"src", "--output", "-", "--quiet"}, "", "", 0, Image, ""},
      {{"nosuch", "t.iso", "-q"}, "", "", 1, Nothing,
       "Error: the source folder nosuch does not exist\n"},
      // Refused before the question about the existing target.
      {{"src", "t.iso", "-R", "-fs", "BD"},
       "",
       "",
       1,
       Nothing,
       "Error: Rock Ridge extends ISO 9660, which this file system does not have; choose "
       "-filesystem CD or DVD\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    WriteFile(dir / "t.iso", "old");
    CommandResult r = RunIn(dir.path(), c.args, c.input, c.before);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.err == "*") {
      EXPECT_EQ(r.err, "Done\n");
    } else {
      EXPECT_EQ(r.err, c.err);
    }
    switch (c.out) {
      case Nothing: EXPECT_EQ(r.out, ""); break;
      case ProgressAndDone: EXPECT_EQ(r.out, "Done\n"); break;
      case QuestionLine:
        EXPECT_EQ(r.out, "The file t.iso exists. Overwrite? (Yes/No) " +
                             std::string(c.input.empty() ? "\n" : ""));
        break;
      case Image: EXPECT_TRUE(r.out.size() > 0 && r.out.size() % 2048 == 0) << r.out.size(); break;
    }
    const bool replaced = c.exitCode == 0 && std::count(c.args.begin(), c.args.end(), "t.iso");
    EXPECT_EQ(ReadFile(dir / "t.iso") == "old", !replaced);
  }
}

// Runs the executable with `args` in `folder` and standard output a pipe nobody reads:
// returns the wait status and standard error.
int RunWithClosedStandardOutput(const std::string& folder, std::vector<std::string> args,
                                std::string& err) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  close(fds[0]);
  const std::string errPath = folder + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  args.insert(args.begin(), Binary());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  err = ReadFile(errPath);
  std::filesystem::remove(errPath);
  return status;
}

// A reader of standard output that went away (`| head -c0`): a file image is still
// built whole, without progress and without leaving its temporary file; the image itself
// on standard output is an error. Neither ends by SIGPIPE.
TEST(Console, ClosedStandardOutput) {
  TempDir dir;
  WriteFile(dir / "src/data.bin", test::PatternBytes(3 << 20));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string errEnd;
  };
  const Case cases[] = {
      {{dir / "src", dir / "t.iso", "-fs", "CD"}, 0, ""},
      {{dir / "src", dir / "t.iso", "-fs", "DVD", "-yes"}, 0, ""},
      {{"--help"}, 0, ""},
      {{dir / "src", "-o", "-", "-fs", "CD"},
       1,
       "Error: cannot write standard output: " + std::string(strerror(EPIPE)) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::string err;
    int status = RunWithClosedStandardOutput(dir.path(), c.args, err);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << err;
    EXPECT_EQ(c.exitCode == 0 ? err : err.substr(err.rfind('\r') + 1),
              c.errEnd);  // after any progress
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      EXPECT_EQ(e.path().filename().string().find(".vellumcast-tmp-"), std::string::npos)
          << e.path();
    }
  }
  EXPECT_EQ(CompareIsoWithFolder(dir / "t.iso", dir / "src"), "");
}

// A label cut to fit a field, or replaced by NONE, draws one warning saying what each
// file system of the image records.
TEST(Console, CutLabelIsAWarning) {
  TempDir dir;
  std::filesystem::create_directory(dir / "src");
  const std::string a31(31, 'a'), a32(32, 'a'), A31(31, 'A'), a126(126, 'a');
  auto euros = [](int n) {
    std::string s;
    while (n--) s += "\xe2\x82\xac";
    return s;
  };
  const std::string head = "Warning: the label does not fit every field: ";
  const std::string udf30 =
      "UDF records \"" + std::string(30, 'a') + "\" as volume and file set identifier and ";
  struct Case {
    std::string fs, label, warning;
  };
  const Case cases[] = {
      {"CD", a31, ""},
      {"CD", a32, head + "ISO 9660 records \"" + A31 + "\"\n"},
      {"CD", "Fil\xe2\x82\xacm", head + "ISO 9660 records \"NONE\"\n"},
      {"2", std::string(30, 'a'), ""},
      {"2", a31, head + udf30 + "the whole label as logical volume identifier\n"},
      {"DVD", a32,
       head + "ISO 9660 records \"" + A31 + "\"; " + udf30 +
           "the whole label as logical volume identifier\n"},
      {"DVD", "Fil\xe2\x82\xacm",
       head + "ISO 9660 records \"NONE\"; UDF records the whole label\n"},
      {"CD -joliet", std::string(16, 'a'), ""},
      {"CD -joliet", "Fil\xe2\x82\xacm",
       head + "ISO 9660 records \"NONE\", Joliet \"Fil\xe2\x82\xacm\"\n"},
      {"DVD -J", a32,
       head + "ISO 9660 records \"" + A31 + "\", Joliet \"" + std::string(16, 'a') + "\"; " +
           udf30 + "the whole label as logical volume identifier\n"},
      {"BD", a126 + "b", head + udf30 + "\"" + a126 + "\" as logical volume identifier\n"},
      {"", euros(64),
       head + "UDF records \"" + euros(15) + "\" as volume and file set identifier and \"" +
           euros(63) + "\" as logical volume identifier\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fs + " " + c.label);
    std::vector<std::string> args = {"src", "t.iso", "-yes", "-quiet", "-label", c.label};
    if (!c.fs.empty()) args.insert(args.end(), {"-fs", c.fs.substr(0, c.fs.find(' '))});
    if (c.fs.find(' ') != std::string::npos) args.push_back(c.fs.substr(c.fs.find(' ') + 1));
    CommandResult r = RunIn(dir.path(), args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, c.warning);
  }
}

// A replaced target keeps its permission bits, and its owner and group when the build
// runs as root.
TEST(Console, ReplacedTargetKeepsModeAndOwner) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  WriteFile(dir / "t.iso", "old");
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod((dir / "t.iso").c_str(), 02640), 0);
  ASSERT_EQ(root ? chown((dir / "t.iso").c_str(), 1234, 5678) : 0, 0);
  struct stat before {
  }, after{};
  ASSERT_EQ(stat((dir / "t.iso").c_str(), &before), 0);
  CommandResult r = RunIn(dir.path(), {"src", "t.iso", "-yes", "-quiet", "-fs", "CD"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(stat((dir / "t.iso").c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file, renamed over the old one
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(CompareIsoWithFolder(dir / "t.iso", dir / "src"), "");
}

// When no temporary file can be made beside the target, an existing target is written
// in place after a warning, and a new one is made directly. Root ignores a folder's
// write permission, so it meets a folder that takes no new entry as an immutable one.
TEST(Console, TargetWrittenInPlaceWithoutTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "src/a.txt", "a");
  const std::string longName = std::string(240, 'n') + ".iso";  // leaves no room for the suffix
  std::filesystem::create_directory(dir / "locked");
  const bool root = geteuid() == 0;
  const std::string lock = root ? "chattr +i " : "chmod 0555 ",
                    unlock = root ? "chattr -i " : "chmod 0755 ";
  struct Case {
    std::string target;
    bool exists, locked;
    std::string reason;
  };
  const Case cases[] = {
      {longName, true, false, strerror(ENAMETOOLONG)},
      {"new-" + longName, false, false, ""},
      {"locked/t.iso", true, true, strerror(root ? EPERM : EACCES)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    if (c.exists) WriteFile(dir / c.target, "old");
    if (c.locked && RunCommand(lock + Quote(dir / "locked")).exitCode != 0) {
      std::printf("skipped: %s cannot be made to refuse new entries\n", (dir / "locked").c_str());
      continue;
    }
    CommandResult r = RunIn(dir.path(), {"src", c.target, "-yes", "-quiet", "-fs", "CD"});
    if (c.locked) RunCommand(unlock + Quote(dir / "locked"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, c.exists ? "Warning: no temporary file can be made beside " + c.target + " (" +
                                    c.reason +
                                    "): writing it in place; a failure would leave it incomplete\n"
                              : "");
    EXPECT_EQ(CompareIsoWithFolder(dir / c.target, dir / "src"), "");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "locked"), {}), 1);
}

}  // namespace
}  // namespace vellumcast

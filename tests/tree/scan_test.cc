// The source folder scan: tree shape, counters, exclusions and how awkward entries of a
// real folder (unreadable, looping, special, dangling, badly named, too deep) are met.
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>

#include "platform/file_handle.h"
#include "platform/paths.h"
#include "test_support.h"
#include "tree_test_support.h"

namespace vellumcast {
namespace {

using test::ChildNames;
using test::Find;
using test::Quote;
using test::RunCommand;
using test::Scan;
using test::ScanOptions;
using test::TempDir;
using test::WriteFile;

std::set<std::string> NameSet(const TreeNode* directory) {
  auto names = ChildNames(directory);
  return {names.begin(), names.end()};
}

void MakeSized(const std::string& path, uint64_t size) {
  WriteFile(path, "");
  ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0) << path;
}

TEST(Scan, FolderWithFileEmptyFolderAndThumbsDb) {
  TempDir dir;
  WriteFile(dir / "a.txt", std::string(2049, 'a'));
  std::filesystem::create_directory(dir / "E");
  WriteFile(dir / "Thumbs.db", "thumbnails");
  auto scan = Scan(dir.path());
  ASSERT_TRUE(scan->ok);
  TreeNode* root = scan->root();
  EXPECT_EQ(NameSet(root), (std::set<std::string>{"a.txt", "E"}));
  TreeNode* a = Find(root, "a.txt");
  TreeNode* e = Find(root, "E");
  EXPECT_EQ(a->sectorCount, 2u);
  EXPECT_EQ(a->size, 2049u);
  EXPECT_EQ(a->parent, root);
  EXPECT_EQ(e->isDirectory, 1);
  EXPECT_EQ(e->firstChild, nullptr);
  EXPECT_EQ(scan->builder.tree.totalFileCount, 1u);
  EXPECT_EQ(scan->builder.tree.totalDirectoryCount, 1u);
  EXPECT_EQ(root->fileCount, 1u);
  EXPECT_EQ(root->subdirCount, 1u);
  EXPECT_TRUE(scan->warnings.empty());
}

TEST(Scan, ThumbsDbIsRefusedOnlyAsAFileOfExactlyThatName) {
  TempDir dir;
  WriteFile(dir / "thumbs.db", "x");
  WriteFile(dir / "Thumbs.db/inner.txt", "y");  // a directory of that name
  WriteFile(dir / "sub/Thumbs.db", "z");
  WriteFile(dir / "sub/Thumbs.dbx", "z");
  auto scan = Scan(dir.path());
  EXPECT_EQ(NameSet(scan->root()), (std::set<std::string>{"thumbs.db", "Thumbs.db", "sub"}));
  EXPECT_NE(Find(scan->root(), "Thumbs.db/inner.txt"), nullptr);
  EXPECT_EQ(NameSet(Find(scan->root(), "sub")), (std::set<std::string>{"Thumbs.dbx"}));
  EXPECT_EQ(scan->builder.tree.totalFileCount, 3u);
  EXPECT_EQ(scan->builder.tree.totalDirectoryCount, 2u);
}

TEST(Scan, SectorCountsRoundUpInSixtyFourBits) {
  struct Case {
    uint64_t size, sectors;
  };
  TempDir dir;
  const Case cases[] = {{0, 0},    {1, 1},    {2048, 1},
                        {2049, 2}, {4096, 2}, {(4ull << 30) + 1, 2097153}};
  for (const Case& c : cases) MakeSized(dir / ("f" + std::to_string(c.size)), c.size);
  auto scan = Scan(dir.path());
  for (const Case& c : cases) {
    TreeNode* f = Find(scan->root(), "f" + std::to_string(c.size));
    ASSERT_NE(f, nullptr) << c.size;
    EXPECT_EQ(f->size, c.size);
    EXPECT_EQ(f->sectorCount, c.sectors) << c.size;
  }
}

TEST(Scan, RootAndEntryFields) {
  TempDir dir;
  WriteFile(dir / "old", "x");
  struct timespec times[2] = {{86400, 0}, {86400, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "old").c_str(), times, 0), 0);
  auto scan = Scan(dir.path());
  TreeNode* root = scan->root();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(test::NameOf(root), dir.path() + "/");
  EXPECT_EQ(root->parent, root);
  EXPECT_EQ(root->isoNameLength, 2);
  EXPECT_EQ(root->fileEntryLocation, 2u);
  EXPECT_EQ(root->isDirectory, 1);
  EXPECT_EQ(root->modifiedTime, scan->builder.settings.buildTime);
  EXPECT_EQ(Find(root, "old")->modifiedTime, 86400);
  EXPECT_EQ(Find(root, "old")->kind, Ordinary);
  EXPECT_EQ(scan->builder.tree.arena->blockSize, 8192u);
}

std::string SelfExecutable() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

TEST(Scan, UnreadableDirectoryStaysEmptyWithAWarning) {
  if (geteuid() == 0) {
    // Permission bits do not stop root: run this test again as an unprivileged user,
    // from a copy of the test program that the user can reach wherever the build lives.
    TempDir copy;
    std::string program = copy / "scan_test_program";
    std::filesystem::copy_file(SelfExecutable(), program);
    ASSERT_EQ(chmod(copy.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    auto run = RunCommand("cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                          Quote(program) +
                          " --gtest_filter=Scan.UnreadableDirectoryStaysEmptyWithAWarning");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out << run.err;
    return;
  }
  TempDir dir;
  WriteFile(dir / "locked/secret.txt", "x");
  WriteFile(dir / "open/visible.txt", "y");
  ASSERT_EQ(chmod((dir / "locked").c_str(), 0), 0);
  DIR* probe = opendir((dir / "locked").c_str());
  ASSERT_EQ(probe, nullptr) << "the directory can still be listed; the test would prove nothing";
  auto scan = Scan(dir.path());
  chmod((dir / "locked").c_str(), 0700);
  ASSERT_TRUE(scan->ok);
  TreeNode* locked = Find(scan->root(), "locked");
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(locked->firstChild, nullptr);
  EXPECT_NE(Find(scan->root(), "open/visible.txt"), nullptr);
  EXPECT_EQ(scan->warnings, std::vector<std::string>{"cannot read directory " + (dir / "locked") +
                                                     ": Permission denied"});
}

TEST(Scan, SymbolicLinksAreFollowedAndLoopsSkipped) {
  TempDir dir;
  WriteFile(dir / "a/file", std::string(5000, 'f'));
  ASSERT_EQ(symlink("..", (dir / "a/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (dir / "a/self").c_str()), 0);
  ASSERT_EQ(symlink("a", (dir / "link-to-a").c_str()), 0);
  ASSERT_EQ(symlink("a/file", (dir / "link-to-file").c_str()), 0);
  auto scan = Scan(dir.path());
  ASSERT_TRUE(scan->ok);
  TreeNode* root = scan->root();
  EXPECT_EQ(NameSet(root), (std::set<std::string>{"a", "link-to-a", "link-to-file"}));
  EXPECT_EQ(NameSet(Find(root, "a")), (std::set<std::string>{"file"}));
  EXPECT_EQ(NameSet(Find(root, "link-to-a")), (std::set<std::string>{"file"}));
  EXPECT_EQ(Find(root, "link-to-file")->size, 5000u);
  EXPECT_EQ(Find(root, "link-to-file")->sectorCount, 3u);
  for (const char* loop : {"a/up", "a/self", "link-to-a/up", "link-to-a/self"}) {
    EXPECT_TRUE(scan->Warned("skipping directory " + (dir / loop) + ": ")) << loop;
  }
  EXPECT_EQ(scan->warnings.size(), 4u);
}

TEST(Scan, SpecialFilesAndDanglingLinksAreSkippedWithAWarning) {
  TempDir dir;
  WriteFile(dir / "kept", "x");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "gone").c_str()), 0);
  ASSERT_EQ(symlink("loop2", (dir / "loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", (dir / "loop2").c_str()), 0);
  auto scan = Scan(dir.path());  // would hang if the FIFO were opened
  ASSERT_TRUE(scan->ok);
  EXPECT_EQ(NameSet(scan->root()), (std::set<std::string>{"kept"}));
  EXPECT_TRUE(scan->Warned("skipping " + (dir / "pipe") + ": not a regular file or directory"));
  EXPECT_TRUE(scan->Warned("skipping " + (dir / "gone") + ": dangling symbolic link"));
  EXPECT_TRUE(scan->Warned("skipping " + (dir / "loop1") + ": Too many levels of symbolic links"));
  EXPECT_EQ(scan->warnings.size(), 4u);
}

TEST(Scan, NamesThatAreNotUtf8KeepTheirBytes) {
  TempDir dir;
  const std::string raw = "caf\xe9.txt";  // Latin-1, not UTF-8
  WriteFile(dir / raw, "latin");
  auto scan = Scan(dir.path());
  ASSERT_EQ(ChildNames(scan->root()).size(), 1u);
  TreeNode* node = scan->root()->firstChild;
  EXPECT_EQ(node->name[3], char16_t(0xDCE9));
  std::u16string path = std::u16string(scan->root()->name) + node->name;
  EXPECT_EQ(HostPath(path), dir / raw);
  uint32_t length = 0;
  uint8_t* data = ReadWholeFile(path.c_str(), &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), length), "latin");
  std::free(data);
}

// Only the directory entries the image takes are left out: the target's name in its
// folder, the file a link as target leads to, and (with a warning) temporary files of
// an earlier build of it. A hard link to the old image keeps the old bytes after the
// rename and is an ordinary file, as are names that only begin like a temporary file.
TEST(Scan, TheImageBeingWrittenIsLeftOut) {
  TempDir dir;
  WriteFile(dir / "out.iso", "an earlier image");
  ASSERT_EQ(link((dir / "out.iso").c_str(), (dir / "hard-link.iso").c_str()), 0);
  WriteFile(dir / "out.iso.vellumcast-tmp-Ab12Cd", "a leftover temporary image");
  WriteFile(dir / "out.iso.vellumcast-tmp-notes.txt", "not a temporary file");
  WriteFile(dir / "out.iso.bak", "kept");
  WriteFile(dir / "sub/out.iso", "another file of the same name");
  WriteFile(dir / "new.iso.vellumcast-tmp-xYz123", "temporary image of a target not made yet");
  std::filesystem::create_symlink("out.iso", dir / "link.iso");
  std::filesystem::create_symlink("made.iso", dir / "dangling.iso");
  const std::set<std::string> all = {"out.iso",
                                     "hard-link.iso",
                                     "out.iso.vellumcast-tmp-Ab12Cd",
                                     "out.iso.vellumcast-tmp-notes.txt",
                                     "out.iso.bak",
                                     "sub",
                                     "new.iso.vellumcast-tmp-xYz123",
                                     "link.iso"};
  struct Case {
    std::string target;
    std::set<std::string> leftOut;
    std::vector<std::string> warned;  // besides the dangling link, when it is not the target
  };
  const Case cases[] = {
      {dir / "out.iso",
       {"out.iso", "out.iso.vellumcast-tmp-Ab12Cd"},
       {"out.iso.vellumcast-tmp-Ab12Cd"}},
      {dir / "new.iso", {"new.iso.vellumcast-tmp-xYz123"}, {"new.iso.vellumcast-tmp-xYz123"}},
      {dir / "sub/../link.iso",
       {"link.iso", "out.iso", "out.iso.vellumcast-tmp-Ab12Cd"},
       {"out.iso.vellumcast-tmp-Ab12Cd"}},
      {dir / "dangling.iso", {}, {}},
      {"", {}, {}},
  };
  for (const Case& c : cases) {
    ScanOptions options;
    options.targetPath = c.target;
    auto scan = Scan(dir.path(), std::move(options));
    SCOPED_TRACE(c.target);
    std::set<std::string> expected;
    std::set_difference(all.begin(), all.end(), c.leftOut.begin(), c.leftOut.end(),
                        std::inserter(expected, expected.end()));
    EXPECT_EQ(NameSet(scan->root()), expected);
    EXPECT_NE(Find(scan->root(), "sub/out.iso"), nullptr);
    std::vector<std::string> warned = c.warned;
    if (c.target != dir / "dangling.iso") warned.push_back("dangling.iso");
    EXPECT_EQ(scan->warnings.size(), warned.size());
    for (const std::string& name : warned) {
      EXPECT_EQ(std::count_if(scan->warnings.begin(), scan->warnings.end(),
                              [&](const std::string& w) {
                                return w.find(dir / name + ":") != std::string::npos;
                              }),
                1)
          << name;
    }
  }
}

TEST(Scan, PathsUpToTheSystemLimitWorkAndLongerOnesAreReported) {
  TempDir dir;
  const std::string longName(255, 'n');
  WriteFile(dir / longName, "x");
  const std::string level(200, 'd');
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < 22 && fd >= 0; ++i) {  // about 4400 bytes: beyond PATH_MAX
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    int file = openat(fd, "f", O_WRONLY | O_CREAT, 0644);
    close(file);
    int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  close(fd);
  auto scan = Scan(dir.path());
  RunCommand("rm -rf " +
             Quote(dir / level));  // deeper than the temporary folder's clean-up reaches
  ASSERT_TRUE(scan->ok);
  EXPECT_NE(Find(scan->root(), longName), nullptr);
  // Walk down the chain: every file kept has a path the system can open.
  size_t deepest = 0;
  std::string relative;
  for (TreeNode* node = Find(scan->root(), level); node; node = Find(node, level)) {
    relative += level + "/";
    if (Find(node, "f")) deepest = (dir / relative).size() + 1;
  }
  EXPECT_LT(deepest, size_t(PATH_MAX));
  EXPECT_GT(deepest, size_t(PATH_MAX) - 210);
  EXPECT_TRUE(scan->Warned("File name too long"));
}

TEST(Scan, ArenaFailureStopsTheBuild) {
  // The root's name (the whole source path) cannot be held by an 8192-byte block.
  auto scan = Scan("/" + std::string(5000, 'x'));
  EXPECT_FALSE(scan->ok);
  EXPECT_NE(scan->builder.log.error.find("too long or out of memory"), std::string::npos);
}

}  // namespace
}  // namespace vellumcast

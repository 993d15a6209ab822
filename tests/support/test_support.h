// Helpers shared by the tests: scratch folders, files with known bytes, running the
// real executable.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vellumcast::test {

// A fresh directory under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumcast-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rest) const { return path_ + "/" + rest; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// `size` bytes in which every byte depends on its offset and on `seed`, so that a
// misplaced sector is seen.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = char(x >> 16);
  }
  return s;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CommandResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `command` through /bin/sh with `input` on standard input.
inline CommandResult RunCommand(const std::string& command, const std::string& input = "") {
  char outName[] = "/tmp/vellumcast-out-XXXXXX";
  char errName[] = "/tmp/vellumcast-err-XXXXXX";
  char inName[] = "/tmp/vellumcast-in-XXXXXX";
  int o = mkstemp(outName), e = mkstemp(errName), i = mkstemp(inName);
  close(o);
  close(e);
  close(i);
  WriteFile(inName, input);
  std::string full = "(" + command + ") <" + inName + " >" + outName + " 2>" + errName;
  int status = std::system(full.c_str());
  CommandResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(outName);
  r.err = ReadFile(errName);
  unlink(outName);
  unlink(errName);
  unlink(inName);
  return r;
}

// The vellumcast executable built alongside the tests.
inline std::string Binary() { return VELLUMCAST_BINARY; }

// A shell-quoted argument.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Entries of a directory such as /proc/self/task (the process's threads) or /proc/self/fd
// (its open descriptors, not counting the one this listing holds).
inline size_t CountEntries(const char* directory) {
  size_t n = 0;
  if (DIR* d = opendir(directory)) {
    while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n > 0 ? n - (std::string(directory) == "/proc/self/fd") : 0;
}

}  // namespace vellumcast::test

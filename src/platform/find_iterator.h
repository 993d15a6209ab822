// Directory listing of the host system: an iterator that turns every directory entry,
// "." and ".." included, into a FindEntry with size, times, kind and UTF-16 name.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

// What an entry is once symbolic links are followed.
enum class FindEntryType : uint8_t {
  File,          // a regular file (or a link to one)
  Directory,     // a directory (or a link to one)
  Special,       // a FIFO, socket or device node
  DanglingLink,  // a symbolic link whose target does not exist
  Unreadable,    // its status could not be read; statError says why
};

// A name of at most NAME_MAX (255) bytes gives at most 255 UTF-16 units.
constexpr size_t kFindNameUnits = 256;

struct FindEntry {
  uint64_t size;           // bytes; 0 for anything but a regular file
  int64_t creationTime;    // seconds since 1970; Linux keeps the status change time here
  int64_t lastAccessTime;  // seconds since 1970
  int64_t lastWriteTime;   // seconds since 1970 (st_mtime)
  uint8_t isDirectory;     // 1 for a directory or a link to one
  uint32_t mode;           // st_mode: file type and permission bits (links followed)
  uint32_t uid;
  uint32_t gid;
  char16_t name[kFindNameUnits];  // NUL-terminated; bytes that are not UTF-8 are escaped

  FindEntryType type;
  int statError;    // errno when type is Unreadable or DanglingLink
  uint64_t device;  // identity of what the entry leads to (links followed)
  uint64_t inode;
  uint32_t links;          // st_nlink of what the entry leads to
  uint64_t deviceNumber;   // st_rdev of a device node
  uint8_t isSymbolicLink;  // the entry itself is a symbolic link (whatever it leads to)
  const char* hostName;    // the name's bytes; valid until the iterator moves on
};

// A symbolic link itself: its own status (lstat) and its target text.
struct LinkStatus {
  int64_t modifiedTime = 0;
  int64_t accessTime = 0;
  int64_t changeTime = 0;
  uint32_t mode = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::string target;  // the link's text, bytes as the file system holds them
};

// Identity of a file or directory on the host: device and inode.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FindIterator {
  DIR* dir = nullptr;  // the open listing; null when none
  int error = 0;       // errno when First or Next failed; 0 at a plain end of the listing

  FindIterator() = default;
  FindIterator(const FindIterator&) = delete;
  FindIterator& operator=(const FindIterator&) = delete;
  ~FindIterator() { Close(); }

  // Opens the directory and delivers its first entry. False for a null or empty path,
  // a directory that cannot be listed (error set) or nothing to list (error 0).
  bool First(const char16_t* directoryPath, FindEntry& out);
  // The same for a path already in host bytes.
  bool FirstHost(const char* hostPath, FindEntry& out);
  // The same for the subdirectory `hostName` of the directory `parent` lists, opened
  // relative to it (no path length limit, no repeated path lookup).
  bool FirstIn(const FindIterator& parent, const char* hostName, FindEntry& out);
  // The next entry; false at the end (error 0) or on a failure (error set).
  bool Next(FindEntry& out);
  void Close();
  // Device and inode of the directory being listed.
  bool Identity(FileIdentity& out) const;
  // The symbolic link `hostName` of the directory being listed; false (errno in `error`)
  // when it cannot be read.
  bool ReadLink(const char* hostName, LinkStatus& out, int& error) const;

 private:
  bool Start(int fd, FindEntry& out);
};

// Device and inode of what `path` leads to (links followed); false when it has none.
bool PathIdentity(const char16_t* path, FileIdentity& out);
// The canonical path of what `hostPath` leads to (every link followed); empty when it
// has none.
std::string CanonicalHostPath(const std::string& hostPath);

}  // namespace vellumcast

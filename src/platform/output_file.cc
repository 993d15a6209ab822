// POSIX implementation of the image file: mkstemp beside the target, writes and close
// through the FileHandle, rename.
#include "platform/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/paths.h"

namespace vellumcast {
namespace {

// mkstemp replaces the six X with letters and digits.
constexpr std::string_view kTempInfix = ".vellumcast-tmp-";
constexpr std::string_view kTempPattern = "XXXXXX";
// The links followed from a target before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinkHops = 40;
constexpr size_t kHoleGranule = 64 * 1024;
constexpr uint64_t kCopyChunk = 1u << 30;  // bytes per copy_file_range call

bool AllZero(const uint8_t* p, size_t n) {
  if (n == 0) return true;
  return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

mode_t DefaultFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool IsLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The image streams to whatever reads standard output. A reader that goes away must
// make the write fail (EPIPE) rather than end the process, so that the build reports it.
bool OpenStandardOutput(OutputFile& out) {
  if (isatty(STDOUT_FILENO)) {
    out.error = "standard output is a terminal";
    return false;
  }
  signal(SIGPIPE, SIG_IGN);
  out.file.handle = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (!out.file.IsOpen()) {
    out.error = strerror(errno);
    return false;
  }
  out.targetPath = "-";
  return true;
}

// No temporary file could be made (mkstemp failed with `tempErrno`): in a folder that
// takes no new entry (read-only, immutable) or for a name too long for the suffix, the
// target itself is written, truncated first so that holes read as zeros.
bool OpenInPlace(OutputFile& out, const std::string& destination, bool exists, int tempErrno) {
  if (tempErrno != EACCES && tempErrno != EPERM && tempErrno != ENAMETOOLONG) {
    out.error = strerror(tempErrno);
    return false;
  }
  out.noTemporaryReason = strerror(tempErrno);
  const int flags = O_WRONLY | O_TRUNC | O_CLOEXEC | (exists ? 0 : O_CREAT | O_EXCL);
  out.file.handle = open(destination.c_str(), flags, DefaultFileMode());
  if (!out.file.IsOpen()) {
    out.error = strerror(errno);
    return false;
  }
  out.writtenInPlace = exists;
  out.createdTarget = !exists;
  return true;
}

// The new file takes the old one's (`old`, null when there was none) owner and group
// where this process may give them (as root; otherwise it keeps this process's, as any
// file it makes), then its permission bits, since a change of owner clears set-user-ID.
void TakeOwnerAndMode(int handle, const struct stat* old) {
  if (!old) {
    fchmod(handle, DefaultFileMode());
    return;
  }
  if (old->st_uid != geteuid() || old->st_gid != getegid()) {
    [[maybe_unused]] int given = fchown(handle, old->st_uid, old->st_gid);
  }
  fchmod(handle, old->st_mode & 07777);
}

}  // namespace

std::string ImageDestination(const std::string& hostTarget) {
  std::string at = hostTarget;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::string link(size_t(st.st_size > 0 ? st.st_size : 0) + 256, '\0');
    ssize_t n = readlink(at.c_str(), link.data(), link.size());
    if (n <= 0 || size_t(n) >= link.size()) return at;  // changed meanwhile: left to open()
    link.resize(size_t(n));
    // A relative link is taken from the folder that holds the link.
    size_t slash = at.rfind('/');
    at = link[0] == '/' || slash == std::string::npos ? link : at.substr(0, slash + 1) + link;
  }
  errno = ELOOP;
  return {};
}

bool IsTemporaryImageName(std::string_view name, std::string_view destinationName) {
  const size_t stem = destinationName.size() + kTempInfix.size();
  if (destinationName.empty() || name.size() != stem + kTempPattern.size() ||
      name.substr(0, destinationName.size()) != destinationName ||
      name.substr(destinationName.size(), kTempInfix.size()) != kTempInfix) {
    return false;
  }
  return std::all_of(name.begin() + stem, name.end(), IsLetterOrDigit);
}

bool OutputFile::Open(std::u16string_view target) {
  Abandon();
  error.clear();
  length = 0;
  writtenInPlace = false;
  createdTarget = false;
  noTemporaryReason.clear();
  if (IsStandardOutputTarget(target)) return OpenStandardOutput(*this);
  targetPath = HostPath(target);
  if (targetPath.empty()) {
    error = strerror(ENOENT);
    return false;
  }

  // A symbolic link keeps pointing at the new image: the file it names, existing or
  // not, is the one written.
  const std::string destination = ImageDestination(targetPath);
  if (destination.empty()) {
    error = strerror(errno);
    return false;
  }
  struct stat st;
  bool exists = stat(destination.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error = strerror(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe is written in place; there is nothing to rename.
    file.handle = open(destination.c_str(), O_WRONLY | O_CLOEXEC);
    if (!file.IsOpen()) {
      error = strerror(errno);
      return false;
    }
    return true;
  }
  // The image replaces the file only where the file itself could have been written.
  if (exists && access(destination.c_str(), W_OK) != 0) {
    error = strerror(errno);
    return false;
  }

  std::string pattern = destination + std::string(kTempInfix) + std::string(kTempPattern);
  file.handle = mkstemp(pattern.data());
  const int tempErrno = errno;
  targetPath = destination;
  holesAllowed = true;
  kernelCopy = true;
  if (!file.IsOpen()) return OpenInPlace(*this, destination, exists, tempErrno);
  tempPath = pattern;
  TakeOwnerAndMode(file.handle, exists ? &st : nullptr);
  return true;
}

bool OutputFile::Write(const uint8_t* bytes, size_t n) {
  if (!file.IsOpen()) {
    error = strerror(EBADF);
    return false;
  }
  while (n > 0) {
    // Whole granules of zeros in a fresh regular file become holes.
    if (holesAllowed && n >= kHoleGranule && AllZero(bytes, kHoleGranule)) {
      size_t run = kHoleGranule;
      while (run + kHoleGranule <= n && AllZero(bytes + run, kHoleGranule)) run += kHoleGranule;
      if (lseek(file.handle, off_t(run), SEEK_CUR) < 0) {
        error = strerror(errno);
        return false;
      }
      bytes += run;
      n -= run;
      length += run;
      continue;
    }
    size_t chunk = n;
    if (holesAllowed) {
      // Write up to the next zero granule so that it can become a hole.
      size_t at = kHoleGranule;
      while (at + kHoleGranule <= n && !AllZero(bytes + at, kHoleGranule)) at += kHoleGranule;
      chunk = std::min(n, at);
    }
    size_t done = file.Write(bytes, chunk);
    length += done;
    if (done < chunk) {
      error = strerror(file.error);
      return false;
    }
    bytes += done;
    n -= done;
  }
  return true;
}

bool OutputFile::CopyFrom(int sourceFd, uint64_t n, uint64_t& copied) {
  copied = 0;
  while (kernelCopy && copied < n) {
    size_t chunk = size_t(std::min<uint64_t>(n - copied, kCopyChunk));
    ssize_t r = copy_file_range(sourceFd, nullptr, file.handle, nullptr, chunk, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      // Not possible between these two files (another file system, a kernel or file
      // system without it, a source that is not a regular file): reading and writing
      // takes over from where the copy stopped.
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF) {
        kernelCopy = false;
        break;
      }
      error = strerror(errno);
      return false;
    }
    if (r == 0) break;  // the source ended
    copied += uint64_t(r);
    length += uint64_t(r);
  }
  return true;
}

bool OutputFile::Finish() {
  if (!file.IsOpen()) {
    error = strerror(EBADF);
    return false;
  }
  if ((!tempPath.empty() || writtenInPlace || createdTarget) &&
      ftruncate(file.handle, off_t(length)) != 0) {
    error = strerror(errno);
    Abandon();
    return false;
  }
  if (!file.Close()) {
    error = strerror(file.error);
    Abandon();
    return false;
  }
  if (!tempPath.empty()) {
    if (rename(tempPath.c_str(), targetPath.c_str()) != 0) {
      error = strerror(errno);
      Abandon();
      return false;
    }
    tempPath.clear();
  }
  createdTarget = false;
  return true;
}

void OutputFile::Abandon() {
  file.Close();
  if (!tempPath.empty()) {
    unlink(tempPath.c_str());
    tempPath.clear();
  }
  if (createdTarget) {
    unlink(targetPath.c_str());  // it did not exist before this build
    createdTarget = false;
  }
}

}  // namespace vellumcast

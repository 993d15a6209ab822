// FileHandle and ReadWholeFile over POSIX open/read/write/fstat.
#include "platform/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace vellumcast {

bool FileHandle::Open(const char16_t* path, uint32_t mode) {
  Close();
  error = 0;
  if (!path) {
    error = EINVAL;
    return false;
  }
  int flags = O_CLOEXEC | O_NONBLOCK;  // non-blocking only while opening: a FIFO must not hang us
  if ((mode & OpenRead) && (mode & OpenWrite))
    flags |= O_RDWR;
  else if (mode & OpenWrite)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  if (mode & OpenCreate) flags |= O_CREAT | O_TRUNC;
  std::string host = HostPath(path);
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = errno;
    ::close(fd);
    return false;
  }
  bool readOnly = !(mode & OpenWrite);
  if (S_ISDIR(st.st_mode) || (readOnly && !S_ISREG(st.st_mode))) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return false;
  }
  int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  handle = fd;
  owned = 1;
  return true;
}

uint64_t FileHandle::Size() {
  if (handle < 0) return 0;
  struct stat st;
  if (::fstat(handle, &st) != 0) {
    error = errno;
    return 0;
  }
  return st.st_size < 0 ? 0 : uint64_t(st.st_size);
}

size_t FileHandle::Read(void* buffer, size_t n, size_t step) {
  if (handle < 0 || n == 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::read(handle, out + done, n - done < step ? n - done : step);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    done += size_t(got);
  }
  return done;
}

size_t FileHandle::Write(const void* buffer, size_t n) {
  if (handle < 0) return 0;
  auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::write(handle, in + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (put == 0) {
      error = EIO;
      break;
    }
    done += size_t(put);
  }
  return done;
}

bool FileHandle::Close() {
  bool ok = !owned || handle < 0 || ::close(handle) == 0;
  if (!ok) error = errno;
  handle = -1;
  return ok;
}

uint8_t* ReadWholeFile(const char16_t* path, uint32_t* length) {
  if (length) *length = 0;
  FileHandle file;
  if (!file.Open(path, OpenRead)) return nullptr;
  uint64_t size = file.Size();
  // The length is 32 bits and the buffer holds two more bytes.
  if (size == 0 || size > 0xFFFFFFFDull) return nullptr;
  auto* buffer = static_cast<uint8_t*>(std::malloc(size_t(size) + 2));
  if (!buffer) return nullptr;
  if (file.Read(buffer, size_t(size)) != size) {
    std::free(buffer);  // the file shrank or could not be read: no partial content
    return nullptr;
  }
  buffer[size] = 0;
  buffer[size + 1] = 0;
  if (length) *length = uint32_t(size);
  return buffer;
}

}  // namespace vellumcast

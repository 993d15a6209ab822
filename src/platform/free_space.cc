// statvfs() and BLKGETSIZE64 for the room a target offers.
#include "platform/free_space.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/output_file.h"

namespace vellumcast {
namespace {

// The test suite's figure for the free space of a file system (decimal bytes), so that
// the refusal can be tried without filling a disk.
constexpr const char* kTestFreeBytesVariable = "VELLUMCAST_TEST_FREE_BYTES";

bool BlockDeviceBytes(const std::string& path, uint64_t& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool ok = ioctl(fd, BLKGETSIZE64, &bytes) == 0;
  close(fd);
  return ok;
}

}  // namespace

bool RoomForTarget(const std::string& hostTarget, uint64_t& bytes, std::string& where,
                   bool& device) {
  device = false;
  struct stat st;
  if (stat(hostTarget.c_str(), &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      device = true;
      where = hostTarget;
      return BlockDeviceBytes(hostTarget, bytes);
    }
    if (!S_ISREG(st.st_mode)) return false;
  }
  const std::string destination = ImageDestination(hostTarget);
  if (destination.empty()) return false;
  const size_t slash = destination.rfind('/');
  where = slash == std::string::npos ? "." : slash == 0 ? "/" : destination.substr(0, slash);
  if (char* absolute = realpath(where.c_str(), nullptr)) {  // named as the user finds it
    where = absolute;
    std::free(absolute);
  }
  if (const char* figure = std::getenv(kTestFreeBytesVariable); figure && *figure) {
    bytes = std::strtoull(figure, nullptr, 10);
    return true;
  }
  struct statvfs fs;
  if (statvfs(where.c_str(), &fs) != 0) return false;
  bytes = uint64_t(fs.f_bavail) * fs.f_frsize;
  return true;
}

}  // namespace vellumcast

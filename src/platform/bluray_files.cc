// POSIX reading of whole control files and folder listing for the BDMV analysis.
#include "platform/bluray_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"
#include "platform/text.h"

namespace vellumcast {

namespace {
// Index, playlist and clip information files are a few megabytes at most; a larger file
// under such a name is not one of them and is not loaded.
constexpr off_t kMaxControlFileBytes = off_t(64) * 1024 * 1024;
}  // namespace

bool ReadControlFile(std::u16string_view path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  // Non-blocking, so that a FIFO under a control file's name does not stop the build.
  int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            st.st_size <= kMaxControlFileBytes;
  if (ok) {
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += size_t(n);
    }
    // A file that shrank while being read is not used: its bytes are not all there.
    ok = done == bytes.size();
  }
  close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool ListFolder(std::u16string_view path, std::vector<ListedEntry>& entries) {
  entries.clear();
  std::string host = HostPath(path);
  DIR* dir = opendir(host.c_str());
  if (!dir) return false;
  if (host.empty() || host.back() != '/') host += '/';
  while (dirent* d = readdir(dir)) {
    std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    ListedEntry entry;
    entry.name = Utf8ToUtf16(name);
    if (d->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
      struct stat st;
      entry.isDirectory = stat((host + d->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return true;
}

}  // namespace vellumcast

// Reads UDF images back with libudfread (black-box reader) for comparisons in tests.
#include "udf_reader.h"

#include <udfread/udfread.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace vellumcast::test {
namespace {

bool ListDirectory(udfread* udf, const std::string& path, TreeListing& out, std::string& error) {
  UDFDIR* dir = udfread_opendir(udf, path.empty() ? "/" : path.c_str());
  if (!dir) {
    error = "cannot open directory /" + path;
    return false;
  }
  std::vector<std::pair<std::string, bool>> entries;
  udfread_dirent entry;
  while (udfread_readdir(dir, &entry)) {
    std::string name = entry.d_name;
    if (name == "." || name == "..") continue;
    entries.emplace_back(name, entry.d_type == UDF_DT_DIR);
  }
  udfread_closedir(dir);
  for (const auto& [name, isDir] : entries) {
    const std::string child = path.empty() ? name : path + "/" + name;
    ListedEntry& listed = out[child];
    listed.directory = isDir;
    if (isDir) {
      if (!ListDirectory(udf, child, out, error)) return false;
      continue;
    }
    UDFFILE* file = udfread_file_open(udf, ("/" + child).c_str());
    if (!file) {
      error = "cannot open file /" + child;
      return false;
    }
    const int64_t size = udfread_file_size(file);
    listed.bytes.resize(size_t(size < 0 ? 0 : size));
    int64_t got = 0;
    while (got < size) {
      const ssize_t n = udfread_file_read(file, listed.bytes.data() + got, size_t(size - got));
      if (n <= 0) break;
      got += n;
    }
    udfread_file_close(file);
    if (got != size) {
      error = "short read of /" + child;
      return false;
    }
  }
  return true;
}

}  // namespace

TreeListing ListSourceFolder(const std::string& folder) {
  TreeListing out;
  namespace fs = std::filesystem;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
    ListedEntry& listed = out[fs::relative(e.path(), folder).generic_string()];
    listed.directory = e.is_directory();
    if (!listed.directory) {
      std::ifstream in(e.path(), std::ios::binary);
      listed.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return out;
}

bool ListUdfImage(const std::string& image, TreeListing& out, std::string& error,
                  std::string* volumeId) {
  udfread* udf = udfread_init();
  if (!udf || udfread_open(udf, image.c_str()) < 0) {
    if (udf) udfread_close(udf);
    error = "libudfread cannot open " + image;
    return false;
  }
  if (volumeId) {
    const char* id = udfread_get_volume_id(udf);
    *volumeId = id ? id : "";
  }
  const bool ok = ListDirectory(udf, "", out, error);
  udfread_close(udf);
  return ok;
}

}  // namespace vellumcast::test

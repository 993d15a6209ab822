// ISO 9660 read-back through libiso9660, for tests.
#include "iso_reader.h"

#include <cdio/iso9660.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace vellumcast::test {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void ListDirectory(iso9660_t* iso, const std::string& dir, IsoListing& out, int depth) {
  CdioList_t* list = iso9660_ifs_readdir(iso, dir.empty() ? "/" : dir.c_str());
  if (!list) {
    out.ok = false;
    out.error = "cannot list " + (dir.empty() ? std::string("/") : dir);
    return;
  }
  std::vector<std::string> subdirs;
  IsoEntry* previous = nullptr;
  for (CdioListNode_t* node = _cdio_list_begin(list); node; node = _cdio_list_node_next(node)) {
    auto* st = static_cast<iso9660_stat_t*>(_cdio_list_node_data(node));
    std::string name = st->filename;
    if (name == "." || name == "..") continue;
    bool isDir = st->type == iso9660_stat_s::_STAT_DIR;
    std::string shown = name;  // a directory identifier has no version
    size_t semicolon = shown.rfind(';');
    if (!isDir && semicolon != std::string::npos) shown.resize(semicolon);
    if (!isDir && !shown.empty() && shown.back() == '.') shown.pop_back();
    std::string path = dir + "/" + shown;
    // The records of one multi-extent file follow one another with the same name.
    if (!isDir && previous && previous->path == path && !previous->isDirectory) {
      previous->size += st->size;
      continue;
    }
    out.entries.push_back(IsoEntry{path, name, isDir, st->size, uint32_t(st->lsn)});
    previous = &out.entries.back();
    if (isDir) subdirs.push_back(path);
  }
  iso9660_filelist_free(list);
  if (depth > 64) return;
  for (const auto& sub : subdirs) ListDirectory(iso, sub, out, depth + 1);
}

std::string ReadHostBytes(const std::string& path, uint64_t offset, uint64_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(std::streamoff(offset));
  std::string s(length, '\0');
  in.read(s.data(), std::streamsize(length));
  s.resize(size_t(in.gcount()));
  return s;
}

}  // namespace

IsoListing ReadIsoImage(const std::string& imagePath) {
  IsoListing out;
  iso9660_t* iso = iso9660_open(imagePath.c_str());
  if (!iso) {
    out.error = "libiso9660 cannot open " + imagePath;
    return out;
  }
  out.ok = true;
  char* text = nullptr;
  if (iso9660_ifs_get_volume_id(iso, &text)) {
    out.volumeId = Trim(text);
    free(text);
  }
  text = nullptr;
  if (iso9660_ifs_get_application_id(iso, &text)) {
    out.applicationId = Trim(text);
    free(text);
  }
  ListDirectory(iso, "", out, 0);
  iso9660_close(iso);
  return out;
}

std::string ReadIsoBytes(const std::string& imagePath, uint32_t firstSector, uint64_t offset,
                         uint64_t length) {
  iso9660_t* iso = iso9660_open(imagePath.c_str());
  if (!iso) return {};
  std::string bytes;
  const uint64_t start = uint64_t(firstSector) * ISO_BLOCKSIZE + offset;
  uint64_t sector = start / ISO_BLOCKSIZE;
  uint64_t skip = start % ISO_BLOCKSIZE;
  std::vector<char> buffer(64 * ISO_BLOCKSIZE);
  while (bytes.size() < length) {
    uint64_t wanted =
        std::min<uint64_t>(64, (skip + length - bytes.size() + ISO_BLOCKSIZE - 1) / ISO_BLOCKSIZE);
    long got = iso9660_iso_seek_read(iso, buffer.data(), lsn_t(sector), long(wanted));
    if (got <= 0) break;
    uint64_t available = uint64_t(got) - skip;
    uint64_t take = std::min<uint64_t>(available, length - bytes.size());
    bytes.append(buffer.data() + skip, size_t(take));
    skip = 0;
    sector += wanted;
  }
  iso9660_close(iso);
  return bytes;
}

std::string CompareIsoWithFolder(const std::string& imagePath, const std::string& folder,
                                 uint64_t compareLimit) {
  namespace fs = std::filesystem;
  IsoListing listing = ReadIsoImage(imagePath);
  if (!listing.ok) return listing.error;
  std::map<std::string, const IsoEntry*> inImage;
  for (const auto& e : listing.entries) inImage[Upper(e.path)] = &e;

  std::string problems;
  size_t sourceCount = 0;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    ++sourceCount;
    std::string relative = "/" + fs::relative(it->path(), folder).generic_string();
    auto found = inImage.find(Upper(relative));
    if (found == inImage.end()) {
      problems += "missing in the image: " + relative + "\n";
      continue;
    }
    const IsoEntry& e = *found->second;
    if (it->is_directory() != e.isDirectory) {
      problems += "kind differs: " + relative + "\n";
      continue;
    }
    if (e.isDirectory) continue;
    uint64_t size = it->file_size();
    if (size != e.size) {
      problems += "size differs: " + relative + " " + std::to_string(e.size) + " instead of " +
                  std::to_string(size) + "\n";
      continue;
    }
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    if (size <= compareLimit) {
      ranges.push_back({0, size});
    } else {
      ranges.push_back({0, 1u << 20});
      ranges.push_back({size - (1u << 20), 1u << 20});
    }
    for (auto [offset, length] : ranges) {
      if (ReadIsoBytes(imagePath, e.firstSector, offset, length) !=
          ReadHostBytes(it->path(), offset, length)) {
        problems += "bytes differ: " + relative + " at " + std::to_string(offset) + "\n";
        break;
      }
    }
  }
  if (listing.entries.size() != sourceCount) {
    problems += "the image lists " + std::to_string(listing.entries.size()) +
                " entries, the folder has " + std::to_string(sourceCount) + "\n";
  }
  return problems;
}

}  // namespace vellumcast::test

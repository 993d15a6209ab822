// Parsing the lines of a checksum list the way `sha256sum -c` (GNU coreutils) does for
// the lines it writes itself.
#include "verify/checksum_list_text.h"

#include <memory>
#include <new>

#include "platform/text.h"

namespace vellumcast {
namespace {

constexpr size_t kDigestDigits = 64;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out += in[i];
      continue;
    }
    if (++i == in.size()) return false;
    if (in[i] == '\\') {
      out += '\\';
    } else if (in[i] == 'n') {
      out += '\n';
    } else if (in[i] == 'r') {
      out += '\r';
    } else {
      return false;
    }
  }
  return true;
}

// One line: [\]HASH, a space, a space or '*', the path.
bool ParseLine(const std::string& line, ListedDigest& entry) {
  const bool escaped = !line.empty() && line[0] == '\\';
  const size_t at = escaped ? 1 : 0;
  if (line.size() < at + kDigestDigits + 3) return false;
  for (size_t i = 0; i < 32; ++i) {
    const int high = HexValue(line[at + 2 * i]), low = HexValue(line[at + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    entry.digest[i] = uint8_t(high * 16 + low);
  }
  const size_t mark = at + kDigestDigits;
  if (line[mark] != ' ' || (line[mark + 1] != ' ' && line[mark + 1] != '*')) return false;
  std::string path = line.substr(mark + 2);
  if (escaped && !Unescape(line.substr(mark + 2), path)) return false;
  if (path.starts_with("./")) path.erase(0, 2);
  entry.path = path;
  return !path.empty();
}

// Linux shows plain ISO 9660 identifiers in lower case with ';' as '.'; the reader gives
// their 8-bit characters as Latin-1. Both sides of a plain list meet in that form.
std::string Key(const std::string& path, bool plain, bool fromList) {
  if (!plain) return path;
  std::string key =
      fromList ? Latin1ToUtf8(reinterpret_cast<const uint8_t*>(path.data()), path.size()) : path;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == ';') c = '.';
  }
  return key;
}

}  // namespace

ListedDigest* ChecksumListText::Find(const std::string& path) {
  const auto found = index.find(Key(path, plain, false));
  return found == index.end() ? nullptr : &entries[found->second];
}

void ChecksumListText::Parse(const std::string& text) {
  size_t number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (line.empty()) continue;
    ListedDigest entry;
    if (!ParseLine(line, entry)) {
      problems.push_back("SHA256SUMS: line " + std::to_string(number) + " is not a checksum line");
      continue;
    }
    const auto [slot, added] =
        index.emplace(Key(entry.path, plain, true), uint32_t(entries.size()));
    if (!added) {
      problems.push_back("SHA256SUMS: /" + entry.path + " is listed twice");
      continue;
    }
    entries.push_back(std::move(entry));
  }
}

bool ReadChecksumList(ImageSource& image, const ImageEntry& entry, ChecksumListText& list,
                      std::string& why) {
  if (entry.size > kMaxChecksumListBytes) {
    why = "a list of " + std::to_string(entry.size) + " bytes is more than this check reads";
    return false;
  }
  std::string text(size_t(entry.size), '\0');
  if (!ReadEntryBytes(image, entry, 0, reinterpret_cast<uint8_t*>(text.data()), text.size())) {
    why = "cannot be read: " + image.error;
    return false;
  }
  list.Parse(text);
  return true;
}

}  // namespace vellumcast

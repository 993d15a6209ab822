// Lexical path canonicalisation.
#include "platform/paths.h"

#include <errno.h>
#include <unistd.h>

#include <vector>

#include "platform/text.h"

namespace vellumcast {

std::u16string CanonicalizeDirectoryPath(std::u16string_view path) {
  if (path.empty()) return {};
  std::u16string full;
  if (path[0] != u'/') {
    std::string cwd(4096, '\0');
    while (!getcwd(cwd.data(), cwd.size())) {
      if (errno != ERANGE) return {};
      cwd.resize(cwd.size() * 2);
    }
    cwd.resize(cwd.find('\0'));
    full = Utf8ToUtf16(cwd);
    full += u'/';
  }
  full += path;

  std::vector<std::u16string_view> segments;
  std::u16string_view rest(full);
  while (!rest.empty()) {
    size_t slash = rest.find(u'/');
    std::u16string_view segment = rest.substr(0, slash);
    rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == u".") continue;
    if (segment == u"..") {
      if (!segments.empty()) segments.pop_back();  // ".." above the root stays at the root
      continue;
    }
    segments.push_back(segment);
  }
  std::u16string out = u"/";
  for (auto segment : segments) {
    out += segment;
    out += u'/';
  }
  return out;
}

std::string HostPath(std::u16string_view path) { return Utf16ToUtf8(path); }

}  // namespace vellumcast

// The reductions of another tool's ISO 9660 identifiers (see foreign_names.h).
#include "verify/foreign_names.h"

namespace vellumcast {
namespace {

// ISO 9660 levels 2 and 3 cut a longer name to 30 or 31 characters.
constexpr size_t kCutIdentifier = 30;
// Cut names looked for in one folder; beyond, they are matched by content.
constexpr size_t kMostLongNames = 1024;

std::string DCharacters(std::string_view name, bool directory) {
  std::string out = Reduced(name);
  const size_t dot = directory ? std::string::npos : out.rfind('.');
  for (size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || (i == dot && c == '.'))) out[i] = '_';
  }
  return out;
}

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Whether `image` is `source` (both in d-characters) cut to a long identifier: the same
// extension and a stem that begins the source's.
bool CutFrom(const std::string& image, const std::string& source) {
  if (image.size() < kCutIdentifier || image.size() >= source.size()) return false;
  const std::string extension = ExtensionOf(source);
  if (ExtensionOf(image) != extension) return false;
  const size_t stem = image.size() - extension.size();
  return source.compare(0, stem, image, 0, stem) == 0;
}

}  // namespace

std::string Reduced(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return out;
}

void ForeignNames::Index(const std::vector<std::string_view>& names,
                         const std::vector<bool>& directory) {
  byCharacters_.clear();
  longNames_.clear();
  for (uint32_t i = 0; i < names.size(); ++i) {
    const std::string key = DCharacters(names[i], directory[i]);
    if (key.size() >= kCutIdentifier && longNames_.size() < kMostLongNames)
      longNames_.emplace_back(key, i);
    auto [at, added] = byCharacters_.emplace(key, i);
    if (!added) at->second = kNone;  // two identifiers alike: neither is taken
  }
}

uint32_t ForeignNames::Find(std::string_view name, bool directory,
                            const std::vector<bool>& matched) const {
  const std::string source = DCharacters(name, directory);
  auto at = byCharacters_.find(source);
  if (at != byCharacters_.end())
    return at->second == kNone || matched[at->second] ? kNone : at->second;
  uint32_t cut = kNone;
  for (const auto& [key, i] : longNames_) {
    if (matched[i] || !CutFrom(key, source)) continue;
    if (cut != kNone) return kNone;
    cut = i;
  }
  return cut;
}

}  // namespace vellumcast

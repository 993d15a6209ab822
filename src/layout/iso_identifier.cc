// ISO 9660 file and directory identifiers (ECMA-119 7.5, 7.6 and 9.1.11) in the 8.3
// shape: directories up to 8 characters, files base (8), '.', extension (3), ";1".
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "build/image_builder.h"
#include "layout/identifiers.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

constexpr size_t kDirectoryChars = 8;
constexpr size_t kBaseChars = 8;
constexpr size_t kExtensionChars = 3;
constexpr size_t kIsoNameStorage = 15;  // 14 identifier bytes and a terminating zero
constexpr char kFileVersion[] = ";1";

// An identifier in its parts: a directory has only `base`; a file is base '.' ext ";1".
struct IsoNameParts {
  std::string base;
  std::string extension;
  bool isFile = false;

  std::string Compose() const { return isFile ? base + "." + extension + kFileVersion : base; }
};

std::string Mapped(const std::string& text, size_t maxChars, bool dvdVideoMode) {
  std::string out = text.substr(0, maxChars);
  for (char& c : out) c = char(MapIsoCharacter(uint8_t(c), dvdVideoMode));
  return out;
}

IsoNameParts PartsFor(const TreeNode& node, bool dvdVideoMode) {
  std::string name = EightBitName(node.name);
  IsoNameParts parts;
  if (node.isDirectory) {
    parts.base = Mapped(name, kDirectoryChars, dvdVideoMode);  // a '.' is an ordinary character
    return parts;
  }
  parts.isFile = true;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    parts.base = Mapped(name, kBaseChars, dvdVideoMode);
  } else {
    parts.base = Mapped(name.substr(0, dot), kBaseChars, dvdVideoMode);
    parts.extension = Mapped(name.substr(dot + 1), kExtensionChars, dvdVideoMode);
  }
  return parts;
}

bool StoreIsoName(ImageBuilder& builder, TreeNode& node, const std::string& identifier) {
  auto* storage = static_cast<uint8_t*>(ArenaAlloc(builder.arena, kIsoNameStorage));
  if (!storage) return builder.Fail("out of memory while naming the ISO 9660 entries");
  std::memcpy(storage, identifier.data(), identifier.size());  // the rest stays zero
  node.isoName = storage;
  node.isoNameLength = static_cast<uint8_t>(identifier.size());
  return true;
}

// The numbered variant N of an identifier: the end of the base (or directory name) gives
// way to "~N" ("_N" in DVD-Video mode, whose character set has no '~'), so the shape stays
// 8.3: report-2.txt;1 becomes report~1.txt;1.
std::string Variant(const IsoNameParts& parts, uint32_t n, bool dvdVideoMode) {
  std::string suffix = (dvdVideoMode ? "_" : "~") + std::to_string(n);
  size_t width = parts.isFile ? kBaseChars : kDirectoryChars;
  size_t room = suffix.size() < width ? width - suffix.size() : 0;
  IsoNameParts variant = parts;
  variant.base = parts.base.substr(0, room) + suffix;
  return variant.Compose();
}

}  // namespace

uint8_t MapIsoCharacter(uint8_t c, bool dvdVideoMode) {
  if (!dvdVideoMode) return c;
  if (c >= 'a' && c <= 'z') c = uint8_t(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
  return '_';
}

std::string EightBitName(const char16_t* name) {
  std::string out;
  for (const char16_t* p = name; *p; ++p) {
    char16_t c = DiscUnit(*p);
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      ++p;  // one character outside the BMP
      out.push_back('?');
    } else {
      out.push_back(c <= 0xFF ? char(c) : '?');
    }
  }
  return out;
}

bool MakeIsoName(ImageBuilder& builder, TreeNode& node) {
  return StoreIsoName(builder, node, PartsFor(node, builder.dvdVideoMode).Compose());
}

// The name under which a reader may show an identifier: readers that ignore case
// (Windows) or map it (the Linux kernel's default lower-cases, drops the ";1" version
// and a trailing '.') would show README.;1, Readme.;1 and a directory README as one name
// and reach only one of them; identifiers that are equal in this form count as equal.
std::string ReaderKey(const std::string& identifier) {
  std::string key = identifier.substr(0, identifier.find(';'));
  if (!key.empty() && key.back() == '.') key.pop_back();
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return key;
}

// ECMA-119 requires the identifiers of one directory to be unique (a reader finds only
// one of two equal ones), and readers that fold case need them unique in their folded
// form too (ReaderKey). An entry keeps the identifier its name gives unless an earlier
// entry of the directory (primary order) already holds it in that form; then it takes
// the first numbered variant that no entry of the directory holds or will hold.
bool NameIsoEntries(ImageBuilder& builder, TreeNode& directory) {
  bool dvd = builder.dvdVideoMode;
  std::vector<IsoNameParts> parts;
  std::unordered_set<std::string> natural;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    parts.push_back(PartsFor(*e, dvd));
    natural.insert(ReaderKey(parts.back().Compose()));
  }
  std::unordered_set<std::string> given;
  std::unordered_map<std::string, uint32_t> nextVariant;  // per identifier: next N to try
  size_t i = 0;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling, ++i) {
    std::string identifier = parts[i].Compose();
    std::string key = ReaderKey(identifier);
    if (given.count(key)) {
      uint32_t& n = nextVariant[key];
      do {
        identifier = Variant(parts[i], ++n, dvd);
        key = ReaderKey(identifier);
      } while (natural.count(key) || given.count(key));
    }
    given.insert(key);
    if (!StoreIsoName(builder, *e, identifier)) return false;
  }
  return true;
}

}  // namespace vellumcast

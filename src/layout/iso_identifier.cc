// ISO 9660 file and directory identifiers (ECMA-119 7.5, 7.6 and 9.1.11) in the 8.3
// shape: directories up to 8 characters, files base (8), '.', extension (3), ";1".
#include "layout/iso_identifier.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

bool StoreIsoName(LayoutPlanner& planner, TreeNode& node, const std::string& identifier) {
  auto* storage = static_cast<uint8_t*>(ArenaAlloc(planner.tree.arena, kIsoNameStorage));
  if (!storage) return planner.log.Fail("out of memory while naming the ISO 9660 entries");
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
  const std::u16string text = DiscText(name);
  for (size_t i = 0; i < text.size(); ++i) {
    if (SurrogatePairAt(text, i)) ++i;  // one character outside the BMP
    out.push_back(text[i] <= 0xFF ? char(text[i]) : '?');
  }
  return out;
}

namespace {

// The name under which the Linux kernel's iso9660 driver shows an identifier when it is
// mounted without Rock Ridge and Joliet (its default name mapping): the bytes up to a zero
// byte, 'A'-'Z' lowered, a final ".;1" or ";1" dropped and every other ';' (and '/') shown
// as '.'. So "a;b.txt;1" shows as "a.b.txt", "x;1.txt;1" as "x.1.txt", "...;1" as "..".
std::string KernelName(const std::string& identifier) {
  std::string shown;
  const size_t n = identifier.size();
  for (size_t i = 0; i < n && identifier[i] != 0; ++i) {
    char c = identifier[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '.' && i + 3 == n && identifier[i + 1] == ';' && identifier[i + 2] == '1') break;
    if (c == ';' && i + 2 == n && identifier[i + 1] == '1') break;
    if (c == ';' || c == '/') c = '.';
    shown.push_back(c);
  }
  return shown;
}

// Whether the kernel can open an entry it shows under `shown`: an empty name is not listed,
// "." and ".." are resolved by the kernel itself and never reach the directory, and a name
// of one byte is compared only when that byte, read as a signed char, is above 1 (0 and 1
// stand for the self and parent records), so 0x80-0xFF (a lone 'é' in ISO-8859-1, a lone
// no-break space) are listed but cannot be opened.
bool KernelReaches(const std::string& shown) {
  if (shown.empty() || shown == "." || shown == "..") return false;
  return shown.size() > 1 || static_cast<signed char>(shown[0]) > 1;
}

// The key under which readers tell identifiers apart: the kernel's name (above), which is
// also the form that readers ignoring case (Windows) compare: 'A'-'Z' folded and the version
// dropped; trailing dots, which those readers drop from a name, are dropped too. Two
// identifiers with equal keys show as one name and one of them cannot be reached. "" for an
// identifier the kernel cannot reach at all, and for a name of dots only (a directory
// "..."), which the readers that drop trailing dots cannot open.
std::string ReaderKey(const std::string& identifier) {
  std::string key = KernelName(identifier);
  if (!KernelReaches(key)) return {};
  while (!key.empty() && key.back() == '.') key.pop_back();
  return key;
}

}  // namespace

// ECMA-119 requires the identifiers of one directory to be unique, and readers need them
// unique in the form they show (ReaderKey). An entry keeps the identifier its name gives
// unless that identifier cannot be reached or an earlier entry of the directory (primary
// order) already holds its key; then it takes the first numbered variant whose key no
// entry of the directory holds or will hold.
bool NameIsoEntries(LayoutPlanner& planner, TreeNode& directory) {
  bool dvd = planner.tree.dvdVideoMode;
  std::vector<IsoNameParts> parts;
  std::unordered_set<std::string> natural;  // keys of the identifiers the names give
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    parts.push_back(PartsFor(*e, dvd));
    std::string key = ReaderKey(parts.back().Compose());
    if (!key.empty()) natural.insert(key);
  }
  std::unordered_set<std::string> given;
  std::unordered_map<std::string, uint32_t> nextVariant;  // per natural identifier: last N tried
  size_t i = 0;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling, ++i) {
    std::string identifier = parts[i].Compose();
    std::string key = ReaderKey(identifier);
    if (key.empty() || given.count(key)) {
      uint32_t& n = nextVariant[identifier];
      do {
        identifier = Variant(parts[i], ++n, dvd);
        key = ReaderKey(identifier);
      } while (key.empty() || natural.count(key) || given.count(key));
    }
    given.insert(key);
    if (!StoreIsoName(planner, *e, identifier)) return false;
  }
  return true;
}

}  // namespace vellumcast

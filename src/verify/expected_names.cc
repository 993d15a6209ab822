// The verifier's own statement of the naming rules (see expected_names.h). It shares no
// code with layout/, so that a name the writer records wrongly cannot be expected.
#include "verify/expected_names.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/text.h"
#include "tree/tree_node.h"

namespace vellumcast {
namespace {

// ISO-8859-1 of the name: a character beyond it (a pair counts once) is '?'.
std::string EightBit(const char16_t* name) {
  std::string out;
  const std::u16string units = DiscText(name);
  for (size_t i = 0; i < units.size(); ++i) {
    if (SurrogatePairAt(units, i)) ++i;
    out += units[i] <= 0xFF ? char(units[i]) : '?';
  }
  return out;
}

std::string UnitUtf8(char16_t c) {
  std::string out;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
  return out;
}

constexpr size_t kJolietUnits = 64;
constexpr size_t kIsoDirectoryChars = 8, kIsoBaseChars = 8, kIsoExtensionChars = 3;

// An ISO 9660 identifier in its parts: a directory has only `base`.
struct IsoParts {
  std::string base, extension;
  bool file = false;
  std::string Identifier() const { return file ? base + "." + extension + ";1" : base; }
};

std::string Mapped(std::string text, size_t chars, bool dvd) {
  text.resize(std::min(text.size(), chars));
  if (!dvd) return text;
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  return text;
}

IsoParts PartsOf(const TreeNode& node, bool dvd) {
  const std::string name = EightBit(node.name);
  if (node.isDirectory) return {Mapped(name, kIsoDirectoryChars, dvd), "", false};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {Mapped(name, kIsoBaseChars, dvd), "", true};
  return {Mapped(name.substr(0, dot), kIsoBaseChars, dvd),
          Mapped(name.substr(dot + 1), kIsoExtensionChars, dvd), true};
}

// An identifier as the kernel shows it: up to a zero byte, A-Z lowered, a final ".;1" or
// ";1" dropped, any other ';' as '.'.
std::string KernelForm(const std::string& id) {
  std::string shown;
  const size_t n = id.size();
  for (size_t i = 0; i < n && id[i] != 0; ++i) {
    char c = id[i];
    if (c == '.' && i + 3 == n && id[i + 1] == ';' && id[i + 2] == '1') break;
    if (c == ';' && i + 2 == n && id[i + 1] == '1') break;
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    shown += c == ';' ? '.' : c;
  }
  return shown;
}

// The reader key of an identifier ("" when no reader can open it).
std::string KeyOf(const std::string& id) {
  std::string key = KernelForm(id);
  if (key.empty() || key == "." || key == "..") return {};
  if (key.size() == 1 && static_cast<signed char>(key[0]) <= 1) return {};
  while (!key.empty() && key.back() == '.') key.pop_back();
  return key;
}

std::string Numbered(const IsoParts& parts, uint32_t n, bool dvd) {
  const std::string mark = (dvd ? "_" : "~") + std::to_string(n);
  const size_t width = parts.file ? kIsoBaseChars : kIsoDirectoryChars;
  IsoParts variant = parts;
  variant.base = parts.base.substr(0, mark.size() < width ? width - mark.size() : 0) + mark;
  return variant.Identifier();
}

// What the reader shows for an identifier: without ";1" and a final '.', as UTF-8.
std::string Shown(std::string id, bool file) {
  if (file) {
    if (id.size() >= 2 && id.compare(id.size() - 2, 2, ";1") == 0) id.resize(id.size() - 2);
    if (!id.empty() && id.back() == '.') id.pop_back();
  }
  return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(id.data()), id.size());
}

}  // namespace

std::string ExpectedUdfName(const TreeNode& node, bool eightBit) {
  if (eightBit) {
    const std::string bytes = EightBit(node.name);
    return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  return Utf16ToUtf8(DiscText(node.name));
}

std::string ExpectedJolietName(const TreeNode& node, bool& fits) {
  const std::u16string units = DiscText(node.name);
  fits = units.size() <= kJolietUnits;
  std::string shown;
  for (char16_t c : units) {
    const bool refused =
        c < 0x20 || c == u'*' || c == u'/' || c == u':' || c == u';' || c == u'?' || c == u'\\';
    shown += UnitUtf8(refused ? u'_' : c);
  }
  return shown;
}

std::string ExpectedLinkText(const char* target) {
  const std::string_view text = target ? target : "";
  std::string out = text.starts_with('/') ? "/" : "";
  for (size_t from = 0; from <= text.size();) {
    size_t slash = text.find('/', from);
    if (slash == std::string_view::npos) slash = text.size();
    const std::string_view part = text.substr(from, slash - from);
    from = slash + 1;
    if (part.empty()) continue;
    if (!out.empty() && out.back() != '/') out += '/';
    out += part;
  }
  return out;
}

std::string ExpectedRockRidgeName(const TreeNode& node) {
  return Utf16ToUtf8(node.name ? node.name : u"");
}

std::vector<std::string> ExpectedIsoNames(const TreeNode& folder, bool dvd, bool bySourceName) {
  std::vector<const TreeNode*> entries;
  for (const TreeNode* e = folder.firstChild; e; e = e->nextSibling) entries.push_back(e);
  // The order in which variants are given: an image with UDF sorts a folder by source name
  // first (so the choice does not depend on the system's listing), else the scan's order.
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (bySourceName) {
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return std::u16string_view(entries[a]->name) < std::u16string_view(entries[b]->name);
    });
  }
  std::vector<IsoParts> parts;
  std::unordered_set<std::string> natural;
  for (const TreeNode* e : entries) {
    parts.push_back(PartsOf(*e, dvd));
    const std::string key = KeyOf(parts.back().Identifier());
    if (!key.empty()) natural.insert(key);
  }
  std::vector<std::string> shown(entries.size());
  std::unordered_set<std::string> given;
  std::unordered_map<std::string, uint32_t> tried;
  for (size_t at : order) {
    const IsoParts& p = parts[at];
    std::string id = p.Identifier();
    std::string key = KeyOf(id);
    if (key.empty() || given.count(key)) {
      uint32_t& n = tried[p.Identifier()];
      do {
        id = Numbered(p, ++n, dvd);
        key = KeyOf(id);
      } while (key.empty() || natural.count(key) || given.count(key));
    }
    given.insert(key);
    shown[at] = Shown(id, p.file);
  }
  return shown;
}

std::string IsoReaderKey(const std::string& shownName) {
  std::string key;
  for (char c : shownName) key += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c == ';' ? '.' : c;
  const bool oneHighCharacter =
      key.size() == 2 && (uint8_t(key[0]) == 0xC2 || uint8_t(key[0]) == 0xC3);
  if (key.empty() || key == "." || key == ".." || oneHighCharacter) return {};
  while (!key.empty() && key.back() == '.') key.pop_back();
  return key;
}

}  // namespace vellumcast

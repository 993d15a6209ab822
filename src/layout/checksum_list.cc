// The checksum list's lines and the names they use.
#include "layout/checksum_list.h"

#include "layout/iso_hierarchy.h"
#include "layout/udf_identifier.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

constexpr size_t kDigestDigits = 64;

bool NeedsEscape(const std::string& path) {
  return path.find_first_of("\\\n\r") != std::string::npos;
}

std::string UdfName(const TreeNode& node, bool eightBit) {
  if (eightBit) return Latin1ToUtf8(node.udfName, node.udfNameLength);
  std::u16string units;
  for (uint32_t i = 0; i < node.udfNameLength / 2u; ++i) units += UdfNameUnit(node, i);
  return Utf16ToUtf8(units);
}

// Linux's view of a plain ISO 9660 identifier (mount option map=normal, the default).
std::string PlainIsoName(const TreeNode& node) {
  const char* id = reinterpret_cast<const char*>(node.isoName);
  std::string name(id, node.isoNameLength);
  if (name.size() >= 2 && name.compare(name.size() - 2, 2, ";1") == 0) name.resize(name.size() - 2);
  if (!node.isDirectory && !name.empty() && name.back() == '.') name.pop_back();
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == ';') c = '.';
  }
  return name;
}

}  // namespace

std::string ChecksumLine(const std::string& hexDigest, const std::string& path) {
  if (!NeedsEscape(path)) return hexDigest + "  ./" + path + "\n";
  std::string escaped;
  for (char c : path) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += c;
    }
  }
  return "\\" + hexDigest + "  ./" + escaped + "\n";
}

std::string ListedName(const ImageSettings& settings, const SourceTree& tree,
                       const TreeNode& node) {
  if (settings.WritesUdf()) return UdfName(node, tree.dvdVideoMode != 0);
  if (settings.rockRidge) return RockRidgeName(node);
  if (settings.joliet) return Ucs2BeToUtf8(node.jolietName, node.jolietNameLength);
  return PlainIsoName(node);
}

bool IsListedFile(const TreeNode& node) {
  return !node.isDirectory && node.kind != ChecksumList && !node.IsSymbolicLink() &&
         !node.IsSpecialFile();
}

uint64_t ChecksumListBytes(const ImageSettings& settings, const SourceTree& tree) {
  const std::string digits(kDigestDigits, '0');
  uint64_t bytes = 0;
  ForEachListedFile(settings, tree, [&](const TreeNode&, const std::string& path) {
    bytes += ChecksumLine(digits, path).size();
  });
  return bytes;
}

}  // namespace vellumcast

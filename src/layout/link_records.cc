// SL entries and UDF path components of a symbolic link's text.
#include "layout/link_records.h"

#include <string_view>
#include <vector>

#include "platform/text.h"

namespace vellumcast {
namespace {

// RRIP SL flags of the entry and of its component records.
constexpr uint8_t kSlContinue = 0x01;
constexpr uint8_t kComponentContinue = 0x01;
constexpr uint8_t kComponentCurrent = 0x02;
constexpr uint8_t kComponentParent = 0x04;
constexpr uint8_t kComponentRoot = 0x08;
constexpr size_t kSlHeaderBytes = 5;
constexpr size_t kSlMaxBytes = 255;
constexpr size_t kComponentMaxContent = kSlMaxBytes - kSlHeaderBytes - 2;

// ECMA-167 4/14.16.1.1 component types.
constexpr uint8_t kUdfComponentRoot = 2;
constexpr uint8_t kUdfComponentParent = 3;
constexpr uint8_t kUdfComponentCurrent = 4;
constexpr uint8_t kUdfComponentNamed = 5;

enum class Part : uint8_t { Root, Current, Parent, Named };
struct Component {
  Part part;
  std::string_view name;
};

std::vector<Component> Split(std::string_view text) {
  std::vector<Component> out;
  if (!text.empty() && text[0] == '/') out.push_back({Part::Root, {}});
  for (size_t from = 0; from <= text.size();) {
    size_t slash = text.find('/', from);
    if (slash == std::string_view::npos) slash = text.size();
    const std::string_view name = text.substr(from, slash - from);
    from = slash + 1;
    if (name.empty()) continue;
    out.push_back({name == "." ? Part::Current : name == ".." ? Part::Parent : Part::Named, name});
  }
  return out;
}

}  // namespace

std::string RockRidgeSlEntries(const char* target) {
  // The component records first, then packed into entries.
  std::vector<std::string> records;
  for (const Component& c : Split(target ? target : "")) {
    const uint8_t flag = c.part == Part::Root      ? kComponentRoot
                         : c.part == Part::Current ? kComponentCurrent
                         : c.part == Part::Parent  ? kComponentParent
                                                   : 0;
    std::string_view rest = c.part == Part::Named ? c.name : std::string_view();
    do {
      const std::string_view piece = rest.substr(0, kComponentMaxContent);
      rest.remove_prefix(piece.size());
      std::string record(1, char(flag | (rest.empty() ? 0 : kComponentContinue)));
      record += char(piece.size());
      record += piece;
      records.push_back(std::move(record));
    } while (!rest.empty());
  }
  std::string out;
  size_t entry = std::string::npos;  // where the current entry starts
  for (const std::string& record : records) {
    if (entry == std::string::npos || out.size() - entry + record.size() > kSlMaxBytes) {
      if (entry != std::string::npos) out[entry + 4] = char(kSlContinue);
      entry = out.size();
      out += "SL";
      out += char(0);
      out += char(1);
      out += char(0);
    }
    out += record;
    out[entry + 2] = char(out.size() - entry);
  }
  return out;
}

std::string UdfPathComponents(const char* target) {
  std::string out;
  for (const Component& c : Split(target ? target : "")) {
    const uint8_t type = c.part == Part::Root      ? kUdfComponentRoot
                         : c.part == Part::Current ? kUdfComponentCurrent
                         : c.part == Part::Parent  ? kUdfComponentParent
                                                   : kUdfComponentNamed;
    std::string id;
    if (c.part == Part::Named) {
      const std::u16string units = DiscText(Utf8ToUtf16(c.name));
      bool eightBit = true;
      for (char16_t u : units) eightBit = eightBit && u <= 0xFF;
      id += char(eightBit ? 8 : 16);
      for (char16_t shown : units) {
        if (!eightBit) id += char(shown >> 8);
        id += char(shown & 0xFF);
      }
    }
    out += char(type);
    out += char(id.size());
    out += std::string(2, '\0');  // component file version number
    out += id;
  }
  return out;
}

}  // namespace vellumcast

// The label fields against the verifier's own statement of the label rules.
#include "verify/label_check.h"

#include <algorithm>

#include "platform/text.h"

namespace vellumcast {
namespace {

constexpr size_t kIsoChars = 31, kJolietUnits = 16, kUdfShortBytes = 30, kUdfLongBytes = 126;

// The first `n` units, one fewer when the cut would split a surrogate pair.
std::u16string Head(const std::u16string& units, size_t n) {
  return std::u16string(HeadUnits(units, n));
}

std::string TrimmedUtf8(std::u16string units) {
  while (!units.empty() && units.back() == u' ') units.pop_back();
  return Utf16ToUtf8(units);
}

bool EightBit(const std::u16string& units) {
  return std::all_of(units.begin(), units.end(), [](char16_t c) { return c <= 0xFF; });
}

std::string IsoForm(const std::u16string& units) {
  if (!EightBit(units)) return "NONE";
  std::u16string id = units.substr(0, std::min(units.find(u'\0'), kIsoChars));
  for (char16_t& c : id) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  }
  return TrimmedUtf8(id);
}

// Joliet holds UCS-2: a character beyond U+FFFF is '_'; then the first 16 units.
std::string JolietForm(const std::u16string& units) {
  std::u16string ucs2;
  for (size_t i = 0; i < units.size(); ++i) {
    const bool pair = SurrogatePairAt(units, i);
    ucs2 += pair ? u'_' : units[i];
    if (pair) ++i;
  }
  return TrimmedUtf8(Head(ucs2, kJolietUnits));
}

std::string UdfForm(const std::u16string& units, size_t bytes) {
  return Utf16ToUtf8(Head(units, EightBit(units) ? bytes : bytes / 2));
}

}  // namespace

bool WrittenByThisProgram(const VolumeLabels& found) {
  for (std::string id : {found.isoApplication, found.udfImplementation}) {
    std::transform(id.begin(), id.end(), id.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    if (id.find("vellumcast") != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> LabelDifferences(const DiscNaming& naming, const VolumeLabels& found) {
  // Another tool's image records the label by its own rules.
  if (!naming.written && !WrittenByThisProgram(found)) return {};
  // The label's units on the disc: a host byte that was not UTF-8 is U+FFFD.
  std::u16string label = DiscText(naming.label);
  bool prefixOnly = false;             // the label was taken from a field that may have cut it
  bool fromJoliet = false;             // ... or from Joliet, which may have replaced characters
  const LabelField* source = nullptr;  // the field it was taken from
  if (label.empty()) {
    const LabelField& from = naming.udf && found.udfLogicalVolume.present  ? found.udfLogicalVolume
                             : naming.joliet && found.jolietVolume.present ? found.jolietVolume
                                                                           : found.isoVolume;
    label = Utf8ToUtf16(from.text);
    source = &from;
    fromJoliet = &from == &found.jolietVolume;
    if (label.empty() || (&from == &found.isoVolume && label == u"NONE")) return {};
    prefixOnly = &from == &found.udfLogicalVolume
                     ? label.size() >= (EightBit(label) ? kUdfLongBytes : kUdfLongBytes / 2 - 1)
                 : &from == &found.jolietVolume ? label.size() >= kJolietUnits - 1
                                                : label.size() >= kIsoChars;
  }
  std::vector<std::string> differences;
  auto check = [&](const LabelField& field, const std::string& expected, const char* what) {
    if (!field.present) return;  // a missing descriptor is the tree read's problem
    // The field the label came from holds it whole: a character past the field's
    // length of label (the 32nd of ISO 9660) is no cut label.
    const bool same = field.text == expected ||
                      (prefixOnly && &field != source && field.text.starts_with(expected)) ||
                      (fromJoliet && &field == &found.isoVolume && field.text == "NONE");
    if (!same)
      differences.push_back(std::string("label: the ") + what + " is \"" + field.text +
                            "\", not \"" + expected + "\"");
  };
  if (naming.iso9660) check(found.isoVolume, IsoForm(label), "ISO 9660 volume identifier");
  if (naming.iso9660 && naming.joliet)
    check(found.jolietVolume, JolietForm(label), "Joliet volume identifier");
  if (naming.udf) {
    check(found.udfVolume, UdfForm(label, kUdfShortBytes), "UDF volume identifier");
    check(found.udfLogicalVolume, UdfForm(label, kUdfLongBytes), "UDF logical volume identifier");
    check(found.fileSetLogicalVolume, UdfForm(label, kUdfLongBytes),
          "logical volume identifier of the UDF file set");
    check(found.fileSet, UdfForm(label, kUdfShortBytes), "UDF file set identifier");
  }
  return differences;
}

}  // namespace vellumcast

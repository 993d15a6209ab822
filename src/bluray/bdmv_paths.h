// Paths of the control files inside a source folder's BDMV folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vellumcast {

// `source` followed by "/BDMV/" and `rest`, with one '/' between the two.
inline std::u16string BdmvPath(std::u16string_view source, std::u16string_view rest) {
  std::u16string path(source);
  if (path.empty() || path.back() != u'/') path += u'/';
  path += u"BDMV/";
  path += rest;
  return path;
}

// BDMV/CLIPINF/ and the clip number written with at least five digits, then ".clpi".
inline std::u16string ClipInformationPath(std::u16string_view source, int32_t clip) {
  char name[24];
  std::snprintf(name, sizeof name, "%05d.clpi", int(clip));
  std::u16string rest = u"CLIPINF/";
  for (const char* p = name; *p; ++p) rest += char16_t(*p);
  return BdmvPath(source, rest);
}

}  // namespace vellumcast

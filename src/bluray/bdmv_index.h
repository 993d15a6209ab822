// The head of a Blu-ray index.bdmv: what the analysis needs to know whether the disc
// declares stereoscopic content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct BdmvIndex {
  std::string version;  // four letters; not compared
  uint32_t indexesStart = 0;
  uint32_t extensionDataStart = 0;
  bool initialOutputModePreference = false;
  bool stereoscopicContent = false;  // SS_content_exist_flag
  uint8_t videoFormat = 0;
  uint8_t frameRate = 0;
  uint8_t userData[32] = {};  // content provider user data
};

// Decodes the head of index.bdmv. False when the type indicator is not "INDX", a start
// address is not below the file size, or AppInfoBDMV runs past the end of the bytes.
[[nodiscard]] bool DecodeBdmvIndex(const uint8_t* bytes, size_t count, BdmvIndex& out);

}  // namespace vellumcast

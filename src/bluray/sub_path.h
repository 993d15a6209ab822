// The SubPath and SubPlayItem of a Blu-ray movie playlist: the same layout in the
// PlayList and in the SubPath entries block (2, 2) of the playlist's ExtensionData.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_span.h"

namespace vellumcast {

struct SubPlayItem {
  std::string clipName;             // Clip_Information_file_name, five characters
  uint8_t connectionCondition = 0;  // SP_connection_condition
  bool multiClipEntries = false;    // is_multi_Clip_entries
  uint8_t stcId = 0;                // ref_to_STC_id
  uint32_t inTime = 0;
  uint32_t outTime = 0;
  uint16_t syncPlayItemId = 0;
  uint32_t syncStartPts = 0;                  // sync_start_PTS_of_PlayItem
  std::vector<std::string> furtherClipNames;  // the multi-clip entries after the first
};

struct SubPath {
  uint8_t type = 0;     // SubPath_type; never examined
  bool repeat = false;  // is_repeat_SubPath
  std::vector<SubPlayItem> items;
};

// Decodes the SubPath that begins at `pos`; `next` receives where the following SubPath
// begins (4 + its length further on). A field or a declared length past the end of the
// reader's bytes clears `reader.ok`.
void DecodeSubPath(ByteSpan& reader, uint64_t pos, SubPath& out, uint64_t& next);

}  // namespace vellumcast

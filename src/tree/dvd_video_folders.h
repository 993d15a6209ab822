// DVD-Video folders in an ISO 9660 + UDF 1.02 image: AUDIO_TS and VIDEO_TS made up at
// the top of the root, holding only the recognised DVD-Video files in player order.
#pragma once

#include <cstdint>
#include <string>

namespace vellumcast {

struct SourceScanner;

// A file of more than this inside a DVD-Video folder is written, with a warning: the
// DVD-Video format keeps every VOB and AOB file at or below 1 GiB.
constexpr uint64_t kDvdVideoFileLimitBytes = 1ull << 30;

// Whether the folder `hostSource` (host bytes, ending in '/') holds a DVD-Video disc: a
// folder VIDEO_TS with a file VIDEO_TS.IFO, either name in any letter case.
bool HoldsDvdVideo(const std::string& hostSource);

// DVD-Video detection and the made-up AUDIO_TS and VIDEO_TS (ISO 9660 + UDF 1.02 only),
// run by the scanner on the root before the walk. False only when the build must stop
// (scanner.log.Fail was called).
[[nodiscard]] bool ApplyDvdVideoFolders(SourceScanner& scanner);

}  // namespace vellumcast

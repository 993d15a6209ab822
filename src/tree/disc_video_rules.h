// DVD-Video file order and Blu-ray stream clip rules: the DVD-Video file keys, the
// BDMV/STREAM lookup, clip numbers, and the extent and descriptor counts of
// stereoscopic clips recorded as UDF real-time files.
#pragma once

#include <cstdint>

#include "bluray/stereo_clip_pair.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct SourceEntry;

// DVD-Video keys: zone, title set, file type and part add up to the order players expect.
namespace dvd_key {
constexpr uint32_t kAudioZone = 0x10000;
constexpr uint32_t kVideoZone = 0x20000;
constexpr uint32_t kTitleSetTens = 0x1000;
constexpr uint32_t kTitleSetUnits = 0x100;
constexpr uint32_t kInformationFile = 0x10;  // IFO
constexpr uint32_t kObjectFile = 0x20;       // AOB or VOB
constexpr uint32_t kBackupFile = 0x30;       // BUP
}  // namespace dvd_key

// The key of a DVD-Video file name (ASCII letters in either case), stored into
// entry.dvdKey and returned; 0 when the name is not a DVD-Video file name. Only names
// of exactly 12 units (8.3) are recognised.
uint32_t DvdFileKey(SourceEntry& entry);

// The root's directory "BDMV" holding a directory "STREAM" (exact names), or null.
TreeNode* FindStreamDirectory(TreeNode* root);

// A clip file of BDMV/STREAM is named five decimal digits then ".m2ts". Its number is
// kept modulo 65536, as in StereoClipPair. False for any other name.
bool ClipNumberOf(const char16_t* name, uint16_t& number);

enum class StereoView : uint8_t { Base, Dependent };

// UDF extents recording one view of a pair: its pieces of the interleaved run
// (StereoClipPair::InterleavedRun).
uint32_t CountStereoExtents(const StereoClipPair& pair, StereoView view);

}  // namespace vellumcast

// A Blu-ray clip information file (.clpi of BDMV/CLIPINF) and its decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast {

struct ClipInformation {
  struct AtcDelta {
    uint32_t delta = 0;
    std::string followingClipName;
    std::string followingCodecId;
  };
  struct StcSequence {
    uint16_t pcrPid = 0;
    uint32_t startPacket = 0;
    uint32_t presentationStart = 0;
    uint32_t presentationEnd = 0;
  };
  struct AtcSequence {
    uint32_t startPacket = 0;
    uint8_t stcIdOffset = 0;
    std::vector<StcSequence> stcSequences;
  };

  std::string typeIndicator;  // "HDMV"; not compared
  std::string version;        // not compared
  uint32_t sequenceInfoStart = 0;
  uint32_t programInfoStart = 0;
  uint32_t cpiStart = 0;
  uint32_t clipMarkStart = 0;
  uint32_t extensionDataStart = 0;

  // ClipInfo
  uint8_t clipStreamType = 0;
  uint8_t applicationType = 0;
  bool atcDelta = false;
  uint32_t tsRecordingRate = 0;
  uint32_t sourcePackets = 0;  // number of 192-byte source packets in the stream file
  uint8_t validityFlags = 0;
  std::string formatIdentifier;  // not compared
  std::string networkInformation;
  std::string streamFormatName;
  std::vector<AtcDelta> atcDeltas;
  std::vector<std::string> fontFileNames;

  std::vector<AtcSequence> atcSequences;  // SequenceInfo
  uint8_t programCount = 0;               // ProgramInfo
  uint8_t cpiType = 0;                    // CPI
  uint8_t epMapStreamCount = 0;
  std::vector<uint8_t> clipMark;  // ClipMark content as stored
  // The whole ExtensionData: its 4-byte length field and the bytes it counts; empty
  // when the file has none.
  std::vector<uint8_t> extensionBytes;
};

// Decodes a clip information file. False when a needed field, count, length or start
// address points past the end of the bytes: the file is then not usable.
[[nodiscard]] bool DecodeClipInformation(const uint8_t* bytes, size_t count, ClipInformation& out);

}  // namespace vellumcast

// Decoders of the System Use Sharing Protocol entries (IEEE P1281) a reader needs to
// read Rock Ridge names and files (IEEE P1282): SP, CE, ER, NM, PX, SL and ST, each with its own
// field offsets. Every entry is checked against the bytes of its area.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_span.h"

namespace vellumcast {

// What one System Use area (or continuation area) says.
struct SuspFindings {
  bool sp = false;                // SP with its check bytes BE EF
  uint8_t skip = 0;               // SP: bytes skipped at the start of every System Use field
  bool rockRidge = false;         // ER naming RRIP_1991A, IEEE_P1282 or IEEE_1282
  bool haveName = false;          // at least one NM
  bool nameContinues = false;     // the last NM had its CONTINUE flag
  std::string name;               // the NM pieces joined; "." or ".." for CURRENT or PARENT
  bool haveContinuation = false;  // CE: the area goes on at block / offset / length
  uint32_t ceBlock = 0, ceOffset = 0, ceLength = 0;
  bool havePx = false;  // PX (IEEE P1282 4.1.1): st_mode, links, owner, group
  uint32_t pxMode = 0, pxLinks = 0, pxUid = 0, pxGid = 0;
  bool haveModified = false;   // TF (4.1.6) with a modification time
  int64_t modified = 0;        // seconds since 1970 UTC
  bool haveLink = false;       // SL: a symbolic link
  bool linkContinues = false;  // the last SL (or its last component) continues
  bool componentContinues = false;
  std::string linkTarget;  // the SL components as a path text
};

// Decodes the entries of `area` into `out` (adding to what it holds, clearing only its
// continuation). False with `why` set when an entry's length or fields do not fit.
[[nodiscard]] bool DecodeSuspArea(ByteSpan area, SuspFindings& out, const char*& why);

// Decodes one PX or TF entry (`entry` is the whole entry) into `out`; false with `why`
// set when its length or both-byte-order fields are wrong (rrip_attributes.cc).
[[nodiscard]] bool DecodeRripAttributes(ByteSpan entry, SuspFindings& out, const char*& why);

}  // namespace vellumcast

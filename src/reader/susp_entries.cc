// SUSP and Rock Ridge entries of ISO 9660 System Use areas.
#include "reader/susp_entries.h"

namespace vellumcast {
namespace {

// IEEE P1281 4.1: every entry's header.
constexpr size_t kEntrySignature = 0;
constexpr size_t kEntryLength = 2;
constexpr size_t kEntryVersion = 3;
constexpr size_t kEntryHeaderBytes = 4;
// 5.3: SP.
constexpr size_t kSpCheck = 4;
constexpr size_t kSpSkip = 6;
constexpr size_t kSpBytes = 7;
// 5.1: CE, three both-byte-order fields.
constexpr size_t kCeBlock = 4;
constexpr size_t kCeOffset = 12;
constexpr size_t kCeLength = 20;
constexpr size_t kCeBytes = 28;
// 5.5: ER.
constexpr size_t kErIdentifierLength = 4;
constexpr size_t kErDescriptorLength = 5;
constexpr size_t kErSourceLength = 6;
constexpr size_t kErIdentifier = 8;
// IEEE P1282 4.1.4: NM.
constexpr size_t kNmFlags = 4;
constexpr size_t kNmName = 5;
constexpr uint8_t kNmContinue = 0x01;
constexpr uint8_t kNmCurrent = 0x02;
constexpr uint8_t kNmParent = 0x04;

// IEEE P1282 4.1.1: PX, four both-byte-order fields (a fifth, the serial number, in
// RRIP 1.12).
constexpr size_t kPxMode = 4;
constexpr size_t kPxLinks = 12;
constexpr size_t kPxUid = 20;
constexpr size_t kPxGid = 28;
constexpr size_t kPxBytes = 36;
// 4.1.3: SL, its flags and component records (flags, length, content).
constexpr size_t kSlFlags = 4;
constexpr size_t kSlComponents = 5;
constexpr uint8_t kSlContinue = 0x01;
constexpr uint8_t kComponentContinue = 0x01;
constexpr uint8_t kComponentCurrent = 0x02;
constexpr uint8_t kComponentParent = 0x04;
constexpr uint8_t kComponentRoot = 0x08;

// Appends the component records of one SL entry to the link's text.
bool DecodeSl(ByteSpan e, SuspFindings& out) {
  if (out.haveLink && !out.linkContinues) return false;
  out.haveLink = true;
  out.linkContinues = e.U8(kSlFlags) & kSlContinue;
  for (size_t pos = kSlComponents; pos < e.size;) {
    if (!e.Has(pos, 2) || !e.Has(pos + 2, e.U8(pos + 1))) return false;
    const uint8_t flags = e.U8(pos);
    const size_t n = e.U8(pos + 1);
    std::string& t = out.linkTarget;
    if (!out.componentContinues && !t.empty() && t.back() != '/') t += '/';
    if (flags & kComponentRoot) t = "/";
    if (flags & kComponentCurrent) t += '.';
    if (flags & kComponentParent) t += "..";
    t.append(reinterpret_cast<const char*>(e.data) + pos + 2, n);
    out.componentContinues = flags & kComponentContinue;
    pos += 2 + n;
  }
  return true;
}

// IEEE P1282 4.1.4: NM, one piece of the name (or "." or "..").
bool DecodeNm(ByteSpan e, SuspFindings& out, const char*& why) {
  if (e.size < kNmName || e.U8(kEntryVersion) != 1) {
    why = "nm entry wrong";
    return false;
  }
  const uint8_t flags = e.U8(kNmFlags);
  if (out.haveName && !out.nameContinues) {
    why = "nm entry follows a name without its continue flag";
    return false;
  }
  out.haveName = true;
  out.nameContinues = flags & kNmContinue;
  if (flags & (kNmCurrent | kNmParent)) {
    out.name = (flags & kNmCurrent) ? "." : "..";
  } else {
    out.name.append(reinterpret_cast<const char*>(e.data) + kNmName, e.size - kNmName);
  }
  return true;
}

// IEEE P1281 5.1: CE, where the System Use area goes on.
bool DecodeCe(ByteSpan e, SuspFindings& out, const char*& why) {
  bool agree = true;
  out.ceBlock = e.Both32(kCeBlock, agree);
  out.ceOffset = e.Both32(kCeOffset, agree);
  out.ceLength = e.Both32(kCeLength, agree);
  if (e.size != kCeBytes || !agree || !e.ok) {
    why = "ce entry wrong";
    return false;
  }
  out.haveContinuation = true;
  return true;
}

bool IsRockRidgeIdentifier(ByteSpan id) {
  auto is = [&](const char* text, size_t n) { return id.size == n && id.Equals(0, text, n); };
  return is("RRIP_1991A", 10) || is("IEEE_P1282", 10) || is("IEEE_1282", 9);
}

}  // namespace

bool DecodeSuspArea(ByteSpan area, SuspFindings& out, const char*& why) {
  out.haveContinuation = false;
  size_t pos = 0;
  // Fewer than a header's bytes left is padding (ECMA-119 9.1.13 pads to even length).
  while (area.Has(pos, kEntryHeaderBytes)) {
    const ByteSpan at = area.Sub(pos, area.size - pos);
    const uint8_t length = at.U8(kEntryLength);
    if (length < kEntryHeaderBytes || length > at.size) {
      why = "system use entry length does not fit its area";
      return false;
    }
    const ByteSpan e = at.Sub(0, length);
    pos += length;
    if (e.Equals(kEntrySignature, "ST", 2)) break;
    if (e.Equals(kEntrySignature, "SP", 2)) {
      if (length != kSpBytes || e.U8(kSpCheck) != 0xBE || e.U8(kSpCheck + 1) != 0xEF) {
        why = "sp entry wrong";
        return false;
      }
      out.sp = true;
      out.skip = e.U8(kSpSkip);
    } else if (e.Equals(kEntrySignature, "CE", 2)) {
      if (!DecodeCe(e, out, why)) return false;
    } else if (e.Equals(kEntrySignature, "ER", 2)) {
      const size_t idBytes = e.U8(kErIdentifierLength);
      const size_t all =
          kErIdentifier + idBytes + e.U8(kErDescriptorLength) + e.U8(kErSourceLength);
      if (all > length) {
        why = "er entry lengths do not fit the entry";
        return false;
      }
      if (IsRockRidgeIdentifier(e.Sub(kErIdentifier, idBytes))) out.rockRidge = true;
    } else if (e.Equals(kEntrySignature, "PX", 2) || e.Equals(kEntrySignature, "TF", 2)) {
      if (!DecodeRripAttributes(e, out, why)) return false;
    } else if (e.Equals(kEntrySignature, "SL", 2)) {
      if (length < kSlComponents || !DecodeSl(e, out)) {
        why = "sl entry wrong";
        return false;
      }
    } else if (e.Equals(kEntrySignature, "NM", 2)) {
      if (!DecodeNm(e, out, why)) return false;
    }
  }
  return true;
}

}  // namespace vellumcast

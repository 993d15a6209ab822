// Puts the SUSP and Rock Ridge entries (IEEE P1281, IEEE P1282) of ISO 9660 directory records.
#include "writer/rock_ridge_entries.h"

#include <cstring>
#include <string>

#include "layout/link_records.h"
#include "layout/posix_attributes.h"
#include "layout/volume_time.h"
#include "writer/byte_order.h"

namespace vellumcast {
namespace {

// The texts RRIP 1.10 gives for its ER entry.
constexpr char kErIdentifier[] = "RRIP_1991A";
constexpr char kErDescriptor[] =
    "THE ROCK RIDGE INTERCHANGE PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS";
constexpr char kErSource[] =
    "PLEASE CONTACT DISC PUBLISHER FOR SPECIFICATION SOURCE.  SEE PUBLISHER IDENTIFIER IN PRIMARY "
    "VOLUME DESCRIPTOR FOR CONTACT INFORMATION.";

uint32_t PutHeader(uint8_t* p, const char* signature, uint32_t length) {
  p[susp::kSignature] = uint8_t(signature[0]);
  p[susp::kSignature + 1] = uint8_t(signature[1]);
  p[susp::kLength] = uint8_t(length);
  p[susp::kVersion] = 1;
  return length;
}

// Links of an entry as the image has them: a directory's own name, its "." and one ".."
// per subdirectory; a file has one name, a hard-linked file one per name.
uint32_t Links(const TreeNode& node) {
  if (!node.isDirectory) return node.hardLinks ? node.hardLinks : 1;
  uint32_t links = 2;
  for (const TreeNode* e = node.firstChild; e; e = e->nextSibling) links += e->isDirectory ? 1 : 0;
  return links;
}

// NM entries for `n` bytes of `name`, pieces of at most 250 bytes; the last piece
// continues when `more` (the name goes on in a continuation area).
uint32_t PutNameEntries(uint8_t* p, const uint8_t* name, uint32_t n, bool more) {
  uint32_t at = 0;
  do {
    uint32_t piece = n < kRripNmMaxNameBytes ? n : kRripNmMaxNameBytes;
    n -= piece;
    at += PutRripNm(p + at, name, piece, n > 0 || more);
    name += piece;
  } while (n > 0);
  return at;
}

}  // namespace

uint32_t PutSuspSp(uint8_t* p) {
  p[susp::kData] = 0xBE;
  p[susp::kData + 1] = 0xEF;
  p[susp::kData + 2] = 0;  // LEN_SKP
  return PutHeader(p, "SP", kSuspSpBytes);
}

uint32_t PutSuspCe(uint8_t* p, uint32_t location, uint32_t offset, uint32_t length) {
  PutBoth32(p + susp::kData, location);
  PutBoth32(p + susp::kData + 8, offset);
  PutBoth32(p + susp::kData + 16, length);
  return PutHeader(p, "CE", kSuspCeBytes);
}

uint32_t PutSuspEr(uint8_t* p) {
  const uint32_t id = sizeof kErIdentifier - 1, des = sizeof kErDescriptor - 1,
                 src = sizeof kErSource - 1;
  p[susp::kData] = uint8_t(id);
  p[susp::kData + 1] = uint8_t(des);
  p[susp::kData + 2] = uint8_t(src);
  p[susp::kData + 3] = 1;  // extension version
  uint8_t* text = p + kSuspErHeaderBytes;
  std::memcpy(text, kErIdentifier, id);
  std::memcpy(text + id, kErDescriptor, des);
  std::memcpy(text + id + des, kErSource, src);
  return PutHeader(p, "ER", kSuspErHeaderBytes + id + des + src);
}

uint32_t PutRripPx(uint8_t* p, uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid) {
  PutBoth32(p + susp::kData, mode);
  PutBoth32(p + susp::kData + 8, links);
  PutBoth32(p + susp::kData + 16, uid);
  PutBoth32(p + susp::kData + 24, gid);
  return PutHeader(p, "PX", kRripPxBytes);
}

uint32_t PutRripTf(uint8_t* p, int64_t modified, int64_t accessed, int64_t attributes, bool utc) {
  constexpr uint8_t kModify = 0x02, kAccess = 0x04, kAttributes = 0x08;
  p[susp::kData] = kModify | kAccess | kAttributes;
  MakeIsoRecordDate(modified, p + 5, utc);
  MakeIsoRecordDate(accessed, p + 12, utc);
  MakeIsoRecordDate(attributes, p + 19, utc);
  return PutHeader(p, "TF", kRripTfBytes);
}

uint32_t PutRripPn(uint8_t* p, uint64_t deviceNumber) {
  PutBoth32(p + susp::kData, uint32_t(deviceNumber >> 32));
  PutBoth32(p + susp::kData + 8, uint32_t(deviceNumber));
  return PutHeader(p, "PN", kRripPnBytes);
}

uint32_t PutRripNm(uint8_t* p, const uint8_t* name, uint32_t n, bool continues) {
  p[susp::kData] = continues ? kNmContinue : 0;
  std::memcpy(p + kRripNmHeaderBytes, name, n);
  return PutHeader(p, "NM", kRripNmHeaderBytes + n);
}

bool PutRockRidgeSystemUse(const ImageSettings& settings, const IsoRecordSlot& slot,
                           const SystemUseLayout& use, uint8_t* field, uint8_t* continuation,
                           uint32_t ceSector, uint32_t ceOffset) {
  const TreeNode& node = *slot.node;
  const bool fixed = FixedAttributes(settings, node);
  const PosixAttributes posix = RecordedAttributes(settings, node);
  uint32_t at = 0;
  const bool rootSelf = slot.role == IsoRecordRole::Self && node.IsRoot();
  if (rootSelf) at += PutSuspSp(field + at);
  at += PutRripPx(field + at, posix.mode, Links(node), posix.uid, posix.gid);
  at += PutRripTf(field + at, node.modifiedTime, fixed ? node.modifiedTime : node.accessTime,
                  fixed ? node.modifiedTime : node.attributeTime, settings.datesInUtc);
  if (slot.role == IsoRecordRole::Entry && node.IsDevice())
    at += PutRripPn(field + at, node.deviceNumber);
  uint32_t continued = 0;
  if (slot.role == IsoRecordRole::Entry) {
    const std::string name = RockRidgeName(node);
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    const uint32_t rest = uint32_t(name.size()) - use.nameInRecord;
    at += PutNameEntries(field + at, bytes, use.nameInRecord, rest > 0);
    if (rest > 0) continued = PutNameEntries(continuation, bytes + use.nameInRecord, rest, false);
    // A link's SL entries follow the name, in the record or in the continuation area.
    if (node.IsSymbolicLink()) {
      const std::string link = RockRidgeSlEntries(node.linkTarget);
      uint32_t& end = use.continuationBytes ? continued : at;
      std::memcpy((use.continuationBytes ? continuation : field) + end, link.data(), link.size());
      end += uint32_t(link.size());
    }
  } else if (rootSelf) {
    continued = PutSuspEr(continuation);
  }
  if (use.continuationBytes) at += PutSuspCe(field + at, ceSector, ceOffset, use.continuationBytes);
  at += at % 2;  // the padding byte stays zero
  return at == use.recordBytes && continued == use.continuationBytes;
}

}  // namespace vellumcast

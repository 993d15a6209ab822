// Rock Ridge PX and TF entries (IEEE P1282 4.1.1, 4.1.6): what readers show as a file's
// type, permissions, links, owner and modification time.
#include "reader/ecma119_records.h"
#include "reader/susp_entries.h"

namespace vellumcast {
namespace {

// 4.1.1: PX, four both-byte-order fields (RRIP 1.12 adds a fifth, the serial number).
constexpr size_t kPxMode = 4;
constexpr size_t kPxLinks = 12;
constexpr size_t kPxUid = 20;
constexpr size_t kPxGid = 28;
constexpr size_t kPxBytes = 36;
constexpr size_t kPxSerialBytes = 44;
// 4.1.6: TF, a flags byte and the dates it announces in this order.
constexpr size_t kTfFlags = 4;
constexpr size_t kTfDates = 5;
constexpr uint8_t kTfCreation = 0x01;
constexpr uint8_t kTfModify = 0x02;
constexpr uint8_t kTfLongForm = 0x80;
constexpr size_t kTfShortDate = 7;
constexpr size_t kTfLongDate = 17;

}  // namespace

bool DecodeRripAttributes(ByteSpan e, SuspFindings& out, const char*& why) {
  if (e.Equals(0, "PX", 2)) {
    bool agree = true;
    out.pxMode = e.Both32(kPxMode, agree);
    out.pxLinks = e.Both32(kPxLinks, agree);
    out.pxUid = e.Both32(kPxUid, agree);
    out.pxGid = e.Both32(kPxGid, agree);
    if ((e.size != kPxBytes && e.size != kPxSerialBytes) || !agree || !e.ok) {
      why = "px entry wrong";
      return false;
    }
    out.havePx = true;
    return true;
  }
  const uint8_t flags = e.U8(kTfFlags);
  const size_t date = flags & kTfLongForm ? kTfLongDate : kTfShortDate;
  size_t count = 0;
  for (uint8_t bit = 1; bit != kTfLongForm; bit <<= 1) count += flags & bit ? 1 : 0;
  if (e.size != kTfDates + count * date) {
    why = "tf entry length does not match its flags";
    return false;
  }
  if (!(flags & kTfModify)) return true;
  const size_t at = kTfDates + (flags & kTfCreation ? date : 0);
  int32_t offset = 0;
  out.haveModified = true;
  if (date == kTfShortDate) {
    out.modified = DecodeIsoRecordDate(e, at);
  } else if (!DecodeIsoVolumeDate(e, at, out.modified, offset)) {
    out.modified = 0;
  }
  return true;
}

}  // namespace vellumcast

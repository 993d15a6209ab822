// The names of ISO 9660, Rock Ridge and Joliet records, and the SUSP entries of their
// System Use fields with the continuation areas they lead to.
#include <algorithm>

#include "platform/text.h"
#include "reader/iso9660_record_fields.h"
#include "reader/iso9660_walk.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// Continuation areas followed for one record at most; each area at most one sector.
constexpr uint32_t kMaxContinuations = 32;

}  // namespace

// An identifier's bytes as UTF-8: ASCII as it is, other bytes as Latin-1.
std::string IsoIdentifierText(const std::string& bytes) {
  return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A file identifier without its version (";1") and without a final '.' of an
// identifier that has no extension (ECMA-119 7.5.1).
std::string IsoFileName(std::string id) {
  const size_t semicolon = id.rfind(';');
  if (semicolon != std::string::npos) id.resize(semicolon);
  if (!id.empty() && id.back() == '.') id.pop_back();
  return id;
}

// UCS-2 big-endian (a Joliet identifier) as UTF-8.
std::string JolietText(const std::string& bytes) {
  return Ucs2BeToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string IsoRecordPlace(uint64_t sector, size_t offset) {
  return "directory record at sector " + std::to_string(sector) + " offset " +
         std::to_string(offset);
}
bool IsoWalk::NameOf(const IsoRecordAt& at, std::string& name, SuspFindings& found) {
  const IsoDirectoryRecord& r = at.r;
  const bool isDir = r.flags & kIsoFlagDirectory;
  if (names == kIsoJolietNames) {
    name = JolietText(r.identifier);
    const size_t semicolon = name.rfind(';');  // a version, though Joliet names need none
    if (!isDir && semicolon != std::string::npos) name.resize(semicolon);
  } else if (names == kIsoRockRidgeNames) {
    ReadProblem why;
    if (!SystemUse(r, suspSkip, found, why)) {
      if (why.sector == kNoSector) why.sector = at.sector;
      why.path = path;
      Problem(why.Within(at.where));
      return false;
    }
    if (!found.haveName || found.nameContinues) {
      RecordProblem(found.haveName ? kDamaged : kAbsent, at,
                    found.haveName ? "nm entry continues past the last" : "no nm entry");
      return false;
    }
    name = found.name;
  } else {
    name = IsoIdentifierText(isDir ? r.identifier : IsoFileName(r.identifier));
  }
  if (name.size() > limits.nameBytes) {
    RecordProblem(kLimitReached, at,
                  "name of " + std::to_string(name.size()) + " bytes is longer than " +
                      std::to_string(limits.nameBytes));
    return false;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    RecordProblem(kDamaged, at, "identifier not usable as a name");
    return false;
  }
  return true;
}
bool IsoWalk::SystemUse(const IsoDirectoryRecord& r, uint8_t skip, SuspFindings& found,
                        ReadProblem& why) {
  if (skip > r.systemUse.size()) {
    why = Fault(kDamaged, "system use field shorter than the sp skip length");
    why.structure = "system use field";
    return false;
  }
  const char* what = nullptr;
  if (!DecodeSuspArea(ByteSpan(reinterpret_cast<const uint8_t*>(r.systemUse.data()) + skip,
                               r.systemUse.size() - skip),
                      found, what)) {
    why = Fault(kDamaged, what);
    why.structure = "system use field";
    return false;
  }
  return Continuations(found, why);
}

bool IsoWalk::Continuations(SuspFindings& found, ReadProblem& why) {
  std::vector<uint8_t> area;
  std::vector<uint64_t> followed;  // the areas met, against a chain that loops back
  for (uint32_t n = 0; found.haveContinuation; ++n) {
    const std::string ce = "continuation area at sector " + std::to_string(found.ceBlock);
    auto fail = [&](ReadProblemKind kind, const std::string& what) {
      why = Fault(kind, ce + ": " + what, found.ceBlock);
      why.structure = "continuation area";
      return false;
    };
    const uint64_t key = uint64_t(found.ceBlock) << 16 | (found.ceOffset & 0xFFFF);
    if (std::find(followed.begin(), followed.end(), key) != followed.end())
      return fail(kDamaged, "the chain of continuation areas loops back");
    followed.push_back(key);
    if (n >= kMaxContinuations)
      return fail(kLimitReached,
                  "more than " + std::to_string(kMaxContinuations) + " continuation areas");
    if (found.ceOffset >= kImageSectorSize || found.ceLength > kImageSectorSize - found.ceOffset ||
        !ExtentInImage(found.ceBlock, 1))
      return fail(kDamaged, "offset or length passes its sector or the image");
    continuationBytes += found.ceLength;
    if (continuationBytes > image.size + kRereadAllowance) {
      stopped = true;
      return fail(kLimitReached,
                  "continuation areas of more bytes than the image holds, read again and again");
    }
    area.resize(found.ceLength);
    if (!image.ReadBytes(uint64_t(found.ceBlock) * kImageSectorSize + found.ceOffset, area.data(),
                         area.size()))
      return fail(kUnreadable, "cannot be read: " + image.error);
    const char* what = nullptr;
    if (!DecodeSuspArea(ByteSpan(area.data(), area.size()), found, what))
      return fail(kDamaged, what);
  }
  return true;
}

bool IsoWalk::RootRockRidge(const IsoDirectoryRecord& root) {
  std::vector<uint8_t> bytes(kImageSectorSize);
  const std::string where = IsoRecordPlace(root.extent, 0);
  auto fail = [&](ReadProblemKind kind, const std::string& what) {
    Problem(kind, "directory record", root.extent, where + ": " + what);
    return false;
  };
  if (!ExtentInImage(root.extent, 1) || !image.ReadSectors(root.extent, 1, bytes.data()))
    return fail(kUnreadable, "cannot be read");
  IsoDirectoryRecord dot;
  const char* why = nullptr;
  if (!DecodeIsoDirectoryRecord(ByteSpan(bytes.data(), bytes.size()), dot, why))
    return fail(kDamaged, why);
  SuspFindings found;
  ReadProblem what;
  if (!SystemUse(dot, 0, found, what)) {
    if (what.sector == kNoSector) what.sector = root.extent;
    Problem(what.Within(where));
    return false;
  }
  // RRIP 4.1.1 (SUSP 5.3, 5.5): a Rock Ridge tree begins with SP and an ER naming it.
  if (!found.sp || !found.rockRidge) return fail(kAbsent, "no sp entry and rock ridge er entry");
  suspSkip = found.skip;
  FillIsoRecordFields(dot, true, false, &found, tree.root);
  return true;
}
}  // namespace vellumcast

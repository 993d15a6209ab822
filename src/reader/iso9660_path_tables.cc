// The ISO 9660 path tables (ECMA-119 9.4), type L and type M, checked record by record
// against the directory hierarchy the walk read and against each other.
#include <string>
#include <vector>

#include "reader/iso9660_walk.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

}  // namespace

void IsoWalk::CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                             std::vector<IsoPathRecord>& records) {
  const std::string table = std::string(bigEndian ? "type m" : "type l") +
                            " path table at sector " + std::to_string(location);
  auto problem = [&](ReadProblemKind kind, const std::string& what) {
    Problem(kind, "path table", location, what);
  };
  if (!ExtentInImage(location, size))
    return problem(kUnreadable, table + ": passes the end of the image");
  // ECMA-119 9.4: a record is at most 8 bytes and a padded identifier of 255.
  if (size > kMaxDirectories * 264)
    return problem(kDamaged, table + ": " + std::to_string(size) +
                                 " bytes is more than a path table can hold");
  std::vector<uint8_t> bytes(size);
  if (!image.ReadBytes(uint64_t(location) * kImageSectorSize, bytes.data(), size))
    return problem(kUnreadable, table + ": cannot be read: " + image.error);
  const ByteSpan span(bytes.data(), bytes.size());
  std::vector<uint32_t> levels;
  for (size_t pos = 0; pos < size;) {
    IsoPathRecord r;
    const char* why = nullptr;
    const size_t number = records.size() + 1;
    const std::string where = table + ": record " + std::to_string(number);
    if (!DecodeIsoPathRecord(span, pos, bigEndian, r, why))
      return problem(kDamaged, where + ": " + why);
    pos += r.length;
    if (number == 1) {
      if (r.identifier != std::string(1, '\0') || r.parent != 1)
        problem(kDamaged, where + ": not the root");
      levels.push_back(1);
    } else if (r.parent == 0 || r.parent >= number) {
      return problem(
          kDamaged, where + ": parent number " + std::to_string(r.parent) + " does not precede it");
    } else {
      levels.push_back(levels[r.parent - 1] + 1);
      const IsoPathRecord& before = records.back();
      if (levels.back() < levels[number - 2] ||
          (levels.back() == levels[number - 2] && r.parent < before.parent))
        problem(kDamaged, where + ": out of order");
    }
    if (records.size() >= directories.size())
      return problem(kDamaged, table + ": more records than the " +
                                   std::to_string(directories.size()) +
                                   " directories of the hierarchy");
    records.push_back(r);
    CheckPathRecord(where, records, levels, location);
  }
  if (records.size() != directories.size())
    problem(kDamaged, table + ": " + std::to_string(records.size()) + " records for " +
                          std::to_string(directories.size()) + " directories");
}

void IsoWalk::CheckPathRecord(const std::string& where, const std::vector<IsoPathRecord>& records,
                              const std::vector<uint32_t>& levels, uint64_t sector) {
  const IsoPathRecord& r = records.back();
  const size_t number = records.size();
  auto found = directories.find(r.extent);
  if (found == directories.end()) {
    Problem(kDamaged, "path table", sector,
            where + ": extent " + std::to_string(r.extent) + " is no directory of the hierarchy");
    return;
  }
  const IsoDirectory& d = found->second;
  // The first record's parent number was only checked to be 1, not used.
  const uint32_t parentExtent = number == 1 ? r.extent : records[r.parent - 1].extent;
  if (d.level != levels.back())
    Problem(kDamaged, "path table", sector, where + ": level differs from the directory hierarchy");
  if (number > 1 && (d.parentExtent != parentExtent || d.identifier != r.identifier))
    Problem(kDamaged, "path table", sector,
            where + ": parent or identifier differs from the directory hierarchy");
}
// Both path tables, checked against the hierarchy and against each other.
void CheckPathTables(IsoWalk& walk, const IsoPrimaryDescriptor& pvd) {
  std::vector<IsoPathRecord> typeL, typeM;
  walk.CheckPathTable(pvd.typeLTable, pvd.pathTableSize, false, typeL);
  walk.CheckPathTable(pvd.typeMTable, pvd.pathTableSize, true, typeM);
  if (typeL.size() != typeM.size()) return;
  for (size_t i = 0; i < typeL.size(); ++i) {
    if (typeL[i].extent != typeM[i].extent || typeL[i].parent != typeM[i].parent ||
        typeL[i].identifier != typeM[i].identifier) {
      walk.Problem(
          kDamaged, "path table", pvd.typeMTable,
          "type m path table: record " + std::to_string(i + 1) + " differs from the type l table");
      break;
    }
  }
}

}  // namespace vellumcast

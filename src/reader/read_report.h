// What a read of an image meets that keeps it from being sound: each problem typed by
// its kind and placed by the structure, the image sector and the entry it concerns, with
// the text the user reads. Callers decide on the kind and the place, never on the text.
// (A Decode* of one structure that fails gives only the fixed text of the rule its bytes
// break: such a failure is always kDamaged, placed by the caller that read the bytes.)
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vellumcast {

enum class ReadProblemKind : uint8_t {
  kDamaged,       // recorded against a rule of its standard (a checksum, a length, a pointer)
  kAbsent,        // a structure the file system needs is not recorded at all
  kUnreadable,    // the image cannot be read there: the system failed or the image ended
  kLimitReached,  // a bound of the read (ReadLimits or a fixed one) reached: not followed
  kUnsupported,   // recorded in a form this reader does not read (other block sizes, a VAT)
};

// A problem's sector when it names none (a count of the whole tree, a limit of the walk).
constexpr uint64_t kNoSector = ~uint64_t(0);

struct ReadProblem {
  ReadProblemKind kind = ReadProblemKind::kDamaged;
  const char* structure = "";   // "file entry", "directory record", "path table" ...
  uint64_t sector = kNoSector;  // the image sector of that structure, when it has one
  std::string path;             // the entry it belongs to, '/'-separated; "" when none
  std::string text;             // in lower case, naming the file system, structure and place

  // The problem as met inside `where`: the text becomes "where: text".
  ReadProblem& Within(const std::string& where) {
    text = where + ": " + text;
    return *this;
  }
};

// A problem of `kind` at `sector` with `text` (structure and path filled in by the caller
// that knows them).
inline ReadProblem Fault(ReadProblemKind kind, std::string text, uint64_t sector = kNoSector) {
  return ReadProblem{kind, "", sector, {}, std::move(text)};
}

// The problems of one read, in the order met.
struct ReadReport {
  std::vector<ReadProblem> problems;
  uint32_t limit = 200;  // problems kept; the rest are only counted
  uint32_t dropped = 0;

  void Add(ReadProblem problem) {
    if (problems.size() < limit) {
      problems.push_back(std::move(problem));
    } else {
      ++dropped;
    }
  }
  bool Clean() const { return problems.empty() && dropped == 0; }
  // Problems met so far, kept or only counted.
  size_t Count() const { return problems.size() + dropped; }
  bool Has(ReadProblemKind kind) const {
    for (const ReadProblem& p : problems)
      if (p.kind == kind) return true;
    return false;
  }
};

}  // namespace vellumcast

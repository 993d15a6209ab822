// Checking an image's file systems one after the other: each walked by the reader with
// its folders matched as they come (folder_match.cc), then its files' bytes compared in
// one pass over the image (byte_compare.cc). Only the folders on the reader's way down
// and, per planned file, a compact job (where its bytes lie in the image) are held, never
// the paths of all entries. A file whose extents a file system shares with one checked
// before (both trees of a bridge image point at one copy of the data) is not read again.
#include "verify/image_check.h"

#include <string>

#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader/volume_labels.h"
#include "verify/boot_check.h"
#include "verify/descriptor_check.h"
#include "verify/image_checker.h"
#include "verify/label_check.h"

namespace vellumcast {

void Checker::IndexChildren() {
  const size_t n = disc.entries.size();
  childStart.assign(n + 2, 0);
  for (const PlannedEntry& e : disc.entries) ++childStart[e.parent + 1];
  for (size_t f = 1; f < childStart.size(); ++f) childStart[f] += childStart[f - 1];
  children.resize(n);
  std::vector<uint32_t> next(childStart.begin(), childStart.end() - 1);
  for (uint32_t p = 0; p < n; ++p) children[next[disc.entries[p].parent]++] = p;
}

void Checker::NameFileSystem() {
  name = treeNames == kPlannedUdfNames         ? UdfRevisionName(walked->udfRevision)
         : treeNames == kPlannedRockRidgeNames ? "Rock Ridge"
         : treeNames == kPlannedJolietNames    ? "Joliet"
                                               : "ISO 9660";
}

namespace {

// The reader's tree for the names of a plan.
IsoNames IsoNamesOf(PlannedNames names) {
  return names == kPlannedRockRidgeNames ? kIsoRockRidgeNames
         : names == kPlannedJolietNames  ? kIsoJolietNames
                                         : kIsoPlainNames;
}

}  // namespace

bool Checker::CheckFileSystem(PlannedNames names, bool another) {
  treeNames = names;
  foreign = another;
  name.clear();
  folders.assign(1, 0);  // the root, matched with the planned root
  jobs = {};
  jobs.reserve(disc.files);
  extents = {};
  embedded = {};
  found = {};
  if (foreign) reached.assign(disc.entries.size(), false);
  ImageTree tree;
  walked = &tree;
  ReadReport report;
  const bool udf = treeNames == kPlannedUdfNames;
  const bool ok =
      udf ? WalkUdfTree(image, tree, report, Visit, this)
          : WalkIso9660Tree(image, tree, report, Visit, this, {}, IsoNamesOf(treeNames));
  for (ReadProblem& problem : report.problems) outcome.Add(std::move(problem.text));
  outcome.moreDifferences += report.dropped;
  if (!ok) {
    if (report.Clean())
      outcome.Add(std::string(udf ? "udf" : IsoNamesLabel(IsoNamesOf(treeNames))) +
                  ": the file system cannot be read");
    return true;
  }
  if (name.empty()) NameFileSystem();
  CheckRoot(tree);
  checked[treeNames] = name;
  NameUnread();
  if (foreign) NameUnreached();
  for (std::string& difference : found.differences) outcome.Add(std::move(difference));
  outcome.moreDifferences += found.moreDifferences;
  found = {};
  folders = {};
  const bool finished = CompareBytes();
  jobs = {};
  extents = {};
  embedded = {};
  return finished;
}

namespace {

// The file systems and the UDF revision the plan has that the image does not carry.
void CheckCarried(const DiscNaming& plan, const ImageFileSystems& found, CheckOutcome& outcome) {
  if (plan.iso9660 && !found.iso9660) outcome.Add("the image has no ISO 9660 file system");
  if (plan.udf && !found.udf)
    outcome.Add(found.udfUnreadable ? "the image's " + found.UnreadableUdf()
                                    : "the image has no UDF file system");
  if (plan.udf && found.udf && plan.udfRevision && found.udfRevision != plan.udfRevision) {
    outcome.Add("the image has " + UdfRevisionName(found.udfRevision) + ", not " +
                UdfRevisionName(plan.udfRevision));
  }
}

// The file systems checked: "ISO 9660, Rock Ridge, Joliet and UDF 1.02".
std::string CheckedNames(const Checker& checker) {
  std::string names;
  for (PlannedNames n :
       {kPlannedIsoNames, kPlannedRockRidgeNames, kPlannedJolietNames, kPlannedUdfNames}) {
    if (checker.checked[n].empty()) continue;
    names += (names.empty() ? "" : ", ") + checker.checked[n];
  }
  const size_t last = names.rfind(", ");
  if (last != std::string::npos) names.replace(last, 2, " and ");
  return names;
}

}  // namespace

bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome,
                CheckProgressFn progress, void* context) {
  outcome = {};
  outcome.files = disc.files;
  outcome.bytes = disc.fileBytes;
  const DiscNaming& plan = disc.naming;
  const ImageFileSystems found = SurveyImage(image);
  CheckCarried(plan, found, outcome);
  Checker checker{
      .image = image, .disc = disc, .outcome = outcome, .progress = progress, .context = context};
  checker.compared.assign(disc.entries.size(), 0);
  checker.isoSectors.assign(disc.entries.size(), 0);
  checker.rules = disc.metadata;
  checker.IndexChildren();
  const VolumeLabels labels = ReadVolumeLabels(image);
  for (std::string& difference : LabelDifferences(plan, labels)) outcome.Add(std::move(difference));
  const bool iso = plan.iso9660 && found.iso9660;
  const bool rockRidge = iso && plan.rockRidge && HasIsoTree(image, kIsoRockRidgeNames);
  const bool joliet = iso && plan.joliet && HasIsoTree(image, kIsoJolietNames);
  if (iso && plan.rockRidge && !rockRidge) outcome.Add("the image has no Rock Ridge names");
  if (iso && plan.joliet && !joliet) outcome.Add("the image has no Joliet tree");
  // Another tool's identifiers are not 8.3 names: its plain tree comes last, matched
  // through what the name-keeping trees compared.
  const bool ours = plan.written || WrittenByThisProgram(labels);
  for (std::string& difference :
       DescriptorDifferences(image, {.ours = ours, .udf = plan.udf && found.udf}))
    outcome.Add(std::move(difference));
  const bool foreign = iso && !ours;
  // Another tool records times, owners and permissions by its own rules, not this build's.
  if (!ours) checker.rules.sourceMetadata = false;
  // A build time recorded in UTC leaves open whether it was fixed; the Rock Ridge
  // attributes decide it, so that tree goes first then.
  const bool rockRidgeFirst = rockRidge && !checker.rules.fixedKnown;
  if (rockRidgeFirst && !checker.CheckFileSystem(kPlannedRockRidgeNames)) return false;
  if (iso && !foreign && !checker.CheckFileSystem(kPlannedIsoNames)) return false;
  if (rockRidge && !rockRidgeFirst && !checker.CheckFileSystem(kPlannedRockRidgeNames))
    return false;
  if (joliet && !checker.CheckFileSystem(kPlannedJolietNames)) return false;
  if (plan.udf && found.udf && !checker.CheckFileSystem(kPlannedUdfNames)) return false;
  if (foreign && !checker.CheckFileSystem(kPlannedIsoNames, true)) return false;
  if (disc.boot.Any()) CheckBootStructures(image, disc.boot, outcome);
  outcome.fileSystems = CheckedNames(checker);
  if (progress && !progress(checker.done, checker.done, context)) return false;
  return true;
}

}  // namespace vellumcast

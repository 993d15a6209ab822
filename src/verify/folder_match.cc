// Matching each folder of a file system's walk with its planned folder by name as the
// reader hands it over: kind, size, record fields, links and special files; the entries
// either side lacks; another tool's names by reduction or by content.
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tree/tree_node.h"
#include "verify/image_checker.h"

namespace vellumcast {

// A digest of where an entry's bytes lie (FNV-1a over its extents or embedded bytes);
// never 0, which stands for "not compared".
uint64_t Fingerprint(const ImageEntry& entry) {
  uint64_t h = 14695981039346656037ull;
  auto mix = [&](uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  };
  for (const ImageExtent& e : entry.extents) {
    mix(e.zero ? ~uint64_t(0) : e.sector);
    mix(e.bytes);
  }
  for (char c : entry.embedded) mix(uint8_t(c));
  mix(entry.size);
  return h | 1;
}

void Checker::Match(ImageFolder& folder) {
  if (name.empty()) NameFileSystem();
  if (folder.number >= folders.size()) return;
  const uint32_t plan = folders[folder.number];
  folders[folder.number] = kUnplanned;
  if (plan == kUnplanned) return;
  const std::vector<ImageEntry>& entries = folder.entries;
  folderPath = folder.path;
  if (treeNames == kPlannedIsoNames) CheckReaderKeys(entries);
  if (plan == kByContent) {
    for (const ImageEntry& entry : entries) MatchByContent(entry);
    return;
  }
  const std::unordered_map<std::string, uint32_t> byName = NamesOf(entries);
  std::vector<bool> matched(entries.size(), false);
  // Another tool's identifiers: when upper case finds none, the further reductions.
  ForeignNames reductions;
  if (foreign) IndexReductions(entries, reductions);
  const uint32_t first = plan == kPlannedFile ? 0 : childStart[plan],
                 end = plan == kPlannedFile ? 0 : childStart[plan + 1];
  for (uint32_t c = first; c < end; ++c) {
    const uint32_t p = children[c];
    const PlannedEntry& planned = disc.entries[p];
    if (!InFileSystem(planned)) continue;
    auto at = byName.find(Key(p));
    uint32_t index = at == byName.end() || matched[at->second] ? kUnplanned : at->second;
    if (index == kUnplanned && foreign) {
      index = reductions.Find(ExpectedRockRidgeName(*planned.node), planned.directory, matched);
      if (index == ForeignNames::kNone) index = kUnplanned;
    }
    if (index == kUnplanned) {
      const std::string own = disc.NameOf(p, treeNames);
      if (!foreign) Missing(p, folder.path.empty() ? own : folder.path + "/" + own);
      continue;
    }
    matched[index] = true;
    MatchEntry(p, entries[index]);
  }
  // Every entry the folder does not have; a folder is named once, not with its entries.
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (matched[i]) continue;
    if (foreign) {
      MatchByContent(entries[i]);
      continue;
    }
    found.Add(Shown(JoinImagePath(folder.path, entries[i].name)) + ": " +
              Kind(entries[i].directory) + " in " + name + " that the folder does not have");
  }
}

void Checker::MatchEntry(uint32_t p, const ImageEntry& entry) {
  const PlannedEntry& planned = disc.entries[p];
  const std::string path = PathOf(entry);
  if (entry.directory != planned.directory) {
    found.Add(Shown(path) + ": " + Kind(entry.directory) + " in " + name + ", " +
              Kind(planned.directory) + " in the source");
    if (entry.directory) Plan(entry.folder, kPlannedFile);
    return;
  }
  CheckFields(p, entry, path);
  if (foreign) reached[p] = true;
  if (planned.directory) {
    Plan(entry.folder, p + 1);
    return;
  }
  if (CheckLinkOrSpecialFile(p, entry, path)) return;
  if (entry.size != planned.size) {
    found.Add(Shown(path) + ": " + std::to_string(entry.size) + " bytes in " + name + ", " +
              std::to_string(planned.size) + " in the source");
    return;
  }
  if (planned.size != 0) MatchFile(p, entry);
}

namespace {

RecordTree TreeOf(PlannedNames names) {
  return names == kPlannedUdfNames         ? RecordTree::kUdf
         : names == kPlannedRockRidgeNames ? RecordTree::kRockRidge
         : names == kPlannedJolietNames    ? RecordTree::kJoliet
                                           : RecordTree::kIso9660;
}

}  // namespace

void Checker::CheckFields(uint32_t p, const ImageEntry& entry, const std::string& path) {
  const TreeNode& node = *disc.entries[p].node;
  const RecordTree tree = TreeOf(treeNames);
  DecideFixed(entry.fields, entry.modified, node, tree, rules);
  std::vector<std::string> differences;
  CompareRecordFields(entry.fields, entry.modified, ExpectedMetadataOf(node, rules, tree), tree,
                      rules.sourceMetadata, differences);
  // Joliet records point at the file data of the ISO 9660 records.
  if (!entry.directory && entry.size > 0 && !entry.extents.empty() && !entry.extents[0].zero) {
    const uint64_t sector = entry.extents[0].sector;
    if (treeNames == kPlannedIsoNames) {
      isoSectors[p] = uint32_t(sector);
    } else if (treeNames == kPlannedJolietNames && isoSectors[p] && sector != isoSectors[p]) {
      differences.push_back("extent at sector " + std::to_string(sector) +
                            ", the ISO 9660 record's at " + std::to_string(isoSectors[p]));
    }
  }
  for (const std::string& d : differences) found.Add(Shown(path) + ": " + d + " (" + name + ")");
}

// The root's own records: its "." record (time; Rock Ridge PX and TF) or its File Entry.
void Checker::CheckRoot(const ImageTree& tree) {
  if (disc.entries.empty()) return;
  const TreeNode& root = *disc.entries[0].node->parent;
  const RecordTree kind = TreeOf(treeNames);
  const ExpectedMetadata want = ExpectedMetadataOf(root, rules, kind);
  ImageRecordFields fields = tree.root;
  if (kind == RecordTree::kIso9660 || kind == RecordTree::kJoliet) fields.flags = want.flags;
  std::vector<std::string> differences;
  CompareRecordFields(fields, tree.rootModified, want, kind, rules.sourceMetadata, differences);
  for (const std::string& d : differences) found.Add("/: " + d + " (" + name + ")");
}

// The folder's entries by name (upper case for another tool's identifiers); a name
// recorded twice is named.
std::unordered_map<std::string, uint32_t> Checker::NamesOf(const std::vector<ImageEntry>& entries) {
  std::unordered_map<std::string, uint32_t> byName;
  byName.reserve(entries.size());
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const std::string_view own = std::string_view(entries[i].name);
    if (!byName.emplace(foreign ? Reduced(own) : std::string(own), i).second) {
      found.Add(Shown(PathOf(entries[i])) + ": recorded twice in " + name);
    }
  }
  return byName;
}

void IndexReductions(const std::vector<ImageEntry>& entries, ForeignNames& reductions) {
  std::vector<std::string_view> names;
  std::vector<bool> directory;
  for (const ImageEntry& entry : entries) {
    names.push_back(entry.name);
    directory.push_back(entry.directory);
  }
  reductions.Index(names, directory);
}

// ECMA-119 asks for unique identifiers in a folder; readers need them unique as they
// show them (the kernel: lower case, ';' as '.'; Windows: case and trailing dots ignored)
// and need a name they can open.
void Checker::CheckReaderKeys(const std::vector<ImageEntry>& entries) {
  std::unordered_map<std::string, std::string> keys;
  for (const ImageEntry& entry : entries) {
    const std::string key = IsoReaderKey(entry.name);
    if (key.empty()) {
      found.Add(Shown(PathOf(entry)) + ": a name readers cannot open (" + name + ")");
    } else if (auto [at, added] = keys.emplace(key, PathOf(entry)); !added) {
      found.Add(Shown(PathOf(entry)) + ": readers show it under the name of " + Shown(at->second) +
                " (" + name + ")");
    }
  }
}

// An entry of another tool's ISO 9660 tree whose name does not reduce to a source name:
// a file must point at the bytes of a file a name-keeping tree compared, a folder's
// entries likewise.
void Checker::MatchByContent(const ImageEntry& entry) {
  if (entry.directory) {
    Plan(entry.folder, kByContent);
    return;
  }
  auto at = byPrint.find(Fingerprint(entry));
  if (at == byPrint.end() && entry.size != 0) {
    found.Add(Shown(PathOf(entry)) + ": a file in " + name +
              " that holds the bytes of no file of the folder");
    return;
  }
  ++byContent;
  if (at != byPrint.end()) reached[at->second] = true;
}

void Checker::MatchFile(uint32_t p, const ImageEntry& entry) {
  const uint64_t print = Fingerprint(entry);
  if (compared[p] == print) {  // the same bytes of the image, compared before
    auto failure = failures.find(p);
    if (failure != failures.end()) Differs(found, p, failure->second);
    return;
  }
  compared[p] = print;
  byPrint.emplace(print, p);
  ByteJob job;
  job.planned = p;
  if (!entry.embedded.empty() || entry.extents.empty()) {
    job.at = embedded.size();
    embedded += entry.embedded;
  } else if (entry.extents.size() == 1 && !entry.extents[0].zero) {
    job.at = entry.extents[0].sector;
    job.extentCount = kOneExtent;
  } else {
    job.at = extents.size();
    job.extentCount = uint32_t(entry.extents.size());
    extents.insert(extents.end(), entry.extents.begin(), entry.extents.end());
  }
  jobs.push_back(job);
}

bool Checker::CheckLinkOrSpecialFile(uint32_t p, const ImageEntry& entry, const std::string& path) {
  if (entry.posixType == 0) return false;  // ISO 9660, Joliet: recorded as plain files
  const TreeNode& node = *disc.entries[p].node;
  const uint32_t planned =
      node.IsSymbolicLink() || node.IsSpecialFile() ? node.PosixType() : kPosixRegular;
  if (entry.posixType != planned) {
    auto octal = [](uint32_t type) {
      char text[16];
      std::snprintf(text, sizeof text, "%06o", type);
      return std::string(text);
    };
    found.Add(Shown(path) + ": file type " + octal(entry.posixType) + " in " + name + ", " +
              octal(planned) + " in the source");
    return true;
  }
  if (node.IsSymbolicLink()) {
    const std::string target = ExpectedLinkText(node.linkTarget);
    if (entry.linkTarget != target)
      found.Add(Shown(path) + ": links to \"" + entry.linkTarget + "\" in " + name + ", to \"" +
                target + "\" in the source");
  }
  const uint32_t links = node.hardLinks ? node.hardLinks : 1;
  if (entry.links != 0 && entry.links != links)
    found.Add(Shown(path) + ": " + std::to_string(entry.links) + " links in " + name + ", " +
              std::to_string(links) + " in the source");
  return planned != kPosixRegular;
}

// The planned entries of every planned folder that the walk listed but could not read
// (or that lay past a limit): each is missing, as its folder shows nothing.
void Checker::NameUnread() {
  for (uint32_t what : folders) {
    if (what >= kPlannedFile) continue;
    for (uint32_t c = childStart[what]; c < childStart[what + 1]; ++c) {
      if (InFileSystem(disc.entries[children[c]]))
        Missing(children[c], disc.PathOf(children[c], treeNames));
    }
  }
}

// Another tool's ISO 9660 tree: the files of the folder that it holds neither under a
// reduced name nor by content are missing; one notice says how many were matched by
// content.
void Checker::NameUnreached() {
  uint64_t missing = 0;
  for (uint32_t p = 0; p < disc.entries.size(); ++p) {
    if (!disc.entries[p].directory && !reached[p] && disc.entries[p].size != 0) ++missing;
  }
  if (missing)
    found.Add(std::to_string(missing) + (missing == 1 ? " file" : " files") +
              " of the folder not found in " + name + ", neither by name nor by content");
  if (byContent)
    outcome.notices.push_back(
        name + ": the image was made by another tool; " + std::to_string(byContent) +
        (byContent == 1 ? " file whose name does" : " files whose names do") +
        " not reduce to a source name (upper case, d-characters, cut) checked by content "
        "through the other file systems");
  reached = {};
  byContent = 0;
}

}  // namespace vellumcast

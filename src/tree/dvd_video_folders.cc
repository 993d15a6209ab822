// DVD-Video folders in an ISO 9660 + UDF 1.02 image: AUDIO_TS and VIDEO_TS made up at
// the top of the root, holding only the recognised DVD-Video files in player order.
#include "tree/dvd_video_folders.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "tree/disc_video_rules.h"
#include "tree/source_entry.h"
#include "tree/source_scanner.h"

namespace vellumcast {
namespace {

constexpr const char16_t* kZoneFolders[2] = {u"AUDIO_TS", u"VIDEO_TS"};
constexpr char kZoneLetters[2] = {'A', 'V'};
constexpr uint16_t kDvdVideoUdfRevision = 0x0102;

bool IsDvdVideoBuild(const ImageSettings& settings) {
  return settings.formatFlags == (FormatIso9660 | FormatUdf) &&
         settings.udfRevision == kDvdVideoUdfRevision;
}

bool IsDotOrDotDot(const char16_t* name) {
  return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

// A folder read in another letter case (video_ts) is recorded under the DVD-Video
// name; the writer opens its files through the folder's own name.
bool KeepSourceName(SourceScanner& scanner, TreeNode* directory, const std::string& hostName) {
  std::u16string name = Utf8ToUtf16(hostName);
  if (EqualsUtf16(name.c_str(), directory->name)) return true;
  const uint32_t bytes = uint32_t(sizeof(char16_t) * (name.size() + 1));
  auto* copy =
      static_cast<char16_t*>(ArenaAllocAligned(scanner.tree.arena, bytes, alignof(char16_t)));
  if (!copy) return scanner.log.Fail("out of memory while reading the source folder");
  std::memcpy(copy, name.c_str(), bytes);
  directory->sourceName = copy;
  return true;
}

bool ReadDvdVideoFolder(SourceScanner& scanner, TreeNode* directory, const std::string& hostName,
                        char zoneLetter) {
  SourceTree& tree = scanner.tree;
  Diagnostics& log = scanner.log;
  std::string& path = scanner.path;
  const std::string sourcePath = path;
  path = sourcePath + hostName + "/";
  std::vector<SourceEntry> files;
  FindIterator listing;
  FindEntry entry;
  bool more = listing.FirstHost(path.c_str(), entry);
  FileIdentity self;
  const bool identified = more && listing.Identity(self);
  const std::string folder = Utf16ToUtf8(kZoneFolders[zoneLetter == kZoneLetters[0] ? 0 : 1]);
  for (; more; more = listing.Next(entry)) {
    if (IsDotOrDotDot(entry.name)) continue;
    // What a DVD-Video folder may not hold is left out, each with a warning naming it;
    // only a Thumbs.db file goes silently, as it does everywhere.
    if (entry.type == FindEntryType::Directory) {
      log.Warn("leaving out " + scanner.EntryPath(entry) + ": a DVD-Video " + folder +
               " folder holds no folders");
      continue;
    }
    char16_t first = entry.name[0];
    SourceEntry file = SourceEntryFrom(entry);
    bool zoneName = first == char16_t(zoneLetter) || first == char16_t(zoneLetter - 'A' + 'a');
    if (!zoneName || DvdFileKey(file) == 0) {
      if (!IsThumbsDb(entry.name)) {
        log.Warn("leaving out " + scanner.EntryPath(entry) + ": not a DVD-Video file of " + folder);
      }
      continue;
    }
    if (!scanner.AcceptFile(entry, identified ? &self : nullptr)) continue;
    if (file.size > kDvdVideoFileLimitBytes) {
      log.Warn(scanner.EntryPath(entry) +
               " is larger than 1 GiB; DVD-Video players may not read it");
    }
    // The listing's name buffer is reused by the next entry: keep a copy of the name
    // (a recognised name is exactly 12 units).
    std::memcpy(file.inlineName, entry.name, sizeof(char16_t) * (kInlineNameUnits - 1));
    file.inlineName[kInlineNameUnits - 1] = 0;
    file.namePointer = nullptr;
    files.push_back(file);
  }
  if (listing.error) scanner.WarnUnreadableDirectory(path, listing.error);
  listing.Close();
  path = sourcePath;

  std::stable_sort(files.begin(), files.end(),
                   [](const SourceEntry& a, const SourceEntry& b) { return a.dvdKey < b.dvdKey; });
  TreeNode* last = nullptr;
  for (const SourceEntry& file : files) {
    if (AddChild(tree, log, directory, last, file) == AddResult::OutOfMemory) return false;
  }
  return true;
}

// The host name of the entry of `hostFolder` named `name` in any letter case, of the
// wanted kind; empty when there is none.
std::string FindIgnoringCase(const std::string& hostFolder, const char16_t* name, bool folder) {
  FindIterator listing;
  FindEntry entry;
  for (bool more = listing.FirstHost(hostFolder.c_str(), entry); more; more = listing.Next(entry)) {
    const bool isFolder = entry.type == FindEntryType::Directory;
    if (isFolder == folder && (folder || entry.type == FindEntryType::File) &&
        EqualsIgnoringAsciiCase(entry.name, name)) {
      return entry.hostName;
    }
  }
  return {};
}

}  // namespace

bool HoldsDvdVideo(const std::string& hostSource) {
  const std::string videoTs = FindIgnoringCase(hostSource, kZoneFolders[1], true);
  return !videoTs.empty() && !FindIgnoringCase(hostSource + videoTs + "/", u"VIDEO_TS.IFO", false)
                                  .empty();
}

bool ApplyDvdVideoFolders(SourceScanner& scanner) {
  const ImageSettings& settings = scanner.settings;
  SourceTree& tree = scanner.tree;
  Diagnostics& log = scanner.log;
  std::string(&dvdFolderNames)[2] = scanner.dvdFolderNames;
  if (!IsDvdVideoBuild(settings)) return true;

  // Any entry named AUDIO_TS or VIDEO_TS, in any letter case and of any kind, turns the
  // rules on; the folder read for each is the one of exactly that name, else the first
  // directory of that name in another letter case.
  bool found = false;
  bool exact[2] = {false, false};
  FindIterator listing;
  FindEntry entry;
  for (bool more = listing.FirstHost(scanner.path.c_str(), entry); more;
       more = listing.Next(entry)) {
    for (int zone = 0; zone < 2; ++zone) {
      if (!EqualsIgnoringAsciiCase(entry.name, kZoneFolders[zone])) continue;
      found = true;
      if (entry.type != FindEntryType::Directory || exact[zone]) continue;
      if (EqualsUtf16(entry.name, kZoneFolders[zone])) {
        exact[zone] = true;
        dvdFolderNames[zone] = entry.hostName;
      } else if (dvdFolderNames[zone].empty()) {
        dvdFolderNames[zone] = entry.hostName;
      }
    }
  }
  listing.Close();  // an unreadable source folder is reported by the walk
  if (!found) return true;
  tree.dvdVideoMode = 1;

  TreeNode* last = nullptr;
  TreeNode* folders[2] = {nullptr, nullptr};
  for (int zone = 0; zone < 2; ++zone) {
    if (AddChild(tree, log, tree.root, last, MadeUpEntry(kZoneFolders[zone], true),
                 &folders[zone]) == AddResult::OutOfMemory) {
      return false;
    }
  }
  for (int zone = 0; zone < 2; ++zone) {
    if (folders[zone]) folders[zone]->modifiedTime = settings.buildTime;
  }
  for (int zone = 0; zone < 2; ++zone) {
    if (!folders[zone] || dvdFolderNames[zone].empty()) continue;
    if (!KeepSourceName(scanner, folders[zone], dvdFolderNames[zone])) return false;
    if (!ReadDvdVideoFolder(scanner, folders[zone], dvdFolderNames[zone], kZoneLetters[zone]))
      return false;
  }
  return true;
}

}  // namespace vellumcast

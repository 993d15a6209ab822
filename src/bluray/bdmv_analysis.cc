// Discovery and analysis of a Blu-ray BDMV folder: index.bdmv declares stereoscopic
// content, the movie playlists pair each base-view clip with its dependent-view clip
// (PlayItems and the SubPaths of the ExtensionData), and the clip information files give
// each pair's sizes and extents.
#include "bluray/bdmv_analysis.h"

#include <cstdint>
#include <map>
#include <string>

#include "bluray/bdmv_index.h"
#include "bluray/bdmv_paths.h"
#include "bluray/control_file.h"
#include "bluray/extension_data.h"
#include "bluray/movie_playlist.h"
#include "bluray/stereo_plan.h"
#include "platform/find_iterator.h"

namespace vellumcast {
namespace {

// Base-view clip number to dependent-view clip number, ascending by base view.
using ClipPairMap = std::map<int32_t, int32_t>;

// The decimal value of a five-character clip name as a standard base-10 string to
// integer conversion reads it: leading white space, an optional sign, then digits up to
// the first other character; 0 without digits.
int32_t ClipNumber(const std::string& name) {
  size_t i = 0, n = name.size() < 5 ? name.size() : 5;
  while (i < n && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
  int32_t value = 0;
  for (; i < n && name[i] >= '0' && name[i] <= '9'; ++i) value = value * 10 + (name[i] - '0');
  return negative ? -value : value;
}

bool IsPlaylistName(const std::u16string& name) {
  size_t dot = name.rfind(u'.');
  return dot != std::u16string::npos && name.compare(dot, std::u16string::npos, u".mpls") == 0;
}

bool HasStereoscopicIndex(const std::u16string& sourcePath) {
  ControlFile file;
  if (!file.Read(BdmvPath(sourcePath, u"index.bdmv"))) return false;
  BdmvIndex index;
  return ReadBdmvIndex(file.bytes, file.length, index) && index.stereoscopicContent;
}

// Adds the pairs of one playlist file when it qualifies: PlayItems, a non-empty
// ExtensionData with an STN_table_SS, and a SubPath entries block whose first SubPath
// has one SubPlayItem per PlayItem.
void CollectPlaylistPairs(const std::u16string& path, ClipPairMap& pairs) {
  MoviePlaylist playlist;
  {
    ControlFile file;
    if (!file.Read(path)) return;
    if (!ReadMoviePlaylist(file.bytes, file.length, playlist)) return;
  }
  ExtensionData extension;
  if (!ReadExtensionData(playlist.extensionBytes.data(), playlist.extensionBytes.size(),
                         extension)) {
    return;
  }
  const size_t n = playlist.playItems.size();
  if (n == 0 || extension.length == 0 || extension.stnTableSsLengths.empty()) return;
  if (extension.subPathEntriesLength == 0 || extension.subPaths.empty()) return;
  const SubPath& dependent = extension.subPaths.front();
  if (dependent.items.size() != n) return;
  for (size_t i = 0; i < n; ++i) {
    pairs[ClipNumber(playlist.playItems[i].clipName)] = ClipNumber(dependent.items[i].clipName);
  }
}

}  // namespace

bool AnalyzeBdmvFolder(const char16_t* sourcePath, StereoPlan& plan) {
  const std::u16string source(sourcePath ? sourcePath : u"");
  if (!HasStereoscopicIndex(source)) return false;

  ClipPairMap pairs;
  {
    FindIterator listing;
    FindEntry entry;
    bool more = listing.First(BdmvPath(source, u"PLAYLIST/").c_str(), entry);
    if (!more && listing.error) return false;  // the folder cannot be listed
    for (; more; more = listing.Next(entry)) {
      std::u16string name(entry.name);
      if (entry.isDirectory || !IsPlaylistName(name)) continue;
      CollectPlaylistPairs(BdmvPath(source, u"PLAYLIST/" + name), pairs);
    }
  }  // the listing is closed before the pairs are built
  if (pairs.empty()) return false;

  for (const auto& [base, dependent] : pairs) {
    StereoClipPair pair;
    if (!BuildStereoClipPair(source, base, dependent, pair)) return false;
    plan.push_back(std::move(pair));
  }
  return true;
}

}  // namespace vellumcast

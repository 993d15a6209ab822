// Discovery and analysis of a Blu-ray BDMV folder: index.bdmv declares stereoscopic
// content, the movie playlists pair each base-view clip with its dependent-view clip
// (PlayItems and the SubPaths of the ExtensionData), and the clip information files give
// each pair's sizes and extents.
#include "bluray/bdmv_analysis.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bluray/bdmv_index.h"
#include "bluray/bdmv_paths.h"
#include "bluray/control_file.h"
#include "bluray/extension_data.h"
#include "bluray/movie_playlist.h"
#include "bluray/stereo_plan.h"
#include "platform/find_iterator.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// Every (base-view clip, dependent-view clip) pair the playlists name, with the first
// playlist that names it.
using ClipPairs = std::map<std::pair<int32_t, int32_t>, std::u16string>;

std::string ClipText(int32_t clip) {
  char text[16];
  std::snprintf(text, sizeof text, "%05d", int(clip));
  return text;
}

std::string PairText(const ClipPairs::value_type& pair) {
  return ClipText(pair.first.first) + "+" + ClipText(pair.first.second) + " in BDMV/PLAYLIST/" +
         Utf16ToUtf8(pair.second);
}

// One interleaved run per clip: a clip named in two different pairs (as base or
// dependent view, also under numbers equal modulo 65536, as the clip fields keep them),
// or paired with itself, would have its data placed twice. False with the reason then.
bool EachClipInOnePair(const ClipPairs& pairs, std::string& reason) {
  std::map<uint16_t, const ClipPairs::value_type*> owner;
  for (const auto& pair : pairs) {
    const int32_t clips[2] = {pair.first.first, pair.first.second};
    if (uint16_t(clips[0]) == uint16_t(clips[1])) {
      reason = "clip " + ClipText(clips[0]) + " is paired with itself (" + PairText(pair) + ")";
      return false;
    }
    for (int32_t clip : clips) {
      auto [at, added] = owner.emplace(uint16_t(clip), &pair);
      if (!added) {
        reason = "clip " + ClipText(clip) + " belongs to two pairs (" + PairText(*at->second) +
                 ", " + PairText(pair) + ")";
        return false;
      }
    }
  }
  return true;
}

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
  return DecodeBdmvIndex(file.bytes, file.length, index) && index.stereoscopicContent;
}

// Adds the pairs of one playlist file when it qualifies: PlayItems, a non-empty
// ExtensionData with an STN_table_SS, and a SubPath entries block whose first SubPath
// has one SubPlayItem per PlayItem.
void CollectPlaylistPairs(const std::u16string& source, const std::u16string& name,
                          ClipPairs& pairs) {
  MoviePlaylist playlist;
  {
    ControlFile file;
    if (!file.Read(BdmvPath(source, u"PLAYLIST/" + name))) return;
    if (!DecodeMoviePlaylist(file.bytes, file.length, playlist)) return;
  }
  ExtensionData extension;
  if (!DecodeExtensionData(playlist.extensionBytes.data(), playlist.extensionBytes.size(),
                         extension)) {
    return;
  }
  const size_t n = playlist.playItems.size();
  if (n == 0 || extension.length == 0 || extension.stnTableSsLengths.empty()) return;
  if (extension.subPathEntriesLength == 0 || extension.subPaths.empty()) return;
  const SubPath& dependent = extension.subPaths.front();
  if (dependent.items.size() != n) return;
  for (size_t i = 0; i < n; ++i) {
    pairs.emplace(std::make_pair(ClipNumber(playlist.playItems[i].clipName),
                                 ClipNumber(dependent.items[i].clipName)),
                  name);
  }
}

}  // namespace

bool AnalyzeBdmvFolder(const char16_t* sourcePath, StereoPlan& plan, std::string& giveUpReason) {
  giveUpReason.clear();
  const std::u16string source(sourcePath ? sourcePath : u"");
  if (!HasStereoscopicIndex(source)) return false;

  // The playlists in name order, so that the same folder gives the same result (and
  // message) whatever order the system lists it in.
  std::vector<std::u16string> playlists;
  {
    FindIterator listing;
    FindEntry entry;
    bool more = listing.First(BdmvPath(source, u"PLAYLIST/").c_str(), entry);
    if (!more && listing.error) return false;  // the folder cannot be listed
    for (; more; more = listing.Next(entry)) {
      std::u16string name(entry.name);
      if (!entry.isDirectory && IsPlaylistName(name)) playlists.push_back(std::move(name));
    }
  }  // the listing is closed before the playlists are read
  std::sort(playlists.begin(), playlists.end());
  ClipPairs pairs;
  for (const std::u16string& name : playlists) CollectPlaylistPairs(source, name, pairs);
  if (pairs.empty()) return false;
  if (!EachClipInOnePair(pairs, giveUpReason)) return false;

  // Ascending by base-view clip: each base-view clip is in exactly one pair now.
  for (const auto& [clips, playlist] : pairs) {
    StereoClipPair pair;
    if (!BuildStereoClipPair(source, clips.first, clips.second, pair, giveUpReason)) return false;
    plan.push_back(std::move(pair));
  }
  return true;
}

}  // namespace vellumcast

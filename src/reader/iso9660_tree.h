// Reads the ISO 9660 file system of an image (ECMA-119): the Primary Volume Descriptor
// and the set terminator, the directory hierarchy from the root record, multi-extent
// files, and both path tables checked against the hierarchy.
#pragma once

#include "reader/image_source.h"
#include "reader/image_tree.h"

namespace vellumcast {

// Which of the trees over ECMA-119 directory records to read: the ISO 9660 identifiers,
// the same hierarchy under its Rock Ridge names (NM entries), or the Joliet hierarchy of
// the Supplementary Volume Descriptor (UCS-2 identifiers).
enum IsoNames : uint8_t { kIsoPlainNames, kIsoRockRidgeNames, kIsoJolietNames };

// True when sector 16 begins a set of ECMA-119 volume descriptors.
bool HasIso9660(ImageSource& image);

// The file system's name in problems: "iso9660", "rock ridge", "joliet".
const char* IsoNamesLabel(IsoNames names);

// True when the image has the tree of `names` (for plain names, an ISO 9660 file system).
bool HasIsoTree(ImageSource& image, IsoNames names);

// Fills `tree` with every directory and file reachable from the root and adds every
// problem met to `report`. False when there is no ISO 9660 file system or its root
// cannot be read; a damaged tree further down gives a partial tree and problems.
[[nodiscard]] bool ReadIso9660Tree(ImageSource& image, ImageTree& tree, ReadReport& report,
                                   const ReadLimits& limits = {}, IsoNames names = kIsoPlainNames);

// The same walk handing each folder to `visit` as soon as its records are read, so that
// only the folders on the way down are held; `tree` gets the volume identifier and the
// counts, no entries.
[[nodiscard]] bool WalkIso9660Tree(ImageSource& image, ImageTree& tree, ReadReport& report,
                                   ImageFolderFn visit, void* context,
                                   const ReadLimits& limits = {}, IsoNames names = kIsoPlainNames);

}  // namespace vellumcast

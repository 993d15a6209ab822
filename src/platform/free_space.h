// Room for an image on the storage it is written to, told before the first byte is.
#pragma once

#include <cstdint>
#include <string>

namespace vellumcast {

// The bytes the target `hostTarget` can take and what holds them (`where`, for the
// message): for a block device its size; for a regular-file target (existing or not,
// through a symbolic link) the space free to this user on the file system of the folder
// it ends up in, where the image is written whole beside an existing file before it
// replaces it. False when nothing can be told (standard output, a character device, a
// pipe, a folder that cannot be examined): then nothing is refused.
bool RoomForTarget(const std::string& hostTarget, uint64_t& bytes, std::string& where,
                   bool& device);

}  // namespace vellumcast

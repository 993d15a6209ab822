// Emitting the checksum list file (SHA256SUMS) after all other file data.
#pragma once

namespace vellumcast {

struct OutputContext;

// Emits the list's text, with the digests taken while the other files' data went out,
// at its planned sector, zero-padded to whole sectors. False (with the log saying why)
// when its text does not have the planned size or a file's digest is missing.
[[nodiscard]] bool EmitChecksumList(OutputContext& out);

}  // namespace vellumcast

// The image file being written: a temporary file beside a regular-file target, renamed
// over it only when the image is complete (with the old file's owner, group and
// permission bits), or the target itself when it is a device or a pipe or when its
// folder takes no temporary file, or standard output for the target "-". Writes are sequential;
// runs of zero bytes in a fresh temporary file may be left as holes, which read back as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_handle.h"

namespace vellumcast {

// The target name that stands for standard output.
inline bool IsStandardOutputTarget(std::u16string_view target) { return target == u"-"; }

// The directory entry a regular-file image ends up at (host bytes): the target itself,
// or, when it is a symbolic link, the file the link names, whether that exists or not
// (as open with O_CREAT and the shell's ">" follow a link). Empty after too many links.
std::string ImageDestination(const std::string& hostTarget);

// Whether `name` is one of the temporary files that OutputFile makes beside the image
// named `destinationName`: "<destinationName>.vellumcast-tmp-" and six letters or digits.
bool IsTemporaryImageName(std::string_view name, std::string_view destinationName);

struct OutputFile {
  FileHandle file;         // the temporary file, or the target written directly
  std::string targetPath;  // host path the finished image ends up at
  std::string tempPath;    // the temporary file beside it; empty when writing directly
  uint64_t length = 0;     // bytes written (or skipped as a hole) so far
  bool holesAllowed = false;
  bool kernelCopy = false;  // CopyFrom may work: a regular file not yet refused by the kernel
  // No temporary file could be made beside the target (`noTemporaryReason` says why), so
  // the regular-file target is written directly: `writtenInPlace` when it existed (a
  // failure leaves it incomplete), `createdTarget` when this build made it (a failure
  // removes it).
  bool writtenInPlace = false;
  bool createdTarget = false;
  std::string noTemporaryReason;
  std::string error;  // the system's reason for the last failure

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Abandon(); }

  // Opens the place the image is written to. False with `error` set when it cannot be.
  [[nodiscard]] bool Open(std::u16string_view target);
  // Appends n bytes; false with `error` set on a failed or short write.
  [[nodiscard]] bool Write(const uint8_t* bytes, size_t n);
  // Appends up to n bytes read from `sourceFd` at its current position, copied inside the
  // kernel (copy_file_range) without passing through this process; both file positions
  // advance. `copied` receives the bytes copied: fewer than n when the source ends, or
  // when the kernel cannot copy between the two files, in which case `kernelCopy` becomes
  // false and the caller goes on reading and writing itself. False with `error` set on a
  // failure (`copied` then counts what was copied before it).
  [[nodiscard]] bool CopyFrom(int sourceFd, uint64_t n, uint64_t& copied);
  // Completes the image: gives the temporary file its length, closes it and renames it
  // over the target (or closes the target written directly). False with `error` set.
  [[nodiscard]] bool Finish();
  // Closes the file and removes the temporary file, if any; the target is untouched.
  void Abandon();
  int Descriptor() const { return file.handle; }
};

}  // namespace vellumcast

// What one image is to be: its file systems, its identity (identifiers, label, the one
// build time) and how the source is read. Set by the build driver before the scan and
// only read by the scan, the layout and the writer.
#pragma once

#include <cstdint>
#include <string>

#include "base/boot_settings.h"

namespace vellumcast {

// Bit set of the file systems written.
enum FormatFlags : uint32_t {
  FormatIso9660 = 1,
  FormatUdf = 4,
};

// Identifiers of the volume the user may give, as typed; empty: the default. Each is
// recorded in the ISO 9660 Primary and Joliet Supplementary Volume Descriptors (ECMA-119
// 8.4), the volume set also in the UDF Primary Volume Descriptor (ECMA-167 3/10.1).
struct VolumeIdentity {
  std::u16string systemId;
  std::u16string volumeSet;
  std::u16string publisher;
  std::u16string preparer;
  std::u16string application;
};

struct ImageSettings {
  uint32_t formatFlags = 0;
  uint16_t udfRevision = 0x0102;
  // ISO 9660 extensions asked for: Rock Ridge entries on the primary directory records,
  // and a Joliet tree under a Supplementary Volume Descriptor.
  bool rockRidge = false;
  bool joliet = false;
  // El Torito entries and the hybrid system area (ISO 9660 images only).
  BootSettings boot;
  // A SHA256SUMS file at the root listing every file's SHA-256, computed while the data
  // is written (the file data is then always read by this process).
  bool checksums = false;
  // The list was found in a compared image rather than asked for: a file of the folder
  // by its name is then the one compared, not an error.
  bool checksumsFromImage = false;

  // Volume identity.
  int64_t buildTime = 0;            // seconds since 1970-01-01 UTC; the one "now" of the build
  uint8_t buildTimeStamp[12] = {};  // buildTime as a UDF timestamp
  bool datesInUtc = false;          // every date in UTC with offset 0 (a fixed build time)
  uint8_t applicationId[23] = {};
  uint8_t implementationId[23] = {};
  uint8_t volumeLabel[128] = {};  // UDF dstring
  VolumeIdentity identity;

  // How the source is read; the image is the same either way.
  // Reader threads that open and read the source files ahead of the file-data copy
  // (and warm the scan); 0: each file is opened and read only when its data is due.
  uint32_t readAheadReaders = 16;
  // File data always read and written by this process, never copied by the kernel.
  bool plainDataCopy = false;

  bool WritesIso9660() const { return formatFlags & FormatIso9660; }
  bool WritesUdf() const { return formatFlags & FormatUdf; }
  bool IsUdf250() const { return udfRevision >= 0x0250; }
};

}  // namespace vellumcast

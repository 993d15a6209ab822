// Placeholder until the UDF structures are built.
#include "writer/udf_structures.h"

namespace vellumcast {

bool WriteVolumeRecognitionSequence(ImageBuilder&) { return false; }
bool WriteVolumeDescriptorSequence(ImageBuilder&, uint32_t) { return false; }
bool WriteLogicalVolumeIntegrityDescriptor(ImageBuilder&, uint32_t) { return false; }
bool WriteTerminatingDescriptor(ImageBuilder&, uint32_t) { return false; }
bool WriteAnchorVolumeDescriptorPointer(ImageBuilder&, uint32_t) { return false; }
bool WriteMetadataFileEntry(ImageBuilder&, bool, uint32_t) { return false; }
uint32_t WriteUdfFileSystemArea(ImageBuilder&) { return 0; }

}  // namespace vellumcast

// Initialisation, identifiers and the phases of the ImageBuilder, each handed the
// records it works on.
#include "build/image_builder.h"

#include <cstring>
#include <ctime>

#include "layout/volume_label.h"
#include "tree/boot_files.h"
#include "tree/checksum_list.h"
#include "layout/volume_time.h"
#include "writer/image_writer.h"

namespace vellumcast {
namespace {

// Entity identifier text: '*' then at most 22 bytes, the 23-byte field zero-padded.
void SetEntityIdentifier(uint8_t (&field)[23], const char* id) {
  std::memset(field, 0, sizeof field);
  if (!id || !*id) return;
  field[0] = '*';
  size_t n = std::strlen(id);
  if (n > 22) n = 22;
  std::memcpy(field + 1, id, n);
}

}  // namespace

void ImageBuilder::Initialize() {
  settings.buildTime = static_cast<int64_t>(std::time(nullptr));
  MakeUdfTimestamp(settings.buildTime, settings.buildTimeStamp);
  std::memset(settings.volumeLabel, 0, sizeof settings.volumeLabel);
  SetVolumeLabel(kDefaultVolumeLabel);
}

void ImageBuilder::FixBuildTime(int64_t time) {
  settings.buildTime = time;
  settings.datesInUtc = true;
  MakeUdfTimestamp(settings.buildTime, settings.buildTimeStamp, true);
}

void ImageBuilder::SetImplementationId(const char* id) {
  SetEntityIdentifier(settings.implementationId, id);
}
void ImageBuilder::SetApplicationId(const char* id) {
  SetEntityIdentifier(settings.applicationId, id);
}
void ImageBuilder::SetVolumeLabel(const char16_t* label) {
  vellumcast::SetVolumeLabel(settings, label);
}

bool ImageBuilder::ScanSourceTree(const char16_t* sourcePath) {
  return vellumcast::ScanSourceTree(tree, settings, log, sourcePath) &&
         AttachBootFiles(settings, tree, log) && AttachChecksumList(settings, tree, log);
}

bool ImageBuilder::PlanLayout() { return vellumcast::PlanLayout(settings, tree, plan, log); }

bool ImageBuilder::WriteImage(const char16_t* targetPath, WriterProgressFn progress,
                              void* progressContext) {
  return vellumcast::WriteImage(settings, tree, plan, log, targetPath, progress, progressContext);
}

}  // namespace vellumcast

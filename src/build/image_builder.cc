// Initialisation, clean-up, identifiers and failure reporting of the ImageBuilder.
#include "build/image_builder.h"

#include <cstring>
#include <ctime>

#include "layout/volume_time.h"

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
  buildTime = static_cast<int64_t>(std::time(nullptr));
  MakeUdfTimestamp(buildTime, buildTimeStamp);
  std::memset(volumeLabel, 0, sizeof volumeLabel);
  SetVolumeLabel(u"UNTITLED");
  sectorSize = 2048;
}

void ImageBuilder::FixBuildTime(int64_t time) {
  buildTime = time;
  datesInUtc = true;
  MakeUdfTimestamp(buildTime, buildTimeStamp, true);
}

void ImageBuilder::CleanUp() {
  if (arena) {
    DestroyArena(arena);
    arena = nullptr;
    root = nullptr;
    ssifDirectory = nullptr;
  }
  stereoPlan.reset();
}

void ImageBuilder::SetImplementationId(const char* id) { SetEntityIdentifier(implementationId, id); }
void ImageBuilder::SetApplicationId(const char* id) { SetEntityIdentifier(applicationId, id); }

bool ImageBuilder::Fail(const std::string& message) {
  if (errorMessage.empty()) errorMessage = message;
  return false;
}

void ImageBuilder::Warn(const std::string& message) const {
  if (warning) warning(message, warningContext);
}

}  // namespace vellumcast

// Which file systems an image carries.
#include "reader/image_survey.h"

#include "reader/iso9660_tree.h"
#include "reader/udf_volume.h"

namespace vellumcast {

ImageFileSystems SurveyImage(ImageSource& image) {
  ImageFileSystems found;
  found.iso9660 = HasIso9660(image);
  if (HasUdf(image)) {
    UdfVolume volume;
    ReadReport ignored;
    found.udf = ReadUdfVolume(image, volume, ignored);
    if (found.udf) found.udfRevision = volume.logical.domainRevision;
  }
  return found;
}

std::string UdfRevisionName(uint16_t revision) {
  // The revision is binary-coded decimal: 0x0250 is 2.50.
  const char digits[] = {char('0' + ((revision >> 8) & 0xF)), '.',
                         char('0' + ((revision >> 4) & 0xF)), char('0' + (revision & 0xF)), '\0'};
  return std::string("UDF ") + digits;
}

std::string FileSystemsName(const ImageFileSystems& systems) {
  std::string name = systems.iso9660 ? "ISO 9660" : "";
  if (systems.udf) name += (name.empty() ? "" : " and ") + UdfRevisionName(systems.udfRevision);
  return name;
}

}  // namespace vellumcast

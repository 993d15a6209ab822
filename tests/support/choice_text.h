// File-system choices in test messages: "choice ISO 9660 + UDF 1.02" instead of a number.
#pragma once

#include <ostream>

#include "build/build_job.h"

namespace vellumcast {

inline const char* ChoiceText(FileSystemChoice choice) {
  switch (choice) {
    case FileSystemChoice::OfImage: return "of the image";
    case FileSystemChoice::Iso9660: return "ISO 9660";
    case FileSystemChoice::Iso9660Udf102: return "ISO 9660 + UDF 1.02";
    case FileSystemChoice::Default: return "default (UDF 2.50, Blu-ray 3D)";
    case FileSystemChoice::Udf102: return "UDF 1.02";
    case FileSystemChoice::Udf250: return "UDF 2.50";
  }
  return "unknown";
}

inline std::ostream& operator<<(std::ostream& out, FileSystemChoice choice) {
  return out << ChoiceText(choice);
}

}  // namespace vellumcast

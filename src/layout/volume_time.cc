// Placeholder until the time encodings are built.
#include "layout/volume_time.h"

#include <cstring>

namespace vellumcast {

void MakeUdfTimestamp(int64_t, uint8_t out[12]) { std::memset(out, 0, 12); }
void MakeIsoRecordDate(int64_t, uint8_t out[7]) { std::memset(out, 0, 7); }
void MakeIsoVolumeDate(int64_t, bool, uint8_t out[17]) { std::memset(out, '0', 16); out[16] = 0; }

}  // namespace vellumcast

// The progress line on a terminal: percentage, bytes written of the total, rate and time
// left, redrawn in place a few times a second and cleared before the closing line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vellumcast {

// "42%  1.9 of 4.5 GB  310 MB/s  0:08 left" for `done` of `total` bytes after `seconds`;
// the rate and the time left only once some time has passed and some bytes are done.
std::string ProgressText(uint64_t done, uint64_t total, double seconds);

struct ProgressLine {
  FILE* stream = nullptr;
  const char* prefix = "";  // before the text: "Checking " for the check of an image
  std::chrono::steady_clock::time_point start{};
  std::chrono::steady_clock::time_point lastDraw{};
  size_t drawnWidth = 0;  // characters on the line now; 0: nothing drawn
  uint64_t lastDone = 0;  // the bytes the line shows
  bool started = false;
  bool broken = false;  // the stream failed: no more drawing

  // Draws the line for (done, total) bytes, at most four times a second and always at
  // the end; false once the stream has failed.
  bool Update(uint64_t done, uint64_t total);
  // Blanks the line and returns to its start, so the next text begins on a clean line.
  void Clear();
};

}  // namespace vellumcast

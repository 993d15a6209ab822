// The terminal's progress line.
#include "frontend/progress_line.h"

namespace vellumcast {
namespace {

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f" : "%.0f", value);
  return text;
}

std::string Duration(double seconds) {
  const uint64_t s = seconds < 0 ? 0 : uint64_t(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(
        text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
        static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  }
  return text;
}

// The sizes in the unit of the total: GB, MB or kB (decimal, as the media are sold).
std::string Sizes(uint64_t done, uint64_t total) {
  double unit = 1e3;
  const char* name = "kB";
  if (total >= 1000000000) {
    unit = 1e9;
    name = "GB";
  } else if (total >= 1000000) {
    unit = 1e6;
    name = "MB";
  }
  return Decimal(double(done) / unit) + " of " + Decimal(double(total) / unit) + " " + name;
}

constexpr double kFirstRateSeconds = 0.5;  // before this the rate says nothing yet
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

}  // namespace

std::string ProgressText(uint64_t done, uint64_t total, double seconds) {
  const uint64_t percent = total == 0 ? 0 : uint64_t((unsigned __int128)done * 100 / total);
  std::string text = std::to_string(percent) + "%  " + Sizes(done, total);
  if (seconds >= kFirstRateSeconds && done > 0) {
    const double rate = double(done) / seconds;
    text +=
        "  " + Decimal(rate / 1e6) + " MB/s  " + Duration(double(total - done) / rate) + " left";
  }
  return text;
}

bool ProgressLine::Update(uint64_t done, uint64_t total) {
  if (broken || total == 0) return !broken;
  const auto now = std::chrono::steady_clock::now();
  if (!started) {
    started = true;
    start = now;
  } else if ((done < total && now - lastDraw < kRedrawInterval) || done == lastDone) {
    return true;
  }
  lastDone = done;
  lastDraw = now;
  const std::string text =
      prefix + ProgressText(done, total, std::chrono::duration<double>(now - start).count());
  const size_t blanks = drawnWidth > text.size() ? drawnWidth - text.size() : 0;
  std::fprintf(stream, "\r%s%s", text.c_str(), std::string(blanks, ' ').c_str());
  drawnWidth = text.size();
  if (std::fflush(stream) != 0 || std::ferror(stream)) broken = true;
  return !broken;
}

void ProgressLine::Clear() {
  if (drawnWidth == 0 || broken) return;
  std::fprintf(stream, "\r%s\r", std::string(drawnWidth, ' ').c_str());
  std::fflush(stream);
  drawnWidth = 0;
}

}  // namespace vellumcast

#include "progress.h"

#include <unistd.h>

#include <string>

namespace launcher::packer {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

Progress::Progress(std::FILE* out, bool enabled, int64_t totalEntries, int64_t totalBytes)
    : out_(out),
      live_(enabled && isatty(fileno(out))),
      totalEntries_(totalEntries),
      totalBytes_(totalBytes),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (!drawn_) return;
  Draw(true);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void Progress::AddBytes(int64_t bytes) {
  bytes_ += bytes;
  Draw(false);
}

void Progress::AddEntry() {
  ++entries_;
  Draw(false);
}

void Progress::Draw(bool force) {
  if (!live_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && (now - start_ < kQuietStart || now - lastDraw_ < kRedrawEvery)) return;
  lastDraw_ = now;
  drawn_ = true;
  const int64_t filled = totalBytes_ > 0 ? bytes_ * kBarWidth / totalBytes_ : kBarWidth;
  const std::string bar = std::string(static_cast<size_t>(filled), '#') +
                          std::string(static_cast<size_t>(kBarWidth - filled), ' ');
  std::fprintf(out_, "\r[%s] %lld/%lld entries, %s/%s MB", bar.c_str(),
               static_cast<long long>(entries_), static_cast<long long>(totalEntries_),
               Megabytes(bytes_).c_str(), Megabytes(totalBytes_).c_str());
  std::fflush(out_);
}

}  // namespace launcher::packer

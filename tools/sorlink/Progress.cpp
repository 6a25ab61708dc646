#include "tools/sorlink/Progress.h"

#include <cstdio>

#include "tools/sorlink/Console.h"

namespace sorlink_tool {

namespace {

constexpr int kBarWidth = 30;
// Redrawing more often than this only costs time on a slow terminal.
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

std::string FormatBytes(double bytes) {
    const char* const units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 3) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

Progress::Progress(long long totalBytes, bool wanted)
    : total(totalBytes), shown(wanted && IsTerminal(stderr)) {}

void Progress::Update(long long done) {
    lastDone = done;
    if (!shown) return;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (drawn && now - lastDraw < kRedrawInterval && done != total) return;
    lastDraw = now;
    Draw(done);
}

void Progress::Draw(long long done) {
    if (total > 0) {
        int filled = static_cast<int>(kBarWidth * done / total);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
        std::fprintf(stderr, "\r[%s] %3lld%% %s of %s ", bar.c_str(), 100 * done / total,
                     FormatBytes(static_cast<double>(done)).c_str(),
                     FormatBytes(static_cast<double>(total)).c_str());
    } else {
        std::fprintf(stderr, "\r%s sent ", FormatBytes(static_cast<double>(done)).c_str());
    }
    std::fflush(stderr);
    drawn = true;
}

void Progress::Finish() {
    if (!shown || !drawn) return;
    Draw(lastDone);
    std::fputc('\n', stderr);
    drawn = false;
}

}  // namespace sorlink_tool

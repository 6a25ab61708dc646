// The progress bar of a file send, drawn on standard error when it is a
// terminal, and the byte counts the tool prints.
#pragma once

#include <chrono>
#include <string>

namespace sorlink_tool {

// "512 B", "12.5 KiB", "3.2 MiB".
std::string FormatBytes(double bytes);

class Progress {
public:
    // total < 0: unknown (standard input); shown only when wanted and
    // standard error is a terminal.
    Progress(long long total, bool wanted);
    void Update(long long done);
    // Ends the bar's line; safe to call twice.
    void Finish();

private:
    void Draw(long long done);

    long long total;
    bool shown;
    bool drawn = false;
    long long lastDone = 0;
    std::chrono::steady_clock::time_point lastDraw;
};

}  // namespace sorlink_tool

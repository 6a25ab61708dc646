// The two things the tool asks of the console that differ between Windows
// and other systems; everything else in the tool is standard C++.
#pragma once

#include <cstdio>

namespace sorlink_tool {

// True when the stream is an interactive terminal (progress bars go there).
bool IsTerminal(std::FILE* stream);

// Switches a standard stream to binary so bytes pass through unchanged
// (Windows would otherwise translate line ends).
void SetBinaryMode(std::FILE* stream);

}  // namespace sorlink_tool

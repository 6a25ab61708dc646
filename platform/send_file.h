// A file a caller asks a port to send.
#pragma once

#include <cstdio>

namespace plat {

// Opens the file at `path` for reading its bytes. The open never waits (a
// FIFO at the path would otherwise block until a writer comes) and the file
// is kept only when it is a regular file on disk: a FIFO, a folder, a
// terminal or another device has no length to send. nullptr, with the last
// error set, when the file cannot be used: the system's own error when the
// open fails (2 missing, 3 no such folder, 5 access denied), 5 when the
// path names no regular file.
std::FILE* OpenFileToSend(const char* path);

}  // namespace plat

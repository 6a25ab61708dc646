// The log files: the layer's (where it is by default, and the two file
// calls a log line needs) and the bridge's. The layer's calls open the file
// without waiting (a FIFO or a device at the path never blocks a port), use
// it only when it is a regular file, and close it before returning, so the
// file can be read, copied or deleted while the library runs.
#pragma once

#include <cstdint>

namespace plat {

// Where a port logs when its caller names no file: "C:\Sorlink.log" on
// Windows, a per-user state file elsewhere. False, with nothing stored, when
// there is no such place or it does not fit `size` bytes with its
// terminator: the port's lines are then dropped.
bool DefaultLayerLogPath(char* path, std::uint32_t size);

// kDefault: the path DefaultLayerLogPath gave. Its missing folders are
// created, and a link in the file's own place is never followed.
enum class LogPath { kNamed, kDefault };

enum class LogFileState { kExisting, kCreated, kUnusable };

// Makes sure the caller's log file exists, creating it empty when it does
// not. An existing file is left as it is.
LogFileState CreateLogFile(const char* path);

// Appends `size` bytes of text with one open, a single write in append mode
// and one close, so that lines appended by other ports or processes at the
// same time stay whole. Each "\n" reaches the file as the platform's text
// line end. False when the file cannot be opened or written.
bool AppendToLogFile(const char* path, LogPath kind, const char* text, std::uint32_t size);

// The bridge's log: appends bytes to a file, creating it, and closes it
// before returning. On Windows it is opened like a named layer log (a
// regular file only, shared with readers and other writers, without
// waiting); elsewhere as a private file (PrepareLogFile). False when the
// file cannot be opened or written.
bool AppendToFile(const char* path, const void* data, std::uint32_t size);

// The documents folder the bridge's log folder is made in. Elsewhere than on
// Windows it is used only when it is the user's own (or root's) and nobody
// else may rename what is in it: no other user or group may write to it
// unless it is sticky (as /tmp is). Otherwise its owner could swap the
// prepared folders for a link after they were checked.
bool UsableDocumentsFolder(const char* path);

// One folder of the bridge's log folder, whose parent was prepared before
// (or is the user's documents folder): created when missing. Elsewhere
// than on Windows it is created 0700 and used only when it is a folder of
// the user's own, not a link, that no other user may write to (the write
// permission of others is taken away), so that nobody else can put a link
// or a file of theirs in it. False when it cannot be used.
bool PrepareLogFolder(const char* path);

// A log file in a prepared folder, made sure to exist before the layer is
// given its path. Elsewhere than on Windows a private file: created 0600,
// never reached through a link, and used only when it is a regular file of
// the user's own. False when it cannot be used.
bool PrepareLogFile(const char* path);

}  // namespace plat

// Opening a file the library reads or appends to: a log, or a file a port
// sends. Such a path may name anything, and opening some things has effects
// of its own: a FIFO waits for its other end, a terminal or a serial device
// changes its line state. So only a regular file is opened, and the open
// never waits.
#pragma once

namespace plat::posix {

// Opens `path` with `flags` (O_NONBLOCK, O_NOCTTY and O_CLOEXEC added, and
// O_NOFOLLOW unless `followLinks`) when it is a regular file or, with
// O_CREAT, does not exist yet. What the path names is checked before the
// open and what was opened is checked again after it, so nothing swapped
// in between is used. A file it creates gets `mode` less the umask. -1 with
// errno set: open(2)'s own error, or EINVAL when the path names something
// other than a regular file.
int OpenRegularFile(const char* path, int flags, bool followLinks, int mode = 0666);

}  // namespace plat::posix

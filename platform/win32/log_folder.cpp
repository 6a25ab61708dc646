// The bridge's log folder and files on Windows: the folder is created where
// nothing of its name exists, and used as it is, as it always was (making a
// link takes a privilege ordinary users do not hold).
#include <windows.h>

#include "platform/log_file.h"

namespace plat {

bool UsableDocumentsFolder(const char* path) {
    return path != nullptr;
}

bool PrepareLogFolder(const char* path) {
    if (path == nullptr) return false;
    if (::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryA(path, nullptr);
    return true;
}

bool PrepareLogFile(const char* path) {
    return path != nullptr;
}

}  // namespace plat

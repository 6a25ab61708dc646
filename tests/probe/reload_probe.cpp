// Loads the library by file name, opens a serial port that is not there and
// unloads the library again, many times: what a service retrying an offline
// printer through the bridge does. Prints how much the heap and the open
// descriptors grew over the counted cycles.
// Usage: reload_probe <library> <cycles>
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>

namespace {

using CreateFn = int (*)(int, int, int, const char*, int*);
using InitSerialFn = int (*)(const char*, int, int, int, int, int);
using VoidFn = int (*)();

bool Cycle(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    auto create = reinterpret_cast<CreateFn>(dlsym(handle, "CreateCommunicationPort"));
    auto init = reinterpret_cast<InitSerialFn>(dlsym(handle, "InitSerialPort"));
    auto open = reinterpret_cast<VoidFn>(dlsym(handle, "Open"));
    auto close = reinterpret_cast<VoidFn>(dlsym(handle, "Close"));
    auto deleteAll = reinterpret_cast<VoidFn>(dlsym(handle, "DeleteAllLayerItems"));
    int id = 0;
    bool failedAsExpected = create != nullptr && init != nullptr && open != nullptr &&
                            close != nullptr && deleteAll != nullptr &&
                            create(0, 0, 0, nullptr, &id) == 0 &&
                            init("COM1", 9600, 0, 8, 0, 2) == 0 && open() != 0;
    if (close != nullptr) close();
    if (deleteAll != nullptr) deleteAll();
    dlclose(handle);
    return failedAsExpected && dlopen(path, RTLD_NOW | RTLD_NOLOAD) == nullptr;
}

long OpenDescriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    long count = 0;
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: reload_probe <library> <cycles>\n");
        return 2;
    }
    int cycles = std::atoi(argv[2]);
    // The first cycles fill what the C library keeps for good (the loader's
    // caches, the stdio buffers).
    for (int i = 0; i < 20; ++i) {
        if (!Cycle(argv[1])) {
            std::printf("cycle failed: %s\n", dlerror() != nullptr ? dlerror() : "open succeeded");
            return 1;
        }
    }
    long descriptors = OpenDescriptors();
    std::size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < cycles; ++i) {
        if (!Cycle(argv[1])) return 1;
    }
    long grown = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(heap);
    std::printf("heap grew by %ld bytes\n", grown);
    std::printf("descriptors grew by %ld\n", OpenDescriptors() - descriptors);
    return 0;
}

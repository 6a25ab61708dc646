// Loads the library by file name, creates ports, unloads it, then loads it
// again: what a host that frees the library between jobs does. Prints what
// it observed, one fact per line, for the integration tests to compare.
// Usage: unload_probe <library> <log file>
#include <dlfcn.h>

#include <cstdio>

namespace {

using CreateFn = int (*)(int, int, int, const char*, int*);
using IntFn = int (*)(int);
using OutFn = int (*)(int*);

struct Library {
    void* handle;
    CreateFn create;
    IntFn deletePort;
    OutFn getId;
};

bool Load(const char* path, Library* library) {
    library->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) {
        std::printf("dlopen failed: %s\n", dlerror());
        return false;
    }
    library->create = reinterpret_cast<CreateFn>(dlsym(library->handle, "CreateCommunicationPort"));
    library->deletePort =
        reinterpret_cast<IntFn>(dlsym(library->handle, "DeleteCommunicationPort"));
    library->getId = reinterpret_cast<OutFn>(dlsym(library->handle, "GetIDPort"));
    return library->create != nullptr && library->deletePort != nullptr &&
           library->getId != nullptr;
}

// True when the library is really gone from the process, so that its
// unload handler has run.
bool Unload(const char* path, Library* library) {
    dlclose(library->handle);
    return dlopen(path, RTLD_NOW | RTLD_NOLOAD) == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: unload_probe <library> <log file>\n");
        return 2;
    }
    const char* path = argv[1];
    const char* log = argv[2];
    const int mask = 2 | 4 | 8;  // trace, info, error
    Library library{};
    int first = 0, second = 0, current = 0;

    if (!Load(path, &library)) return 1;
    library.create(0, 1, mask, log, &first);
    library.create(1, 1, mask, log, &second);
    std::printf("created %d %d\n", first, second);
    std::printf("unloaded %s\n", Unload(path, &library) ? "yes" : "no");

    if (!Load(path, &library)) return 1;
    std::printf("reloaded GetIDPort %d\n", library.getId(&current));
    library.create(0, 1, mask, log, &first);
    library.create(0, 1, mask, log, &second);
    // Leave a port behind with none current: unloading must free it quietly.
    library.deletePort(second);
    std::printf("created %d after reload\n", first);
    std::printf("unloaded %s\n", Unload(path, &library) ? "yes" : "no");
    return 0;
}

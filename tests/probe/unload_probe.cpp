// Loads the library by file name, creates ports, unloads it, then loads it
// again: what a host that frees the library between jobs does. Prints what
// it observed, one fact per line, for the integration tests to compare.
// Usage: unload_probe <library> <log file>
#include <dlfcn.h>

#include <cstdio>

// Functions of the program's own named like entry points of the library, as
// an application's often are, and exported so that the dynamic linker sees
// them first: the library's calls of its own functions must not reach them.
// Each says so if it runs.
static int Own(const char* name) {
    std::printf("own %s ran\n", name);
    return 77;
}
#pragma GCC visibility push(default)
extern "C" {
int Open() {
    return Own("Open");
}
int Read(char*, int, unsigned*) {
    return Own("Read");
}
int Write(const unsigned char*, int) {
    return Own("Write");
}
int Close() {
    return Own("Close");
}
int DeleteAllLayerItems() {
    return Own("DeleteAllLayerItems");
}
}
#pragma GCC visibility pop

namespace {

using CreateFn = int (*)(int, int, int, const char*, int*);
using IntFn = int (*)(int);
using OutFn = int (*)(int*);
using ReadFifoFn = int (*)(unsigned char*, unsigned, unsigned*);

struct Library {
    void* handle;
    CreateFn create;
    IntFn deletePort;
    OutFn getId;
    ReadFifoFn readFifo;
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
    library->readFifo = reinterpret_cast<ReadFifoFn>(dlsym(library->handle, "ReadFIFO"));
    return library->create != nullptr && library->deletePort != nullptr &&
           library->getId != nullptr && library->readFifo != nullptr;
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
    // ReadFIFO fills its buffer through the library's Read: here the
    // refusal of an Ethernet port that is not open.
    unsigned char buffer[4];
    unsigned got = 0;
    std::printf("ReadFIFO %d\n", library.readFifo(buffer, sizeof buffer, &got));
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

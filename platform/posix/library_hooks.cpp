// The library's load/unload notification on Linux: a constructor and a
// destructor of the shared object stand in for process attach and detach.
extern "C" int SorlinkMain(int reason);

namespace {
__attribute__((constructor)) void OnLoad() {
    SorlinkMain(1);
}
__attribute__((destructor)) void OnUnload() {
    SorlinkMain(0);
}
}  // namespace

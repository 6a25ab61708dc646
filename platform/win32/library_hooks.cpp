// The library's load/unload notification on Windows. Linked into Sorlink
// only: the bridge has its own life cycle.
#include <windows.h>

#include "comlayer/port/PortLayer.h"

// The statically linked libstdc++ allocates its emergency exception pool
// (the arena kept for exceptions thrown while the heap is exhausted: 74,752
// bytes in the 64-bit DLL, 18,944 in the 32-bit one) with malloc while the
// DLL loads, and frees it only through this call, which it provides for
// leak checkers. None of its headers declares it.
namespace __gnu_cxx {
void __freeres();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // Thread notifications still arrive (DisableThreadLibraryCalls
            // fails for a DLL with static TLS, as this one has) and are
            // ignored below: threads a host starts and ends leave the layer
            // as it is.
            SorlinkMain(DLL_PROCESS_ATTACH);
            break;
        case DLL_PROCESS_DETACH:
            // reserved is non-null when the process is ending: the other
            // threads were stopped wherever they were, and the system closes
            // every handle and socket. Otherwise FreeLibrary unloads us
            // under the loader lock, where WSACleanup must not be called.
            SorlinkDetach(reserved != nullptr ? DetachKind::kProcessExit
                                              : DetachKind::kKeepSocketLibrary);
            // Without this every FreeLibrary would leave the pool on the
            // process heap, and a host that reloads the layer would grow by
            // it at each load. Nothing of ours throws once detached, so the
            // pool is not needed again; at process exit the heap goes anyway.
            if (reserved == nullptr) __gnu_cxx::__freeres();
            break;
        default:
            break;
    }
    return TRUE;
}

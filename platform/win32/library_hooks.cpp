// The library's load/unload notification on Windows. Linked into Sorlink
// only: the bridge has its own life cycle.
#include <windows.h>

#include "comlayer/port/PortLayer.h"

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
            break;
        default:
            break;
    }
    return TRUE;
}

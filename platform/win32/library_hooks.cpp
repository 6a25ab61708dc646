// The library's load/unload notification on Windows. Linked into Sorlink
// only: the bridge has its own life cycle.
#include <windows.h>

#include "comlayer/port/PortLayer.h"

// The reason numbers of DllMain are the ones SorlinkMain expects.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    SorlinkMain(static_cast<int>(reason));
    return TRUE;
}

// Process-wide state of the communication layer and the checks every entry
// point runs before it reaches a transport object.
#pragma once

#include <cstdint>

#include "comlayer/port/CCDynList.h"

class CSvComSerial;
class CSvComUsb;
class CSvComEth;
class CSvLogFile;

constexpr int kLinkSerial = 0;
constexpr int kLinkEthernet = 1;
constexpr int kLinkUsb = 2;

struct PortRecord {
    CSvComSerial* serial;
    CSvComUsb* usb;
    CSvComEth* ethernet;
    CSvLogFile* log;
    int linkType;
    int id;
};

constexpr unsigned kFifoSize = 1024;

struct LayerState {
    CCDynList portList;
    PortRecord* currentPort = nullptr;
    int currentPortId = 0;
    int lastPortId = 0;
    // The unread bytes are fifoBuffer[fifoStart, fifoStart + fifoCount):
    // delivering moves the start instead of the bytes, and the bytes move to
    // the front only when the device is read into the free part.
    unsigned char fifoBuffer[kFifoSize] = {};
    unsigned fifoCount = 0;
    unsigned fifoStart = 0;
};

LayerState& Layer();
// Frees the state at unload (the port list's nodes with it); a call that
// still comes afterwards finds a fresh, empty state.
void ReleaseLayer();

// Writes a line through the current port's log; nothing when there is none.
void LogCurrent(const char* prefix, const char* message, int level);

// The load/unload handler. reason: 0 process detach, 1 process attach,
// 2 thread attach, 3 thread detach (the Windows numbering). Returns 1.
// Attach empties the FIFO; detach is SorlinkDetach(kReleaseAll); thread
// notifications change nothing.
extern "C" int SorlinkMain(int reason);

// What a process detach may release, as the platform's unloading allows.
enum class DetachKind {
    // Every port is deleted and the layer's state freed (Linux: dlclose
    // and the end of the process).
    kReleaseAll,
    // As kReleaseAll, but the ports' references to the socket library stay
    // (Windows FreeLibrary, under the loader lock).
    kKeepSocketLibrary,
    // The process is ending and the system reclaims everything: nothing is
    // closed or freed (Windows ExitProcess, after the other threads have
    // been stopped wherever they were).
    kProcessExit,
};

// Process detach: the "Process detach" line through the current port, the
// FIFO emptied, then what kind allows. Returns 1.
int SorlinkDetach(DetachKind kind);

// Generic entry points: the current port when there is one and argsOk,
// after logging which class is called ("Calling function in ... class\n")
// at LOG_INFO, or at LOG_ERROR for the serial and USB lines when
// errorLevelForSerialUsb is set. Otherwise null with *code = 5.
PortRecord* DispatchTarget(const char* prefix, bool argsOk, bool errorLevelForSerialUsb, int* code);

// Transport-specific entry points: the current port when there is one,
// argsOk, and its link type is linkType; then "Calling function in ... class\n"
// is logged. Otherwise null with *code = 5, or with *code = refusalCode
// after the refusal line for a port of another link type.
PortRecord* AcceptTransportCall(const char* prefix, int linkType, bool argsOk, int refusalCode,
                                int* code);

void EmptyFifo();

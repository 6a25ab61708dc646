// The communication layer, bound at run time by file name and shared by
// every WinPortComm object of the process. Each call looks its export up by
// name in the loaded library and reports 0 when the export returned 0, -1
// when it returned anything else or is missing (Read: the layer's own code).
//
// The layer serves one caller at a time and acts on its process-wide
// current port. So every call below is made inside a Session, which holds
// the binding's one lock and makes the caller's port current; the library
// is loaded and unloaded inside a Session too, so it never goes away under
// a call.
#pragma once

#include <cstdint>

namespace bridge {
namespace layer {

class Session {
public:
    // Waits for the layer; then makes portId its current port when another
    // port is (0: none is selected, for loading and creating a port).
    explicit Session(int portId);
    // As above, waiting for the layer at most waitMs: a read must not wait
    // past its own time-out for another object's long write or open.
    Session(int portId, std::uint32_t waitMs);
    ~Session();
    // False when the layer was not free in time or the port asked for could
    // not be made current: nothing may then be called, as it would act on
    // another device's port.
    bool Selected() const { return selected; }
    // False only when the layer was not free within waitMs.
    bool Obtained() const { return locked; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    void Select(int portId);

    bool locked;
    bool selected = false;
};

// Counts the caller among the layer's holders, loading the layer for the
// first one (from the bridge's own folder, else through the system's
// library search). False, with nothing counted, when it cannot be loaded.
bool Hold();
// The last holder's release unloads the layer.
void Release();

// Ports the bridge created and has not deleted.
int LivePorts();

// A created port becomes the layer's current port.
int CreateCommunicationPort(int linkType, int logMode, int logLevelMask, const char* logPath,
                            int* portId);
// Deletes a port the bridge created: the last one with DeleteAllLayerItems,
// as a single device's close always did, any other one alone.
void DeletePort(int portId);
int InitSerialPort(const char* portName, int baudRate, int parity, int byteSize, int stopBits,
                   int flowControl);
int InitEthTCP(const char* ipAddress, int tcpPort);
int InitUsbPrinter(const char* printerName);
int Open();
int Close();
int Write(const unsigned char* data, int length);
// The layer's own result code: the bridge tells "nothing arrived yet" from
// a failure by it. -1 when the layer or the export is missing.
int Read(char* buffer, int bufferSize, unsigned* bytesRead);
int SetSerialTimeout(int readInterval, int readConstant, int readMultiplier, int writeConstant,
                     int writeMultiplier);
int SetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs);

}  // namespace layer
}  // namespace bridge

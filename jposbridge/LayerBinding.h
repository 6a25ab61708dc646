// The communication layer, bound at run time by file name. Each call looks
// its export up by name in the loaded library and reports 0 when the export
// returned 0, -1 when it returned anything else or is missing.
#pragma once

namespace bridge {
namespace layer {

// Loads the layer from the bridge's own folder, else through the system's
// library search. True when it is loaded (or already was).
bool Load();
bool IsLoaded();
// Unloads the layer; later calls fail until the next Load.
void Unload();

int CreateCommunicationPort(int linkType, int logMode, int logLevelMask, const char* logPath,
                            int* portId);
int DeleteAllLayerItems();
int InitSerialPort(const char* portName, int baudRate, int parity, int byteSize, int stopBits,
                   int flowControl);
int InitEthTCP(const char* ipAddress, int tcpPort);
int InitUsbPrinter(const char* printerName);
int Open();
int Close();
int Write(const unsigned char* data, int length);
int Read(char* buffer, int bufferSize, unsigned* bytesRead);
int SetSerialTimeout(int readInterval, int readConstant, int readMultiplier, int writeConstant,
                     int writeMultiplier);
int SetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs);

}  // namespace layer
}  // namespace bridge

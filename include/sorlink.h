/*
 * Sorlink: raw byte communication with point-of-sale printers and scanners
 * over RS-232, Ethernet (TCP client or UDP) and USB.
 *
 * Every entry point returns an int result code (0 = success, see docs/api.md).
 * Every entry point acts on the current port, except those that create,
 * delete and select ports. Callers make one call at a time.
 *
 * Each entry point has a twin prefixed "Vb" taking the same arguments. In the
 * 32-bit Windows DLL the twins use the standard calling convention (for
 * Visual Basic 6 Declare statements); elsewhere they are second names of the
 * same functions.
 */
#ifndef SORLINK_H
#define SORLINK_H

#if defined(_WIN32)
#define SORLINK_CALL __cdecl
#define SORLINK_VBCALL __stdcall
#else
#define SORLINK_CALL
#define SORLINK_VBCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Link types */
#define SORLINK_LINK_SERIAL 0
#define SORLINK_LINK_ETHERNET 1
#define SORLINK_LINK_USB 2

/* Log modes and level bits */
#define LOG_MODE_NONE 0
#define LOG_MODE_FILE 1
#define LOG_MODE_DEBUGGER 2
#define LOG_DATA 1
#define LOG_TRACE 2
#define LOG_INFO 4
#define LOG_ERROR 8

/* Port records */
int SORLINK_CALL CreateCommunicationPort(int linkType, int logMode, int logLevelMask,
                                         const char* logPath, int* portId);
int SORLINK_CALL DeleteCommunicationPort(int portId);
int SORLINK_CALL DeleteAllLayerItems(void);
int SORLINK_CALL SetCommunicationPort(int portId);
int SORLINK_CALL GetIDPort(int* portId);
int SORLINK_CALL GetLayerStatus(int* linkType);

/* Generic I/O on the current port */
int SORLINK_CALL Open(void);
int SORLINK_CALL Write(const unsigned char* data, int length);
int SORLINK_CALL WriteF(const char* filePath);
int SORLINK_CALL Read(char* buffer, int bufferSize, unsigned* bytesRead);
int SORLINK_CALL ReadFIFO(unsigned char* buffer, unsigned length, unsigned* bytesRead);
int SORLINK_CALL Clean(int cleanTx, int cleanRx);
int SORLINK_CALL Close(void);
int SORLINK_CALL IsDeviceAvailable(void);
int SORLINK_CALL SetPacketSize(int writePacketSize, int readPacketSize);
int SORLINK_CALL GetPacketSize(int* writePacketSize, int* readPacketSize);
int SORLINK_CALL GetLastErrorComm(int* error);
int SORLINK_CALL ResetLastErrorComm(void);

/* Serial */
int SORLINK_CALL SerialEnumPorts(char* buffer, unsigned bufferSize);
int SORLINK_CALL SerialEnumPrinters(const char* portName, char* buffer, unsigned bufferSize);
int SORLINK_CALL InitSerialPort(const char* portName, int baudRate, int parity, int byteSize,
                                int stopBits, int flowControl);
int SORLINK_CALL InitSerialPrinter(const char* printerName);
int SORLINK_CALL GetSerialPort(char* portName);
int SORLINK_CALL SetSerialTimeout(int readInterval, int readConstant, int readMultiplier,
                                  int writeConstant, int writeMultiplier);
int SORLINK_CALL GetSerialParameters(int* baudRate, int* parity, int* byteSize, int* stopBits,
                                     int* flowControl);
int SORLINK_CALL GetSerialTimeout(int* readInterval, int* readConstant, int* readMultiplier,
                                  int* writeConstant, int* writeMultiplier);
int SORLINK_CALL AdvSetSerialDTR(int state);
int SORLINK_CALL AdvSetSerialRTS(int state);

/* Ethernet */
int SORLINK_CALL InitEthUDP(const char* ipAddress, int remotePort, int localPort);
int SORLINK_CALL InitEthTCP(const char* ipAddress, int tcpPort);
int SORLINK_CALL InitEthTCPPrinter(const char* printerName);
int SORLINK_CALL EthEnumPrinters(char* buffer, unsigned bufferSize);
int SORLINK_CALL GetEthIpAndPort(char* ipAddress, int* tcpPort);
int SORLINK_CALL SetEthConnTimeout(int connectTimeoutMs);
int SORLINK_CALL GetEthConnTimeout(int* connectTimeoutMs);
int SORLINK_CALL SetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SORLINK_CALL GetEthTimeout(int* sendTimeoutMs, int* receiveTimeoutMs);
int SORLINK_CALL AdvGetEthIpReceived(char* buffer, int bufferSize);

/* USB */
int SORLINK_CALL InitUsbInterface(int interfaceType);
int SORLINK_CALL InitUsbPrinter(const char* printerName);
int SORLINK_CALL GetUsbVidPid(char* vendorId, char* productId);
int SORLINK_CALL InitUsbVidPidSerial(const char* vendorId, const char* productId,
                                     const char* serialNumber);
int SORLINK_CALL SetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SORLINK_CALL GetUsbTimeout(int* sendTimeoutMs, int* receiveTimeoutMs);
int SORLINK_CALL UsbEnumDevices(char* buffer, unsigned bufferSize);
int SORLINK_CALL UsbEnumPrinters(char* buffer, unsigned bufferSize);

/* Visual Basic twins */
int SORLINK_VBCALL VbCreateCommunicationPort(int linkType, int logMode, int logLevelMask,
                                             const char* logPath, int* portId);
int SORLINK_VBCALL VbDeleteCommunicationPort(int portId);
int SORLINK_VBCALL VbDeleteAllLayerItems(void);
int SORLINK_VBCALL VbSetCommunicationPort(int portId);
int SORLINK_VBCALL VbGetIDPort(int* portId);
int SORLINK_VBCALL VbGetLayerStatus(int* linkType);
int SORLINK_VBCALL VbOpen(void);
int SORLINK_VBCALL VbWrite(const unsigned char* data, int length);
int SORLINK_VBCALL VbWriteF(const char* filePath);
int SORLINK_VBCALL VbRead(char* buffer, int bufferSize, unsigned* bytesRead);
int SORLINK_VBCALL VbReadFIFO(unsigned char* buffer, unsigned length, unsigned* bytesRead);
int SORLINK_VBCALL VbClean(int cleanTx, int cleanRx);
int SORLINK_VBCALL VbClose(void);
int SORLINK_VBCALL VbIsDeviceAvailable(void);
int SORLINK_VBCALL VbSetPacketSize(int writePacketSize, int readPacketSize);
int SORLINK_VBCALL VbGetPacketSize(int* writePacketSize, int* readPacketSize);
int SORLINK_VBCALL VbGetLastErrorComm(int* error);
int SORLINK_VBCALL VbResetLastErrorComm(void);
int SORLINK_VBCALL VbSerialEnumPorts(char* buffer, unsigned bufferSize);
int SORLINK_VBCALL VbSerialEnumPrinters(const char* portName, char* buffer, unsigned bufferSize);
int SORLINK_VBCALL VbInitSerialPort(const char* portName, int baudRate, int parity, int byteSize,
                                    int stopBits, int flowControl);
int SORLINK_VBCALL VbInitSerialPrinter(const char* printerName);
int SORLINK_VBCALL VbGetSerialPort(char* portName);
int SORLINK_VBCALL VbSetSerialTimeout(int readInterval, int readConstant, int readMultiplier,
                                      int writeConstant, int writeMultiplier);
int SORLINK_VBCALL VbGetSerialParameters(int* baudRate, int* parity, int* byteSize, int* stopBits,
                                         int* flowControl);
int SORLINK_VBCALL VbGetSerialTimeout(int* readInterval, int* readConstant, int* readMultiplier,
                                      int* writeConstant, int* writeMultiplier);
int SORLINK_VBCALL VbAdvSetSerialDTR(int state);
int SORLINK_VBCALL VbAdvSetSerialRTS(int state);
int SORLINK_VBCALL VbInitEthUDP(const char* ipAddress, int remotePort, int localPort);
int SORLINK_VBCALL VbInitEthTCP(const char* ipAddress, int tcpPort);
int SORLINK_VBCALL VbInitEthTCPPrinter(const char* printerName);
int SORLINK_VBCALL VbEthEnumPrinters(char* buffer, unsigned bufferSize);
int SORLINK_VBCALL VbGetEthIpAndPort(char* ipAddress, int* tcpPort);
int SORLINK_VBCALL VbSetEthConnTimeout(int connectTimeoutMs);
int SORLINK_VBCALL VbGetEthConnTimeout(int* connectTimeoutMs);
int SORLINK_VBCALL VbSetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SORLINK_VBCALL VbGetEthTimeout(int* sendTimeoutMs, int* receiveTimeoutMs);
int SORLINK_VBCALL VbAdvGetEthIpReceived(char* buffer, int bufferSize);
int SORLINK_VBCALL VbInitUsbInterface(int interfaceType);
int SORLINK_VBCALL VbInitUsbPrinter(const char* printerName);
int SORLINK_VBCALL VbGetUsbVidPid(char* vendorId, char* productId);
int SORLINK_VBCALL VbInitUsbVidPidSerial(const char* vendorId, const char* productId,
                                         const char* serialNumber);
int SORLINK_VBCALL VbSetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs);
int SORLINK_VBCALL VbGetUsbTimeout(int* sendTimeoutMs, int* receiveTimeoutMs);
int SORLINK_VBCALL VbUsbEnumDevices(char* buffer, unsigned bufferSize);
int SORLINK_VBCALL VbUsbEnumPrinters(char* buffer, unsigned bufferSize);

#ifdef __cplusplus
}
#endif

#endif /* SORLINK_H */

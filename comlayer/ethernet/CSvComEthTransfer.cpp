// Data transfer of the Ethernet transport: packetised writes with the
// reconnection after an aborted TCP connection, single bounded reads, files,
// packet sizes, the recorded error and the sender of the last datagram.
#include <cstring>
#include <new>

#include "comlayer/ethernet/CSvComEth.h"
#include "comlayer/log/CSvLogFile.h"
#include "comlayer/transfer/FileToSend.h"
#include "comlayer/transfer/PacketBuffer.h"
#include "comlayer/transfer/Packets.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace {
const char kNotOpened[] =
    "Impossible to perform the operation: socket and connections are not opened\n";
const char kOptionFailed[] = "Error socket: setsockoption() failed\n";
const char kNothingSent[] = "Write failed: no bytes send during writing operation \n";
const char kSendFailed[] = "Write failed: error system occurred during Write()\n";
const char kNothingRead[] = "Read failed: no bytes read during reading operation \n";
const char kReadFailed[] = "Read failed: error system occurred during Read()\n";
const char kNotReestablished[] = "Socket connection aborted. impossibile to restablish connection";
const char kIncomplete[] = "Warning: write not completed,not all bytes were written\n";
const char kReadSizes[] =
    "Receive buffer size: %d, packet size setted:%d, packet used for read:%d \n";

// SendPiece's result when the connection was aborted: the TCP writer
// reconnects and sends the piece again.
constexpr int kConnectionAborted = -1;

// A TCP read waits only this long for data: the printer answers what it has.
constexpr std::uint32_t kTcpReadTimeoutMs = 5;

std::uint32_t Smaller(std::uint32_t a, std::uint32_t b) {
    return a < b ? a : b;
}
}  // namespace

int CSvComEth::SetTimeoutOption(const char* prefix, plat::Socket socket, int option,
                                std::uint32_t milliseconds) {
    int value = static_cast<int>(milliseconds);
    if (plat::setsockopt(socket, plat::kSolSocket, option, &value,
                         static_cast<int>(sizeof value)) == plat::kSocketError) {
        return SystemError(prefix, kOptionFailed, 208);
    }
    return 0;
}

void CSvComEth::LogSplit(const char* prefix, std::uint32_t length) {
    logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                    static_cast<int>(length), static_cast<int>(Smaller(length, writePacketSize)));
    logFile->Writef(prefix, LOG_INFO, "%d bytes to write:\n", static_cast<int>(length));
}

// A write of zero bytes sends nothing and succeeds: there is no piece to cut.
int CSvComEth::WriteEth(const unsigned char* bytes, int length) {
    const char* prefix = "CSvComEth::WriteEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 0) return Error(prefix, kNotOpened, 206);
    reconnectionsLeft = kReconnectionsPerCall;
    if (length < 0) return Error(prefix, "Write failed: negative number of bytes\n", 5);
    if (bytes != nullptr && length > 0) {
        plat::Socket socket = mode == kModeUdp ? udpSendSocket : tcpSocket;
        int result = SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, sendTimeout);
        if (result == 0) result = WriteByMode(bytes, static_cast<std::uint32_t>(length));
        if (result != 0) return result;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// WriteTCP or WriteUDP by mode: the same pieces, log lines and dumps; only
// TCP ever reports an aborted connection, which is made again and the
// piece sent again whole (the new connection is a new stream).
int CSvComEth::WriteByMode(const unsigned char* bytes, std::uint32_t length) {
    const char* prefix = mode == kModeUdp ? "CSvComEth::WriteUDP - " : "CSvComEth::WriteTCP - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    LogSplit(prefix, length);
    std::uint32_t total = 0;
    int result =
        SendInPieces(length, writePacketSize, [&](std::uint32_t offset, std::uint32_t size) {
            for (;;) {
                std::uint32_t taken = 0;
                int sent = SendPiece(prefix, bytes, offset, size, &taken);
                if (sent != kConnectionAborted) {
                    total += taken;
                    return sent;
                }
                if (!ReconnectAfterAbort(prefix)) return Error(prefix, kNotReestablished, 216);
                int option = SetTimeoutOption(prefix, tcpSocket, plat::kSoSndTimeo, sendTimeout);
                if (option != 0) return option;
            }
        });
    if (total != length) logFile->Write(prefix, kIncomplete, LOG_INFO);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// Sends bytes[offset, offset + size) with as many calls as it takes: what
// one call did not take is offered again, so bytes are never skipped.
int CSvComEth::SendPiece(const char* prefix, const unsigned char* bytes, std::uint32_t offset,
                         std::uint32_t size, std::uint32_t* taken) {
    *taken = 0;
    while (*taken < size) {
        const unsigned char* rest = bytes + offset + *taken;
        int restSize = static_cast<int>(size - *taken);
        int sent = mode == kModeUdp
                       ? plat::sendto(udpSendSocket, rest, restSize, 0, &udpRemoteAddress)
                       : plat::send(tcpSocket, rest, restSize, 0);
        if (sent == 0) return Error(prefix, kNothingSent, 211);
        if (sent < 0) {
            int socketError = plat::WSAGetLastError();
            RecordSystemError();
            if (mode == kModeTcp && socketError == plat::kWsaEconnaborted) {
                return kConnectionAborted;
            }
            return Error(prefix, kSendFailed, 212);
        }
        logFile->DumpBytes(prefix, "SendBuffer", rest, static_cast<std::uint32_t>(sent),
                           offset + *taken);
        *taken += static_cast<std::uint32_t>(sent);
    }
    return 0;
}

// A read of zero bytes asks nothing of the socket: a receive call of 0 bytes
// would return 0 and look like a printer that closed the connection.
int CSvComEth::ReadEth(char* buffer, int size, unsigned* bytesRead) {
    const char* prefix = "CSvComEth::ReadEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 0) return Error(prefix, kNotOpened, 206);
    reconnectionsLeft = kReconnectionsPerCall;
    if (size < 0 || bytesRead == nullptr) {
        return Error(prefix, "Read failed: invalid buffer size\n", 5);
    }
    if (buffer != nullptr) *bytesRead = 0;
    if (buffer != nullptr && size > 0) {
        int result = 0;
        if (mode == kModeUdp) {
            result = SetTimeoutOption(prefix, udpReceiveSocket, plat::kSoRcvTimeo, receiveTimeout);
            if (result == 0) result = ReadUDP(buffer, static_cast<std::uint32_t>(size), bytesRead);
        } else {
            int on = 1;
            plat::setsockopt(tcpSocket, plat::kIpprotoTcp, plat::kTcpNodelay, &on,
                             static_cast<int>(sizeof on));
            result = SetTimeoutOption(prefix, tcpSocket, plat::kSoRcvTimeo, kTcpReadTimeoutMs);
            if (result == 0) result = ReadTCP(buffer, static_cast<std::uint32_t>(size), bytesRead);
        }
        if (result != 0) return result;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::ReadTCP(char* buffer, std::uint32_t size, unsigned* bytesRead) {
    const char* prefix = "CSvComEth::ReadTCP - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *bytesRead = 0;
    for (;;) {
        std::uint32_t asked = Smaller(size, readPacketSize);
        logFile->Writef("CSvComEth::ReadTCP - 1 ", LOG_INFO, kReadSizes, static_cast<int>(size),
                        static_cast<int>(readPacketSize), static_cast<int>(asked));
        int received = plat::recv(tcpSocket, buffer, static_cast<int>(asked), 0);
        logFile->Writef("CSvComEth::ReadTCP - 2 ", LOG_INFO, kReadSizes, static_cast<int>(size),
                        static_cast<int>(readPacketSize), static_cast<int>(asked));
        if (received == 0) return Error(prefix, kNothingRead, 213);
        if (received > 0) {
            *bytesRead = static_cast<unsigned>(received);
            logFile->Writef(prefix, LOG_INFO, "%d bytes read:\n", received);
            logFile->DumpBytes(prefix, "ReceiveBuffer", reinterpret_cast<unsigned char*>(buffer),
                               *bytesRead, 0);
            logFile->Write(prefix, "END\n", LOG_TRACE);
            return 0;
        }
        int socketError = plat::WSAGetLastError();
        RecordSystemError();
        if (socketError != plat::kWsaEconnaborted) return Error(prefix, kReadFailed, 214);
        if (!ReconnectAfterAbort(prefix)) return Error(prefix, kNotReestablished, 216);
        int option = SetTimeoutOption(prefix, tcpSocket, plat::kSoRcvTimeo, receiveTimeout);
        if (option != 0) return option;
    }
}

int CSvComEth::ReadUDP(char* buffer, std::uint32_t size, unsigned* bytesRead) {
    const char* prefix = "CSvComEth::ReadUDP - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *bytesRead = 0;
    std::uint32_t asked = Smaller(size, readPacketSize);
    logFile->Writef(prefix, LOG_INFO, kReadSizes, static_cast<int>(size),
                    static_cast<int>(readPacketSize), static_cast<int>(asked));
    int fromLength = static_cast<int>(sizeof udpLocalAddress);
    int received = plat::recvfrom(udpReceiveSocket, buffer, static_cast<int>(asked), 0,
                                  &udpLocalAddress, &fromLength);
    if (received <= 0) {
        std::memset(receivedIp, 0, sizeof receivedIp);
        if (received == 0) return Error(prefix, kNothingRead, 213);
        return SystemError(prefix, kReadFailed, 214);
    }
    *bytesRead = static_cast<unsigned>(received);
    logFile->Writef(prefix, LOG_INFO, "%d bytes read:\n", received);
    logFile->DumpBytes(prefix, "ReceiveBuffer", reinterpret_cast<unsigned char*>(buffer),
                       *bytesRead, 0);
    // sin_addr is in network order: its first byte is the most significant.
    unsigned char sender[4];
    std::memcpy(sender, &udpLocalAddress.sin_addr, sizeof sender);
    char text[kAddressSize];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", sender[0], sender[1], sender[2], sender[3]);
    std::memset(receivedIp, 0, sizeof receivedIp);
    std::memcpy(receivedIp, text, std::strlen(text));
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetIpReceived(char* out, int size) {
    const char* prefix = "CSvComEth::GetIpReceived - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (mode != kModeUdp) return Error(prefix, "No UDP mode is setted, function disabled\n", 222);
    if (out == nullptr || size < 16) {
        return Error(prefix, "Buffer size parameter can not contain the result\n", 3);
    }
    logFile->Writef(prefix, LOG_INFO, "Message received from IP: %s \n",
                    receivedIp[0] != '\0' ? receivedIp : "No IP");
    std::strcpy(out, receivedIp);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// An empty file sends nothing and succeeds, like a write of zero bytes. A
// file of 2 GiB or more is refused as unreadable: lengths are 32-bit signed.
int CSvComEth::WriteFileEth(const char* path) {
    const char* prefix = "CSvComEth::WriteFileEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 0) return Error(prefix, kNotOpened, 206);
    reconnectionsLeft = kReconnectionsPerCall;
    if (path == nullptr) return Error(prefix, "Impossibile to open file (null)\n", 10);
    logFile->Writef(prefix, LOG_INFO, "Path of file: %s \n", path);
    FileToSend file;
    if (!file.Open(path, &lastSystemError)) {
        logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
        return 10;
    }
    std::uint32_t fileLength = file.Length();

    int result = 0;
    if (fileLength > 0) {
        plat::Socket socket = mode == kModeUdp ? udpSendSocket : tcpSocket;
        result = SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, sendTimeout);
    }
    if (result == 0 && fileLength > 0) {
        PacketPlan plan = PlanPackets(fileLength, writePacketSize);
        logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                        static_cast<int>(fileLength), static_cast<int>(plan.pieceSize));
        std::uint32_t fullPart = plan.fullPieces * plan.pieceSize;
        result = SendInPieces(
            fileLength, writePacketSize, [&](std::uint32_t offset, std::uint32_t size) {
                std::memset(transferBuffer.get(), 0, writePacketSize + 100);
                std::uint32_t got = file.Read(transferBuffer.get(), size);
                if (offset < fullPart)
                    logFile->Write(prefix, "Send a packet byte of the file\n", LOG_INFO);
                int sent = got > 0 ? WriteByMode(transferBuffer.get(), got) : 0;
                // A file that shrank while being sent cannot be sent whole.
                if (sent == 0 && got != size) {
                    logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
                    return 10;
                }
                return sent;
            });
    }
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// Sizes are bounded so that the transfer buffer (size + 100 bytes) can be
// allocated; a refused size leaves both sizes and the buffer as they were.
int CSvComEth::SetPacketEth(int writeSize, int readSize) {
    const char* prefix = "CSvComEth::SetPacketEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    int result = ApplyPacketSizes(logFile, prefix, writeSize, readSize, &writePacketSize,
                                  &readPacketSize, &transferBuffer);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetPacketEth(int* writeSize, int* readSize) {
    const char* prefix = "CSvComEth::GetPacketEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (writeSize != nullptr) *writeSize = static_cast<int>(writePacketSize);
    if (readSize != nullptr) *readSize = static_cast<int>(readPacketSize);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetEthError(int* error) {
    const char* prefix = "CSvComEth::GetEthError - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (error != nullptr) *error = lastSystemError;
    logFile->Writef(prefix, LOG_INFO, "Last system error: %d\n", lastSystemError);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::ResetEthError() {
    const char* prefix = "CSvComEth::ResetEthError - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    lastSystemError = 0;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// Data transfer of the Ethernet transport: packetised writes with the
// reconnection after an aborted TCP connection, single bounded reads, files,
// packet sizes, the recorded error and the sender of the last datagram.
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

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

const char kNotAcknowledged[] =
    "Write failed: the printer did not acknowledge every byte within the send time-out\n";
const char kUnknownProgress[] =
    "Write failed: the connection ended and how far the printer got is not known\n";

// SendPiece's and WaitAcknowledged's result when the printer aborted or
// reset the connection: the TCP writer reconnects and goes on.
constexpr int kConnectionAborted = -1;
// SendTcp's result when the new connection must go on from a byte before
// the chunk it was given: a file is read again from there.
constexpr int kResumeEarlier = -2;

using Clock = std::chrono::steady_clock;

bool IsAbort(int socketError) {
    return socketError == plat::kWsaEconnaborted || socketError == plat::kWsaEconnreset;
}

std::uint32_t MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<std::uint32_t>(left.count());
}

// A TCP read waits only this long for data: the printer answers what it has.
constexpr std::uint32_t kTcpReadTimeoutMs = 5;

std::uint32_t Smaller(std::uint32_t a, std::uint32_t b) {
    return a < b ? a : b;
}

std::uint64_t Smaller64(std::uint64_t a, std::uint64_t b) {
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
        plat::Socket socket = mode == kModeUdp ? udpReceiveSocket : tcpSocket;
        int result = SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, sendTimeout);
        if (result == 0) result = WriteByMode(bytes, static_cast<std::uint32_t>(length));
        if (result != 0) return result;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// WriteTCP or WriteUDP by mode, with the same pieces, log lines and dumps.
int CSvComEth::WriteByMode(const unsigned char* bytes, std::uint32_t length) {
    if (mode == kModeUdp) return WriteUDP(bytes, length);
    const char* prefix = "CSvComEth::WriteTCP - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    LogSplit(prefix, length);
    TcpJob job{};
    int result = BeginTcpJob(prefix, &job);
    if (result == 0) result = SendTcp(prefix, &job, bytes, 0, length, true, false);
    if (job.position != length) logFile->Write(prefix, kIncomplete, LOG_INFO);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::WriteUDP(const unsigned char* bytes, std::uint32_t length) {
    const char* prefix = "CSvComEth::WriteUDP - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    LogSplit(prefix, length);
    std::uint32_t total = 0;
    int result =
        SendInPieces(length, writePacketSize, [&](std::uint32_t offset, std::uint32_t size) {
            std::uint32_t taken = 0;
            int sent = SendPiece(prefix, bytes, offset, size, &taken);
            total += taken;
            return sent;
        });
    if (total != length) logFile->Write(prefix, kIncomplete, LOG_INFO);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// A job starts on a live connection: one the printer closed while idle (or
// that a read found closed) is made again before the first byte, so the job
// goes out whole on the new one.
int CSvComEth::BeginTcpJob(const char* prefix, TcpJob* job) {
    if (peerEnded || plat::selectPeerClosed(tcpSocket) == 1) {
        logFile->Write(prefix, "The printer has closed the connection: connect again\n", LOG_INFO);
        if (!ReconnectAfterAbort(prefix)) return Error(prefix, kNotReestablished, 216);
        int option = SetTimeoutOption(prefix, tcpSocket, plat::kSoSndTimeo, sendTimeout);
        if (option != 0) return option;
    }
    *job = TcpJob{0, 0, handedOnConnection};
    return 0;
}

// Sends bytes[0, size), the job's bytes from chunkOffset on, in pieces of
// at most writePacketSize; with `finish` it then waits until the printer
// has acknowledged them all. An aborted or reset connection is made again
// and the job goes on from the first byte that was not acknowledged; where
// that is not known the job fails instead of leaving a gap. Where it lies
// in an earlier chunk, the job fails too unless `earlier` allows it, and
// then kResumeEarlier tells the caller to give the chunk from job->position.
int CSvComEth::SendTcp(const char* prefix, TcpJob* job, const unsigned char* bytes,
                       std::uint64_t chunkOffset, std::uint32_t size, bool finish, bool earlier) {
    for (;;) {
        int result = 0;
        while (result == 0 && job->position < chunkOffset + size) {
            std::uint32_t from = static_cast<std::uint32_t>(job->position - chunkOffset);
            std::uint32_t taken = 0;
            result = SendPiece(prefix, bytes, from, Smaller(size - from, writePacketSize), &taken);
            handedOnConnection += taken;
            job->position += taken;
        }
        if (result == 0 && finish) result = WaitAcknowledged(prefix, sendTimeout, false);
        if (result != kConnectionAborted) return result;
        std::uint64_t resume = 0;
        if (!FirstUnacknowledged(*job, &resume) || (resume < chunkOffset && !earlier)) {
            return Error(prefix, kUnknownProgress, 212);
        }
        if (!ReconnectAfterAbort(prefix)) return Error(prefix, kNotReestablished, 216);
        int option = SetTimeoutOption(prefix, tcpSocket, plat::kSoSndTimeo, sendTimeout);
        if (option != 0) return option;
        logFile->Writef(prefix, LOG_INFO, "Sending again from byte %llu\n",
                        static_cast<unsigned long long>(resume));
        *job = TcpJob{resume, resume, 0};
        if (resume < chunkOffset) return kResumeEarlier;
    }
}

// The job byte the printer's TCP acknowledged last, plus one, when that is
// where the printer stopped: only when nothing was on its way. A byte sent
// and not acknowledged may have reached the printer (its acknowledgement
// lost with the connection) or not; sending it again could print it twice,
// not sending it could leave a gap. Bytes of earlier jobs on the connection
// come first in the stream and are acknowledged first.
bool CSvComEth::FirstUnacknowledged(const TcpJob& job, std::uint64_t* resume) {
    plat::SendProgress progress{};
    if (plat::getSendProgress(tcpSocket, handedOnConnection, &progress) != 0) {
        // Not known, unless the connection never had a byte of this job.
        *resume = job.startOnConnection;
        return handedOnConnection == job.handedBefore;
    }
    if (progress.unacknowledged > progress.unsent) return false;
    std::uint64_t unacknowledged = Smaller64(progress.unacknowledged, handedOnConnection);
    std::uint64_t acknowledged = handedOnConnection - unacknowledged;
    std::uint64_t ofJob = acknowledged > job.handedBefore ? acknowledged - job.handedBefore : 0;
    *resume = job.startOnConnection + Smaller64(ofJob, job.position - job.startOnConnection);
    return true;
}

// Waits (at most `milliseconds`) until the printer's TCP has acknowledged
// every byte given to the connection. Where the system cannot tell, the
// completed sends are all there is to go by. Polled with growing pauses:
// no system call waits for an acknowledgement.
int CSvComEth::WaitAcknowledged(const char* prefix, std::uint32_t milliseconds, bool quiet) {
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    auto pause = std::chrono::microseconds(20);
    for (;;) {
        plat::SendProgress progress{};
        if (plat::getSendProgress(tcpSocket, handedOnConnection, &progress) != 0) {
            if (plat::WSAGetLastError() == plat::kWsaEopnotsupp) return 0;
            RecordSystemError();
            return quiet ? 0 : Error(prefix, kSendFailed, 212);
        }
        if (progress.unacknowledged == 0) return 0;
        if (progress.ended) {
            int pending = 0;
            int length = static_cast<int>(sizeof pending);
            plat::getsockopt(tcpSocket, plat::kSolSocket, plat::kSoError, &pending, &length);
            if (pending == 0) pending = plat::kWsaEconnreset;
            plat::SetLastError(static_cast<std::uint32_t>(pending));
            RecordSystemError();
            if (quiet) return 0;
            return IsAbort(pending) ? kConnectionAborted : Error(prefix, kSendFailed, 212);
        }
        if (Clock::now() >= deadline) {
            plat::SetLastError(static_cast<std::uint32_t>(plat::kWsaEtimedout));
            RecordSystemError();
            return quiet ? 0 : Error(prefix, kNotAcknowledged, 212);
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(2)) pause *= 2;
    }
}

// Sends bytes[offset, offset + size) with as many calls as it takes: what
// one call did not take is offered again, so bytes are never skipped. All
// the calls of a piece share one send time-out.
int CSvComEth::SendPiece(const char* prefix, const unsigned char* bytes, std::uint32_t offset,
                         std::uint32_t size, std::uint32_t* taken) {
    plat::Socket socket = mode == kModeUdp ? udpReceiveSocket : tcpSocket;
    auto deadline = Clock::now() + std::chrono::milliseconds(sendTimeout);
    bool shortened = false;
    auto finish = [&](int result) {
        if (shortened) SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, sendTimeout);
        return result;
    };
    *taken = 0;
    while (*taken < size) {
        if (*taken > 0) {
            std::uint32_t left = MillisecondsUntil(deadline);
            if (left == 0) {
                plat::SetLastError(static_cast<std::uint32_t>(plat::kWsaEtimedout));
                return finish(SystemError(prefix, kSendFailed, 212));
            }
            int option = SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, left);
            if (option != 0) return finish(option);
            shortened = true;
        }
        const unsigned char* rest = bytes + offset + *taken;
        int restSize = static_cast<int>(size - *taken);
        int sent = mode == kModeUdp ? plat::sendto(socket, rest, restSize, 0, &udpRemoteAddress)
                                    : plat::send(socket, rest, restSize, 0);
        if (sent == 0) return finish(Error(prefix, kNothingSent, 211));
        if (sent < 0) {
            int socketError = plat::WSAGetLastError();
            RecordSystemError();
            if (mode == kModeTcp && IsAbort(socketError)) return finish(kConnectionAborted);
            return finish(Error(prefix, kSendFailed, 212));
        }
        logFile->DumpBytes(prefix, "SendBuffer", rest, static_cast<std::uint32_t>(sent),
                           offset + *taken);
        *taken += static_cast<std::uint32_t>(sent);
    }
    return finish(0);
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
        if (received == 0) {
            peerEnded = true;
            return Error(prefix, kNothingRead, 213);
        }
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
    // A datagram is read in one call or lost: it is asked for whole, as far
    // as the caller's buffer goes, whatever the read packet size.
    std::uint32_t asked = size;
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
        plat::Socket socket = mode == kModeUdp ? udpReceiveSocket : tcpSocket;
        result = SetTimeoutOption(prefix, socket, plat::kSoSndTimeo, sendTimeout);
    }
    // Over TCP the whole file is one job: it starts on a live connection,
    // the acknowledgement is awaited once, after its last byte, and after an
    // abort the file is read again from the first byte not acknowledged.
    TcpJob job{};
    const char* tcpPrefix = "CSvComEth::WriteTCP - ";
    if (result == 0 && fileLength > 0 && mode == kModeTcp) result = BeginTcpJob(tcpPrefix, &job);
    if (result == 0 && fileLength > 0) {
        PacketPlan plan = PlanPackets(fileLength, writePacketSize);
        logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                        static_cast<int>(fileLength), static_cast<int>(plan.pieceSize));
        std::uint32_t fullPart = plan.fullPieces * plan.pieceSize;
        auto sendChunk = [&](std::uint32_t offset, std::uint32_t size) {
            std::memset(transferBuffer.get(), 0, writePacketSize + 100);
            std::uint32_t got = file.Read(transferBuffer.get(), size);
            if (offset < fullPart)
                logFile->Write(prefix, "Send a packet byte of the file\n", LOG_INFO);
            int sent = 0;
            if (got > 0 && mode == kModeUdp) {
                sent = WriteUDP(transferBuffer.get(), got);
            } else if (got > 0) {
                logFile->Write(tcpPrefix, "START\n", LOG_TRACE);
                LogSplit(tcpPrefix, got);
                sent = SendTcp(tcpPrefix, &job, transferBuffer.get(), offset, got,
                               offset + size == fileLength, true);
                if (sent == 0) logFile->Write(tcpPrefix, "END\n", LOG_TRACE);
            }
            // A file that shrank while being sent cannot be sent whole.
            if (sent == 0 && got != size) {
                logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
                return 10;
            }
            return sent;
        };
        if (mode == kModeUdp) {
            result = SendInPieces(fileLength, writePacketSize, sendChunk);
        } else {
            // Chunks as in SendInPieces; a resumption starts a chunk where
            // the printer stopped. Each one used a reconnection, so the
            // loop ends within kReconnectionsPerCall of them.
            std::uint32_t offset = 0;
            while (result == 0 && offset < fileLength) {
                std::uint32_t size = Smaller(plan.pieceSize, fileLength - offset);
                result = sendChunk(offset, size);
                if (result == kResumeEarlier) {
                    offset = static_cast<std::uint32_t>(job.position);
                    result = file.Seek(offset) ? 0 : Error(tcpPrefix, kUnknownProgress, 212);
                } else {
                    offset += size;
                }
            }
        }
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

// Moving bytes on an open serial port: packetised writes of a buffer or a
// file, one bounded read, purges, packet sizes and the last platform error.
#include <cstring>
#include <new>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/serial/CSvComSerial.h"
#include "comlayer/serial/SerialShared.h"
#include "comlayer/transfer/FileToSend.h"
#include "comlayer/transfer/PacketBuffer.h"
#include "comlayer/transfer/Packets.h"
#include "platform/device.h"
#include "platform/system.h"

using serial_shared::kNotOpen;

namespace {

const char kWriteFailed[] = "Write failed: error system occurred during Write()\n";
const char kNothingWritten[] = "Write failed: no bytes send during writing operation \n";

constexpr std::uint32_t kPurgeAll =
    plat::kPurgeTxAbort | plat::kPurgeRxAbort | plat::kPurgeTxClear | plat::kPurgeRxClear;

}  // namespace

// Sends one packet. A device that takes only part of it is given the rest
// again for as long as each call makes progress: a short write is never
// reported as a success, and a call that takes nothing ends the write (112).
int CSvComSerial::WritePacket(const char* prefix, const unsigned char* bytes, std::uint32_t length,
                              std::uint32_t firstIndex, std::uint32_t* total) {
    std::uint32_t done = 0;
    while (done < length) {
        std::uint32_t written = 0;
        if (!plat::WriteFile(portHandle, bytes + done, length - done, &written, nullptr)) {
            RecordError();
            logFile->Write(prefix, kWriteFailed, LOG_ERROR);
            return 111;
        }
        if (written == 0) {
            logFile->Write(prefix, kNothingWritten, LOG_ERROR);
            return 112;
        }
        if (written > length - done) written = length - done;
        logFile->DumpBytes(prefix, "SendBuffer", bytes + done, written, firstIndex + done);
        done += written;
        *total += written;
    }
    return 0;
}

void CSvComSerial::PurgeAfterShortWrite(const char* prefix) {
    plat::PurgeComm(portHandle, kPurgeAll);
    logFile->Write(prefix, "Purge communication ports\n", LOG_INFO);
}

int CSvComSerial::WriteSerial(const unsigned char* bytes, std::uint32_t count) {
    const char* prefix = "CSvComSerial::WriteSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    // Nothing to send (no buffer, or no bytes) is a write that sent all it
    // was given: success without a platform call.
    if (bytes == nullptr || count == 0) {
        logFile->Write(prefix, "END\n", LOG_TRACE);
        return 0;
    }
    PacketPlan plan = PlanPackets(count, writePacketSize);
    logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                    static_cast<int>(count), static_cast<int>(plan.pieceSize));
    logFile->Writef(prefix, LOG_INFO, "%d bytes to write:\n", static_cast<int>(count));
    std::uint32_t total = 0;
    int result = SendInPieces(count, writePacketSize, [&](std::uint32_t offset, std::uint32_t n) {
        return WritePacket(prefix, bytes + offset, n, offset, &total);
    });
    if (total != count) PurgeAfterShortWrite(prefix);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::WriteFileSerial(const char* path) {
    const char* prefix = "CSvComSerial::WriteFileSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    logFile->Writef(prefix, LOG_INFO, "Path of file: %s \n", path);
    FileToSend file;
    if (!file.Open(path, &lastSystemError)) {
        logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
        return 10;
    }
    std::uint32_t count = file.Length();
    std::uint32_t piece = count < writePacketSize ? count : writePacketSize;
    logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                    static_cast<int>(count), static_cast<int>(piece));
    int result = 0;
    if (count > 0) {
        std::uint32_t total = 0;
        result = SendInPieces(count, writePacketSize, [&](std::uint32_t offset, std::uint32_t n) {
            std::memset(transferBuffer.get(), 0, writePacketSize + 100);
            std::uint32_t got = file.Read(transferBuffer.get(), n);
            int sent = WritePacket(prefix, transferBuffer.get(), got, offset, &total);
            // A file that shrank while being sent cannot be sent whole.
            if (sent == 0 && got != n) {
                logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
                return 10;
            }
            return sent;
        });
        if (total != count) PurgeAfterShortWrite(prefix);
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return result;
}

int CSvComSerial::ReadSerial(char* buffer, std::uint32_t size, unsigned* bytesRead) {
    const char* prefix = "CSvComSerial::ReadSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    if (buffer == nullptr || bytesRead == nullptr) {
        logFile->Write(prefix, "END\n", LOG_TRACE);
        return 0;
    }
    std::uint32_t asked = size < readPacketSize ? size : readPacketSize;
    logFile->Writef(prefix, LOG_INFO,
                    "Receive buffer size: %d, packet size setted:%d, packet used for read:%d \n",
                    static_cast<int>(size), static_cast<int>(readPacketSize),
                    static_cast<int>(asked));
    std::uint32_t received = 0;
    int result = 0;
    if (!plat::ReadFile(portHandle, buffer, asked, &received, nullptr)) {
        RecordError();
        received = 0;
        logFile->Write(prefix, "Read failed: error system occurred during Read()\n", LOG_ERROR);
        result = 113;
    } else if (received == 0) {
        logFile->Write(prefix, "Read failed: no bytes read during reading operation \n", LOG_ERROR);
        result = 114;
    } else {
        if (received > asked) received = asked;
        logFile->Writef(prefix, LOG_DATA, "%d bytes read:\n", static_cast<int>(received));
        logFile->DumpBytes(prefix, "ReceiveBuffer", reinterpret_cast<unsigned char*>(buffer),
                           received, 0);
    }
    *bytesRead = received;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return result;
}

int CSvComSerial::CleanSerial(int clearOutput, int clearInput) {
    const char* prefix = "CSvComSerial::CleanSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    std::uint32_t flags = 0;
    if (clearOutput != 0 && clearInput != 0) {
        flags = kPurgeAll;
    } else if (clearInput != 0) {
        flags = plat::kPurgeRxClear;
    } else if (clearOutput != 0) {
        flags = plat::kPurgeTxClear;
    }
    if (flags != 0 && !plat::PurgeComm(portHandle, flags)) {
        RecordError();
        logFile->Write(prefix, "Purge error: clean has failed\n", LOG_ERROR);
        return 117;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::SetPacketSerial(int writeSize, int readSize) {
    const char* prefix = "CSvComSerial::SetPacketSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    int result = ApplyPacketSizes(logFile, prefix, writeSize, readSize, &writePacketSize,
                                  &readPacketSize, &transferBuffer);
    if (result != 0) return result;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::GetPacketSerial(int* writeSize, int* readSize) {
    const char* prefix = "CSvComSerial::GetPacketSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *writeSize = static_cast<int>(writePacketSize);
    *readSize = static_cast<int>(readPacketSize);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::GetSerialError(int* error) {
    const char* prefix = "CSvComSerial::GetSerialError - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *error = lastSystemError;
    logFile->Writef(prefix, LOG_INFO, "Last system error: %d\n", lastSystemError);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::ResetSerialError() {
    const char* prefix = "CSvComSerial::ResetSerialError - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    lastSystemError = 0;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

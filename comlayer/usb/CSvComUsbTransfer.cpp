// CSvComUsb: moving bytes on an open device. Pipe requests are overlapped:
// issued, waited for up to the time-out, then collected or cancelled. On
// interface 0 each write is one vendor control request whose answers are
// kept until a read takes them.
#include <cstring>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/transfer/FileToSend.h"
#include "comlayer/transfer/Packets.h"
#include "comlayer/usb/CSvComUsb.h"
#include "platform/device.h"
#include "platform/system.h"

namespace {

constexpr std::uint32_t kGetCommandIoctl = 0x22003C;  // IOCTL_USBPRINT_VENDOR_GET_COMMAND
constexpr std::uint32_t kDrainChunk = 256;
constexpr std::uint32_t kDrainWaitMs = 50;
// A device that never stops sending would keep a purge reading forever.
constexpr int kMaxDrainReads = 4096;

// Cancels a request that went pending and lets the cancellation finish, so
// the platform no longer refers to the record once it goes out of scope.
// A refused cancellation is not waited for: the wait could then last for
// ever.
void CancelPending(plat::Handle handle, plat::Overlapped* record) {
    if (!plat::CancelIo(handle)) return;
    std::uint32_t ignored = 0;
    plat::GetOverlappedResult(handle, record, &ignored, true);
}

}  // namespace

const CSvComUsb::RequestFailures CSvComUsb::kWriteFailures = {"USB write overlap error\n",  314,
                                                              "USB write error timeout\n",  313,
                                                              "USB write generic error \n", 311};
const CSvComUsb::RequestFailures CSvComUsb::kReadFailures = {
    "USB read overlap error\n", 324, "USB read timeout\n", 323, "USB read generic error \n", 322};

int CSvComUsb::FailedRequest(const char* prefix, Completion completion,
                             const RequestFailures& failures) {
    switch (completion) {
        case Completion::Done:
            return 0;
        case Completion::QueryFailed:
            logFile->Write(prefix, failures.queryFailed, LOG_ERROR);
            return failures.queryFailedCode;
        case Completion::TimedOut:
            logFile->Write(prefix, failures.timedOut, LOG_ERROR);
            return failures.timedOutCode;
        case Completion::WaitFailed:
            logFile->Write(prefix, failures.waitFailed, LOG_ERROR);
            return failures.waitFailedCode;
        case Completion::DeviceGone:
            break;
    }
    logFile->Write(prefix, "Device is no longer available: handle will be closed\n", LOG_ERROR);
    CloseUsb();
    return 330;
}

int CSvComUsb::NotOpen(const char* prefix) {
    logFile->Write(prefix, "Usb device not opened: imposible to perform operation\n", LOG_ERROR);
    return 309;
}

void CSvComUsb::EmptyControlStore() {
    std::memset(controlBuffer, 0, kTextSize);
    controlCount = 0;
}

// Windows signals the completion of a request only when it went pending
// (ERROR_IO_PENDING): a request refused at once is never signalled, and a
// wait for it would last its whole time-out, or for ever. So only a pending
// request is waited for and cancelled; the others report their own error.
CSvComUsb::Completion CSvComUsb::RunRequest(plat::Handle handle, bool isRead, void* buffer,
                                            std::uint32_t count, std::uint32_t timeoutMs,
                                            std::uint32_t* transferred) {
    plat::Overlapped record{};
    bool completed = isRead ? plat::ReadFile(handle, buffer, count, transferred, &record)
                            : plat::WriteFile(handle, buffer, count, transferred, &record);
    std::uint32_t requestError = completed ? 0 : plat::GetLastError();
    if (!completed && requestError != plat::kErrorIoPending) {
        lastSystemError = static_cast<int>(requestError);
        return FailedWith(requestError);
    }
    if (!completed) {
        std::uint32_t wait = plat::WaitForSingleObject(handle, timeoutMs);
        if (wait != plat::kWaitObject0) {
            lastSystemError =
                static_cast<int>(wait == plat::kWaitTimeout ? requestError : plat::GetLastError());
            CancelPending(handle, &record);
            return wait == plat::kWaitTimeout ? Completion::TimedOut : Completion::WaitFailed;
        }
    }
    if (plat::GetOverlappedResult(handle, &record, transferred, false)) return Completion::Done;
    std::uint32_t error = plat::GetLastError();
    lastSystemError = static_cast<int>(error);
    // Signalled by something else while the request still runs.
    if (error == plat::kErrorIoIncomplete) CancelPending(handle, &record);
    return FailedWith(error);
}

// An unplugged device fails its requests with access denied, whether at
// once or when one that was pending ends.
CSvComUsb::Completion CSvComUsb::FailedWith(std::uint32_t error) {
    return error == plat::kErrorAccessDenied ? Completion::DeviceGone : Completion::QueryFailed;
}

// Writes one packet. A short completion is followed by a request for the
// rest as long as the device takes bytes, so nothing is skipped.
int CSvComUsb::WritePiece(const unsigned char* data, std::uint32_t offset, std::uint32_t length,
                          std::uint32_t* total) {
    const char* prefix = "CSvComUsb::WriteUsb - ";
    std::uint32_t sent = 0;
    while (sent < length) {
        std::uint32_t done = 0;
        std::uint32_t want = length - sent;
        Completion completion =
            RunRequest(writeHandle, false, const_cast<unsigned char*>(data) + offset + sent, want,
                       sendTimeout, &done);
        int failure = FailedRequest(prefix, completion, kWriteFailures);
        if (failure != 0) return failure;
        if (done == 0) {
            logFile->Writef(prefix, LOG_ERROR, "USB write success, but 0 bytes send\n");
            plat::CancelIo(writeHandle);
            return 312;
        }
        if (done > want) done = want;
        logFile->DumpBytes(prefix, "SendBuffer", data + offset + sent, done, offset + sent);
        sent += done;
        *total += done;
    }
    return 0;
}

int CSvComUsb::WriteUsb(const unsigned char* data, std::uint32_t count) {
    const char* prefix = "CSvComUsb::WriteUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) return NotOpen(prefix);
    // Nothing to send is trivially sent, on every interface type: no
    // request is made, so none can read past the caller's data.
    if (count == 0) {
        logFile->Writef(prefix, LOG_INFO, "%d bytes to write:\n", 0);
        logFile->Writef(prefix, LOG_TRACE, "END\n");
        return 0;
    }
    if (interfaceType == USB_INTERFACE_0) {
        int result = WriteInterface0(data, count);
        if (result == 0) logFile->Writef(prefix, LOG_TRACE, "END\n");
        return result;
    }

    PacketPlan plan = PlanPackets(count, writePacketSize);
    logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                    static_cast<int>(count), static_cast<int>(plan.pieceSize));
    logFile->Writef(prefix, LOG_INFO, "%d bytes to write:\n", static_cast<int>(count));
    std::uint32_t total = 0;
    int result =
        SendInPieces(count, writePacketSize, [&](std::uint32_t offset, std::uint32_t length) {
            return WritePiece(data, offset, length, &total);
        });
    if (result == 330) return 330;
    if (total != count) {
        plat::CancelIo(writeHandle);
        logFile->Writef(prefix, LOG_INFO,
                        "Warning: USB write not completed,not all bytes were written\n");
    }
    if (result != 0) return result;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::WriteInterface0(const unsigned char* data, std::uint32_t count) {
    const char* prefix = "CSvComUsb::WriteInterface0 - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (count > 3) {
        logFile->Writef(prefix, LOG_INFO,
                        "Bytes to send: %d - only 3 bytes can be send: SendBuffer[0]=0x%02x, "
                        "SendBuffer[1]=0x%02x, SendBuffer[2]=0x%02x \n",
                        3, data[0], data[1], data[2]);
        count = 3;
    }
    // A request code, then a 16-bit value the caller gives low byte first
    // and the request carries high byte first.
    unsigned char request[3] = {data[0], 0, 0};
    if (count > 1) request[2] = data[1];
    if (count > 2) request[1] = data[2];

    unsigned char answer[kTextSize] = {};
    std::uint32_t returned = 0;
    if (!plat::DeviceIoControl(controlHandle, kGetCommandIoctl, request, 3, answer, kTextSize,
                               &returned)) {
        lastSystemError = static_cast<int>(plat::GetLastError());
        logFile->Writef(prefix, LOG_ERROR, "Error calling DeviceIOControl() for Interface 0\n");
        return 327;
    }
    if (returned > kTextSize) returned = kTextSize;
    logFile->Writef(prefix, LOG_INFO, "%d bytes to write:\n", 3);
    logFile->DumpBytes(prefix, "SendBuffer", request, 3, 0);
    if (controlCount + returned > kTextSize) {
        logFile->Writef(prefix, LOG_ERROR,
                        "Receive buffer for interface 0 is full. A Read() or a Clean() must be "
                        "called \n");
        return 326;
    }
    logFile->Writef(prefix, LOG_INFO, "%d bytes read:\n", static_cast<int>(returned));
    logFile->DumpBytes(prefix, "ReceiveBuffer", answer, returned, 0);
    std::memcpy(controlBuffer + controlCount, answer, returned);
    controlCount += returned;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::ReadUsb(char* buffer, std::uint32_t size, unsigned* bytesRead) {
    const char* prefix = "CSvComUsb::ReadUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) return NotOpen(prefix);
    if (interfaceType == USB_INTERFACE_0) {
        std::uint32_t delivered = size < controlCount ? size : controlCount;
        std::memcpy(buffer, controlBuffer, delivered);
        std::memmove(controlBuffer, controlBuffer + delivered, controlCount - delivered);
        controlCount -= delivered;
        std::memset(controlBuffer + controlCount, 0, kTextSize - controlCount);
        *bytesRead = delivered;
        logFile->Writef(prefix, LOG_TRACE, "%d bytes read:\n", static_cast<int>(delivered));
        logFile->DumpBytes(prefix, "ReceiveBuffer", reinterpret_cast<unsigned char*>(buffer),
                           delivered, 0);
        logFile->Writef(prefix, LOG_TRACE, "END\n");
        return 0;
    }

    std::uint32_t asked = size < readPacketSize ? size : readPacketSize;
    logFile->Writef(prefix, LOG_INFO,
                    "Receive buffer size: %d, packet size setted:%d, packet used for read:%d \n",
                    static_cast<int>(size), static_cast<int>(readPacketSize),
                    static_cast<int>(asked));
    std::uint32_t got = 0;
    int failure = FailedRequest(
        prefix, RunRequest(readHandle, true, buffer, asked, receiveTimeout, &got), kReadFailures);
    if (failure != 0) return failure;
    if (got > asked) got = asked;
    *bytesRead = got;
    logFile->Writef(prefix, LOG_TRACE, "%d bytes read:\n", static_cast<int>(got));
    logFile->DumpBytes(prefix, "ReceiveBuffer", reinterpret_cast<unsigned char*>(buffer), got, 0);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::WriteFileUsb(const char* path) {
    const char* prefix = "CSvComUsb::WriteFileUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) return NotOpen(prefix);
    logFile->Writef(prefix, LOG_INFO, "Path of file: %s \n", path);
    if (interfaceType == USB_INTERFACE_0) {
        logFile->Writef(prefix, LOG_ERROR, "WriteFile() disabled for interface 0 \n");
        return 328;
    }
    FileToSend file;
    if (!file.Open(path, &lastSystemError)) {
        logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
        return 10;
    }
    std::uint32_t total = file.Length();
    // An empty file has nothing to send and is sent.
    if (total == 0) {
        logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n", 0, 0);
        logFile->Writef(prefix, LOG_TRACE, "END\n");
        return 0;
    }
    PacketPlan plan = PlanPackets(total, writePacketSize);
    logFile->Writef(prefix, LOG_INFO, "Bytes to send: %d, packet byte used:%d\n",
                    static_cast<int>(total), static_cast<int>(plan.pieceSize));
    std::uint32_t fullBytes = plan.fullPieces * plan.pieceSize;
    int result =
        SendInPieces(total, writePacketSize, [&](std::uint32_t offset, std::uint32_t length) {
            std::memset(transferBuffer.get(), 0, writePacketSize + 100);
            std::uint32_t got = file.Read(transferBuffer.get(), length);
            if (offset < fullBytes)
                logFile->Writef(prefix, LOG_INFO, "Send a packet byte of the file\n");
            int sent = got > 0 ? WriteUsb(transferBuffer.get(), got) : 0;
            // A file that shrank while being sent cannot be sent whole.
            if (sent == 0 && got != length) {
                logFile->Writef(prefix, LOG_ERROR, "Impossibile to open file %s\n", path);
                return 10;
            }
            return sent;
        });
    if (result != 0) return result;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

// Reads and discards what the device has waiting, by the same request rule
// as every read, until a read finds nothing within the short wait.
CSvComUsb::Completion CSvComUsb::DrainReadPipe() {
    unsigned char scratch[kDrainChunk];
    for (int reads = 0; reads < kMaxDrainReads; ++reads) {
        std::uint32_t count = 0;
        Completion completion =
            RunRequest(readHandle, true, scratch, kDrainChunk, kDrainWaitMs, &count);
        if (completion == Completion::TimedOut) break;
        // A unidirectional printer has no read pipe (usblp refuses reads
        // with EINVAL): there is nothing to drain.
        if (completion == Completion::QueryFailed && reads == 0 &&
            (lastSystemError == static_cast<int>(plat::kErrorInvalidParameter) ||
             lastSystemError == static_cast<int>(plat::kErrorNotSupported))) {
            break;
        }
        if (completion != Completion::Done) return completion;
        if (count == 0) break;
    }
    return Completion::Done;
}

int CSvComUsb::CleanUsb(int cleanWrite, int cleanRead) {
    const char* prefix = "CSvComUsb::CleanUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) return NotOpen(prefix);
    if (interfaceType == USB_INTERFACE_0) {
        EmptyControlStore();
        logFile->Writef(prefix, LOG_TRACE, "END\n");
        return 0;
    }
    if (cleanWrite) {
        if (!plat::CancelIo(writeHandle)) return CleanFailed(prefix);
        logFile->Writef(prefix, LOG_ERROR, "USB write channel cleaned\n");
    }
    if (cleanRead) {
        Completion drain = DrainReadPipe();
        if (drain == Completion::DeviceGone) {
            return FailedRequest(prefix, drain, kReadFailures);
        }
        if (!plat::CancelIo(readHandle)) return CleanFailed(prefix);
        if (drain != Completion::Done) {
            logFile->Writef(prefix, LOG_ERROR, "Error cleaning USB channels\n");
            return 321;
        }
        logFile->Writef(prefix, LOG_ERROR, "USB read channel cleaned\n");
    }
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::CleanFailed(const char* prefix) {
    lastSystemError = static_cast<int>(plat::GetLastError());
    logFile->Writef(prefix, LOG_ERROR, "Error cleaning USB channels\n");
    return 321;
}

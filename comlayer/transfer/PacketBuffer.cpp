#include "comlayer/transfer/PacketBuffer.h"

#include <new>

#include "comlayer/log/CSvLogFile.h"

int ApplyPacketSizes(CSvLogFile* log, const char* prefix, int writeSize, int readSize,
                     std::uint32_t* writePacketSize, std::uint32_t* readPacketSize,
                     std::unique_ptr<unsigned char[]>* transferBuffer) {
    if (writeSize == 0 || readSize == 0) {
        log->Write(prefix, "Packet size can't be = 0\n", LOG_ERROR);
        return 9;
    }
    auto inRange = [](int size) {
        return size > 0 && static_cast<std::uint32_t>(size) <= kMaxPacketSize;
    };
    unsigned char* buffer = nullptr;
    if (inRange(writeSize) && inRange(readSize)) {
        buffer = new (std::nothrow) unsigned char[static_cast<std::size_t>(writeSize) + 100]();
    }
    if (buffer == nullptr) {
        log->Writef(prefix, LOG_ERROR, "Packet size can't be > %u\n", kMaxPacketSize);
        return 9;
    }
    transferBuffer->reset(buffer);
    *writePacketSize = static_cast<std::uint32_t>(writeSize);
    *readPacketSize = static_cast<std::uint32_t>(readSize);
    log->Writef(prefix, LOG_INFO, "Packets size setted; WRITE = %d bytes, READ = %d bytes \n",
                writeSize, readSize);
    return 0;
}

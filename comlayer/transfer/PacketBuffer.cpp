#include "comlayer/transfer/PacketBuffer.h"

#include <new>

#include "comlayer/log/CSvLogFile.h"

unsigned char* NewPacketBuffer(CSvLogFile* log, const char* prefix, int writeSize, int readSize) {
    if (writeSize == 0 || readSize == 0) {
        log->Write(prefix, "Packet size can't be = 0\n", LOG_ERROR);
        return nullptr;
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
    }
    return buffer;
}

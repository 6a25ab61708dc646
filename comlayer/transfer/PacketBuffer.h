// The packet sizes every transport accepts, and the file sender's buffer
// that goes with the write size.
#pragma once

#include <cstdint>
#include <memory>

class CSvLogFile;

// The largest packet size: the file sender holds writeSize + 100 bytes,
// which must neither wrap around nor exhaust a till's memory.
constexpr std::uint32_t kMaxPacketSize = 16u * 1024u * 1024u;

// Applies a new pair of packet sizes: a zeroed transfer buffer of
// writeSize + 100 bytes replaces the old one, both sizes are stored and
// "Packets size setted; ..." is logged; 0. Refused sizes give 9 after a
// LOG_ERROR line ("Packet size can't be = 0\n" for a zero, "Packet size
// can't be > 16777216\n" for a negative size, one past kMaxPacketSize, or
// one whose buffer cannot be allocated), keeping the old sizes and buffer.
int ApplyPacketSizes(CSvLogFile* log, const char* prefix, int writeSize, int readSize,
                     std::uint32_t* writePacketSize, std::uint32_t* readPacketSize,
                     std::unique_ptr<unsigned char[]>* transferBuffer);

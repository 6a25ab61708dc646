// The packet sizes every transport accepts, and the file sender's buffer
// that goes with the write size.
#pragma once

#include <cstdint>

class CSvLogFile;

// The largest packet size: the file sender holds writeSize + 100 bytes,
// which must neither wrap around nor exhaust a till's memory.
constexpr std::uint32_t kMaxPacketSize = 16u * 1024u * 1024u;

// A zeroed buffer of writeSize + 100 bytes for a new pair of packet sizes,
// or null after logging why the sizes are refused at LOG_ERROR: "Packet
// size can't be = 0\n" for a zero, "Packet size can't be > 16777216\n" for
// a negative size, one past kMaxPacketSize, or one whose buffer cannot be
// allocated. The caller keeps its old sizes and buffer on refusal.
unsigned char* NewPacketBuffer(CSvLogFile* log, const char* prefix, int writeSize, int readSize);

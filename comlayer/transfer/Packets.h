// How every transport cuts a write into pieces: n = min(count, packet size),
// count / n full pieces of n bytes, then one piece of count mod n bytes.
#pragma once

#include <cstdint>

struct PacketPlan {
    std::uint32_t pieceSize;
    std::uint32_t fullPieces;
    std::uint32_t rest;
};

// count and packetSize must be non-zero.
inline PacketPlan PlanPackets(std::uint32_t count, std::uint32_t packetSize) {
    std::uint32_t piece = count < packetSize ? count : packetSize;
    return PacketPlan{piece, count / piece, count % piece};
}

// Calls sendPiece(offset, length) for each piece in order and stops at the
// first non-zero result, which it returns; 0 when every piece was sent.
template <class SendPiece>
int SendInPieces(std::uint32_t count, std::uint32_t packetSize, SendPiece&& sendPiece) {
    PacketPlan plan = PlanPackets(count, packetSize);
    std::uint32_t offset = 0;
    for (std::uint32_t k = 0; k < plan.fullPieces; ++k, offset += plan.pieceSize) {
        int result = sendPiece(offset, plan.pieceSize);
        if (result != 0) return result;
    }
    if (plan.rest > 0) return sendPiece(offset, plan.rest);
    return 0;
}

// Host and network byte order for every backend: network order is the
// order of the bytes in memory, most significant first, on any host.
#include <cstring>

#include "platform/socket.h"

namespace plat {

std::uint16_t htons(std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value)};
    std::uint16_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

std::uint32_t htonl(std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    std::uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

std::uint16_t ntohs(std::uint16_t value) {
    unsigned char bytes[2];
    std::memcpy(bytes, &value, sizeof bytes);
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t ntohl(std::uint32_t value) {
    unsigned char bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

}  // namespace plat

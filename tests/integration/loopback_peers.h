// Real peers on the loopback interface for the Ethernet tests: a TCP
// printer that records what it receives and can answer, close or reset the
// connection; a UDP device; a listener that never accepts. Loopback only.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace loopback {

// A TCP printer served by its own thread, one connection at a time (a new
// connection replaces the old one).
class TcpPrinter {
public:
    TcpPrinter();
    ~TcpPrinter();
    TcpPrinter(const TcpPrinter&) = delete;
    TcpPrinter& operator=(const TcpPrinter&) = delete;

    std::uint16_t Port() const { return port; }
    // Everything received so far, over all connections.
    std::string Received();
    // Waits (at most `limit`) until `count` bytes have been received.
    bool WaitForBytes(std::size_t count, std::chrono::milliseconds limit);
    int Connections();
    // Waits (at most `limit`) until `count` connections have been accepted.
    bool WaitForConnections(int count, std::chrono::milliseconds limit);
    // Run on the printer's thread, returning when done.
    void Answer(const std::string& bytes);
    void CloseConnection();
    void ResetConnection();
    void DiscardReceived();

private:
    void Serve();
    void RunOnServer(std::function<void()> action);
    void DropClient();

    int listener = -1;
    int client = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable changed;
    std::string received;
    int connections = 0;
    std::deque<std::function<void()>> actions;
    std::thread server;
};

// A UDP device bound to 127.0.0.1 on a free port.
class UdpPeer {
public:
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t Port() const { return port; }
    // The next datagram, or "" after `limit`.
    std::string Receive(std::chrono::milliseconds limit);
    void SendTo(std::uint16_t toPort, const std::string& bytes);
    // The source port of the last datagram received.
    std::uint16_t SenderPort() const { return senderPort; }

private:
    int fd = -1;
    std::uint16_t senderPort = 0;
    std::uint16_t port = 0;
};

// A listener that never accepts, its backlog filled by connections of its
// own: a further connection attempt gets no answer.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    std::uint16_t Port() const { return port; }

private:
    int listener = -1;
    int fillers[8];
    std::uint16_t port = 0;
};

// A loopback port on which nothing listens (connections are refused).
std::uint16_t ClosedPort();
// A free local UDP port.
std::uint16_t FreeUdpPort();
// Open descriptors of this process.
int OpenDescriptors();

}  // namespace loopback

// A network printer that misbehaves as real ones do: it closes idle
// connections, serves one client at a time, restarts (its old connection
// gone without a word, a new listener up), sends status bytes nobody asked
// for, stalls, and aborts in the middle of a job. It records per connection
// what its TCP stack accepted: the bytes it read, and at an abort also the
// bytes still queued unread (acknowledged to the sender all the same).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace printer {

// A network namespace with a veth pair: the till's side 10.20.<n>.1 stays
// here, the printer's side 10.20.<n>.2 in the namespace. Empty Skipped()
// when it was made.
class Namespace {
public:
    Namespace();
    ~Namespace();
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;
    const std::string& Skipped() const { return skipped; }
    const std::string& Name() const { return name; }
    std::string PrinterAddress() const { return prefix + ".2"; }
    // The printer's link goes down (a printer unplugged) or comes back.
    bool SetPrinterLink(bool up);

private:
    std::string name;
    std::string hostSide;
    std::string prefix;
    std::string skipped;
};

struct Options {
    const Namespace* where = nullptr;  // loopback when null
    bool oneClient = false;            // a second connection is closed at once
    std::string statusOnConnect;       // sent to each new connection
    int receiveBuffer = 0;             // SO_RCVBUF of the connections (0: default)
};

class TestPrinter {
public:
    explicit TestPrinter(const Options& options);
    ~TestPrinter();
    TestPrinter(const TestPrinter&) = delete;
    TestPrinter& operator=(const TestPrinter&) = delete;

    std::string Address() const { return address; }
    std::uint16_t Port() const { return port; }

    // Idle time-out: an orderly close (FIN) of the connection being served.
    void CloseIdle();
    // Power cycle: the connection disappears without FIN or reset (TCP
    // repair mode), the listener is made again on the same port.
    void Restart();
    // Stops reading; once `after` more bytes have come, waits until the
    // sender can send no more (its window full, or its job done), then
    // resets the connection.
    void AbortAfter(std::size_t after);
    void Stall(bool stalled);
    void SendStatus(const std::string& bytes);

    // Waits (at most 10 s) for `done` to hold, checked under the lock.
    bool WaitUntil(const std::function<bool(const TestPrinter&)>& done);
    std::size_t Received() const;  // over all connections
    std::string Stream() const;    // every connection's bytes, in order
    int Ended() const { return ended; }
    int Refused() const { return refused; }
    bool Serving() const { return client >= 0; }
    // False when the last Restart could not make the connection vanish
    // (TCP_REPAIR needs CAP_NET_ADMIN) and closed it with a FIN instead.
    bool RestartWasSilent() const { return restartSilent; }

private:
    void Serve();
    void Listen();
    void Accept();
    void ReadClient();
    void EndClient(bool abort);
    void TakeQueued(int fd, std::string* record);
    void Run(std::function<void()> action);

    Options options;
    std::string address;
    std::uint16_t port = 0;
    int listener = -1;
    int client = -1;
    bool stalled = false;
    std::size_t abortAt = SIZE_MAX;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> records;  // one per connection, in order
    std::size_t current = 0;           // the record of the client served
    int ended = 0;
    int refused = 0;
    bool restartSilent = true;
    bool stop = false;
    bool ready = false;
    std::deque<std::function<void()>> actions;
    std::thread server;
};

// The library's connection to `port` on `address` aborted from outside, as
// `ss -K` does (the socket gets ECONNABORTED). False when the kernel cannot.
bool KillConnectionsTo(const std::string& address, std::uint16_t port);

}  // namespace printer

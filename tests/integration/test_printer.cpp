#include "tests/integration/test_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace printer {

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

int QueuedToRead(int fd) {
    int queued = 0;
    return ::ioctl(fd, SIOCINQ, &queued) == 0 ? queued : 0;
}

}  // namespace

Namespace::Namespace() {
    if (::geteuid() != 0) {
        skipped = "network namespaces need root";
        return;
    }
    int id = static_cast<int>(::getpid());
    name = "sorlink-net-" + std::to_string(id);
    hostSide = "slh" + std::to_string(id % 1000000);
    std::string printerSide = "slp" + std::to_string(id % 1000000);
    prefix = "10." + std::to_string(100 + id % 100) + "." + std::to_string(id / 100 % 250);
    if (!Run("ip netns add " + name)) {
        skipped = "ip netns add failed (no permission for network namespaces?)";
        name.clear();
        return;
    }
    bool made = Run("ip link add " + hostSide + " type veth peer name " + printerSide) &&
                Run("ip link set " + printerSide + " netns " + name) &&
                Run("ip addr add " + prefix + ".1/24 dev " + hostSide) &&
                Run("ip link set " + hostSide + " up") &&
                Run("ip -n " + name + " addr add " + prefix + ".2/24 dev " + printerSide) &&
                Run("ip -n " + name + " link set " + printerSide + " up") &&
                Run("ip -n " + name + " link set lo up");
    if (!made) skipped = "a veth pair into the namespace could not be made";
}

Namespace::~Namespace() {
    if (!hostSide.empty()) Run("ip link del " + hostSide);
    if (!name.empty()) Run("ip netns del " + name);
}

bool Namespace::SetPrinterLink(bool up) {
    std::string printerSide = "slp" + hostSide.substr(3);
    return Run("ip -n " + name + " link set " + printerSide + (up ? " up" : " down"));
}

TestPrinter::TestPrinter(const Options& given) : options(given) {
    address = options.where != nullptr ? options.where->PrinterAddress() : "127.0.0.1";
    server = std::thread([this] { Serve(); });
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, std::chrono::seconds(10), [this] { return ready; });
    if (listener < 0) {
        guard.unlock();
        stop = true;
        server.join();
        throw std::runtime_error("the test printer cannot listen");
    }
}

TestPrinter::~TestPrinter() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stop = true;
    }
    server.join();
    if (client >= 0) ::close(client);
    if (listener >= 0) ::close(listener);
}

// Binds to the printer's address; after a restart to the same port again.
void TestPrinter::Listen() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (options.receiveBuffer > 0) {
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer,
                     sizeof options.receiveBuffer);
    }
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &native.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&native), sizeof native) != 0 ||
        ::listen(listener, 8) != 0) {
        ::close(listener);
        listener = -1;
        return;
    }
    socklen_t length = sizeof native;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&native), &length);
    port = ntohs(native.sin_port);
}

void TestPrinter::Serve() {
    bool entered = true;
    if (options.where != nullptr) {
        int fd = ::open(("/var/run/netns/" + options.where->Name()).c_str(), O_RDONLY | O_CLOEXEC);
        entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        if (entered) Listen();
        ready = true;
        changed.notify_all();
    }
    for (;;) {
        std::unique_lock<std::mutex> guard(lock);
        if (stop) return;
        while (!actions.empty()) {
            std::function<void()> action = std::move(actions.front());
            actions.pop_front();
            action();
        }
        bool aborting = client >= 0 && records[current].size() >= abortAt;
        if (aborting) {
            EndClient(true);
            continue;
        }
        // A printer that serves one client leaves the next in the backlog,
        // unless it closes it at once.
        bool watchListener = client < 0 || options.oneClient;
        bool watchClient = client >= 0 && !stalled;
        guard.unlock();
        pollfd entries[2] = {{watchListener ? listener : -1, POLLIN, 0},
                             {watchClient ? client : -1, POLLIN, 0}};
        ::poll(entries, 2, 2);
        guard.lock();
        if ((entries[0].revents & POLLIN) != 0) Accept();
        if (entries[1].revents != 0 && client >= 0) ReadClient();
        changed.notify_all();
    }
}

void TestPrinter::Accept() {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (client >= 0) {
        // Closed at once; what arrived first was acknowledged all the same.
        records.emplace_back();
        TakeQueued(fd, &records.back());
        ::close(fd);
        ++refused;
        return;
    }
    client = fd;
    current = records.size();
    records.emplace_back();
    if (!options.statusOnConnect.empty()) {
        ::send(client, options.statusOnConnect.data(), options.statusOnConnect.size(),
               MSG_NOSIGNAL);
    }
}

void TestPrinter::ReadClient() {
    char buffer[65536];
    std::size_t want = sizeof buffer;
    if (abortAt != SIZE_MAX && abortAt - records[current].size() < want) {
        want = abortAt - records[current].size();
    }
    ssize_t got = ::recv(client, buffer, want, MSG_DONTWAIT);
    if (got > 0) {
        records[current].append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        EndClient(false);
    }
}

// An abort waits until the queue stops growing (the sender's window is full
// or its job is done), takes a copy of what is queued, as its TCP stack has
// acknowledged it, and resets the connection.
void TestPrinter::EndClient(bool abort) {
    if (abort) {
        TakeQueued(client, &records[current]);
        linger reset{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        abortAt = SIZE_MAX;
    }
    ::close(client);
    client = -1;
    stalled = false;
    ++ended;
}

// Waits until the queue has not grown for longer than the longest delayed
// acknowledgement (200 ms on Linux): what is queued has then been
// acknowledged to the sender, as the record says.
void TestPrinter::TakeQueued(int fd, std::string* record) {
    int last = -1;
    for (int calm = 0, k = 0; calm < 25 && k < 300; ++k) {
        int queued = QueuedToRead(fd);
        calm = queued == last ? calm + 1 : 0;
        last = queued;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
    }
    std::string queued(static_cast<std::size_t>(QueuedToRead(fd)), '\0');
    ssize_t got =
        queued.empty() ? 0 : ::recv(fd, &queued[0], queued.size(), MSG_PEEK | MSG_DONTWAIT);
    record->append(queued.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

void TestPrinter::Run(std::function<void()> action) {
    std::lock_guard<std::mutex> guard(lock);
    actions.push_back(std::move(action));
}

void TestPrinter::CloseIdle() {
    Run([this] {
        if (client >= 0) EndClient(false);
    });
}

void TestPrinter::Restart() {
    Run([this] {
        if (client >= 0) {
            int on = 1;
            restartSilent = ::setsockopt(client, IPPROTO_TCP, TCP_REPAIR, &on, sizeof on) == 0;
            EndClient(false);
        }
        ::close(listener);
        Listen();
    });
}

void TestPrinter::AbortAfter(std::size_t after) {
    Run([this, after] { abortAt = (client >= 0 ? records[current].size() : 0) + after; });
}

void TestPrinter::Stall(bool stall) {
    Run([this, stall] { stalled = stall; });
}

void TestPrinter::SendStatus(const std::string& bytes) {
    Run([this, bytes] {
        if (client >= 0) ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    });
}

bool TestPrinter::WaitUntil(const std::function<bool(const TestPrinter&)>& done) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(10),
                            [&] { return actions.empty() && done(*this); });
}

std::size_t TestPrinter::Received() const {
    std::size_t total = 0;
    for (const std::string& record : records) total += record.size();
    return total;
}

std::string TestPrinter::Stream() const {
    std::lock_guard<std::mutex> guard(lock);
    std::string all;
    for (const std::string& record : records) all += record;
    return all;
}

bool KillConnectionsTo(const std::string& address, std::uint16_t port) {
    std::string command =
        "ss -K -t -n dst " + address + " dport = :" + std::to_string(port) + " 2>/dev/null";
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr) return false;
    char line[512];
    int killed = 0;
    std::string target = address + ":" + std::to_string(port);
    while (std::fgets(line, sizeof line, output) != nullptr) {
        if (std::string(line).find(target) != std::string::npos) ++killed;
    }
    ::pclose(output);
    return killed > 0;
}

}  // namespace printer

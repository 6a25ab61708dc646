#include "bench/PtySink.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace bench {

PtySink::PtySink() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname(master) == nullptr) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    path = ptsname(master);
    slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave < 0 || tcgetattr(slave, &settings) != 0) {
        throw std::runtime_error("cannot set the pseudo-terminal raw");
    }
    cfmakeraw(&settings);
    tcsetattr(slave, TCSANOW, &settings);
    server = std::thread([this] { Serve(); });
}

PtySink::~PtySink() {
    stop = true;
    server.join();
    close(slave);
    close(master);
}

void PtySink::Serve() {
    std::vector<char> buffer(64 * 1024);
    while (!stop) {
        pollfd entry = {master, POLLIN, 0};
        if (poll(&entry, 1, 10) <= 0) continue;
        ssize_t n = read(master, buffer.data(), buffer.size());
        if (n > 0) {
            std::lock_guard<std::mutex> guard(lock);
            received += static_cast<std::uint64_t>(n);
            arrived.notify_all();
        }
    }
}

bool PtySink::WaitFor(std::uint64_t count) {
    std::unique_lock<std::mutex> guard(lock);
    bool done =
        arrived.wait_for(guard, std::chrono::seconds(60), [&] { return received >= count; });
    received -= done ? count : received;
    return done;
}

}  // namespace bench

// An Ethernet port of the real library, with its log in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "sorlink.h"
#include "tests/integration/loopback_peers.h"
#include "tests/support/TestSupport.h"

class LoopbackEthernet : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override {
        DeleteAllLayerItems();
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(1, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             dir.File("eth.log").c_str(), &id));
    }
    void TearDown() override { DeleteAllLayerItems(); }

    bool Logged(const std::string& text) const {
        return testing_support::ReadFile(dir.File("eth.log")).find(text) != std::string::npos;
    }
    static std::string Pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 256);
        return bytes;
    }
    static int WriteText(const std::string& bytes) {
        return Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    }
    static long long MillisecondsSince(Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }

    testing_support::TempDir dir;
};

// A POS application's timers and child processes: SIGALRM, caught by a
// handler installed with SA_RESTART, sent to the creating thread each time
// it is found asleep (state S in /proc), until Stop.
class SignalStream {
public:
    SignalStream() : target(pthread_self()), targetTid(gettid()) {
        struct sigaction action {};
        action.sa_handler = [](int) { ++delivered; };
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous);
        sender = std::thread([this] { Run(); });
    }
    ~SignalStream() {
        Stop();
        sigaction(SIGALRM, &previous, nullptr);
    }
    void Stop() {
        stop = true;
        if (sender.joinable()) sender.join();
    }
    // Waits (at most 5 s) until `count` signals have reached the thread.
    bool WaitForSignals(int count) const {
        for (int i = 0; i < 5000 && delivered - first < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return delivered - first >= count;
    }

private:
    bool TargetAsleep() const {
        std::ifstream stat("/proc/self/task/" + std::to_string(targetTid) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::size_t name = line.rfind(')');
        return name != std::string::npos && line.compare(name, 3, ") S") == 0;
    }
    void Run() {
        for (int round = 0; round < 20000 && !stop; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!TargetAsleep()) continue;
            int before = delivered;
            pthread_kill(target, SIGALRM);
            for (int i = 0; i < 1000 && delivered == before; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    static inline std::atomic<int> delivered{0};
    int first = delivered;
    pthread_t target;
    pid_t targetTid;
    struct sigaction previous {};
    std::atomic<bool> stop{false};
    std::thread sender;
};

// sorlink_bench [--repetitions N] [figure ...]: runs the named figures (all
// by default) and prints one block per figure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/Bench.h"

namespace bench {

double MillisecondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    return spent.count();
}

double Median(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t middle = samples.size() / 2;
    return samples.size() % 2 == 1 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

}  // namespace bench

int main(int argc, char** argv) {
    bench::Options options;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repetitions") == 0 && i + 1 < argc) {
            options.repetitions = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "usage: sorlink_bench [--repetitions N] [--list] [figure ...]\n"
                "Runs the named figures (all by default); each prints its own time and the\n"
                "time of a raw baseline measured in the same run, and their ratio.\n");
            return 0;
        } else if (std::strcmp(argv[i], "--list") == 0) {
            for (const bench::Figure& figure : bench::Figures()) {
                std::printf("%-24s %s\n", figure.name, figure.description);
            }
            return 0;
        } else {
            wanted.push_back(argv[i]);
        }
    }
    int ran = 0;
    for (const bench::Figure& figure : bench::Figures()) {
        bool selected = wanted.empty();
        for (const std::string& name : wanted) selected = selected || name == figure.name;
        if (!selected) continue;
        std::printf("== %s: %s\n", figure.name, figure.description);
        figure.run(options);
        ++ran;
    }
    if (ran == 0) {
        std::fprintf(stderr, "no such figure; --list shows them\n");
        return 1;
    }
    return 0;
}

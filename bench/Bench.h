// Shared pieces of the benchmark: the list of figures, timing and medians.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Options {
    int repetitions = 5;
};

// One figure: a name to select it on the command line and the function
// that measures it and prints its lines.
struct Figure {
    const char* name;
    const char* description;
    void (*run)(const Options& options);
};

// Every figure, in the order they run (figures.cpp).
const std::vector<Figure>& Figures();

double MillisecondsOf(const std::function<void()>& work);
double Median(std::vector<double> samples);

}  // namespace bench

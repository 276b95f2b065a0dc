// Writes the benchmarks' 50 x 50 eight-player map to standard output.

#include "BenchSupport.h"

#include <iostream>

int main() {
    std::cout << bench::largeEightPlayerMap();
    return 0;
}

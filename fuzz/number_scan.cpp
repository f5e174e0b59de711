// The figures behind number_fuzz's invariants, where a fuzzer can only sample:
//
//   number_scan whole FROM TO   every whole number in [FROM, TO): prints the
//                               first whose text is not its plain digits or
//                               does not read back as itself
//   number_scan error COUNT     COUNT doubles from the whole range (a fixed
//                               seed): the worst relative error of the text,
//                               and of a fixed-form text read back
//
// Built without sanitizers: a scan of all 2^32 whole numbers takes some minutes.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "text/number.h"

namespace {

int ScanWhole(std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t n = from; n < to; ++n) {
        const double value = static_cast<double>(n);
        const std::string shown = FormatNumber(value);
        if (shown != std::to_string(n) || ParseNumber(shown) != value) {
            std::printf("first whole number that does not come back: %llu -> \"%s\"\n",
                        static_cast<unsigned long long>(n), shown.c_str());
            return 1;
        }
    }
    std::printf("every whole number in [%llu, %llu) comes back as itself\n",
                static_cast<unsigned long long>(from), static_cast<unsigned long long>(to));
    return 0;
}

struct Worst {
    long double error = 0;
    double value = 0;
    void Take(long double e, double x) {
        if (e > error) {
            error = e;
            value = x;
        }
    }
    void Print(const char* what) const {
        std::printf("%s: %.3Lg at %.17g (\"%s\")\n", what, error, value,
                    FormatNumber(value).c_str());
    }
};

int ScanError(long count) {
    std::mt19937_64 random(1);
    Worst text;
    Worst readBack;
    for (long i = 0; i < count; ++i) {
        // Every other value from the fixed range and every fourth a subnormal:
        // random bit patterns rarely fall there.
        const std::uint64_t bits = random();
        double x = 0;
        std::memcpy(&x, &bits, sizeof x);
        if (i % 4 == 2) {
            x = std::ldexp(static_cast<double>(bits >> 12), -1074 - static_cast<int>(bits % 16));
        }
        if (!std::isfinite(x) || x == 0) {
            continue;
        }
        if (i % 2 == 1) {
            int exponent = 0;
            x = std::ldexp(std::frexp(x, &exponent), static_cast<int>(random() % 64) - 14);
        }
        const std::string shown = FormatNumber(x);
        const long double magnitude = std::fabs(static_cast<long double>(x));
        text.Take(std::fabs(std::strtold(shown.c_str(), nullptr) - x) / magnitude, x);
        if (shown.find('e') == std::string::npos) {
            readBack.Take(std::fabs(static_cast<long double>(ParseNumber(shown)) - x) / magnitude,
                          x);
        }
    }
    std::printf("%ld doubles\n", count);
    text.Print("text, worst relative error");
    readBack.Print("fixed-form text read back, worst relative error");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "whole") == 0) {
        return ScanWhole(std::strtoull(argv[2], nullptr, 0), std::strtoull(argv[3], nullptr, 0));
    }
    if (argc == 3 && std::strcmp(argv[1], "error") == 0) {
        return ScanError(std::strtol(argv[2], nullptr, 0));
    }
    std::fprintf(stderr, "usage: number_scan whole FROM TO | number_scan error COUNT\n");
    return 2;
}

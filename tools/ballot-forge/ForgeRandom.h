#pragma once
// A small deterministic random source: the same seed gives the same ballots on
// every machine (the standard distributions are not portable across libraries).
#include <cmath>
#include <cstdint>

namespace korvex::forge {

class TForgeRandom {
public:
    explicit TForgeRandom(std::uint64_t seed) : state_(seed) {}

    // splitmix64
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Uniform(double low, double high) { return low + (high - low) * Unit(); }
    // Uniform integer in [low, high].
    int Int(int low, int high) {
        return low + static_cast<int>(Next() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool Chance(double p) { return Unit() < p; }
    // Standard normal by Box-Muller.
    double Normal() {
        const double u1 = 1.0 - Unit(), u2 = Unit();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    std::uint64_t state_;
};

// An independent stream for item i of a run with the given seed.
inline std::uint64_t StreamSeed(std::uint64_t seed, std::uint64_t item) {
    TForgeRandom mix(seed ^ (item * 0xD1B54A32D192ED03ull + 0x632BE59BD9B4E019ull));
    return mix.Next();
}

}  // namespace korvex::forge

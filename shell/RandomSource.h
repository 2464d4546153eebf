#pragma once

#include <cstdint>
#include <random>

// A uniform source on [0, 1) that can be reseeded.
class RandomSource
{
public:
    virtual ~RandomSource() = default;

    virtual double next() = 0;
    // Folds a seed into the running state. A reseed never restarts the
    // sequence: two reseeds with the same value still give different draws,
    // so questions drawn within one second of the clock stay independent.
    virtual void reseed(double seed) = 0;
};

class MixingRandomSource final : public RandomSource
{
public:
    MixingRandomSource(); // seeded from the system's entropy source
    explicit MixingRandomSource(std::uint64_t seed);

    double next() override;
    void reseed(double seed) override;

private:
    std::mt19937_64 m_engine;
};

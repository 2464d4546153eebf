#include "shell/RandomSource.h"

#include <bit>

MixingRandomSource::MixingRandomSource()
    : m_engine(std::random_device{}() ^ (std::uint64_t(std::random_device{}()) << 32))
{
}

MixingRandomSource::MixingRandomSource(std::uint64_t seed)
    : m_engine(seed)
{
}

double MixingRandomSource::next()
{
    // 53 random bits: every double in [0, 1) on a grid of 2^-53.
    return double(m_engine() >> 11) * 0x1.0p-53;
}

void MixingRandomSource::reseed(double seed)
{
    // splitmix64 finaliser over the seed's bits, xor-ed with fresh output of
    // the running engine: the new state depends on both.
    std::uint64_t z = std::bit_cast<std::uint64_t>(seed) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    m_engine.seed(m_engine() ^ z);
}

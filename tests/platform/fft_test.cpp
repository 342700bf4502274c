// The real FFT against a direct DFT computed in double precision.
#include "platform/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

std::vector<float> noise(unsigned n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = d(rng);
    return x;
}

// Bin k of the unnormalised forward DFT, e^{-2 pi i k n / N}.
std::complex<double> dftBin(const std::vector<float>& x, unsigned k) {
    const double w = -2.0 * M_PI * k / x.size();
    if (k == 0) {
        double sum = 0;
        for (float v : x) sum += v;
        return sum;
    }
    std::complex<double> sum = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        // Reduce k*n modulo N first so the angle stays exact for large sizes.
        double phase = w / k * double((uint64_t(k) * n) % x.size());
        sum += double(x[n]) * std::complex<double>(std::cos(phase), std::sin(phase));
    }
    return sum;
}

}  // namespace

TEST(Fft, MatchesDirectDftOnSeveralSizes) {
    for (unsigned n : {2u, 8u, 64u, 1024u, 16384u}) {
        Fft fft;
        ASSERT_TRUE(fft.setup(n)) << n;
        EXPECT_EQ(fft.length(), n);
        std::vector<float> x = noise(n, n);
        fft.fft(x.data());
        // Error of a float FFT grows about with sqrt(N) log N; bins of unit
        // noise have magnitude about sqrt(N).
        const double tolerance = 1e-5 * std::sqrt(double(n)) * std::log2(double(n)) + 1e-5;
        // Every bin for small sizes, a spread of bins (ends included) for large.
        std::vector<unsigned> bins;
        for (unsigned k = 0; k < n / 2; k += n <= 1024 ? 1 : 97) bins.push_back(k);
        bins.push_back(n / 2);
        for (unsigned k : bins) {
            std::complex<double> want = dftBin(x, k);
            EXPECT_NEAR(fft.fdr(k), want.real(), tolerance) << "n " << n << " bin " << k;
            EXPECT_NEAR(fft.fdi(k), want.imag(), tolerance) << "n " << n << " bin " << k;
            EXPECT_EQ(fft.interleaved()[2 * k], fft.fdr(k));
            EXPECT_EQ(fft.interleaved()[2 * k + 1], fft.fdi(k));
        }
        // DC and Nyquist of a real signal are real.
        EXPECT_EQ(fft.fdi(0), 0.0f);
        EXPECT_EQ(fft.fdi(n / 2), 0.0f);
    }
}

TEST(Fft, InverseRoundTripIsScaledByLength) {
    for (unsigned n : {8u, 256u, 4096u}) {
        Fft fft(n);
        std::vector<float> x = noise(n, 7 + n), y(n, 99.0f), z(n, 99.0f);
        fft.fft(x.data());
        fft.ifft(y.data());
        // The bins survive an inverse: a second one gives the same result.
        fft.ifft(z.data());
        for (unsigned i = 0; i < n; ++i) {
            ASSERT_NEAR(y[i] / n, x[i], 1e-5) << "n " << n << " sample " << i;
            ASSERT_EQ(y[i], z[i]);
        }
    }
}

TEST(Fft, InverseOfSetBins) {
    const unsigned n = 64;
    Fft fft(n);
    for (unsigned k = 0; k <= n / 2; ++k) fft.setBin(k, 0, 0);
    fft.setBin(4, float(n) / 2, 0);  // cos(2 pi 4 i / n)
    fft.setBin(0, float(n), 0);      // plus 1 of DC
    std::vector<float> y(n);
    fft.ifft(y.data());
    for (unsigned i = 0; i < n; ++i) EXPECT_NEAR(y[i] / n, 1.0 + std::cos(2.0 * M_PI * 4 * i / n), 1e-5) << i;
    // Out-of-range bins are ignored and read as zero.
    fft.setBin(n, 5, 5);
    EXPECT_EQ(fft.fdr(n), 0.0f);
    EXPECT_EQ(fft.fdi(n / 2 + 1), 0.0f);
}

TEST(Fft, RefusesLengthsThatAreNotPowersOfTwo) {
    Fft fft;
    for (unsigned n : {0u, 1u, 3u, 6u, 1000u, 1025u, 3u << 20}) {
        EXPECT_FALSE(fft.setup(n)) << n;
        EXPECT_EQ(fft.length(), 0u);
        EXPECT_EQ(fft.interleaved(), nullptr);
    }
    // A refused setup leaves a usable object: calls do nothing.
    float in[4] = {1, 2, 3, 4};
    fft.fft(in);
    fft.ifft(in);
    EXPECT_EQ(in[0], 1.0f);
    // A good length after a refused one, and a refused one after a good one.
    EXPECT_TRUE(fft.setup(16));
    EXPECT_EQ(fft.length(), 16u);
    EXPECT_FALSE(fft.setup(17));
    EXPECT_EQ(fft.length(), 0u);
}

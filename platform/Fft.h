// Real FFT of a power-of-two length (single precision). Plans are made in
// setup(), off the audio thread; fft()/ifft() do not allocate.
#pragma once

#include <cstddef>

class Fft {
public:
    Fft() = default;
    explicit Fft(unsigned length) { setup(length); }
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // length must be a power of two >= 2; false otherwise.
    bool setup(unsigned length);
    void cleanup();
    unsigned length() const { return length_; }

    // Forward transform of `length` real samples. The result holds bins
    // 0..length/2: fdr(k) + i fdi(k); interleaved() gives re, im pairs.
    // Bins beyond length/2 read as 0; before setup() nothing is transformed.
    void fft(const float* input);
    float fdr(unsigned k) const;
    float fdi(unsigned k) const;
    const float* interleaved() const;

    // Inverse of the bins currently held (set with setBin or left by fft),
    // unnormalised like the forward transform: ifft(fft(x)) = length * x.
    void setBin(unsigned k, float re, float im);
    void ifft(float* output);

private:
    unsigned length_ = 0;
    float* real_ = nullptr;     // length samples
    float* complex_ = nullptr;  // (length / 2 + 1) re, im pairs
    float* scratch_ = nullptr;  // the inverse transform consumes its input: the bins stay in complex_
    void* forward_ = nullptr;
    void* inverse_ = nullptr;
};

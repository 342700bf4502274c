#include "platform/Fft.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>

namespace {
// FFTW's planner is not thread-safe; its execute functions are.
std::mutex gPlannerMutex;
}  // namespace

Fft::~Fft() { cleanup(); }

bool Fft::setup(unsigned length) {
    cleanup();
    if (length < 2 || (length & (length - 1)) != 0) return false;
    const size_t bins = length / 2 + 1;
    real_ = static_cast<float*>(fftwf_malloc(sizeof(float) * length));
    complex_ = static_cast<float*>(fftwf_malloc(sizeof(float) * 2 * bins));
    scratch_ = static_cast<float*>(fftwf_malloc(sizeof(float) * 2 * bins));
    if (real_ && complex_ && scratch_) {
        std::memset(real_, 0, sizeof(float) * length);
        std::memset(complex_, 0, sizeof(float) * 2 * bins);
        std::memset(scratch_, 0, sizeof(float) * 2 * bins);
        std::lock_guard<std::mutex> lock(gPlannerMutex);
        forward_ = fftwf_plan_dft_r2c_1d(int(length), real_, reinterpret_cast<fftwf_complex*>(complex_), FFTW_ESTIMATE);
        inverse_ = fftwf_plan_dft_c2r_1d(int(length), reinterpret_cast<fftwf_complex*>(scratch_), real_, FFTW_ESTIMATE);
    }
    if (!forward_ || !inverse_) {
        cleanup();
        return false;
    }
    length_ = length;
    return true;
}

void Fft::cleanup() {
    {
        std::lock_guard<std::mutex> lock(gPlannerMutex);
        if (forward_) fftwf_destroy_plan(static_cast<fftwf_plan>(forward_));
        if (inverse_) fftwf_destroy_plan(static_cast<fftwf_plan>(inverse_));
    }
    forward_ = inverse_ = nullptr;
    fftwf_free(real_);
    fftwf_free(complex_);
    fftwf_free(scratch_);
    real_ = complex_ = scratch_ = nullptr;
    length_ = 0;
}

void Fft::fft(const float* input) {
    if (!length_) return;
    std::memcpy(real_, input, sizeof(float) * length_);
    fftwf_execute(static_cast<fftwf_plan>(forward_));
}

float Fft::fdr(unsigned k) const { return k <= length_ / 2 && length_ ? complex_[2 * k] : 0.0f; }

float Fft::fdi(unsigned k) const { return k <= length_ / 2 && length_ ? complex_[2 * k + 1] : 0.0f; }

const float* Fft::interleaved() const { return complex_; }

void Fft::setBin(unsigned k, float re, float im) {
    if (!length_ || k > length_ / 2) return;
    complex_[2 * k] = re;
    complex_[2 * k + 1] = im;
}

void Fft::ifft(float* output) {
    if (!length_) return;
    std::memcpy(scratch_, complex_, sizeof(float) * 2 * (length_ / 2 + 1));
    fftwf_execute(static_cast<fftwf_plan>(inverse_));
    std::memcpy(output, real_, sizeof(float) * length_);
}

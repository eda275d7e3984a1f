#pragma once

#include <memory>
#include <span>
#include <vector>

struct AVTXContext;

/// FFmpeg's real-input discrete Fourier transform of one fixed, power-of-two size.
class RealFourierTransform {
public:
    /// Throws AppError when FFmpeg cannot make a transform of \a size samples.
    explicit RealFourierTransform(int size);
    ~RealFourierTransform();
    RealFourierTransform(const RealFourierTransform &) = delete;
    RealFourierTransform &operator=(const RealFourierTransform &) = delete;

    [[nodiscard]] int size() const { return m_size; }
    /// |X(k)|² for k = 0...size/2 of \a input (size samples, fewer are padded with zeros).
    void power(std::span<const float> input, std::vector<float> &power);

private:
    struct ContextDeleter {
        void operator()(AVTXContext *context) const;
    };
    struct BufferDeleter {
        void operator()(float *buffer) const;
    };

    int m_size;
    std::unique_ptr<AVTXContext, ContextDeleter> m_context;
    void (*m_transform)(AVTXContext *, void *, void *, std::ptrdiff_t) = nullptr;
    std::unique_ptr<float, BufferDeleter> m_input;
    std::unique_ptr<float, BufferDeleter> m_output; ///< size/2 + 1 complex values
};

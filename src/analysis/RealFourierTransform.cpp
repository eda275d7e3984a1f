#include "analysis/RealFourierTransform.h"

#include "base/AppError.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cstring>

void RealFourierTransform::ContextDeleter::operator()(AVTXContext *context) const
{
    av_tx_uninit(&context);
}

void RealFourierTransform::BufferDeleter::operator()(float *buffer) const
{
    av_free(buffer);
}

RealFourierTransform::RealFourierTransform(int size) : m_size(size)
{
    const float scale = 1.0f;
    AVTXContext *context = nullptr;
    av_tx_fn transform = nullptr;
    if (size < 2 || (size & (size - 1)) != 0
        || av_tx_init(&context, &transform, AV_TX_FLOAT_RDFT, 0, size, &scale, 0) < 0 || !context)
        throw AppError(QStringLiteral("The audio could not be analysed."));
    m_context.reset(context);
    m_transform = transform;
    m_input.reset(static_cast<float *>(av_malloc(sizeof(float) * std::size_t(size))));
    m_output.reset(static_cast<float *>(av_malloc(sizeof(float) * std::size_t(size + 2))));
    if (!m_input || !m_output)
        throw AppError(QStringLiteral("The audio could not be analysed."));
}

RealFourierTransform::~RealFourierTransform() = default;

void RealFourierTransform::power(std::span<const float> input, std::vector<float> &power)
{
    const auto count = std::min(input.size(), std::size_t(m_size));
    std::memcpy(m_input.get(), input.data(), count * sizeof(float));
    std::fill(m_input.get() + count, m_input.get() + m_size, 0.0f);
    m_transform(m_context.get(), m_output.get(), m_input.get(), sizeof(float) * 2);
    const auto bins = std::size_t(m_size / 2 + 1);
    power.resize(bins);
    const float *out = m_output.get();
    for (std::size_t k = 0; k < bins; ++k)
        power[k] = out[2 * k] * out[2 * k] + out[2 * k + 1] * out[2 * k + 1];
}

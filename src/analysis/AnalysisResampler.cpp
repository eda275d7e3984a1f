#include "analysis/AnalysisResampler.h"

#include "base/AppError.h"
#include "media/AudioBuffer.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>

AnalysisResampler::AnalysisResampler(double sourceRate)
{
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *context = nullptr;
    const auto inputRate = int(std::lround(sourceRate));
    if (!(sourceRate >= 1 && sourceRate <= 1e6)
        || swr_alloc_set_opts2(&context, &mono, AV_SAMPLE_FMT_FLT, int(rate), &mono, AV_SAMPLE_FMT_FLT, inputRate, 0,
                               nullptr)
            < 0
        || !context)
        throw AppError(QStringLiteral("The audio could not be analysed."));
    m_resampler.reset(context);
    // A short filter: the estimators read nothing near the new Nyquist frequency, and the
    // default one, stretched by the rate ratio, would cost more than the rest of the analysis.
    av_opt_set_int(context, "filter_size", 8, 0);
    if (swr_init(context) < 0)
        throw AppError(QStringLiteral("The audio could not be analysed."));
}

void AnalysisResampler::push(const AudioBuffer &buffer, std::size_t frames)
{
    const int channels = std::max(1, buffer.channelCount());
    m_mono.assign(frames, 0.0f);
    for (const auto &channel : buffer.channels) {
        for (std::size_t i = 0; i < frames && i < channel.size(); ++i)
            m_mono[i] += finiteSample(channel[i]);
    }
    for (auto &sample : m_mono)
        sample /= float(channels);
    convert(m_mono.data(), int(frames));
}

std::vector<float> AnalysisResampler::finish()
{
    convert(nullptr, 0);
    return std::move(m_output);
}

void AnalysisResampler::convert(const float *input, int count)
{
    const auto room = swr_get_out_samples(m_resampler.get(), count);
    if (room <= 0)
        return;
    const auto start = m_output.size();
    m_output.resize(start + std::size_t(room));
    auto *out = reinterpret_cast<uint8_t *>(m_output.data() + start);
    const auto *in = reinterpret_cast<const uint8_t *>(input);
    const int made = swr_convert(m_resampler.get(), &out, room, input ? &in : nullptr, count);
    if (made < 0)
        throw AppError(QStringLiteral("The audio could not be analysed."));
    m_output.resize(start + std::size_t(made));
}

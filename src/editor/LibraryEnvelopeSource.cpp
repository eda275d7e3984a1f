#include "editor/LibraryEnvelopeSource.h"

#include "analysis/WaveformService.h"
#include "base/AppError.h"
#include "base/Logging.h"
#include "editor/EnvelopeRequest.h"

#include <QPointer>

namespace {
class Request final : public EnvelopeRequest {
public:
    Request(WaveformService &waveforms, const QString &url) : m_waveforms(waveforms), m_url(url)
    {
        connect(&waveforms, &WaveformService::refined, this,
                [this](const QString &refinedURL, const QVector<float> &peaks, double) {
                    if (refinedURL == m_url && !m_done)
                        emit delivered(peaks, false);
                });
        // Started from the event loop: a remembered envelope must not arrive before load() returns.
        QMetaObject::invokeMethod(
            this, [this] { run(); }, Qt::QueuedConnection);
    }
    ~Request() override
    {
        if (!m_done)
            m_waveforms.cancel(m_url);
    }

private:
    QCoro::Task<> run()
    {
        QPointer<Request> self(this);
        QVector<float> peaks;
        try {
            auto reading = m_waveforms.peaks(m_url);
            peaks = co_await std::move(reading);
        } catch (const std::exception &error) {
            if (!self)
                co_return;
            logShownFailure(lcUi(), error);
            m_done = true;
            emit failed(errorText(error));
            co_return;
        }
        if (!self)
            co_return;
        m_done = true;
        emit delivered(peaks, true);
    }

    WaveformService &m_waveforms;
    QString m_url;
    bool m_done = false;
};
} // namespace

std::unique_ptr<EnvelopeRequest> LibraryEnvelopeSource::load(const QString &url, int)
{
    return std::make_unique<Request>(m_waveforms, url);
}

#pragma once

#include "editor/EnvelopeSource.h"

class WaveformService;

/// Envelopes from the library's waveform service: remembered in its cache, else decoded on every
/// core and delivered coarse while the parts come in. A request given up cancels the decoding.
class LibraryEnvelopeSource final : public EnvelopeSource {
public:
    /// \a waveforms outlives the source and its requests.
    explicit LibraryEnvelopeSource(WaveformService &waveforms) : m_waveforms(waveforms) {}

    /// \a count is the service's own: WaveformService::editorPeakCount.
    [[nodiscard]] std::unique_ptr<EnvelopeRequest> load(const QString &url, int count) override;

private:
    WaveformService &m_waveforms;
};

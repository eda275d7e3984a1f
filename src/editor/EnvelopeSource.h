#pragma once

#include <QString>
#include <memory>

class EnvelopeRequest;

/// Where the editor gets the peak envelopes of its takes from.
class EnvelopeSource {
public:
    virtual ~EnvelopeSource() = default;

    /// Starts reading the envelope of \a url in about \a count values without waiting; the job
    /// reports what it reads until it is destroyed.
    [[nodiscard]] virtual std::unique_ptr<EnvelopeRequest> load(const QString &url, int count) = 0;
};

#pragma once

#include "editor/EnvelopeSource.h"

#include <QVector>
#include <memory>

/// Envelopes decoded from the whole file on the thread pool. The last few are remembered by the
/// file's identity and content (device, inode, size and modification time), so a take opened
/// again, also under a new name, is not decoded again, and an edited one is.
class DecodedEnvelopeSource final : public EnvelopeSource {
public:
    /// How many envelopes are remembered.
    static constexpr int rememberedCount = 32;

    DecodedEnvelopeSource();
    ~DecodedEnvelopeSource() override;

    [[nodiscard]] std::unique_ptr<EnvelopeRequest> load(const QString &url, int count) override;

private:
    class Job;
    class Memory;

    std::shared_ptr<Memory> m_memory; ///< shared with the jobs, which may outlive the source
};

#pragma once

#include "platform/CaptureSource.h"
#include "platform/CaptureTarget.h"
#include "platform/PulseConnection.h"

/// A 16-bit record stream of an output's monitor or an input, with its own connection.
class PulseCaptureSource final : public CaptureSource {
public:
    /// Buffers are handed on in pieces of about this many microseconds.
    static constexpr pa_usec_t fragmentTime = 50000;

    /// Connects, finds the device \a target names (else the default) and waits until the
    /// stream runs. Throws SoundServerError.
    PulseCaptureSource(const QByteArray &server, const CaptureTarget &target, int sampleRate, int channelCount,
                       Handlers handlers);
    ~PulseCaptureSource() override;

    void flush() override;

private:
    static void onRead(pa_stream *stream, size_t bytes, void *self);
    static void onStateChange(pa_stream *stream, void *self);
    /// The source to record for \a target; throws SoundServerError when the device is missing.
    QByteArray deviceName(const CaptureTarget &target);
    void connectStream(const QByteArray &name);
    /// Ends the stream and stops the loop.
    void close();
    /// How long audio captured now takes to arrive: the stream's latency plus two fragments.
    pa_usec_t tailTime();
    /// Hands the frames gathered so far to the audio handler.
    void deliverPending();

    Handlers m_handlers;
    int m_channelCount;
    pa_sample_spec m_spec{};
    std::size_t m_fragmentSamples = 0;
    std::vector<std::int16_t> m_pending; ///< read but not yet handed on
    bool m_running = false;              ///< reached the ready state; a later end is a failure
    bool m_closing = false;
    PulseConnection m_connection;
    Pulse::Stream m_stream;
};

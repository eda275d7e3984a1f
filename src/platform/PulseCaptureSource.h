#pragma once

#include "platform/CaptureSource.h"
#include "platform/PulseConnection.h"
#include "platform/SoundServer.h"

/// A float record stream on the sound server, with its own connection.
class PulseCaptureSource final : public CaptureSource {
public:
    /// Connects, checks that the device's default exists and waits until the stream runs.
    /// Throws SoundServerError.
    PulseCaptureSource(const QByteArray &server, SoundServer::CaptureDevice device, int sampleRate, int channelCount,
                       Handlers handlers);
    ~PulseCaptureSource() override;

private:
    static void onRead(pa_stream *stream, size_t bytes, void *self);
    static void onStateChange(pa_stream *stream, void *self);
    void checkDefaultDevice(SoundServer::CaptureDevice device);
    void connectStream(SoundServer::CaptureDevice device);
    /// Ends the stream and stops the loop, after the audio still in transit has arrived.
    void close();
    /// How long audio captured now takes to arrive: the stream's latency plus two fragments.
    pa_usec_t tailTime();
    /// Hands the frames gathered so far to the audio handler.
    void deliverPending();

    Handlers m_handlers;
    int m_channelCount;
    pa_sample_spec m_spec{};
    std::int64_t m_fragmentFrames = 0;
    CaptureBuffer m_pending; ///< read but not yet handed on
    bool m_running = false;  ///< reached the ready state; a later end is a failure
    bool m_closing = false;
    PulseConnection m_connection;
    Pulse::Stream m_stream;
};

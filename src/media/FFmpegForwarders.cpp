// The libavformat and libavcodec functions this program calls, defined here in their own names:
// each loads its library on first use (FFmpegLibraries) and calls on into it. A function the
// program starts to call must be added here, or the link fails.

#include "media/FFmpegLibraries.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#define VESPERTONE_FORWARD(library, result, name, parameters, arguments)                                               \
    extern "C" result name parameters                                                                                  \
    {                                                                                                                  \
        static const auto target =                                                                                     \
            reinterpret_cast<decltype(&::name)>(FFmpegLibraries::symbol(FFmpegLibraries::Library::library, #name));    \
        return target arguments;                                                                                       \
    }

// clang-format off
VESPERTONE_FORWARD(format, int, av_find_best_stream,
                   (AVFormatContext *ic, enum AVMediaType type, int wanted_stream_nb, int related_stream,
                    const AVCodec **decoder_ret, int flags),
                   (ic, type, wanted_stream_nb, related_stream, decoder_ret, flags))
VESPERTONE_FORWARD(format, const AVInputFormat *, av_find_input_format, (const char *short_name), (short_name))
VESPERTONE_FORWARD(format, int, av_interleaved_write_frame, (AVFormatContext *s, AVPacket *pkt), (s, pkt))
VESPERTONE_FORWARD(format, int, av_read_frame, (AVFormatContext *s, AVPacket *pkt), (s, pkt))
VESPERTONE_FORWARD(format, int, av_seek_frame, (AVFormatContext *s, int stream_index, int64_t timestamp, int flags),
                   (s, stream_index, timestamp, flags))
VESPERTONE_FORWARD(format, int, av_write_frame, (AVFormatContext *s, AVPacket *pkt), (s, pkt))
VESPERTONE_FORWARD(format, int, av_write_trailer, (AVFormatContext *s), (s))
VESPERTONE_FORWARD(format, int, avformat_alloc_output_context2,
                   (AVFormatContext * *ctx, const AVOutputFormat *oformat, const char *format_name,
                    const char *filename),
                   (ctx, oformat, format_name, filename))
VESPERTONE_FORWARD(format, void, avformat_close_input, (AVFormatContext * *s), (s))
VESPERTONE_FORWARD(format, int, avformat_find_stream_info, (AVFormatContext *ic, AVDictionary **options),
                   (ic, options))
VESPERTONE_FORWARD(format, void, avformat_free_context, (AVFormatContext *s), (s))
VESPERTONE_FORWARD(format, AVStream *, avformat_new_stream, (AVFormatContext *s, const AVCodec *c), (s, c))
VESPERTONE_FORWARD(format, int, avformat_open_input,
                   (AVFormatContext * *ps, const char *url, const AVInputFormat *fmt, AVDictionary **options),
                   (ps, url, fmt, options))
VESPERTONE_FORWARD(format, int, avformat_write_header, (AVFormatContext *s, AVDictionary **options), (s, options))
VESPERTONE_FORWARD(format, int, avio_closep, (AVIOContext * *s), (s))
VESPERTONE_FORWARD(format, void, avio_flush, (AVIOContext *s), (s))
VESPERTONE_FORWARD(format, int, avio_open, (AVIOContext * *s, const char *url, int flags), (s, url, flags))
VESPERTONE_FORWARD(format, int64_t, avio_seek, (AVIOContext *s, int64_t offset, int whence), (s, offset, whence))
VESPERTONE_FORWARD(format, int64_t, avio_size, (AVIOContext *s), (s))
VESPERTONE_FORWARD(codec, int, av_get_bits_per_sample, (enum AVCodecID codec_id), (codec_id))
VESPERTONE_FORWARD(codec, int, av_new_packet, (AVPacket *pkt, int size), (pkt, size))
VESPERTONE_FORWARD(codec, AVPacket *, av_packet_alloc, (void), ())
VESPERTONE_FORWARD(codec, void, av_packet_free, (AVPacket * *pkt), (pkt))
VESPERTONE_FORWARD(codec, void, av_packet_move_ref, (AVPacket *dst, AVPacket *src), (dst, src))
VESPERTONE_FORWARD(codec, void, av_packet_rescale_ts, (AVPacket *pkt, AVRational tb_src, AVRational tb_dst),
                   (pkt, tb_src, tb_dst))
VESPERTONE_FORWARD(codec, void, av_packet_unref, (AVPacket *pkt), (pkt))
VESPERTONE_FORWARD(codec, AVCodecContext *, avcodec_alloc_context3, (const AVCodec *codec), (codec))
VESPERTONE_FORWARD(codec, const AVCodecDescriptor *, avcodec_descriptor_get, (enum AVCodecID id), (id))
VESPERTONE_FORWARD(codec, const AVCodec *, avcodec_find_decoder, (enum AVCodecID id), (id))
VESPERTONE_FORWARD(codec, const AVCodec *, avcodec_find_encoder_by_name, (const char *name), (name))
VESPERTONE_FORWARD(codec, void, avcodec_flush_buffers, (AVCodecContext *avctx), (avctx))
VESPERTONE_FORWARD(codec, void, avcodec_free_context, (AVCodecContext * *avctx), (avctx))
VESPERTONE_FORWARD(codec, const char *, avcodec_get_name, (enum AVCodecID id), (id))
VESPERTONE_FORWARD(codec, int, avcodec_open2, (AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options),
                   (avctx, codec, options))
VESPERTONE_FORWARD(codec, int, avcodec_parameters_copy, (AVCodecParameters *dst, const AVCodecParameters *src),
                   (dst, src))
VESPERTONE_FORWARD(codec, int, avcodec_parameters_from_context, (AVCodecParameters *par, const AVCodecContext *codec),
                   (par, codec))
VESPERTONE_FORWARD(codec, int, avcodec_parameters_to_context, (AVCodecContext *codec, const AVCodecParameters *par),
                   (codec, par))
VESPERTONE_FORWARD(codec, int, avcodec_receive_frame, (AVCodecContext *avctx, AVFrame *frame), (avctx, frame))
VESPERTONE_FORWARD(codec, int, avcodec_receive_packet, (AVCodecContext *avctx, AVPacket *avpkt), (avctx, avpkt))
VESPERTONE_FORWARD(codec, int, avcodec_send_frame, (AVCodecContext *avctx, const AVFrame *frame), (avctx, frame))
VESPERTONE_FORWARD(codec, int, avcodec_send_packet, (AVCodecContext *avctx, const AVPacket *avpkt), (avctx, avpkt))
// clang-format on

// ff_open_encoder: choose the container and the encoder, add the one audio
// stream, open the encoder and write the container header through the
// host's write and seek functions.
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "common/nested_open.h"
#include "common/open.h"
#include "common/report.h"
#include "encoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_open_encoder";

void report_sizes(const EncodeRec *avrec, int frame_size)
{
    char line[kTextSize];
    format_into(line,
                "sampleSize=%d, c->frame_size=%d, avrec->audio_input_frame_size=%d, "
                "audio_input_buffer_size=%d",
                avrec->sample_size, frame_size, avrec->audio_input_frame_size,
                avrec->audio_input_buffer_size);
    console_log("%s\n", line);
    report_message(avrec->callbacks, "%s", line);
}

// The stream and encoder of an output that declares MP3 and opens nothing;
// packets reach it through the stream-copy writer.
void declare_mp3(EncodeRec *avrec, AVCodecContext *c)
{
    c->codec_id = kDeclaredCodec;
    c->frame_size = kDeclaredFrameSize;
    set_default_layout(c->ch_layout, kDeclaredChannels);
    avrec->sample_size = kDeclaredSampleSize;
    avrec->audio_input_frame_size = kDeclaredFrameSize;
    avrec->audio_input_buffer_size =
        kDeclaredFrameSize * kDeclaredSampleSize * kDeclaredChannels;
    report_sizes(avrec, c->frame_size);
}

// Gives the encoder context the host's channel mask. The mask decides the
// channel count, so one that disagrees with `channels` is refused, as
// FFmpeg refused such a pair before channel layouts carried their count.
bool apply_channel_mask(const EncodeRec *avrec, AVCodecContext *c)
{
    AVChannelLayout layout{};
    if (av_channel_layout_from_mask(&layout, avrec->channel_layout) < 0)
        return false;
    if (layout.nb_channels != avrec->channels) {
        av_channel_layout_uninit(&layout);
        return false;
    }
    av_channel_layout_uninit(&c->ch_layout);
    c->ch_layout = layout;
    return true;
}

// The open from choosing the container to writing the header. Every object
// it creates is referenced from the record at once (output context, encoder
// context, I/O buffer, and the I/O context through the output context), so
// that release_output can undo a failure at any step.
const char *open_output(EncodeRec *avrec)
{
    const HostCallbacks *callbacks = avrec->callbacks;
    report_message(callbacks, "%s begin", kName);
    start_open(avrec);
    avrec->av_codec_context = nullptr;

    const AVOutputFormat *fmt =
        av_guess_format(avrec->codec_name, avrec->output_file_name, nullptr);
    if (!fmt) {
        console_log("%s(): codec_name=\"%s\", output_file_name=\"%s\"\n", kName,
                    text_or_null(avrec->codec_name),
                    text_or_null(avrec->output_file_name));
        return "av_guess_format failed";
    }
    report_message(callbacks, "%s found fmt %s", kName, fmt->name);
    if (const char *failure = refuse_file_writer(fmt, kName))
        return failure;

    AVFormatContext *fmt_ctx = avformat_alloc_context();
    if (!fmt_ctx)
        return "avformat_alloc_context failed2";
    avrec->av_format_context = fmt_ctx;
    fmt_ctx->oformat = fmt;
    fmt_ctx->url = av_strdup(avrec->output_file_name);

    // The container's default audio codec only tells whether it takes audio;
    // the record chooses the encoder.
    if (fmt->audio_codec == AV_CODEC_ID_NONE)
        return "audio_st = NULL";

    const AVCodec *encoder = nullptr;
    AVStream *stream = add_audio_stream(avrec, fmt_ctx, &encoder);
    if (!stream)
        return "audio_st = NULL";

    AVCodecContext *c = avrec->av_codec_context;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (const char *failure = open_audio(avrec, stream, encoder))
        return failure;

    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (avcodec_parameters_from_context(stream->codecpar, c) < 0) {
        report_error(callbacks, "Could not initialize stream parameters");
        return "Could not initialize stream parameters";
    }

    AVIOContext *pb = nullptr;
    if (const char *failure = host_output_context(avrec, &pb))
        return failure;
    // The output context holds the I/O context from here on; the library
    // never opens the output itself.
    fmt_ctx->pb = pb;

    if (apply_output_tags(avrec->tags, fmt_ctx, stream) < 0)
        return "the tags or chapters could not be set";
    if (const char *failure = write_header(fmt_ctx, kName))
        return failure;

    avrec->output_format = fmt;
    avrec->audio_st = stream;
    avrec->opened = 1;
    report_message(callbacks, "%s end", kName);
    return nullptr;
}

}  // namespace

const char *host_output_context(EncodeRec *avrec, AVIOContext **pb)
{
    avrec->io_buffer = static_cast<uint8_t *>(av_malloc(kOutputBufferAlloc));
    if (!avrec->io_buffer)
        return "av_malloc for buffer failed";
    // Without a seek function the I/O context is not seekable, and muxers
    // that would go back to fix their header know it.
    *pb = avio_alloc_context(avrec->io_buffer, kOutputBufferSize, 1, avrec->io_opaque,
                             avrec->read_packet, avio_write_fn(avrec->write_packet),
                             avrec->seek);
    return *pb ? nullptr : "avio_alloc_context failed";
}

const char *refuse_file_writer(const AVOutputFormat *fmt, const char *caller)
{
    if (!writes_other_files(fmt))
        return nullptr;
    return format_static("%s: the container \"%s\" writes files of its own besides the "
                         "host's output; refused",
                         caller, fmt->name);
}

const char *write_header(AVFormatContext *fmt_ctx, const char *caller)
{
    NestedRefusal refusal;
    refuse_nested_opens(fmt_ctx);
    fmt_ctx->opaque = &refusal;
    int ret = avformat_write_header(fmt_ctx, nullptr);
    fmt_ctx->opaque = nullptr;
    if (ret == 0 && fmt_ctx->pb && fmt_ctx->pb->error < 0)
        ret = fmt_ctx->pb->error;
    if (ret == 0)
        return nullptr;
    if (refusal.refused)
        return format_static("%s: the container \"%s\" asked to open \"%s\" as well; "
                             "refused",
                             caller, fmt_ctx->oformat->name, refusal.url);
    return format_static("avformat_write_header failed %d", ret);
}

void set_default_layout(AVChannelLayout &layout, int nb_channels)
{
    av_channel_layout_uninit(&layout);
    if (nb_channels > 0)
        av_channel_layout_default(&layout, nb_channels);
}

const AVCodec *find_encoder(EncodeRec *avrec)
{
    constexpr const char *kStep = "find_encoder";
    const HostCallbacks *callbacks = avrec->callbacks;
    report_message(callbacks, "%s begin, avrec->codec_name=%s, avrec->codec_id=%d",
                   kStep, text_or_null(avrec->codec_name), avrec->codec_id);

    if (avrec->codec_name) {
        if (const AVCodec *codec = avcodec_find_encoder_by_name(avrec->codec_name))
            return codec;
    }
    if (avrec->codec_id == 0) {
        report_error(callbacks, "avcodec_find_encoder_by_name failed");
        return nullptr;
    }
    report_message(callbacks, "%s before avcodec_find_encoder, avrec->codec_id=%d",
                   kStep, avrec->codec_id);
    const AVCodec *codec = encoder_for_id(avrec->codec_id);
    report_message(callbacks, "%s after avcodec_find_encoder, avrec->codec_id=%d",
                   kStep, avrec->codec_id);
    if (!codec)
        report_error(callbacks, "avcodec_find_encoder failed");
    return codec;
}

AVStream *add_audio_stream(EncodeRec *avrec, AVFormatContext *fmt_ctx,
                           const AVCodec **encoder)
{
    constexpr const char *kStep = "add_audio_stream";
    const HostCallbacks *callbacks = avrec->callbacks;
    report_message(callbacks, "%s begin", kStep);

    AVStream *stream = avformat_new_stream(fmt_ctx, nullptr);
    if (!stream) {
        report_error(callbacks, "av_new_stream failed");
        return nullptr;
    }
    const AVCodec *codec =
        avrec->encode ? find_encoder(avrec) : avcodec_find_encoder(kDeclaredCodec);
    if (!codec) {
        report_error(callbacks, "find_encoder failed");
        return nullptr;
    }

    AVCodecContext *c = avcodec_alloc_context3(codec);
    if (!c) {
        report_error(callbacks, "avcodec_alloc_context3 failed");
        return nullptr;
    }
    avrec->av_codec_context = c;
    const AVSampleFormat sample_fmt = sample_format(avrec->sample_fmt);
    c->codec_type = AVMEDIA_TYPE_AUDIO;
    c->sample_fmt = sample_fmt;
    c->sample_rate = avrec->sample_rate;
    c->bit_rate = avrec->bit_rate;
    set_default_layout(c->ch_layout, avrec->channels);

    // Filling the parameters from the opened encoder later replaces these
    // with the encoder's own values (its block_align included).
    AVCodecParameters *par = stream->codecpar;
    set_default_layout(par->ch_layout, avrec->channels);
    par->format = sample_fmt;
    par->bit_rate = avrec->bit_rate;
    par->sample_rate = avrec->sample_rate;
    if (avrec->block_align)
        par->block_align = avrec->block_align;

    // Containers that keep codec headers in their own header (MP4,
    // Matroska...) need them from the encoder as extradata.
    if (fmt_ctx->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        report_message(callbacks, "%s AV_CODEC_FLAG_GLOBAL_HEADER", kStep);
    } else {
        report_message(callbacks, "%s NOT CODEC_FLAG_GLOBAL_HEADER", kStep);
    }
    report_message(callbacks, "%s end, c->sample_fmt=%d, c->codec_id=%d", kStep,
                   (int)c->sample_fmt, (int)c->codec_id);
    *encoder = codec;
    return stream;
}

const char *open_audio(EncodeRec *avrec, AVStream *stream, const AVCodec *encoder)
{
    constexpr const char *kStep = "open_audio";
    const HostCallbacks *callbacks = avrec->callbacks;
    AVCodecContext *c = avrec->av_codec_context;
    report_message(callbacks, "%s begin", kStep);

    if (!avrec->encode) {
        declare_mp3(avrec, c);
        report_message(callbacks, "%s end", kStep);
        return nullptr;
    }

    // The encoder opened is the one find_encoder chose (add_audio_stream
    // found it), not FFmpeg's default encoder for the context's codec id: a
    // name such as "mp2fixed" or "opus" chooses an encoder other than the
    // default for its id, and avcodec_open2 refuses a context allocated for
    // another encoder. So no encoder is looked up, and none can be missing.
    const AVSampleFormat requested = sample_format(avrec->requested_sample_fmt);
    stream->codecpar->format = requested;
    avrec->planar = av_sample_fmt_is_planar(requested) ? 1 : 0;
    avrec->sample_fmt = avrec->requested_sample_fmt;
    report_message(callbacks, "%s codec->sample_fmt=%d, avrec->planar=%d", kStep,
                   (int)c->sample_fmt, avrec->planar);

    c->compression_level = avrec->compression_level;
    if (avrec->codec_bit_rate)
        c->bit_rate = avrec->codec_bit_rate;
    if ((avrec->channel_layout && !apply_channel_mask(avrec, c)) ||
        avcodec_open2(c, encoder, nullptr) < 0) {
        report_error(callbacks, "could not open codec");
        return "could not open codec";
    }

    avrec->sample_size = av_get_bytes_per_sample(requested);
    avrec->audio_input_frame_size = c->frame_size;
    avrec->audio_input_buffer_size =
        avrec->sample_size * c->frame_size * c->ch_layout.nb_channels;
    report_sizes(avrec, c->frame_size);
    report_message(callbacks, "%s end", kStep);
    return nullptr;
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API const char *ff_open_encoder(EncodeRec *avrec)
{
    return run_open(avrec, "ff_open_encoder: no record", open_output, release_output);
}

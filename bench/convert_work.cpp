#include "convert_work.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "flatav.h"

namespace {

// Every 13th byte: an odd stride reaches every byte position of a sample.
uint32_t fold(uint32_t sum, const uint8_t *data, int64_t size)
{
    for (int64_t i = 0; i < size; i += 13)
        sum = sum * 31 + data[i];
    return sum;
}

struct ResampleCase {
    const char *name;
    AVSampleFormat in_fmt;
    int in_rate;
    AVSampleFormat out_fmt;
    int out_rate;
};

const ResampleCase kResampleCases[] = {
    {"up_44k_48k", AV_SAMPLE_FMT_S16, 44100, AV_SAMPLE_FMT_S16, 48000},
    {"s16_to_flt", AV_SAMPLE_FMT_S16, 44100, AV_SAMPLE_FMT_FLT, 44100},
    {"down_48k_44k_flt_s16", AV_SAMPLE_FMT_FLT, 48000, AV_SAMPLE_FMT_S16, 44100},
};

const ResampleCase *find_resample(const std::string &name)
{
    for (const ResampleCase &c : kResampleCases)
        if (name == c.name)
            return &c;
    return nullptr;
}

struct FilterCase {
    const char *name;
    const char *args;
};

const FilterCase kFilterCases[] = {
    {"volume", "0.5"}, {"highpass", "f=200"}, {"loudnorm", nullptr}};

const FilterCase *find_filter(const std::string &name)
{
    for (const FilterCase &c : kFilterCases)
        if (name == c.name)
            return &c;
    return nullptr;
}

// Ten seconds of stereo: two tones and a little noise, in the given format.
std::vector<uint8_t> make_signal(AVSampleFormat format, int rate)
{
    const int frames = rate * 10;
    const int bytes = av_get_bytes_per_sample(format);
    std::vector<uint8_t> pcm(static_cast<size_t>(frames) * 2 * bytes);
    uint32_t noise = 12345;
    for (int i = 0; i < frames; i++) {
        for (int ch = 0; ch < 2; ch++) {
            noise = noise * 1664525u + 1013904223u;
            const double t = static_cast<double>(i) / rate;
            const double v = 0.4 * std::sin(2 * M_PI * (ch ? 660 : 440) * t) +
                             0.05 * ((noise >> 16) / 32768.0 - 1.0);
            uint8_t *at = pcm.data() + (static_cast<size_t>(i) * 2 + ch) * bytes;
            if (format == AV_SAMPLE_FMT_S16) {
                const int16_t s = static_cast<int16_t>(std::lrint(v * 32767));
                std::memcpy(at, &s, 2);
            } else {
                const float f = static_cast<float>(v);
                std::memcpy(at, &f, 4);
            }
        }
    }
    return pcm;
}

// Walks the looped signal block by block.
template <typename Push>
void for_each_block(const std::vector<uint8_t> &pcm, int frame_bytes, int rate,
                    const Stream &stream, Push push)
{
    const int64_t total = static_cast<int64_t>(stream.seconds * rate);
    const int64_t signal_frames = static_cast<int64_t>(pcm.size()) / frame_bytes;
    int64_t done = 0, at = 0;
    while (done < total) {
        int frames = static_cast<int>(std::min<int64_t>(stream.block_frames, total - done));
        if (at + frames > signal_frames)
            at = 0;
        push(pcm.data() + at * frame_bytes, frames * frame_bytes);
        at += frames;
        done += frames;
        if (stream.progress)
            stream.progress(static_cast<double>(done) / rate);
    }
}

}  // namespace

ConvertResult resample_with_flatav(const std::string &name, const Stream &stream)
{
    ConvertResult result;
    const ResampleCase *c = find_resample(name);
    if (!c)
        return result;
    ResampleRec rec{};
    rec.in_sample_fmt = c->in_fmt;
    rec.in_sample_rate = c->in_rate;
    rec.in_channels = 2;
    rec.in_channel_layout = AV_CH_LAYOUT_STEREO;
    rec.out_sample_fmt = c->out_fmt;
    rec.out_sample_rate = c->out_rate;
    rec.out_channels = 2;
    rec.out_channel_layout = AV_CH_LAYOUT_STEREO;
    rec.free_buffer = 1;
    if (ff_init_resample(&rec, nullptr, 0) != 0)
        return result;
    const std::vector<uint8_t> pcm = make_signal(c->in_fmt, c->in_rate);
    const int frame_bytes = av_get_bytes_per_sample(c->in_fmt) * 2;
    for_each_block(pcm, frame_bytes, c->in_rate, stream, [&](const uint8_t *in, int bytes) {
        const int32_t need = ff_buffer_size(&rec, bytes);
        if (ff_res_get_buffer(&rec, need) != 0)
            return;
        int32_t capacity = 0;
        const int32_t n = ff_resample(&rec, in, bytes, rec.buffer, &capacity, 0);
        result.bytes += n;
        result.checksum = fold(result.checksum, rec.buffer, n);
    });
    const int32_t out_frame = av_get_bytes_per_sample(c->out_fmt) * 2;
    ff_res_get_buffer(&rec, 4096 * out_frame);
    int32_t n;
    do {
        int32_t capacity = 4096;
        n = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
        result.bytes += n;
        result.checksum = fold(result.checksum, rec.buffer, n);
    } while (n > 0);
    ff_cleanup_resample(&rec);
    result.ok = true;
    return result;
}

// FFmpeg's resampling_audio.c loop: room for what the delay and the block
// give, grown when a block needs more.
ConvertResult resample_directly(const std::string &name, const Stream &stream)
{
    ConvertResult result;
    const ResampleCase *c = find_resample(name);
    if (!c)
        return result;
    SwrContext *swr = swr_alloc();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_opt_set_chlayout(swr, "in_chlayout", &stereo, 0);
    av_opt_set_int(swr, "in_sample_rate", c->in_rate, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt", c->in_fmt, 0);
    av_opt_set_chlayout(swr, "out_chlayout", &stereo, 0);
    av_opt_set_int(swr, "out_sample_rate", c->out_rate, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt", c->out_fmt, 0);
    if (swr_init(swr) < 0) {
        swr_free(&swr);
        return result;
    }
    const std::vector<uint8_t> pcm = make_signal(c->in_fmt, c->in_rate);
    const int in_frame = av_get_bytes_per_sample(c->in_fmt) * 2;
    const int out_frame = av_get_bytes_per_sample(c->out_fmt) * 2;
    uint8_t *out = nullptr;
    int room = 0;
    for_each_block(pcm, in_frame, c->in_rate, stream, [&](const uint8_t *in, int bytes) {
        const int frames = bytes / in_frame;
        const int count = static_cast<int>(av_rescale_rnd(
            swr_get_delay(swr, c->in_rate) + frames, c->out_rate, c->in_rate, AV_ROUND_UP));
        if (count > room) {
            av_free(out);
            out = static_cast<uint8_t *>(av_malloc(static_cast<size_t>(count) * out_frame));
            room = count;
        }
        const int n = swr_convert(swr, &out, count, &in, frames);
        if (n > 0) {
            result.bytes += static_cast<int64_t>(n) * out_frame;
            result.checksum = fold(result.checksum, out, static_cast<int64_t>(n) * out_frame);
        }
    });
    if (room < 4096) {
        av_free(out);
        out = static_cast<uint8_t *>(av_malloc(4096 * static_cast<size_t>(out_frame)));
    }
    int n;
    while ((n = swr_convert(swr, &out, 4096, nullptr, 0)) > 0) {
        result.bytes += static_cast<int64_t>(n) * out_frame;
        result.checksum = fold(result.checksum, out, static_cast<int64_t>(n) * out_frame);
    }
    av_free(out);
    swr_free(&swr);
    result.ok = true;
    return result;
}

namespace {

struct Collector {
    ConvertResult *result;
};

int32_t collect(void *user, const uint8_t *data, int32_t size)
{
    ConvertResult *r = static_cast<Collector *>(user)->result;
    r->bytes += size;
    r->checksum = fold(r->checksum, data, size);
    return 0;
}

}  // namespace

ConvertResult filter_with_flatav(const std::string &name, const Stream &stream)
{
    ConvertResult result;
    const FilterCase *c = find_filter(name);
    if (!c)
        return result;
    FilterRec rec{};
    rec.sample_fmt = AV_SAMPLE_FMT_S16;
    rec.channel_layout = AV_CH_LAYOUT_STEREO;
    rec.sample_rate = 44100;
    rec.channels = 2;
    if (setup_af(c->name, c->args, &rec) != 0)
        return result;
    const std::vector<uint8_t> pcm = make_signal(AV_SAMPLE_FMT_S16, 44100);
    Collector collector{&result};
    bool failed = false;
    for_each_block(pcm, 4, 44100, stream, [&](const uint8_t *in, int bytes) {
        if (run_af(&rec, in, bytes, &collector, collect) != FLATAV_ERROR_EAGAIN)
            failed = true;
    });
    result.ok = !failed && run_af(&rec, nullptr, 0, &collector, collect) == FLATAV_ERROR_EOF;
    FilterRec *handle = &rec;
    clean_af(&handle);
    return result;
}

// The same graph built and fed directly: buffer source, the filter, a
// format stage, buffer sink; each block wrapped in a reused frame.
ConvertResult filter_directly(const std::string &name, const Stream &stream)
{
    ConvertResult result;
    const FilterCase *c = find_filter(name);
    if (!c)
        return result;
    AVFilterGraph *graph = avfilter_graph_alloc();
    AVFilterContext *src = nullptr, *filter = nullptr, *format = nullptr, *sink = nullptr;
    int r = avfilter_graph_create_filter(
        &src, avfilter_get_by_name("abuffer"), "src",
        "time_base=1/44100:sample_rate=44100:sample_fmt=s16:channel_layout=0x3", nullptr,
        graph);
    if (r >= 0)
        r = avfilter_graph_create_filter(&filter, avfilter_get_by_name(c->name), c->name,
                                         c->args, nullptr, graph);
    if (r >= 0)
        r = avfilter_graph_create_filter(&format, avfilter_get_by_name("aformat"), "aformat",
                                         "sample_fmts=s16:sample_rates=44100:channel_layouts=0x3",
                                         nullptr, graph);
    if (r >= 0)
        r = avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "sink",
                                         nullptr, nullptr, graph);
    if (r >= 0)
        r = avfilter_link(src, 0, filter, 0);
    if (r >= 0)
        r = avfilter_link(filter, 0, format, 0);
    if (r >= 0)
        r = avfilter_link(format, 0, sink, 0);
    if (r >= 0)
        r = avfilter_graph_config(graph, nullptr);
    AVFrame *in = av_frame_alloc(), *out = av_frame_alloc();
    if (r < 0 || !in || !out) {
        av_frame_free(&in);
        av_frame_free(&out);
        avfilter_graph_free(&graph);
        return result;
    }

    const std::vector<uint8_t> pcm = make_signal(AV_SAMPLE_FMT_S16, 44100);
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int64_t pts = 0;
    auto pull = [&]() {
        int ret;
        while ((ret = av_buffersink_get_frame(sink, out)) >= 0) {
            const int bytes = out->nb_samples * 4;
            result.bytes += bytes;
            result.checksum = fold(result.checksum, out->data[0], bytes);
            av_frame_unref(out);
        }
        return ret;
    };
    bool failed = false;
    for_each_block(pcm, 4, 44100, stream, [&](const uint8_t *data, int bytes) {
        in->sample_rate = 44100;
        in->format = AV_SAMPLE_FMT_S16;
        av_channel_layout_copy(&in->ch_layout, &stereo);
        in->nb_samples = bytes / 4;
        in->pts = pts;
        pts += in->nb_samples;
        if (avcodec_fill_audio_frame(in, 2, AV_SAMPLE_FMT_S16, data, bytes, 1) < 0 ||
            av_buffersrc_add_frame(src, in) < 0) {
            failed = true;
            return;
        }
        av_frame_unref(in);
        if (pull() != AVERROR(EAGAIN))
            failed = true;
    });
    result.ok = !failed && av_buffersrc_add_frame(src, nullptr) >= 0 && pull() == AVERROR_EOF;
    av_frame_free(&in);
    av_frame_free(&out);
    avfilter_graph_free(&graph);
    return result;
}

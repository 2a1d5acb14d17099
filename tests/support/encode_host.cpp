#include "encode_host.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "media.h"

namespace flatav_test {

void MemoryOutput::attach(EncodeRec &rec)
{
    rec.io_opaque = this;
    rec.write_packet = write;
    rec.seek = seekable ? seek : nullptr;
}

int32_t MemoryOutput::write(void *opaque, uint8_t *buf, int32_t size)
{
    auto *self = static_cast<MemoryOutput *>(opaque);
    self->writes++;
    if (self->fail_after >= 0 && self->pos + size > self->fail_after)
        return self->fail_code;
    if (self->pos + size > (int64_t)self->bytes.size())
        self->bytes.resize(self->pos + size);
    std::memcpy(self->bytes.data() + self->pos, buf, size);
    self->pos += size;
    return size;
}

int64_t MemoryOutput::seek(void *opaque, int64_t offset, int32_t whence)
{
    auto *self = static_cast<MemoryOutput *>(opaque);
    self->seeks++;
    const int64_t size = (int64_t)self->bytes.size();
    if (whence == FLATAV_SEEK_SIZE)
        return size;
    int64_t target;
    switch (whence & ~0x20000) {  // AVSEEK_FORCE changes nothing in memory
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = self->pos + offset; break;
    case SEEK_END: target = size + offset; break;
    default: return -1;
    }
    if (target < 0)
        return -1;
    self->pos = target;
    return target;
}

ScratchFile::ScratchFile(const std::string &name)
    : path(testing::TempDir() + "flatav_" + std::to_string(getpid()) + "_" + name)
{
}

ScratchFile::~ScratchFile() { std::remove(path.c_str()); }

void ScratchFile::write(const std::vector<uint8_t> &bytes) const
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
}

namespace {

double channel_value(int channel, int64_t i, int rate)
{
    const double t = (double)i / rate;
    return channel == 0 ? 0.5 * std::sin(2 * M_PI * 440 * t)
                        : 0.4 * std::sin(2 * M_PI * 660 * t + 1);
}

template <typename T>
void put_sample(std::vector<uint8_t> &data, size_t index, T value)
{
    std::memcpy(data.data() + index * sizeof(T), &value, sizeof(T));
}

}  // namespace

Signal::Signal(Pcm f, int rate, int64_t n) : format(f), sample_rate(rate), samples(n)
{
    data.resize((size_t)(samples * 2 * bytes_per_sample()));
    for (int64_t i = 0; i < samples; i++) {
        for (int ch = 0; ch < 2; ch++) {
            const double x = channel_value(ch, i, rate);
            const size_t index = planar() ? (size_t)(ch * samples + i) : (size_t)(i * 2 + ch);
            switch (format) {
            case Pcm::s16:
            case Pcm::s16p:
                put_sample<int16_t>(data, index, (int16_t)std::lrint(x * 32767));
                break;
            case Pcm::s32_24bit:
            case Pcm::s32p_24bit:
                put_sample<int32_t>(data, index, (int32_t)std::lrint(x * 8388607) * 256);
                break;
            case Pcm::flt:
            case Pcm::fltp:
                put_sample<float>(data, index, (float)x);
                break;
            }
        }
    }
}

int Signal::sample_fmt() const
{
    switch (format) {
    case Pcm::s16: return 1;
    case Pcm::s32_24bit: return 2;
    case Pcm::flt: return 3;
    case Pcm::s16p: return 6;
    case Pcm::s32p_24bit: return 7;
    case Pcm::fltp: return 8;
    }
    return -1;
}

int Signal::bytes_per_sample() const
{
    return format == Pcm::s16 || format == Pcm::s16p ? 2 : 4;
}

bool Signal::planar() const
{
    return format == Pcm::s16p || format == Pcm::s32p_24bit || format == Pcm::fltp;
}

std::vector<uint8_t> Signal::interleaved() const
{
    if (!planar())
        return data;
    const int bps = bytes_per_sample();
    std::vector<uint8_t> out(data.size());
    for (int64_t i = 0; i < samples; i++)
        for (int ch = 0; ch < 2; ch++)
            std::memcpy(out.data() + (i * 2 + ch) * bps,
                        data.data() + (ch * samples + i) * bps, bps);
    return out;
}

const char *Signal::raw_format() const
{
    switch (format) {
    case Pcm::s16:
    case Pcm::s16p: return "s16le";
    case Pcm::s32_24bit:
    case Pcm::s32p_24bit: return "s32le";
    default: return "f32le";
    }
}

Output::Output(const char *name, const char *codec, int32_t codec_id, bool seekable)
    : file_name(name ? name : ""), codec_name(codec ? codec : ""), out(seekable)
{
    rec.output_file_name = name ? file_name.c_str() : nullptr;
    rec.codec_name = codec ? codec_name.c_str() : nullptr;
    rec.codec_id = codec_id;
    rec.encode = 1;
    rec.callbacks = &recorder.callbacks;
    out.attach(rec);
}

Output::~Output() { ff_cleanup_encoder(&rec); }

const char *Output::open(const Signal &signal, int channels)
{
    rec.sample_fmt = signal.sample_fmt();
    rec.requested_sample_fmt = signal.sample_fmt();
    rec.sample_rate = signal.sample_rate;
    rec.channels = channels;
    return ff_open_encoder(&rec);
}

bool Output::encode(const Signal &signal, int any_length_block)
{
    const int bps = signal.bytes_per_sample();
    const int64_t block =
        rec.audio_input_frame_size > 0 ? rec.audio_input_frame_size : any_length_block;
    uint8_t *data = const_cast<uint8_t *>(signal.bytes().data());
    for (int64_t start = 0; start < signal.samples; start += block) {
        const int64_t n = std::min(block, signal.samples - start);
        const int32_t bytes = (int32_t)(n * bps * 2);
        int32_t r;
        if (signal.planar()) {
            uint8_t *planes[2] = {data + start * bps, data + (signal.samples + start) * bps};
            r = ff_encode_audio2(&rec, planes[0], planes, bytes);
        } else {
            r = ff_encode_audio2(&rec, data + start * bps * 2, nullptr, bytes);
        }
        results.push_back(r);
        if (r < 0)
            return false;
    }
    const int32_t r = ff_encode_audio2(&rec, nullptr, nullptr, 0);
    results.push_back(r);
    return r == 0;
}

const std::string &Output::saved()
{
    if (!file) {
        std::string name = file_name;
        std::replace(name.begin(), name.end(), '/', '_');
        file = std::make_unique<ScratchFile>(name);
        file->write(out.bytes);
    }
    return file->path;
}

namespace {

std::string trimmed(const std::vector<uint8_t> &out)
{
    std::string text(out.begin(), out.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

std::string ffprobe_stream_field(const std::string &path, const std::string &field)
{
    int status = 0;
    std::string text = trimmed(run_capture(
        "ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
            " -of default=nw=1:nk=1 " + shell_quote(path),
        &status));
    return status == 0 ? text : "";
}

double ffprobe_duration(const std::string &path)
{
    std::string text = ffprobe_stream_field(path, "duration");
    if (text.empty() || text == "N/A") {
        int status = 0;
        text = trimmed(run_capture("ffprobe -v error -show_entries format=duration "
                                   "-of default=nw=1:nk=1 " + shell_quote(path),
                                   &status));
    }
    if (text.empty() || text == "N/A")
        return -1;
    return std::atof(text.c_str());
}

std::string packet_md5(const std::string &path)
{
    int status = 0;
    std::string text = trimmed(run_capture(
        "ffmpeg -nostdin -v error -i " + shell_quote(path) + " -map 0:a:0 -c copy -f md5 -",
        &status));
    EXPECT_EQ(status, 0) << path;
    EXPECT_EQ(text.rfind("MD5=", 0), 0u) << text;
    return text;
}

std::vector<std::vector<float>> deinterleave_f32(const std::vector<uint8_t> &pcm,
                                                 int channels)
{
    std::vector<std::vector<float>> out(channels);
    const size_t frames = pcm.size() / (4 * channels);
    for (auto &c : out)
        c.resize(frames);
    for (size_t i = 0; i < frames; i++)
        for (int ch = 0; ch < channels; ch++)
            std::memcpy(&out[ch][i], pcm.data() + (i * channels + ch) * 4, 4);
    return out;
}

double best_correlation(const std::vector<float> &a, const std::vector<float> &b,
                        int max_lag)
{
    // A window from the middle of a, slid over b around the same place.
    const size_t window = 8192;
    if (a.size() < window * 2 || b.size() < window * 2 + (size_t)max_lag)
        return 0;
    const size_t start = a.size() / 2 - window / 2;
    double best = 0;
    for (int lag = -max_lag; lag <= max_lag; lag++) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < window; i++) {
            const double x = a[start + i], y = b[start + i + lag];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

}  // namespace flatav_test

#include "encode_host.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "media.h"

namespace flatav_test {

void MemoryOutput::attach(EncodeRec &rec)
{
    rec.io_opaque = this;
    rec.write_packet = [](void *opaque, uint8_t *buf, int32_t size) -> int32_t {
        auto &self = *static_cast<MemoryOutput *>(opaque);
        if (self.fail_after >= 0 && self.pos + size > self.fail_after)
            return -5;  // EIO
        if (self.pos + size > (int64_t)self.bytes.size())
            self.bytes.resize(self.pos + size);
        std::memcpy(self.bytes.data() + self.pos, buf, size);
        self.pos += size;
        return size;
    };
    rec.seek = [](void *opaque, int64_t offset, int32_t whence) -> int64_t {
        auto &self = *static_cast<MemoryOutput *>(opaque);
        self.seeks++;
        const int64_t size = (int64_t)self.bytes.size();
        if (whence == FLATAV_SEEK_SIZE)
            return size;
        whence &= ~0x20000;  // AVSEEK_FORCE changes nothing in memory
        const int64_t target = whence == SEEK_SET   ? offset
                               : whence == SEEK_CUR ? self.pos + offset
                               : whence == SEEK_END ? size + offset
                                                    : -1;
        return target < 0 ? -1 : (self.pos = target);
    };
    if (!seekable)
        rec.seek = nullptr;
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

Signal::Signal(AVSampleFormat f, int rate, int64_t n) : format(f), sample_rate(rate), samples(n)
{
    const int bps = bytes_per_sample();
    const AVSampleFormat packed = av_get_packed_sample_fmt(f);
    data.resize((size_t)(samples * 2 * bps));
    for (int64_t i = 0; i < samples; i++) {
        for (int ch = 0; ch < 2; ch++) {
            const double t = (double)i / rate;
            const double x = ch == 0 ? 0.5 * std::sin(2 * M_PI * 440 * t)
                                     : 0.4 * std::sin(2 * M_PI * 660 * t + 1);
            const int16_t s16 = (int16_t)std::lrint(x * 32767);
            const int32_t s32 = (int32_t)std::lrint(x * 8388607) * 256;
            const float flt = (float)x;
            const void *value = packed == AV_SAMPLE_FMT_S16 ? (const void *)&s16
                                : packed == AV_SAMPLE_FMT_S32 ? (const void *)&s32
                                                              : &flt;
            const int64_t index = planar() ? ch * samples + i : i * 2 + ch;
            std::memcpy(data.data() + index * bps, value, bps);
        }
    }
}

std::vector<uint8_t> Signal::interleaved() const
{
    return Signal(av_get_packed_sample_fmt(format), sample_rate, samples).data;
}

const char *Signal::raw_format() const
{
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16: return "s16le";
    case AV_SAMPLE_FMT_S32: return "s32le";
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

const char *Output::open(const Signal &signal, int channels, AVSampleFormat requested)
{
    rec.sample_fmt = signal.format;
    rec.requested_sample_fmt = requested == AV_SAMPLE_FMT_NONE ? signal.format : requested;
    rec.sample_rate = signal.sample_rate;
    rec.channels = channels;
    return ff_open_encoder(&rec);
}

bool Output::encode(const Signal &signal)
{
    const int bps = signal.bytes_per_sample();
    const int64_t block = rec.audio_input_frame_size > 0 ? rec.audio_input_frame_size : 1000;
    uint8_t *data = const_cast<uint8_t *>(signal.data.data());
    std::vector<uint8_t> planes_in_one;
    for (int64_t start = 0; start < signal.samples; start += block) {
        const int64_t n = std::min(block, signal.samples - start);
        uint8_t *planes[2] = {data + start * bps, data + (signal.samples + start) * bps};
        uint8_t *buf = signal.planar() ? planes[0] : data + start * bps * 2;
        if (signal.planar() && !rec.planar) {
            planes_in_one.assign(planes[0], planes[0] + n * bps);
            planes_in_one.insert(planes_in_one.end(), planes[1], planes[1] + n * bps);
            buf = planes_in_one.data();
        }
        results.push_back(ff_encode_audio2(&rec, buf, rec.planar ? planes : nullptr,
                                           (int32_t)(n * bps * 2)));
        if (results.back() < 0)
            return false;
    }
    results.push_back(ff_encode_audio2(&rec, nullptr, nullptr, 0));
    return results.back() == 0;
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

std::string run_text(const std::string &command, int *status)
{
    const std::vector<uint8_t> out = run_capture(command, status);
    return std::string(out.begin(), out.end());
}

std::string ffprobe(const std::string &path, const std::string &entries)
{
    int status = 0;
    std::string text = run_text("ffprobe -v error -select_streams a:0 -show_entries " +
                                    entries + " -of default=nw=1:nk=1 " + shell_quote(path),
                                &status);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return status == 0 ? text : "";
}

}  // namespace flatav_test

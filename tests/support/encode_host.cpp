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
        self.bytes.resize(std::max<size_t>(self.bytes.size(), self.pos + size));
        std::memcpy(self.bytes.data() + self.pos, buf, size);
        self.pos += size;
        return size;
    };
    // AVSEEK_FORCE (0x20000) changes nothing in memory.
    rec.seek = [](void *opaque, int64_t offset, int32_t whence) -> int64_t {
        auto &self = *static_cast<MemoryOutput *>(opaque);
        const int64_t size = (int64_t)self.bytes.size(), base[] = {0, self.pos, size};
        whence = whence == FLATAV_SEEK_SIZE ? whence : whence & ~0x20000;
        if (whence == FLATAV_SEEK_SIZE || whence < 0 || whence > SEEK_END)
            return whence == FLATAV_SEEK_SIZE ? size : -1;
        return base[whence] + offset < 0 ? -1 : (self.pos = base[whence] + offset);
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
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
}

Signal::Signal(AVSampleFormat f, int rate, int64_t n) : format(f), sample_rate(rate), samples(n)
{
    const int bps = bytes_per_sample();
    const bool s32 = f == AV_SAMPLE_FMT_S32 || f == AV_SAMPLE_FMT_S32P;
    data.resize((size_t)(samples * 2 * bps));
    for (int64_t i = 0; i < samples * 2; i++) {
        const int ch = i % 2;
        const double t = (double)(i / 2) / rate,
                     x = ch ? 0.4 * std::sin(2 * M_PI * 660 * t + 1) : 0.5 * std::sin(2 * M_PI * 440 * t);
        const int16_t s16 = (int16_t)std::lrint(x * 32767);
        const int32_t s32_value = (int32_t)std::lrint(x * 8388607) * 256;
        const float flt = (float)x;
        const void *value = bps == 2 ? (const void *)&s16 : s32 ? (const void *)&s32_value : &flt;
        std::memcpy(data.data() + (planar() ? ch * samples + i / 2 : i) * bps, value, bps);
    }
}

std::vector<uint8_t> Signal::interleaved() const
{
    return Signal(av_get_packed_sample_fmt(format), sample_rate, samples).data;
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
    for (int64_t start = 0; start < signal.samples; start += block) {
        const int64_t n = std::min(block, signal.samples - start);
        uint8_t *planes[2] = {data + start * bps, data + (signal.samples + start) * bps};
        results.push_back(ff_encode_audio2(&rec, signal.planar() ? planes[0] : data + start * bps * 2,
                                           signal.planar() ? planes : nullptr, (int32_t)(n * bps * 2)));
        if (results.back() < 0)
            return false;
    }
    results.push_back(ff_encode_audio2(&rec, nullptr, nullptr, 0));
    return results.back() == 0;
}

const std::string &Output::saved()
{
    if (!file) {
        file = std::make_unique<ScratchFile>(file_name);
        file->write(out.bytes);
    }
    return file->path;
}

std::string run_text(const std::string &command, int *status)
{
    const std::vector<uint8_t> out = run_capture(command, status);
    return std::string(out.begin(), out.end());
}

}  // namespace flatav_test

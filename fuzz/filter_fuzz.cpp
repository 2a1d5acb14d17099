// setup_af, run_af and clean_af with arbitrary filter names, argument texts,
// record formats and PCM blocks.
//
// Input: 8 option bytes, the filter name and arguments as zero-ended texts,
// then the blocks.
//   0: filter: below 0xf0 an FFmpeg audio filter (index % count), else the
//      name text is used as it is
//   1: sample_fmt - 1 (AV_SAMPLE_FMT_NONE to one past the last)
//   2: layout: bits 0-4 pick a mask (a standard layout, 0, or bits of
//      byte 3), bit 5 channels disagree with the mask (byte 3 % 9), bit 6 no
//      arguments (null), bit 7 set up a second time on the same record
//   3: mask bits / channel count
//   4-5: sample rate: below 32 a common rate, else the value
//   6-7: block size in bytes; a block size of 0 ends the stream early
//   then: name text (only read for bytes 0 >= 0xf0), argument text, PCM
//
// Bounds on the work per input: at most kMaxPcmBytes of PCM are pushed, the
// rate is at most 192 kHz, and an input whose filter changes the rate so
// that the format stage would blow a block up more than kMaxRateRatio times
// (asetrate=1 at 192 kHz makes 192000 samples of every sample) is set up
// and torn down but not run: that amount of work is the filter's and
// FFmpeg's, not the library's. Filters that read or write files, load
// plugins, open sockets or never end their output are left out below, as
// are FFmpeg's own faults, each with the command that shows it, and rates
// a filter cannot run at.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/channel_layout.h>
#include <libavutil/common.h>
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "fuzz_host.h"

using namespace flatav_fuzz;

namespace {

constexpr size_t kMaxPcmBytes = 256 * 1024;
constexpr int kMaxBlocks = 64;
constexpr int64_t kMaxRateRatio = 8;

// Filters a fuzzed argument text must not reach.
const char *const kExcluded[] = {
    "amovie", "movie",            // open any file or URL named in their arguments
    "asendcmd", "sendcmd",        // read a command file
    "azmq", "zmq",                // bind a network socket
    "ametadata", "metadata",      // "file" writes a file
    "firequalizer",               // "dumpfile" writes a file
    "ladspa", "lv2",              // load a plugin named in their arguments
    "sofalizer", "arnndn", "asr", // load a model or data file
    "flite",                      // reads "textfile"
    "apad",                       // pads for ever by default: the drain never ends
    "aloop",                      // loop=-1 repeats for ever
    // FFmpeg 5.1's dynaudnorm reads a whole frame length (f= ms) out of a
    // shorter last frame when the stream ends: a heap over-read inside the
    // filter, shown by the ffmpeg tool alone under ASan
    // (ffmpeg -f s16le -ar 44100 -ac 2 -i 1062-samples.pcm
    //  -af dynaudnorm=f=100 -f null -).
    "dynaudnorm",
    // More of FFmpeg 5.1's filters that go wrong on a stream of a sample or
    // a few, each shown by the ffmpeg tool alone under valgrind
    // (printf '\1\0\2\0' > 1.pcm;
    //  valgrind ffmpeg -f s16le -ar 44100 -ac 2 -i 1.pcm -af NAME -f null -):
    // anlmdn writes past the end of a buffer of its own, which corrupts the
    // heap (ASan cannot see the write, only the damage much later);
    // apsyclip and dialoguenhance use uninitialised values and, given a
    // planar float frame of one sample as it is, read past its end; vibrato
    // uses uninitialised values of its delay line.
    "anlmdn",
    "apsyclip",
    "dialoguenhance",
    "vibrato",
    // speechnorm never returns from the drain once a NaN sample came in
    // (ffmpeg -f f64le -ar 48000 -ac 2 -i with-one-nan.pcm -af speechnorm
    //  -f null - spins until killed).
    "speechnorm",
};

bool excluded(const char *name)
{
    for (const char *x : kExcluded)
        if (std::strcmp(name, x) == 0)
            return true;
    return false;
}

// Filters that FFmpeg 5.1 (or the library behind one) cannot run below a
// sample rate, with the lowest rate they take. Each is shown by the ffmpeg
// tool alone on 2048 samples of noise
// (ffmpeg -f s16le -ar RATE -ac 1 -i noise.pcm -af FILTER -f null -):
// - atempo's window is rate / 24 samples: at a window of 0 it fails an
//   assertion and aborts (rate 23), at a window of 1 it never returns
//   (rates 24 to 47);
// - stereotools divides by zero below 10 Hz, mono or stereo;
// - rubberband never returns below 71 Hz, and with pitch=2 or pitch=4
//   divides by zero at 1 to 4 kHz; pitches from 0.1 to 100 run at 8 kHz.
struct RateFloor {
    const char *name;
    int32_t lowest_rate;
};
const RateFloor kRateFloors[] = {{"atempo", 48}, {"stereotools", 10}, {"rubberband", 8000}};

bool below_rate_floor(const char *name, int32_t sample_rate)
{
    for (const RateFloor &f : kRateFloors)
        if (std::strcmp(name, f.name) == 0 && sample_rate < f.lowest_rate)
            return true;
    return false;
}

bool carries_audio(const AVFilter *f, int is_output, unsigned dynamic_flag)
{
    if (f->flags & dynamic_flag)
        return true;
    if (avfilter_filter_pad_count(f, is_output) != 1)
        return false;
    const AVFilterPad *pads = is_output ? f->outputs : f->inputs;
    return avfilter_pad_get_type(pads, 0) == AVMEDIA_TYPE_AUDIO;
}

const std::vector<const char *> &audio_filters()
{
    static const std::vector<const char *> names = [] {
        std::vector<const char *> v;
        void *it = nullptr;
        while (const AVFilter *f = av_filter_iterate(&it)) {
            if (!excluded(f->name) && carries_audio(f, 0, AVFILTER_FLAG_DYNAMIC_INPUTS) &&
                carries_audio(f, 1, AVFILTER_FLAG_DYNAMIC_OUTPUTS))
                v.push_back(f->name);
        }
        return v;
    }();
    return names;
}

const uint64_t kMasks[] = {
    AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,  AV_CH_LAYOUT_2POINT1,
    AV_CH_LAYOUT_SURROUND, AV_CH_LAYOUT_QUAD,   AV_CH_LAYOUT_5POINT0,
    AV_CH_LAYOUT_5POINT1, AV_CH_LAYOUT_7POINT1, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_HEXAGONAL, AV_CH_LAYOUT_STEREO_DOWNMIX,
    AV_CH_LOW_FREQUENCY,  AV_CH_BACK_CENTER,    0,
};
constexpr int kNbMasks = sizeof kMasks / sizeof kMasks[0];

const int32_t kRates[32] = {44100, 48000, 8000,  11025, 16000, 22050, 32000, 88200,
                            96000, 192000, 1,    2,     100,   7350,  64000, 176400,
                            0,     -1,     3,    44099, 12000, 24000, 37800, 47250,
                            50000, 50400,  5000, 1000,  400,   99,    4000,  128000};

int32_t write_pcm(void *, const uint8_t *data, int32_t size)
{
    touch(data, size);
    return 0;
}

// The most samples the format stage can make of one input sample: the
// filter's output rate against the record's.
bool bounded_rate_change(const FilterRec &rec)
{
    const AVFilterContext *f = rec.user_filter;
    if (!f || f->nb_outputs < 1 || !f->outputs[0])
        return true;
    const int64_t out_rate = f->outputs[0]->sample_rate;
    return out_rate > 0 && (int64_t)rec.sample_rate <= kMaxRateRatio * out_rate;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    init_target();
    audio_filters();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in(data, size);
    const uint8_t pick = in.u8();
    FilterRec rec{};
    rec.sample_fmt = (int32_t)(in.u8() % (AV_SAMPLE_FMT_NB + 2)) - 1;
    const uint8_t layout = in.u8();
    const uint8_t bits = in.u8();
    const uint64_t mask = (layout & 0x1f) < kNbMasks ? kMasks[layout & 0x1f]
                                                      : (uint64_t)bits << (layout & 0x1f);
    rec.channel_layout = mask;
    rec.channels = (layout & 0x20) ? bits % 9 : av_popcount64(mask);
    const uint16_t rate = in.u16();
    rec.sample_rate = rate < 32 ? kRates[rate] : std::min<int32_t>(rate * 3, 192000);
    const size_t block = in.u16();

    const std::vector<const char *> &filters = audio_filters();
    std::string name;
    if (pick < 0xf0 && !filters.empty()) {
        name = filters[pick % filters.size()];
    } else {
        name = in.text(32);
        if (excluded(name.c_str()))
            return 0;
    }
    if (below_rate_floor(name.c_str(), rec.sample_rate))
        return 0;
    const std::string args = in.text(160);
    const char *args_ptr = (layout & 0x40) ? nullptr : args.c_str();

    int r = setup_af(name.c_str(), args_ptr, &rec);
    if (r == 0 && (layout & 0x80))
        r = setup_af(name.c_str(), args_ptr, &rec);
    if (r != 0 || !bounded_rate_change(rec)) {
        FilterRec *p = &rec;
        clean_af(&p);
        clean_af(&p);
        return 0;
    }

    size_t pushed = 0;
    for (int i = 0; i < kMaxBlocks && in.left() > 0 && pushed < kMaxPcmBytes; i++) {
        size_t got = 0;
        const uint8_t *pcm = in.take(std::min(block, kMaxPcmBytes - pushed), &got);
        // The library reads exactly this block: a copy of its own size lets
        // ASan see a read past it.
        std::vector<uint8_t> copy(pcm, pcm + got);
        pushed += got;
        r = run_af(&rec, copy.empty() ? nullptr : copy.data(), (int32_t)copy.size(),
                   nullptr, write_pcm);
        if (r != FLATAV_ERROR_EAGAIN && r != (int)FLATAV_ERROR_EOF)
            break;
    }
    // The end of the stream drains the graph (a record torn down by a
    // refused push answers with an error and nothing else).
    run_af(&rec, nullptr, 0, nullptr, write_pcm);
    FilterRec *p = &rec;
    clean_af(&p);
    clean_af(&p);
    return 0;
}

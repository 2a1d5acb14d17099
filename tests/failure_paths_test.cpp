// Two tables over every export: calls that go wrong (null and zero-filled
// records, calls out of order, names nothing answers to, damaged input) and
// the texts the header calls stable (error texts, trace checkpoints, FFmpeg's
// log bridge). A row makes its calls on a fresh host and gives back what they
// returned, as text; the table holds what the header documents: that result,
// the host's error texts, the console's output. In the patterns '*' stands
// for any run of characters and the console's time stamps read "[T] ". The
// host releases every record twice at the end of its row.
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <list>
#include <optional>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "console.h"
#include "convert_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

// The elements of a braced list are evaluated in order, as J{...} needs;
// GCC warns of fields they change all the same.
#pragma GCC diagnostic ignored "-Wsequence-point"

namespace {

// A value as the tables write it: texts as they are (NULL), other pointers
// set or NULL, numbers in decimal, lines joined by newlines.
struct T : std::string {
    T(const char *text) : std::string(text ? text : "NULL") {}
    T(char *text) : T((const char *)text) {}
    T(const std::string &text) : std::string(text) {}
    template <typename N, std::enable_if_t<std::is_arithmetic_v<N> || std::is_enum_v<N>, int> = 0>
    T(N value) : std::string(std::to_string((int64_t)value)) {}
    template <typename P>
    T(P *pointer) : std::string(pointer ? "set" : "NULL") {}
    T(const std::vector<std::string> &lines)
    {
        for (const std::string &line : lines)
            *this += (empty() ? "" : "\n") + line;
    }
};

// Values taken from left to right and joined by " | ".
struct J : std::string {
    J(std::initializer_list<T> values)
    {
        for (const T &value : values)
            *this += (&value == values.begin() ? "" : " | ") + value;
    }
};

bool matches(const char *pattern, const char *text)
{
    if (*pattern == '*')
        return matches(pattern + 1, text) || (*text && matches(pattern, text + 1));
    return *pattern ? *pattern == *text && matches(pattern + 1, text + 1) : !*text;
}

constexpr int32_t S16 = FLATAV_SAMPLE_FMT_S16, FLTP = FLATAV_SAMPLE_FMT_FLTP;
int32_t write_nothing(void *, const uint8_t *, int32_t) { return 0; }
int32_t read_nothing(void *, uint8_t *, int32_t) { return 0; }
int32_t read_zeros(void *, uint8_t *dst, int32_t max) { return std::memset(dst, 0, max), max; }
uint8_t g_bytes[65536];  // larger than any block a row passes or receives
uint8_t *g_planes[2] = {g_bytes, g_bytes + 1152}, *g_one_plane[2] = {g_bytes, nullptr};
const double kIdentity[] = {1, 0, 0, 1};
int seek_to(DecodeRec &rec, double seconds) { return rec.position = seconds, ff_seek4(&rec); }
int say(int level, const char *text) { return av_log(nullptr, level, "%s\n", text), 0; }

// A row's host: a callback table that keeps what it hears, an AudioBuffer
// that grows on request, and records of each kind: zero-filled (dec(),
// enc(), buf), 16-bit stereo at 32 kHz to 48 kHz (res), 16-bit stereo at
// 44.1 kHz (filter).
struct Host : Recorder {
    ~Host()
    {
        for (int twice = 0; twice < 2; twice++) {
            for (EncodeRec &rec : encoders)
                ff_cleanup_encoder(&rec);
            for (OpenedSource &src : sources)
                ff_cleanup_decoder(&src.rec);
            ff_cleanup_resample(&res);
            clean_af(&graph);
            ff_decoder_cleanup(&buf);
            mem_clean(&mem);
        }
        ff_free(res.buffer);
        for (AVPacket *pkt : packets)
            ff_pkt_free(pkt);
    }
    // A source opened by name, stream 0 selected (streamcopy: with its data).
    DecodeRec &src(const std::string &name, bool streamcopy = false)
    {
        DecodeRec &rec = sources.emplace_back(media_path(name)).rec;
        rec.callbacks = &callbacks;
        rec.streamcopy = streamcopy ? reinterpret_cast<StreamCopy *>(&rec) : nullptr;
        opened = ff_decoder_open(&rec);
        rec.audio_stream_index = 0;
        return rec;
    }
    int32_t to_abuf(DecodeRec &rec) { return ff_decode_audio(&rec, 0, 0, abuf.get(), 0, 0); }
    int32_t to_buf(DecodeRec &rec, uint8_t *b) { return ff_decode_audio(&rec, b, 0, 0, 65536, 0); }
    AVPacket *pkt() { return packets.emplace_back(ff_pkt_new()); }
    // An encoder record, stereo at 44.1 kHz, whose bytes are counted.
    EncodeRec &encoder(const char *file, const char *codec, int32_t id = 0, int32_t fmt = S16)
    {
        EncodeRec &rec = encoders.emplace_back();
        rec.output_file_name = file;
        rec.codec_name = codec;
        rec.codec_id = id;
        rec.encode = 1;
        rec.sample_fmt = rec.requested_sample_fmt = fmt;
        rec.channels = 2;
        rec.sample_rate = 44100;
        rec.callbacks = &callbacks;
        rec.io_opaque = this;
        rec.write_packet = [](void *opaque, uint8_t *, int32_t size) {
            Host &h = *static_cast<Host *>(opaque);
            if (h.refuse_after >= 0 && h.written + size > h.refuse_after)
                return -5;  // EIO
            h.written += size;
            return size;
        };
        return rec;
    }
    // Zero-filled records, made on first use.
    DecodeRec &dec() { return dec_ ? *dec_ : *(dec_ = &(sources.emplace_back("").rec = {})); }
    EncodeRec &enc() { return enc_ ? *enc_ : *(enc_ = &encoders.emplace_back()); }

    std::list<OpenedSource> sources;
    std::list<EncodeRec> encoders;
    std::vector<AVPacket *> packets;
    DecodeRec *dec_ = nullptr;
    EncodeRec *enc_ = nullptr;
    const char *opened = nullptr;
    int64_t written = 0, refuse_after = -1;  // the write function's bytes, and its limit
    HostBuffer abuf;
    ResampleRec res = [] {
        ResampleRec rec{};
        rec.in_sample_fmt = rec.out_sample_fmt = S16;
        rec.in_sample_rate = 32000;
        rec.out_sample_rate = 48000;
        rec.in_channels = rec.out_channels = 2;
        rec.in_channel_layout = rec.out_channel_layout = AV_CH_LAYOUT_STEREO;
        return rec;
    }();
    FilterRec filter = stereo_filter(S16);
    FilterRec *graph = &filter;
    BufferDecodeRec buf{};
    MemDecodeRec *mem = nullptr;
    int32_t room = 0;
};

// Rows whose calls fit in one list: on the host (CALL), on the source rec
// opened by name, stream 0 selected (SRC), on the encoder record e (ENC: file,
// codec name, codec id, sample format).
#define CALL(...) [](Host & h) -> std::string { return (void)h, J{__VA_ARGS__}; }
#define SRC(name, ...)                                                       \
    [](Host & h) -> std::string {                                            \
        DecodeRec &rec = h.src(name);                                        \
        return J{__VA_ARGS__};                                               \
    }
#define ENC(file, codec, id, fmt, ...)                                       \
    [](Host & h) -> std::string {                                            \
        EncodeRec &e = h.encoder(file, codec, id, fmt);                      \
        return J{__VA_ARGS__};                                               \
    }

std::string held(const EncodeRec &e)  // what an encoder record holds
{
    return J{e.opened, e.av_format_context, e.av_codec_context, e.io_buffer, e.audio_st};
}
const std::string kNothingHeld = "0 | NULL | NULL | NULL | NULL";
std::string torn_down(const FilterRec &f) { return J{f.graph, f.in_frame, f.out_frame}; }
const std::string kTeardown = "clean_filter_avrec(): [3]\nclean_filter_avrec(): [4]\n";

struct Row {
    std::string name;
    std::function<std::string(Host &)> call;
    std::string result;
    std::optional<std::string> said = {};     // error_cb's texts, one per line
    std::optional<std::string> printed = {};  // console output; none: the console stays off
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

class Documented : public testing::TestWithParam<Row> {};

TEST_P(Documented, AsTheHeaderSays)
{
    const Row &row = GetParam();
    std::string result, said, out, err;
    const auto run = [&] {
        Host host;
        result = row.call(host);
        said = T(host.errors);
    };
    if (row.printed) {
        out = stdout_of([&] { err = stderr_of(run); });
        out = std::regex_replace(out, std::regex(R"(\[\d\d:\d\d:\d\d\] )"), "[T] ") +
              (err.empty() ? "" : "standard error: " + err);
        EXPECT_TRUE(matches(row.printed->c_str(), out.c_str())) << "printed:\n" << out;
    } else {
        run();
    }
    EXPECT_TRUE(matches(row.result.c_str(), result.c_str())) << "returned: " << result;
    if (row.said) {
        EXPECT_TRUE(matches(row.said->c_str(), said.c_str())) << "said: " << said;
    }
}

// An encoder open that the record's names or format make fail.
Row refused_open(const char *name, const char *file, const char *codec, int32_t id, int32_t fmt,
                 const char *text, const char *said)
{
    return {std::string("encoder_") + name,
            [=](Host &h) { auto &e = h.encoder(file, codec, id, fmt);
                           return J{ff_open_encoder(&e), held(e)}; },
            J{text, kNothingHeld}, said};
}

// A resampler record spoilt before its set-up (refused) or after it (live):
// every later call answers nothing.
Row bad_resampler(const char *name, void (*spoil)(ResampleRec &), bool live = false)
{
    return {std::string("resampler_") + name,
            [=](Host &h) {
                live ? (void)ff_init_resample(&h.res, nullptr, 0) : spoil(h.res);
                const J init{live ? 0 : ff_init_resample(&h.res, nullptr, 0) < 0, h.res.swr};
                live ? spoil(h.res) : (void)0;
                return J{init, ff_buffer_size(&h.res, 4096),
                         ff_resample(&h.res, g_bytes, 4096, g_bytes, &h.room, 0), h.room,
                         ff_resample(&h.res, nullptr, 0, g_bytes, &h.room, 1)};
            },
            live ? "0 | set | 0 | 0 | 0 | 0" : "1 | NULL | 0 | 0 | 0 | 0"};
}

// A push the graph refuses tears the record down; the torn-down record
// refuses the next push without touching anything. bytes 0: null data.
Row refused_push(const char *name, int32_t bytes, bool fill_line, void (*spoil)(FilterRec &))
{
    return {std::string("filter_push_") + name,
            [=](Host &h) {
                const int32_t setup = setup_af("anull", nullptr, &h.filter);
                spoil(h.filter);
                const int32_t r = run_af(&h.filter, bytes ? g_bytes : nullptr, bytes ? bytes : 400,
                                         nullptr, write_nothing);
                return J{setup, r < 0 && r != FLATAV_ERROR_EAGAIN, torn_down(h.filter),
                         run_af(&h.filter, g_bytes, 400, nullptr, write_nothing)};
            },
            "0 | 1 | NULL | NULL | NULL | -22", std::nullopt,
            (fill_line ? "run_af(): avcodec_fill_audio_frame failed: -*\n" : "") + kTeardown};
}
void as_is(FilterRec &) {}

// A filter set-up that fails: its line (ending in its code; FFmpeg's own
// where set-up answers ENOMEM), the teardown's checkpoints, nothing left.
Row refused_setup(const char *name, const char *filter, const char *args, int32_t code,
                  std::string line, bool last = false, void (*spoil)(FilterRec &) = as_is)
{
    line = "setup_af(): " + line + "\n";
    return {std::string("filter_") + name,
            [=](Host &h) {
                spoil(h.filter);
                return J{setup_af(filter, args, &h.filter), torn_down(h.filter)};
            },
            J{code, "NULL | NULL | NULL"}, std::nullopt,
            last ? kTeardown + line : line + kTeardown};
}

// Writes every packet of the source, or blocks of silence, then drains (the
// host's write function refusing from then on when at_end): the first call
// that failed, or the drain's result.
int32_t write_all(EncodeRec &e, Host &h, DecodeRec *copied_from, int blocks, bool at_end)
{
    int32_t r = 0;
    if (copied_from) {
        e.raw_pkt = copied_from->raw_pkt = h.pkt();
        for (int32_t n; r >= 0 && (n = h.to_abuf(*copied_from)) > 0; ff_pkt_clean(e.raw_pkt))
            r = ff_encode_audio_raw(&e, n);
    }
    for (int i = 0; r >= 0 && i < blocks; i++)
        r = ff_encode_audio2(&e, g_bytes, nullptr, 4096);
    if (r < 0)
        return r;
    h.refuse_after = at_end ? h.written + 1 : h.refuse_after;
    return copied_from ? ff_encode_audio_raw(&e, 0) : ff_encode_audio2(&e, 0, 0, 0);
}

// A host write function that refuses bytes from after the header on: the
// call that meets the refusal fails with its documented code and text, in a
// packet where the muxer writes as it goes (a stream copy through the
// packet's own stream data), at the trailer where Matroska keeps everything
// in one cluster.
Row refused_write(const char *name, const char *file, const char *codec, int32_t id,
                  const char *source, bool at_end, int32_t code, const char *said)
{
    return {std::string("write_refused_") + name,
            [=](Host &h) {
                DecodeRec *src = nullptr;
                if (source) {
                    src = &h.src(source, true);
                    src->read_mode = FLATAV_READ_RAW_PACKET;
                }
                EncodeRec &e = h.encoder(file, codec, id);
                e.streamcopy = src ? src->streamcopy : nullptr;
                const char *opened = src ? ff_open_encoder_raw(&e) : ff_open_encoder(&e);
                h.refuse_after = at_end ? -1 : h.written + 1;
                return J{opened, write_all(e, h, src, src ? 0 : 150, at_end)};
            },
            J{"NULL", code}, said};
}

const Row kFailures[] = {
    // Null records and pointers the header allows, export by export.
    {"decoder_null",
     CALL(ff_decoder_open(0), ff_decode_audio(0, 0, 0, 0, 0, 0), ff_seek4(0),
          ff_context_pos(0, 5), ff_is_dca(0), ff_probe(0, 0), ff_probe(&h.dec(), 0), ff_probe2(0)),
     "ff_decoder_open: no record | -1 | -22 | -2 | 0 | NULL | NULL | NULL"},
    {"encoder_null",
     CALL(ff_open_encoder(0), ff_open_encoder_raw(0), ff_encode_audio2(0, 0, 0, 0),
          ff_buff_size(0, 400), ff_encode_audio_raw(0, 0), ff_get_encoder("flac"),
          ff_get_encoder(0), ff_pkt_size() == (int32_t)sizeof(AVPacket)),
     "ff_open_encoder: no record | ff_open_encoder_raw: no record | -1 | -22 | -1 | NULL | NULL | "
     "1"},
    {"resampler_null",
     CALL(ff_init_resample(0, 0, 0), ff_buffer_size(0, 100), ff_res_get_buffer(0, 100),
          ff_resample(0, 0, 0, 0, 0, 0), ff_set_matrix(0, kIdentity, 2), ff_alloc(-1),
          ff_alloc(INT_MIN), (ff_free(nullptr), ff_free(ff_alloc(16)), 0)),
     "-22 | 0 | -1 | 0 | -22 | NULL | NULL | 0"},
    {"filter_and_in_memory_decoders_null",
     CALL(setup_af(0, 0, &h.filter), setup_af("volume", 0, 0), torn_down(h.filter),
          ff_init_decoder(1, 0), ff_decode_buffer(0, g_bytes, 16, g_bytes),
          mem_decode_audio(0, 0), mem_decode_audio(0, 1),
          (mem_clean(nullptr), mem_clean(&h.mem), 0)),
     "-22 | -22 | NULL | NULL | NULL | -22 | -22 | -22 | -22 | 0", std::nullopt, ""},
    {"clean_ups_of_null",
     CALL((ff_cleanup_decoder(0), ff_clean_streamcopy(0), ff_cleanup_encoder(0),
           ff_cleanup_resample(0), clean_af(0), ff_decoder_cleanup(0), mem_clean(0),
           ff_pkt_clean(0), ff_pkt_free(0), ff_free(0), "nothing")),
     "nothing"},

    // Zero-filled records (released twice by the host), and records
    // released, twice, after use.
    {"zero_filled_records",  // opened last: the open fills the record
     CALL(h.to_abuf(h.dec()), (h.dec().position = 1, ff_seek4(&h.dec())), h.dec().position_reset,
          ff_context_pos(&h.dec(), 5), ff_is_dca(&h.dec()),
          (h.dec().read_mode = FLATAV_READ_RAW_PACKET, h.dec().raw_pkt = h.pkt(),
           h.to_abuf(h.dec())),
          ff_encode_audio2(&h.enc(), 0, 0, 0), ff_buff_size(&h.enc(), 400),
          ff_encode_audio_raw(&h.enc(), 10), ff_encode_audio_raw(&h.enc(), 0),
          ff_set_matrix(&h.res, kIdentity, 2), ff_decode_buffer(&h.buf, g_bytes, 16, g_bytes),
          ff_decoder_open(&h.dec()),
          h.dec().av_format_context, ff_open_encoder(&h.enc()), held(h.enc())),
     "-1 | -22 | 0 | -2 | 0 | -1 | -1 | -22 | -1 | -1 | -22 | -22 | "
     "(1)avformat_open_input failed -*, file=(null) | NULL | av_guess_format failed | " +
         kNothingHeld},
    {"run_af_zero_filled", CALL(run_af(&(h.filter = {}), 0, 0, 0, 0)), "-22", std::nullopt, ""},
    {"ff_init_decoder_zero_filled_mlp",  // needs no format to open; bad packets are refused
     CALL(ff_init_decoder(1, &h.buf), ff_decode_buffer(&h.buf, nullptr, 10, g_bytes),
          ff_decode_buffer(&h.buf, g_bytes, -1, g_bytes),
          ff_decode_buffer(&h.buf, g_bytes, 16, nullptr),
          [&] { BufferDecodeRec no_frame = h.buf;  // a copy that lost its frame
                return no_frame.frame = nullptr, ff_decode_buffer(&no_frame, g_bytes, 16, g_bytes); }()),
     "0 | -22 | -22 | -22 | -22"},
    {"decoder_cleaned_twice_then_opened_again",  // counters keep their values
     SRC("mp3.mp3", (rec.packed_output = 1, h.to_abuf(rec) > 0), rec.swr_context,
         (ff_cleanup_decoder(&rec), ff_cleanup_decoder(&rec), rec.av_format_context),
         rec.avio_context, rec.audio_info, rec.swr_context, rec.format_name, rec.nb_streams,
         ff_decoder_open(&rec)),
     "1 | set | NULL | NULL | NULL | NULL | NULL | 1 | NULL"},
    {"stream_copy_released_once_active_and_after_its_decoder",
     [](Host &h) {
         DecodeRec &rec = h.src("flac16.flac", true);
         StreamCopy *sc = rec.streamcopy;
         return J{(ff_clean_streamcopy(&rec.streamcopy), ff_cleanup_decoder(&rec),
                   rec.streamcopy == sc),
                  sc->data[0].codecpar->sample_rate,
                  (sc->active = 1, ff_clean_streamcopy(&rec.streamcopy), rec.streamcopy)};
     },
     "1 | 44100 | NULL"},

    // Calls the source or the host cannot serve.
    {"decoder_open_of_garbage_and_of_nothing",  // the I/O context stays for the clean-up
     [](Host &) {
         std::vector<uint8_t> bytes(10000);
         for (size_t i = 0; i < bytes.size(); i++)
             bytes[i] = (uint8_t)((i * 1103515245u + 12345u) >> 13);
         MemorySource garbage(bytes), empty({});
         OpenedSource src("garbage.bin", &garbage), nothing("empty", &empty);
         return J{src.open(), src.rec.av_format_context, src.rec.avio_context,
                  (ff_cleanup_decoder(&src.rec), src.rec.avio_context), nothing.open() != nullptr};
     },
     "(1)avformat_open_input failed " + T(AVERROR_INVALIDDATA) +
         ", file=garbage.bin | NULL | set | NULL | 1"},
    {"decode_without_destination",  // the packet is read, then dropped
     [](Host &h) {
         DecodeRec &rec = h.src("flac16.flac");
         const J first{h.to_buf(rec, nullptr), rec.packet_count, rec.end_of_stream};
         while (h.to_buf(rec, nullptr) == FLATAV_DECODE_NO_DESTINATION && !rec.end_of_stream) {
         }
         return J{first, rec.end_of_stream, h.to_buf(rec, nullptr)};
     },
     "-2 | 1 | 0 | 1 | -2", "ff_decode_audio buf = NULL\n*\nff_decode_audio buf = NULL"},
    {"decode_planar_without_planes",  // before a packet is read
     SRC("aac.m4a", h.to_buf(rec, g_bytes), rec.packet_count), "-2 | 0",
     "ff_decode_audio planes = NULL"},
    {"decode_stream_without_decoder",  // a video stream, none, one past the last
     SRC("video_audio.mkv", h.to_abuf(rec), (rec.audio_stream_index = -1, h.to_abuf(rec)),
         (rec.audio_stream_index = 2, h.to_abuf(rec)), rec.end_of_stream),
     "-1 | -1 | -1 | 0",
     "ff_decode_audio Internal error: av_codec_context is NULL for audio_stream_index 0\n"
     "*index -1\n*index 2"},
    {"decode_with_a_decoder_that_did_not_open",
     SRC("unknown_codec.wav", rec.audio_info[0].status, h.to_abuf(rec)),
     "avcodec_find_decoder for codec_id 0 failed | -4",
     "ff_decode_audio Error while decoding (-22) : Invalid argument"},
    {"decode_damaged_packet_by_default",  // the next call goes on with the next packet
     [](Host &h) {
         DecodeRec &rec = h.src("damaged.aac");
         int good = -1, got = (rec.packed_output = 1);
         while ((got = h.to_abuf(rec)) > 0)
             good++;
         return J{got, good > 0, rec.end_of_stream, h.to_abuf(rec) != -1};
     },
     "-4 | 1 | 0 | 1", "ff_decode_audio Error while decoding (" + T(AVERROR_INVALIDDATA) +
                           ") : Invalid data found when processing input\n*"},
    {"decode_into_a_buffer_the_host_does_not_grow",
     SRC("flac16.flac", (h.callbacks.grow_buffer_cb = nullptr,
                         ff_decode_audio(&rec, 0, 0, HostBuffer(0, 16).get(), 0, 0)),
         rec.end_of_stream),
     "0 | 0", "decode_audio_frame AudioBuffer holds 16 bytes, 18432 needed"},
    // What fuzzing found: planar output that gains a channel within the
    // capacity asks the host again (fuzz/regressions/decoder_fuzz); the mono
    // part decodes as the ffmpeg tool decodes it alone.
    {"decode_planar_output_gaining_a_channel",
     [](Host &h) {
         DecodeRec &rec = h.src("aac_mono_then_stereo.aac");
         HostBuffer planes(2);
         std::vector<uint8_t> mono, plane;
         for (int32_t n; (n = ff_decode_audio(&rec, 0, 0, planes.get(), 0, 0)) > 0;)
             if (planes.get()->channels == 1)
                 plane = planes.plane(0, n), mono.insert(mono.end(), plane.begin(), plane.end());
         const std::vector<int32_t> &asked = planes.grow_requests();
         return J{asked.size(), asked.back() <= asked[0],
                  mono == ffmpeg_pcm(media_path("aac_mono_part.aac"), 0, "f32le")};
     },
     "2 | 1 | 1"},
    {"raw_packets_without_packet_object",
     SRC("flac16.flac", (rec.read_mode = FLATAV_READ_RAW_PACKET, h.to_abuf(rec))), "-1",
     "ff_decode_audio Internal error: no packet object or source for audio_stream_index 0"},
    {"copy_mode_without_buf",
     SRC("sweep.mp3", (rec.read_mode = FLATAV_READ_COPY, h.to_buf(rec, nullptr))), "-3"},
    {"seek_to_targets_no_time_stamp_holds",  // then back to the start
     SRC("sweep.flac", seek_to(rec, NAN) <= 0, seek_to(rec, INFINITY) <= 0,
         seek_to(rec, -INFINITY) <= 0, seek_to(rec, 1e300) <= 0, seek_to(rec, -5) <= 0,
         seek_to(rec, 0), h.to_abuf(rec)),
     "1 | 1 | 1 | 1 | 1 | 0 | 18432"},
    {"probe_that_finds_nothing",  // and clears (and releases) the names
     [](Host &h) {
         std::vector<uint8_t> head = read_file(media_path("stereo_s16.wav")), other(600, 0);
         head.resize(64);
         head.resize(64 + FLATAV_PROBE_PADDING);
         for (size_t i = 0; i < 512; i++)
             other[i] = (uint8_t)(i * 37 + 11);
         FlatavProbeData wav{"", head.data(), 64, 0, 0}, none{"", other.data(), 512, 0, 0};
         DecodeRec &rec = h.dec();
         return J{ff_probe(&rec, (AVProbeData *)&wav), rec.format_name,
                  ff_probe(&rec, (AVProbeData *)&none), rec.format_name, rec.format_long_name};
     },
     "set | wav | NULL | NULL | NULL"},

    // Encoder and stream-copy writer.
    {"encoder_without_write_function",  // the bytes go nowhere
     ENC("out.flac", "flac", 0, S16, (e.write_packet = nullptr, ff_open_encoder(&e)),
         ff_encode_audio2(&e, 0, 0, 0)),
     "NULL | 0"},
    refused_open("neither_name_nor_id", "out.flac", nullptr, 0, S16, "audio_st = NULL",
                 "avcodec_find_encoder_by_name failed\nfind_encoder failed"),
    refused_open("unknown_name", "out.flac", "no-such-encoder", 0, S16, "audio_st = NULL",
                 "avcodec_find_encoder_by_name failed\nfind_encoder failed"),
    refused_open("unknown_id", "out.flac", nullptr, 0x7fff0000, S16, "audio_st = NULL",
                 "avcodec_find_encoder failed\nfind_encoder failed"),
    refused_open("container_without_audio", "out.srt", nullptr, AV_CODEC_ID_FLAC, S16,
                 "audio_st = NULL", ""),
    refused_open("unknown_container", "out.no-such-extension", nullptr, AV_CODEC_ID_FLAC, S16,
                 "av_guess_format failed", ""),
    refused_open("format_it_lacks", "out.flac", "flac", 0, FLTP, "could not open codec",
                 "could not open codec"),
    // MP4 goes back to its header at the end: an output without seek is refused.
    refused_open("mp4_without_seek", "out.m4a", "aac", 0, FLTP,
                 "avformat_write_header failed -22", ""),
    {"encoder_channel_mask_that_disagrees",
     ENC("out.flac", "flac", 0, S16,
         (e.channel_layout = AV_CH_LAYOUT_5POINT1, ff_open_encoder(&e)), held(e)),
     "could not open codec | " + kNothingHeld, "could not open codec"},
    {"encode_no_whole_sample_frame",
     ENC("out.wav", nullptr, AV_CODEC_ID_PCM_S16LE, S16, ff_open_encoder(&e),
         ff_encode_audio2(&e, g_bytes, 0, 3), ff_buff_size(&e, 3)),
     "NULL | -1 | -22",
     "avcodec_fill_audio_frame failed with code -22, for nb_samples=0, buf_size=3\n"},
    {"encode_planar_without_planes",
     ENC("out.aac", "aac", 0, FLTP, ff_open_encoder(&e), ff_encode_audio2(&e, g_bytes, 0, 8192),
         ff_encode_audio2(&e, g_bytes, g_one_plane, 8192)),
     "NULL | -22 | -22",
     "[1] avcodec_encode_audio2 failed : Invalid argument, buf_size=8192 -22\n\n"
     "[1] avcodec_encode_audio2 failed : Invalid argument, buf_size=8192 -22\n"},
    {"encode_after_the_drain_and_drain_twice",  // nothing more is written
     ENC("out.mp2", "mp2", 0, S16, ff_open_encoder(&e),
         ff_encode_audio2(&e, g_bytes, 0, 4608) >= 0, ff_encode_audio2(&e, 0, 0, 0),
         h.written = 0, ff_encode_audio2(&e, g_bytes, 0, 4608), ff_encode_audio2(&e, 0, 0, 0),
         h.written),
     "NULL | 1 | 0 | 0 | -541478725 | -1 | 0",
     "[1] avcodec_encode_audio2 failed : End of file, buf_size=4608 -541478725\n\n"
     "avcodec_encode_audio2 failed while getting delayed frames : End of file\n"},
    {"encode_into_an_mp3_only_declared",  // nothing encodes; the drain writes no trailer
     ENC("out.mp3", nullptr, 0, FLATAV_SAMPLE_FMT_S16P, (e.encode = 0, ff_open_encoder(&e)),
         ff_encode_audio2(&e, g_bytes, g_planes, 2304), ff_encode_audio2(&e, 0, 0, 0)),
     "NULL | -22 | -1",
     "[1] avcodec_encode_audio2 failed : Invalid argument, buf_size=2304 -22\n\n"
     "avcodec_encode_audio2 failed while getting delayed frames : Invalid argument\n"},
    {"copy_writer_without_a_muxer",
     ENC("copy.nosuchextension", nullptr, 0, S16, ff_open_encoder_raw(&e), held(e)),
     "avformat_alloc_output_context2 failed | " + kNothingHeld},
    {"copy_writer_of_a_stream_without_decoder",
     ENC("copy.wav", nullptr, 0, S16,
         (e.streamcopy = h.src("unknown_codec.wav", true).streamcopy, ff_open_encoder_raw(&e)),
         held(e)),
     "avcodec_parameters_copy failed | " + kNothingHeld},
    {"copy_writer_index_outside_the_data",
     [](Host &h) {
         DecodeRec &rec = h.src("sweep.flac", true);
         EncodeRec &e = h.encoder("copy.flac", nullptr);
         rec.read_mode = FLATAV_READ_RAW_PACKET;
         e.streamcopy = rec.streamcopy;
         e.raw_pkt = rec.raw_pkt = h.pkt();
         return J{ff_open_encoder_raw(&e), h.to_abuf(rec) > 0,
                  rec.streamcopy->stream_index = rec.streamcopy->nb_streams,  // one past the last
                  ff_encode_audio_raw(&e, rec.raw_pkt->size), rec.streamcopy->stream_index = 0};
     },
     "NULL | 1 | 1 | -1 | 0", "ff_encode_audio_raw: no stream-copy data for stream 1"},
    refused_write("encode_mid_stream", "out.mp2", "mp2", 0, nullptr, false,
                  FLATAV_ENCODE_FAILED, "av_write_frame failed -5\n"),
    refused_write("encode_at_trailer", "out.mka", nullptr, AV_CODEC_ID_PCM_S16LE, nullptr, true,
                  FLATAV_ENCODE_FAILED, "av_write_trailer failed -5 : Input/output error"),
    refused_write("copy_mid_stream", "copy.mp3", nullptr, 0, "sweep.mp3", false,
                  FLATAV_RAW_WRITE_FAILED, "av_write_frame failed -5\n"),
    refused_write("copy_at_trailer", "copy.mka", nullptr, 0, "sweep.flac", true,
                  FLATAV_RAW_WRITE_FAILED, "av_write_trailer failed -5"),
    {"write_refused_encode_in_the_drain",  // the encoder's delayed packets meet it
     ENC("out.aac", "aac", 0, FLTP, ff_open_encoder(&e), ff_encode_audio2(&e, g_bytes, g_planes, 8192),
         (h.refuse_after = h.written + 1, ff_encode_audio2(&e, 0, 0, 0))),
     "NULL | 0 | -1", "av_write_frame failed -5 : *\n"},  // the C library's text for EIO
    {"lookup_of_what_has_no_encoder",  // the last a video encoder, without formats
     CALL(ff_format_supported(0, 0), ff_format_supported(-5, 0x7fff0000),
          ff_get_encoder_sample_format(0x7fff0000, 16, S16),
          ff_get_encoder_sample_format(0, 16, S16),
          ff_get_encoder_sample_format(ff_get_encoder_11(), 16, S16),
          ff_get_encoder_sample_format(AV_CODEC_ID_AAC, 32, FLATAV_SAMPLE_FMT_FLT)),
     "0 | 0 | -1 | -1 | -1 | 8"},
    // The host refuses the header's bytes: the open fails and holds nothing.
    {"write_refused_in_the_header",
     ENC("out.wav", nullptr, AV_CODEC_ID_PCM_S16LE, S16, h.refuse_after = 0, ff_open_encoder(&e),
         held(e)),
     J{0, "avformat_write_header failed -5", kNothingHeld}},
    {"filter_without_write_function",  // the frame is counted, nothing written
     CALL(setup_af("anull", nullptr, &h.filter),
          run_af(&h.filter, g_bytes, 400, nullptr, nullptr), h.filter.frames_out),
     "0 | -11 | 1", std::nullopt, "*"},

    // Resampler.
    bad_resampler("zero_filled", [](ResampleRec &r) { r = {}; }),
    bad_resampler("unknown_input_format", [](ResampleRec &r) { r.in_sample_fmt = 77; }),
    bad_resampler("unknown_output_format", [](ResampleRec &r) { r.out_sample_fmt = -5; }),
    bad_resampler("input_format_none", [](ResampleRec &r) { r.in_sample_fmt = -1; }),
    // libswresample takes none as the output at equal rates, then divides by zero.
    bad_resampler("output_format_none",
                  [](ResampleRec &r) { r.out_sample_fmt = -1, r.out_sample_rate = 32000; }),
    bad_resampler("negative_channels",
                  [](ResampleRec &r) { r.in_channel_layout = 0, r.in_channels = -1; }),
    bad_resampler("input_mask_names_more_channels",
                  [](ResampleRec &r) { r.in_channel_layout = AV_CH_LAYOUT_5POINT1; }),
    bad_resampler("output_mask_names_fewer_channels", [](ResampleRec &r) { r.out_channels = 1; }),
    bad_resampler("zero_channels_with_a_mask", [](ResampleRec &r) { r.in_channels = 0; }),
    bad_resampler("input_count_unlike_in_channels",
                  [](ResampleRec &r) { r.user_in_ch_count = 6; }),
    bad_resampler("output_count_unlike_out_channels",
                  [](ResampleRec &r) { r.user_out_ch_count = 1; }),
    bad_resampler("planar_stereo_input",
                  [](ResampleRec &r) { r.in_sample_fmt = FLATAV_SAMPLE_FMT_S16P; }),
    bad_resampler("planar_stereo_output", [](ResampleRec &r) { r.out_sample_fmt = FLTP; }),
    bad_resampler("live_zero_channels", [](ResampleRec &r) { r.in_channels = 0; }, true),
    bad_resampler("live_no_bytes_per_sample",
                  [](ResampleRec &r) { r.in_bytes_per_sample = 0; }, true),
    bad_resampler("live_zero_rates",
                  [](ResampleRec &r) { r.in_sample_rate = r.out_sample_rate = 0; }, true),
    {"resampler_failed_set_up_may_be_retried",
     [](Host &h) {
         ResampleRec &r = h.res, starved = h.res;
         const J failed{(r.out_sample_rate = 0, ff_init_resample(&r, 0, 0) < 0), r.swr,
                        r.in_bytes_per_sample};
         av_max_alloc(16);
         const J no_memory{ff_init_resample(&starved, nullptr, 0), starved.swr};
         av_max_alloc(INT_MAX);
         return J{failed, no_memory, (r.out_sample_rate = 48000, ff_init_resample(&r, 0, 0))};
     },
     "1 | NULL | 0 | " + T(AVERROR(ENOMEM)) + " | NULL | 0"},
    {"resampler_live_record_takes_no_matrix_and_no_second_set_up",
     [](Host &h) {
         const int32_t init = ff_init_resample(&h.res, nullptr, 0);
         const ResampleRec live = (h.res.out_sample_rate = 0, h.res);  // would fail a set-up
         return J{init, ff_init_resample(&h.res, 0, 0), ff_set_matrix(&h.res, kIdentity, 2),
                  ff_set_matrix(&h.res, nullptr, 2), std::memcmp(&h.res, &live, sizeof live)};
     },
     "0 | 0 | -22 | -22 | 0"},
    {"resampler_without_output_arguments",  // without input the converter may still give
     [](Host &h) {
         int32_t negative = -5, some = 1024;
         return J{ff_init_resample(&h.res, 0, 0),
                  ff_resample(&h.res, g_bytes, 400, g_bytes, nullptr, 0),
                  ff_resample(&h.res, g_bytes, 400, nullptr, &h.room, 0), h.room,
                  ff_resample(&h.res, g_bytes, 400, g_bytes, &negative, 0), negative,
                  ff_resample(&h.res, nullptr, 400, g_bytes, &some, 0) >= 0};
     },
     "0 | 0 | 0 | 150 | 0 | -5 | 1"},
    {"resampler_buffer_that_cannot_grow",  // the old block goes too; free_buffer clears
     CALL(ff_init_resample(&h.res, 0, 0), ff_res_get_buffer(&h.res, 1000),
          ff_res_get_buffer(&h.res, INT_MAX), h.res.buffer, h.res.buffer_size,
          ff_res_get_buffer(&h.res, 256), h.res.buffer,
          (h.res.free_buffer = 1, ff_cleanup_resample(&h.res), h.res.swr), h.res.buffer,
          h.res.buffer_size, h.res.free_buffer),
     "0 | 0 | -1 | NULL | 0 | 0 | set | NULL | NULL | 0 | 0"},

    // Filter.
    refused_push("of_less_than_a_sample_frame", 3, true, as_is),
    refused_push("of_a_negative_size", -400, true, as_is),
    refused_push("of_null_data", 0, true, as_is),
    refused_push("of_zero_channels", 400, true, [](FilterRec &r) { r.channels = 0; }),
    refused_push("with_channels_against_the_layout", 400, false,
                 [](FilterRec &r) { r.channels = 1; }),
    refused_push("in_a_format_changed_after_set_up", 400, false,
                 [](FilterRec &r) { r.sample_fmt = FLATAV_SAMPLE_FMT_S32; }),
    refused_push("after_the_drain", 400, false, [](FilterRec &r) { run_af(&r, 0, 0, 0, 0); }),

    // In-memory decoders. Any non-zero is_mlp selects MLP, only 0 DST, which
    // needs a channel count it can use; MLP refuses one FFmpeg cannot hold. A
    // failed open leaves the record closed, whatever it held before.
    {"buffer_decoder_selector_and_channel_counts",
     [](Host &h) {
         std::string got;
         for (auto [is_mlp, channels] : std::initializer_list<std::pair<int, int>>{
                  {-1, 2}, {INT_MIN, 2}, {0, 2}, {0, 0}, {0, -2}, {0, 7}, {1, INT_MAX}}) {
             BufferDecodeRec &b = h.buf = {channels, 3, 352800, 0, (AVCodecContext *)&h,
                                           (AVFrame *)&h};
             const int32_t r = ff_init_decoder(is_mlp, &b);
             got += (r ? J{r, b.codec_context, b.frame}
                       : J{avcodec_get_name(b.codec_context->codec_id)}) + "; ";
             ff_decoder_cleanup(&b);
         }
         return got;
     },
     "mlp; mlp; dst; -22 | NULL | NULL; -22 | NULL | NULL; " + T(AVERROR_PATCHWELCOME) +
         " | NULL | NULL; -22 | NULL | NULL; "},
    {"buffer_decoder_refuses_what_no_dst_frame_is",  // writing and printing nothing
     [](Host &h) {
         std::vector<uint8_t> reserved = {1, 0, 0, 0}, long_frame(9409, 0x3f);
         h.buf = {2, FLATAV_SAMPLE_FMT_FLT, 2822400, 0, nullptr, nullptr};
         return J{ff_init_decoder(0, &h.buf), ff_decode_buffer(&h.buf, g_bytes, 1, g_bytes + 8),
                  ff_decode_buffer(&h.buf, reserved.data(), 4, g_bytes + 8),
                  ff_decode_buffer(&h.buf, long_frame.data(), 9409, g_bytes + 8), g_bytes[8]};
     },
     "0 | " + J{AVERROR_INVALIDDATA, AVERROR_INVALIDDATA, AVERROR_INVALIDDATA, 0},
     std::nullopt, ""},
    {"buffer_decoder_allocation_failures_leave_it_closed",
     [](Host &h) {
         int failures = 0, bad = 0;
         for (size_t limit = 64; limit <= 1 << 20; limit = limit * 5 / 4) {
             h.buf = {2, 0, 352800, 0, nullptr, nullptr};
             av_max_alloc(limit);
             const int32_t r = ff_init_decoder(0, &h.buf);
             av_max_alloc(INT_MAX);
             failures += r != 0;
             bad += r && ((r > 0 && r != FLATAV_BUFFER_DECODER_NO_MEMORY) ||
                          h.buf.codec_context || h.buf.frame);
             ff_decoder_cleanup(&h.buf);
         }
         return J{failures > 0, bad};
     },
     "1 | 0"},
    // Opens under every allocation limit: a failure says why and leaves
    // nothing behind (tags NULL, the encoder holding nothing); an open that
    // succeeds decodes (a decoder that could not open says so in its status,
    // and its stream fails to decode) or encodes.
    {"opens_under_allocation_limits",
     [](Host &h) {
         int failures = 0, bad = 0;
         MemorySource memory(read_file(media_path("tags_chapters.mka")));
         for (size_t limit = 64; limit <= 1 << 20; limit = limit * 5 / 4) {
             for (int mode = 0; mode < 4; mode++) {
                 OpenedSource src(media_path("tags_chapters.mka"), mode == 3 ? &memory : nullptr);
                 src.rec.protocol_whitelist = mode == 1 ? "file" : nullptr;
                 src.rec.allow_nested_opens = mode == 2;
                 memory.pos = 0;
                 EncodeRec &e = h.encoder("out.wav", "pcm_s16le");
                 av_max_alloc(limit);
                 const char *text = src.open(), *refused = ff_open_encoder(&e);
                 av_max_alloc(INT_MAX);
                 failures += (text != nullptr) + (refused != nullptr);
                 const int32_t got = text ? 0 : (src.rec.audio_stream_index = 0, h.to_abuf(src.rec));
                 bad += text ? !*text || src.rec.tags
                             : std::strcmp(src.rec.audio_info[0].status, "OK") ? got != FLATAV_DECODE_FAILED : got <= 0;
                 bad += refused ? !*refused || held(e) != kNothingHeld
                                : ff_encode_audio2(&e, g_bytes, nullptr, 4096) < 0 || ff_encode_audio2(&e, 0, 0, 0);
                 ff_cleanup_encoder(&e);
             }
         }
         return J{failures > 0, bad};
     },
     "1 | 0"},
    {"memory_decoder_cleaned_twice",
     CALL(h.mem = mem_init(nullptr, read_nothing, write_nothing, 1, 64, 64),
          (mem_clean(&h.mem), h.mem)),
     "set | NULL"},
};

// FFmpeg's log lines as the bridge hands them over.
std::vector<std::string> g_log;
void keep_log_line(int32_t is_info, const char *line) { g_log.push_back(T(is_info) + " " + line); }
const LogSettings kQuiet{1, 1}, kLoud{0, 0}, kFfmpegLoud{1, 0};

// The log lines kept, and the switches back as the other tests have them.
std::string log_lines()
{
    ff_init(&kQuiet);
    std::string joined;
    for (const std::string &line : g_log)
        joined += line;
    g_log.clear();
    return joined;
}

const std::string kCleanupTrace = "[T] ff_cleanup_encoder(): 01\n[T] ff_cleanup_encoder(): 02\n";
const std::string kCleanup =
    "ff_cleanup_encoder begin\n" + kCleanupTrace + "ff_cleanup_encoder end\n";

const Row kTexts[] = {
    {"open_of_a_missing_file",
     SRC("no_such_file.flac", h.opened, rec.av_format_context, rec.audio_info),
     "(1)avformat_open_input failed -2, file=" + media_path("no_such_file.flac") +
         " | NULL | NULL"},
    {"returned_texts_are_cut_and_share_one_buffer",
     [](Host &h) { const char *text = (h.src(std::string(3000, 'x')), h.opened);
                   return J{std::strlen(text), (h.src("no_such_file"), h.opened == text), text}; },
     "1023 | 1 | (1)avformat_open_input failed -2, file=" + media_path("no_such_file")},
    // Traces go to message_cb while message_enabled, and to standard output
    // unless quiet; the "[T]" console trace only to standard output.
    {"encoder_traces_while_quiet",
     CALL(ff_open_encoder(&h.encoder("out.flac", "flac")), h.messages),
     "NULL | ff_open_encoder begin\nff_open_encoder found fmt flac\nadd_audio_stream begin\n"
     "find_encoder begin, avrec->codec_name=flac, avrec->codec_id=0\n"
     "add_audio_stream NOT CODEC_FLAG_GLOBAL_HEADER\nadd_audio_stream end, c->sample_fmt=1, "
     "c->codec_id=" + T(AV_CODEC_ID_FLAC) + "\nopen_audio begin\nopen_audio codec->sample_fmt=1, "
     "avrec->planar=0\nsampleSize=2, c->frame_size=1152, avrec->audio_input_frame_size=1152, "
     "audio_input_buffer_size=4608\nopen_audio end\nff_open_encoder end"},
    {"encoder_traces_reach_a_table_and_the_console",
     CALL(ff_open_encoder(&h.encoder("out.flac", "flac")), h.messages.size()), "NULL | 11",
     std::nullopt,
     "*\nopen_audio codec->sample_fmt=1, avrec->planar=0\n[T] sampleSize=2, *\nsampleSize=2, *\n"
     "open_audio end\nff_open_encoder end\n" + kCleanup + kCleanup},
    {"encoder_traces_without_a_table_reach_the_console",
     CALL((h.encoder("out.flac", "flac").callbacks = nullptr, ff_open_encoder(&h.encoders.back()))),
     "NULL", std::nullopt, "ff_open_encoder begin\n*\nff_open_encoder end\n" + kCleanup + kCleanup},
    {"encoder_traces_disabled_reach_only_the_console_trace",
     CALL((h.callbacks.message_enabled = 0, ff_open_encoder(&h.encoder("out.flac", "flac"))),
          h.messages.size()),
     "NULL | 0", std::nullopt, "[T] sampleSize=2, *\n" + kCleanupTrace + kCleanupTrace},
    {"encoder_traces_without_message_cb_reach_only_the_console_trace",
     CALL((h.callbacks.message_cb = nullptr, ff_open_encoder(&h.encoder("out.flac", "flac")))),
     "NULL", std::nullopt, "[T] sampleSize=2, *\n" + kCleanupTrace + kCleanupTrace},
    {"encoder_global_header_trace",
     CALL(ff_open_encoder(&h.encoder("out.mka", "aac", 0, FLTP)), h.messages),
     "NULL | *\nadd_audio_stream AV_CODEC_FLAG_GLOBAL_HEADER\n*"},
    {"errors_go_to_error_cb_only",
     [](Host &h) {
         EncodeRec &e = h.encoder("out.wav", nullptr, AV_CODEC_ID_PCM_S16LE);
         int32_t r = (ff_open_encoder(&e), 0);
         return J{stdout_of([&] { r = ff_encode_audio2(&e, g_bytes, nullptr, 3); }), r,
                  h.errors.size(),
                  (h.callbacks.error_cb = nullptr, ff_encode_audio2(&e, g_bytes, nullptr, 3))};
     },
     " | -1 | 1 | -1"},
    {"resampler_traces_its_formats",  // ff_init(NULL) changes nothing
     CALL((ff_init(nullptr), h.res.out_sample_fmt = FLATAV_SAMPLE_FMT_FLT,
           ff_init_resample(&h.res, 0, 0)),
          (h.room = 64, ff_resample(&h.res, nullptr, 0, g_bytes, &h.room, 1))),
     "0 | 0", std::nullopt,
     "[T] ff_init_resample(): input_sample_format=s16, output_sample_format=flt\n"
     "[T] ff_resample():converted_out_samples=0\n"},
    {"sample_format_search_traces_each_entry",
     CALL(ff_get_encoder_sample_format(ff_get_encoder_01(), 24, 0)), T(FLATAV_SAMPLE_FMT_S16P),
     std::nullopt,
     "[T] helper_get_encoder_sample_format(): start\n"
     "[T]  .... best_bits_per_sample=24, [0]=7\n[T]  .... best_bits_per_sample=24, [1]=6\n"},
    {"log_bridge_tells_errors_from_information_and_cuts_lines",
     CALL((ff_set_log_callback(keep_log_line), say(AV_LOG_WARNING, "a warning"),
           say(AV_LOG_ERROR, "an error"), say(AV_LOG_PANIC, "a panic"),
           say(AV_LOG_DEBUG, "debug too"), say(AV_LOG_ERROR, std::string(2000, 'y').c_str()),
           g_log.back() = T(g_log.back().size() - 2), log_lines())),
     "1 a warning\n0 an error\n0 a panic\n1 debug too\n1023"},
    {"log_bridge_echoes_to_the_console",
     CALL((ff_init(&kLoud), ff_set_log_callback(keep_log_line), say(AV_LOG_ERROR, "seen twice"),
           log_lines())),
     "0 seen twice\n", std::nullopt,
     "[T] !!! seen twice\n\n[T] level=16, AV_LOG_ERROR=16, AV_LOG_FATAL=8\n"},
    // ffmpeg_quiet 0 leaves FFmpeg silenced until the bridge comes back.
    {"log_silenced_and_resumed",
     CALL((ff_set_log_callback(nullptr), say(AV_LOG_ERROR, "lost: no function"),
           ff_set_log_callback(keep_log_line), say(AV_LOG_ERROR, "found"), ff_init(&kQuiet),
           say(AV_LOG_ERROR, "lost: silenced"), ff_init(&kFfmpegLoud),
           say(AV_LOG_ERROR, "lost: still"), ff_set_log_callback(keep_log_line),
           say(AV_LOG_ERROR, "heard"), log_lines())),
     "0 found\n0 heard\n"},
    {"probe_of_a_missing_file",  // (the record needs no clean-up, nor gets one)
     [](Host &) { DecodeRec rec{};
                  return J{(rec.is_url = 1, rec.file_name = "/no/such.mp3", ff_probe2(&rec))}; },
     "NULL", std::nullopt,
     "[T] ff_probe2(): avrec->file_name=/no/such.mp3\n"
     "standard error: avformat_open_input failed (error 'No such file or directory')\n"},
    {"probe_of_a_source_that_reads_nothing",
     [](Host &) { MemorySource empty({});
                  DecodeRec rec{};
                  return J{(empty.attach(rec), rec.file_name = "nothing", ff_probe2(&rec))}; },
     "NULL", std::nullopt,
     "[T] ff_probe2(): 03, avrec->file_name=nothing\n[T] ff_probe2(): 04, ret=" +
         T(AVERROR_INVALIDDATA) + ", fmt=0, avrec->file_name=nothing\n"
         "[T] ff_probe2(): Invalid data found when processing input\n"},
    {"probe_of_a_name_that_opens_other_sources",
     [](Host &) { DecodeRec rec{};
                  return J{(rec.is_url = 1, rec.file_name = "concat:a.wav|b.wav", ff_probe2(&rec))}; },
     "NULL", std::nullopt,
     "[T] ff_probe2(): avrec->file_name=concat:a.wav|b.wav\nstandard error: ff_probe2: \"concat\" sources are refused*\n"},
    refused_setup("unknown", "no_such_filter", nullptr, AVERROR_FILTER_NOT_FOUND,
                  "avfilter_get_by_name no_such_filter failed"),
    refused_setup("rejected_arguments", "volume", "no_such_option=1", AVERROR(ENOMEM),
                  "avfilter_init_str volume : " + T(AVERROR_OPTION_NOT_FOUND)),
    refused_setup("unknown_sample_format", "volume", "0.5", -22,
                  "avfilter_graph_create_filter failed : -22", false,
                  [](FilterRec &r) { r.sample_fmt = 99; }),
    // The source's time base 1/0 is out of range.
    refused_setup("zero_sample_rate", "volume", "0.5", AVERROR(ERANGE),
                  "avfilter_graph_create_filter failed : " + T(AVERROR(ERANGE)), false,
                  [](FilterRec &r) { r.sample_rate = 0; }),
    // Refused before it is made: amovie would open the file it names.
    refused_setup("source_filter_has_no_input", "amovie", "filename=no_such_file.flac", -22,
                  "amovie takes no input : -22"),
    refused_setup("unconnected_second_input", "amix", nullptr, -22,
                  "avfilter_graph_config failed : -22"),
    {"filter_set_up_over_a_built_graph_and_cleaned_twice",  // the instances stay, stale
     CALL(setup_af("anull", nullptr, &h.filter), setup_af("volume", "0.25", &h.filter),
          (clean_af(&h.graph), torn_down(h.filter)), h.filter.src),
     "0 | 0 | NULL | NULL | NULL | set", std::nullopt, kTeardown + kTeardown},
    // Only 1 selects a codec (id 1 would be a video codec); FFmpeg refuses
    // allocations above INT_MAX bytes, padding included. fns: 1 without
    // write_fn, 2 without read_fn. Each refusal: NULL and its line.
    {"mem_init_refusals",
     [](Host &) {
         std::string got;
         for (auto [select, alloc, refill, fns] : std::initializer_list<std::array<int32_t, 4>>{
                  {0, 4096, 1024, 0}, {2, 4096, 1024, 0}, {AV_CODEC_ID_MLP, 4096, 1024, 0},
                  {1, 4096, 1024, 1}, {1, 4096, 1024, 2}, {1, 4096, 0, 0}, {1, 1024, 1025, 0},
                  {1, INT_MAX, 16, 0}})
             got += T(mem_init(nullptr, fns == 2 ? nullptr : read_nothing,
                               fns == 1 ? nullptr : write_nothing, select, alloc, refill)) + " ";
         return got;
     },
     "NULL NULL NULL NULL NULL NULL NULL NULL ", std::nullopt,
     "mem_init(): codec_select=0 is not supported, only 1 (MLP)\n"
     "mem_init(): codec_select=2 is not supported, only 1 (MLP)\n"
     "mem_init(): codec_select=" + T(AV_CODEC_ID_MLP) + " is not supported, only 1 (MLP)\n"
     "mem_init(): read_fn and write_fn are both required\n"
     "mem_init(): read_fn and write_fn are both required\n"
     "mem_init(): refill_size=0 must be between 1 and buffer_alloc=4096\n"
     "mem_init(): refill_size=1025 must be between 1 and buffer_alloc=1024\n"
     "mem_init(): av_mallocz failed for an input buffer of 2147483647 bytes\n"},
    {"mem_init_allocation_failures",  // at every step: NULL and its line
     [](Host &) {
         int failures = 0, successes = 0, broken = 0;
         for (size_t limit = 32; limit <= (1 << 20); limit = limit * 9 / 8 + 1) {
             av_max_alloc(limit);
             MemDecodeRec *rec = mem_init(nullptr, read_zeros, write_nothing, 1, 16, 16);
             av_max_alloc(INT_MAX);
             (rec ? successes : failures)++;
             broken += rec && mem_decode_audio(rec, 0) != 0;  // a made one works
             mem_clean(&rec);
         }
         return J{failures > 0, successes > 0, broken};
     },
     "1 | 1 | 0", std::nullopt,
     "*mem_init(): av_mallocz failed for the record\n*mem_init(): av_packet_alloc failed\n*"
     "mem_init(): av_parser_init failed, avrec->codec->id=" + T(AV_CODEC_ID_MLP) +
         "\n*mem_init(): avcodec_alloc_context3 failed\n*"},
};

INSTANTIATE_TEST_SUITE_P(FailurePaths, Documented, testing::ValuesIn(kFailures),
                         [](const auto &info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Texts, Documented, testing::ValuesIn(kTexts),
                         [](const auto &info) { return info.param.name; });

}  // namespace

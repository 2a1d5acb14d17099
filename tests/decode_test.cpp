// The source decoder's reference table. Every input opens alike by URL and
// through the host's read and seek functions, describes itself, its tags and
// chapters as ffprobe does, and every audio stream decodes to the ffmpeg
// tool's PCM, whole length, packed and plane by plane, with the tool's count
// of packets that do not decode. A row asks for more: seeks, the packet
// modes, damaged copies, reads that come short. Generated inputs without a
// row and every corpus file get the same checks; corpus files also
// stream-copy as the tool remuxes them.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "jobs.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

// A decoder refuses a packet (AVERROR(EAGAIN)) while output waits in it,
// which cannot be brought about from outside: calls of this program (the
// library's included) go through here, and while g_refuse_every is positive
// every such call of that count refuses a packet without looking.
static int g_refuse_every = 0, g_sends = 0;

extern "C" int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt)
{
    using Fn = int (*)(AVCodecContext *, const AVPacket *);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "avcodec_send_packet"));
    if (avpkt && g_refuse_every > 0 && ++g_sends % g_refuse_every == 0)
        return AVERROR(EAGAIN);
    return real(avctx, avpkt);
}

namespace {

enum Column : unsigned {
    kRestart = 1,   // the sample count follows the PCM; a seek back to 0 after
                    // the end, on a moved record, gives the PCM again
    kCaller = 2,    // into the caller's buf and planes instead of an AudioBuffer
    kRefuse = 4,    // the decoder refuses every third packet once
    kSeek = 8,      // seeks land near their targets, on the tool's samples
    kPackets = 16,  // the packet modes hand out the tool's packets
    kDamaged = 32,  // damaged copies end as documented, truncated ones as the tool's
    kS32 = 64,      // orig_sample_fmt S32P delivers float planar as S32
    kSkip = 128,    // custom I/O skips errors without counting them
};

struct Row {
    const char *file;
    unsigned columns;
    int settle;    // kSeek: calls a decoder needs after a jump to match again
    double lead;   // kSeek: how far before the target a backward seek may land
    int32_t most;  // custom I/O: bytes a read gives at most (0: all asked)
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.file; }

// The ffmpeg tool's raw format of a sample format's packed twin, or null.
const char *pcm_format(int32_t fmt)
{
    static const char *const names[] = {"u8", "s16le", "s32le", "f32le", "f64le"};
    const AVSampleFormat packed = av_get_packed_sample_fmt((AVSampleFormat)fmt);
    return packed == AV_SAMPLE_FMT_S64 ? "s64le" : packed >= 0 && packed < 5 ? names[packed] : nullptr;
}

std::string fmt_name(int32_t fmt)
{
    const char *name = av_get_sample_fmt_name((AVSampleFormat)fmt);
    return name ? name : "";
}


int number(const Json &value) { return std::atoi(value.text.c_str()); }
int frame_bytes(const AudioInfo &a) { return a.channels * av_get_bytes_per_sample((AVSampleFormat)a.output_sample_fmt); }

// The tags and chapter tags a host hears, in Recorder's order, as ffprobe
// shows them: the container's, the chapters', those of audio streams.
std::vector<std::string> metadata_of(const Json &p)
{
    std::vector<std::string> out;
    for (const auto &tag : p["format"]["tags"].items)
        out.push_back("-1|" + tag.first + '|' + tag.second.text);
    for (const auto &item : p["chapters"].items) {
        const Json &c = item.second;
        int num = 0, den = 1;
        std::sscanf(c["time_base"].text.c_str(), "%d/%d", &num, &den);
        std::ostringstream line;
        line.precision(9);
        line << "chapter " << c["id"].text << '|' << (float)(std::atoll(c["start"].text.c_str()) * num / (double)den)
             << '|' << (float)(std::atoll(c["end"].text.c_str()) * num / (double)den) << '|';
        for (const auto &tag : c["tags"].items)
            out.push_back(line.str() + tag.first + '|' + tag.second.text);
    }
    for (const auto &s : p["streams"].items)
        for (const auto &tag : s.second["tags"].items)
            if (s.second["codec_type"].text == "audio")
                out.push_back(s.second["index"].text + '|' + tag.first + '|' + tag.second.text);
    return out;
}

// ffprobe's first or last decoded frame of a stream (null when none).
const Json &frame_of(const Json &p, int stream, bool last)
{
    static const Json none;
    const Json *found = &none;
    for (const auto &f : p["frames"].items)
        if (number(f.second["stream_index"]) == stream && (last || found == &none))
            found = &f.second;
    return *found;
}

// The format and layout the record says it delivers are the frame's.
void expect_delivery(const AudioInfo &a, const Json &frame)
{
    AVChannelLayout layout{};
    const bool native = av_channel_layout_from_string(&layout, frame["channel_layout"].text.c_str()) >= 0 &&
                        layout.order == AV_CHANNEL_ORDER_NATIVE;
    EXPECT_TRUE(frame.kind == Json::null || fmt_name(a.output_sample_fmt) == frame["sample_fmt"].text);
    EXPECT_TRUE(frame.kind == Json::null || a.channel_layout == (native ? layout.u.mask : 0))
        << frame["channel_layout"].text;
    av_channel_layout_uninit(&layout);
}

// One stream's description against ffprobe's.
void expect_stream(const AudioInfo &a, const Json &s, const Json &p)
{
    EXPECT_EQ(a.codec_type == FLATAV_MEDIA_AUDIO, s["codec_type"].text == "audio");
    if (std::string(a.status) != "OK")
        return;
    const std::string duration = p["format"]["duration"].text;
    const bool dts_96_24 = s["profile"].text == "DTS 96/24" && s["bits_per_raw_sample"].text.empty();
    EXPECT_EQ(avcodec_get_name((AVCodecID)a.codec_id), s["codec_name"].text);
    EXPECT_EQ(a.sample_rate, number(s["sample_rate"]));
    EXPECT_EQ(a.channels, number(s["channels"]));
    EXPECT_EQ(fmt_name(a.sample_fmt), s["sample_fmt"].text);
    EXPECT_EQ(std::to_string(a.time_base.num) + '/' + std::to_string(a.time_base.den), s["time_base"].text);
    EXPECT_EQ(a.bits_per_raw_sample, dts_96_24 ? 24 : number(s["bits_per_raw_sample"]));
    EXPECT_EQ(a.duration, duration.empty() ? 0 : std::llround(std::atof(duration.c_str()) * 1e6));
    EXPECT_EQ(a.duration_seconds, duration.empty() ? -1.0 : std::floor(a.duration / 1e6));
    expect_delivery(a, frame_of(p, a.stream_index, false));
}

// A source opened by URL (packed output) and through custom I/O.
struct Opened {
    Opened(const std::string &path, int32_t most) : memory(read_file(path)), url(path), io(path, &memory)
    {
        memory.most = most;
        url.rec.packed_output = 1;
        opened = !url.open() + !io.open();
    }
    MemorySource memory;
    OpenedSource url, io;
    int opened;
};

// Seeks: the samples decoded after each are the tool's, found in its decode
// by their content, at or a little before the target.
void check_seeks(DecodeRec &rec, const std::vector<uint8_t> &tool, const Row &row)
{
    const AudioInfo &a = rec.audio_info[rec.audio_stream_index];
    const int bytes = frame_bytes(a);
    rec.seek_backward = 1;
    HostBuffer buffer;
    for (double target : {2.5, 0.75, 1.9999999, 3.0}) {
        SCOPED_TRACE(target);
        rec.position = target;
        ASSERT_EQ(ff_seek4(&rec), 0);
        int64_t since_seek = 0;
        int32_t got = 0;
        for (int i = 0; i <= row.settle + 1; i++) {
            since_seek += got / bytes;
            ASSERT_GT(got = ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
            // The position counts from the target, not from where the seek landed.
            EXPECT_TRUE(i > 0 || (rec.sample_count == (uint64_t)(got / bytes) &&
                                  rec.position == target + (double)(got / bytes) / a.sample_rate));
        }
        const std::vector<uint8_t> block = buffer.packed(got);
        const auto at = std::search(tool.begin(), tool.end(), block.begin(), block.end());
        ASSERT_TRUE(at != tool.end() && (at - tool.begin()) % bytes == 0) << "not the tool's";
        const double landed = (double)((at - tool.begin()) / bytes - since_seek) / a.sample_rate;
        EXPECT_LE(landed, target + 1e-6);
        EXPECT_GE(landed, target - row.lead);
    }
}

// The packet modes side by side against the tool's demux: durations, copies
// and raw packets, their positions (pts seconds less the whole seconds of
// the start time) and their sums.
void check_packets(const std::string &path, int stream, const Json &p)
{
    const DemuxedPackets ref = demuxed_packets(path, std::to_string(stream));
    OpenedSource durations(path), copy(path), raw(path);
    for (OpenedSource *s : {&durations, &copy, &raw}) {
        ASSERT_EQ(s->open(), nullptr);
        s->rec.audio_stream_index = stream;
    }
    double times[2] = {};
    durations.rec.read_mode = FLATAV_READ_PACKET_DURATIONS;
    durations.rec.packet_times = times;
    copy.rec.read_mode = FLATAV_READ_COPY;
    raw.rec.read_mode = FLATAV_READ_RAW_PACKET;
    raw.rec.raw_pkt = ff_pkt_new();
    const double tick = (double)ref.tb_num / ref.tb_den;
    const float start = (float)std::floor(std::atof(p["format"]["start_time"].text.c_str()));
    std::vector<uint8_t> buf(1 << 16);
    for (const DemuxedPacket &r : ref.packets) {
        EXPECT_EQ(ff_decode_audio(&durations.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
        EXPECT_NEAR(times[0], r.duration * tick, 1e-9);
        ASSERT_EQ(ff_decode_audio(&copy.rec, buf.data(), nullptr, nullptr, 1 << 16, nullptr), r.size);
        ASSERT_EQ(ff_decode_audio(&raw.rec, nullptr, nullptr, nullptr, 0, nullptr), r.size);
        EXPECT_EQ(md5_hex(buf.data(), r.size), r.md5);
        EXPECT_EQ(md5_hex(raw.rec.raw_pkt->data, r.size), r.md5);
        EXPECT_EQ(raw.rec.position, (double)((float)(r.pts * tick) - start));
        EXPECT_EQ(copy.rec.position, raw.rec.position);
        ff_pkt_clean(raw.rec.raw_pkt);
    }
    for (OpenedSource *s : {&durations, &copy, &raw})
        EXPECT_EQ(ff_decode_audio(&s->rec, buf.data(), nullptr, nullptr, 1 << 16, nullptr),
                  FLATAV_DECODE_END_OF_PACKETS);
    EXPECT_EQ(durations.rec.packet_count, (int)ref.packets.size());
    EXPECT_EQ(raw.rec.raw_packet_count, (int64_t)ref.packets.size());
    for (double sum : {times[1], raw.rec.packet_duration_sum, copy.rec.packet_duration_sum})
        EXPECT_NEAR(sum, ref.total_seconds(), 1e-6);
    ff_pkt_free(raw.rec.raw_pkt);
}

// Damaged copies: truncated at several points, bytes flipped at fixed seeds.
// What opens decodes to its end (a truncated copy to the PCM the tool
// decodes from the same bytes), failing calls only with
// FLATAV_DECODE_FAILED, and after a seek back FLATAV_READ_RAW_PACKET ends too.
void check_damaged(const std::string &path)
{
    const std::vector<uint8_t> bytes = read_file(path);
    const size_t cuts[] = {bytes.size() / 8, bytes.size() / 3, bytes.size() / 2, bytes.size() * 9 / 10};
    for (int variant = 0; variant < 7 && !bytes.empty(); variant++) {
        SCOPED_TRACE("damaged copy " + std::to_string(variant));
        const bool truncated = variant < 4;
        std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + (truncated ? cuts[variant] : bytes.size()));
        std::mt19937 rng(variant);
        for (int k = 0; !truncated && k < 8; k++)
            copy[rng() % copy.size()] ^= (uint8_t)(1 + rng() % 255);
        MemorySource memory(copy);
        OpenedSource src(path, &memory);
        // The trial seek moves the start: copies whose PCM is compared go without it.
        src.rec.try_seek = truncated ? 0 : 1;
        const int stream = src.open() ? -1 : src.first_audio();
        if (stream < 0)
            continue;
        const Decoded d = decode_to_end(src.rec, stream);
        EXPECT_TRUE(d.ended && (d.other.empty() || src.recorder.has_error_containing("resampling")));
        const char *format = pcm_format(src.rec.audio_info[stream].av_codec_context->sample_fmt);
        ScratchFile cut("truncated" + path.substr(path.rfind('.')));
        cut.write(copy);
        int errors = 0;  // the tool may give up on what is left
        EXPECT_TRUE(!truncated || !format || d.pcm == ffmpeg_pcm(cut.path, stream, format, &errors));
        src.rec.position = 0;
        EXPECT_LE(ff_seek4(&src.rec), 0);
        src.rec.read_mode = FLATAV_READ_RAW_PACKET;
        src.rec.raw_pkt = ff_pkt_new();
        int32_t got = 0;
        for (int calls = 0; calls < 100000 && got >= 0; calls++, ff_pkt_clean(src.rec.raw_pkt))
            got = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr);
        EXPECT_EQ(got, FLATAV_DECODE_END_OF_PACKETS);
        ff_pkt_free(src.rec.raw_pkt);
    }
}

// One audio stream decoded by URL (errors fail calls) and through custom
// I/O (errors skipped), against the tool; then the row's columns.
void check_decode(const std::string &path, int stream, const Json &p, const Row &row)
{
    Opened o(path, row.most);
    ASSERT_EQ(o.opened, 2);
    o.io.rec.decode_error_mode = row.columns & kSkip ? FLATAV_DECODE_ERRORS_SKIP : FLATAV_DECODE_ERRORS_COUNT_AND_SKIP;
    g_refuse_every = row.columns & kRefuse ? 3 : 0;
    const Decoded u = decode_to_end(o.url.rec, stream, row.columns & kCaller);
    g_refuse_every = 0;
    const Decoded m = decode_to_end(o.io.rec, stream, row.columns & kCaller);
    EXPECT_TRUE(u.ended && u.other.empty() && m.ended && m.other.empty() && !m.failed_calls);
    EXPECT_EQ(o.url.recorder.errors.size(), (size_t)u.failed_calls);
    EXPECT_EQ(m.skipped, row.columns & kSkip ? 0 : u.failed_calls);
    EXPECT_TRUE(m.pcm == u.pcm) << m.pcm.size() << " bytes against " << u.pcm.size();

    const AudioInfo &a = o.url.rec.audio_info[stream];
    int errors = 0;
    const char *format = pcm_format(a.output_sample_fmt);
    const std::vector<uint8_t> tool = format ? ffmpeg_pcm(path, stream, format, &errors) : std::vector<uint8_t>{};
    // The tool converts every frame to the layout of the first.
    const bool one_layout =
        frame_of(p, stream, false)["channel_layout"].text == frame_of(p, stream, true)["channel_layout"].text;
    EXPECT_TRUE(u.pcm == tool || !one_layout) << u.pcm.size() << " bytes against the tool's " << tool.size();
    EXPECT_EQ(errors, u.failed_calls);
    expect_delivery(a, frame_of(p, stream, true));
    EXPECT_EQ(o.url.rec.packet_count, number(p["streams"][stream]["nb_read_packets"]));
    o.url.rec.call_status = 7;
    EXPECT_EQ(ff_decode_audio(&o.url.rec, nullptr, nullptr, HostBuffer().get(), 0, nullptr), 0);
    EXPECT_TRUE(o.url.rec.end_of_stream == 1 && o.url.rec.call_status == 0);

    if (row.columns & kRestart) {
        EXPECT_EQ(o.url.rec.sample_count * frame_bytes(a), u.pcm.size());
        EXPECT_DOUBLE_EQ(o.url.rec.position, (double)o.url.rec.sample_count / a.sample_rate);
        // A host may move its record: reads go on through the functions the open saw.
        DecodeRec moved = o.io.rec;
        std::memset(&o.io.rec, 0, sizeof o.io.rec);
        moved.position = 0;
        moved.seek_backward = 1;
        EXPECT_EQ(ff_seek4(&moved), 0);
        EXPECT_TRUE(decode_to_end(moved, stream, row.columns & kCaller).pcm == u.pcm) << "second pass";
        o.io.rec = moved;
    }
    if (row.columns & kSeek)
        check_seeks(o.url.rec, tool, row);
    if (row.columns & kPackets)
        check_packets(path, stream, p);
    if (row.columns & kDamaged)
        check_damaged(path);
    if (row.columns & kS32) {
        OpenedSource s32(path);
        s32.rec.packed_output = 1;
        s32.rec.orig_sample_fmt = AV_SAMPLE_FMT_S32P;
        ASSERT_EQ(s32.open(), nullptr);
        EXPECT_TRUE(decode_to_end(s32.rec, stream).pcm == ffmpeg_pcm(path, stream, "s32le"));
    }
}

// Opening, describing, probing and decoding one input; returns its first
// decodable audio stream (-1: none).
int check_source(const std::string &path, const Row &row)
{
    int status = 0;
    const Json p = ffprobe_json(path,
                                "-count_packets -show_entries format=format_name,duration,start_time:format_tags:"
                                "stream=index,codec_type,codec_name,sample_rate,channels,sample_fmt,time_base,"
                                "bits_per_raw_sample,profile,nb_read_packets:stream_tags:chapter=id,time_base,"
                                "start,end:chapter_tags:frame=stream_index,sample_fmt,channel_layout",
                                &status);
    Opened o(path, row.most);
    // ffprobe also opens every decoder: when it fails, the two modes agree.
    EXPECT_TRUE(status != 0 ? o.opened != 1 : o.opened == 2);
    if (status != 0 || o.opened != 2 || o.url.rec.nb_streams != (int)p["streams"].size())
        return -1;
    const std::string format = p["format"]["format_name"].text;
    for (OpenedSource *src : {&o.url, &o.io}) {
        EXPECT_EQ(src->recorder.metadata, metadata_of(p));
        EXPECT_EQ(src->rec.format_name, format);
        bool dts = false;
        for (int i = 0; i < src->rec.nb_streams; i++) {
            SCOPED_TRACE("stream " + std::to_string(i));
            expect_stream(src->rec.audio_info[i], p["streams"][i], p);
            dts |= p["streams"][i]["codec_name"].text == "dts";
        }
        EXPECT_EQ(ff_is_dca(&src->rec), dts ? 1 : 0);
    }
    MemorySource bytes(o.memory.bytes);
    OpenedSource url(path), io(path, &bytes);
    for (DecodeRec *rec : {&url.rec, &io.rec}) {
        const AVInputFormat *probed = ff_probe2(rec);
        EXPECT_EQ(probed ? probed->name : "", format);
    }
    for (int i = 0; i < o.url.rec.nb_streams; i++) {
        SCOPED_TRACE("decoding stream " + std::to_string(i));
        if (std::string(o.url.rec.audio_info[i].status) == "OK")
            check_decode(path, i, p, i == o.url.first_audio() ? row : Row{row.file, 0, 0, 0, row.most});
    }
    return o.url.first_audio();
}

const Row kRows[] = {
    {"flac16.flac", kRestart | kDamaged, 0, 0, 7},
    {"flac24.flac", kRestart, 0, 0, 1000},
    {"mp3.mp3", kRestart | kCaller | kRefuse | kDamaged, 0, 0, 1},
    {"vorbis.ogg", kRestart, 0, 0, 7},
    // The demuxer trims the codec's start padding (Opus pre-skip, AAC
    // priming in MP4) on the first read from the start only.
    {"opus.opus", 0, 0, 0, 0},
    {"aac.m4a", kCaller | kS32, 0, 0, 1000},
    // ADTS: a seek back keeps the decoder's state.
    {"aac.aac", kDamaged, 0, 0, 7},
    {"damaged.aac", kSkip, 0, 0, 0},
    {"alac.m4a", kRestart, 0, 0, 0},
    {"alac24.m4a", kRestart, 0, 0, 0},
    {"wmav2.wma", kRestart, 0, 0, 0},
    {"stereo_s16.wav", kRestart | kDamaged, 0, 0, 1},
    {"stereo_s24.wav", kRestart, 0, 0, 0},
    {"surround51.flac", kRestart, 0, 0, 0},
    {"video_audio.mkv", kRestart | kPackets, 0, 0, 0},
    {"sweep.flac", kRestart | kSeek | kPackets, 0, 4608.0 / 44100, 0},
    {"sweep.wav", kRestart | kSeek, 0, 0.05, 0},
    {"sweep.mp3", kRestart | kSeek | kPackets, 2, 0.1, 0},
    {"sweep.ogg", kRestart | kSeek | kPackets, 2, 1.0, 0},
    {"sweep.m4a", kSeek | kPackets, 2, 0.1, 0},
    // Its clock starts at 1.4 s, and seeks land on PES packets of several frames.
    {"sweep.ts", kSeek | kPackets, 2, 0.3, 0},
};

class Reference : public testing::TestWithParam<Row> {};

TEST_P(Reference, AsTheToolsSay) { EXPECT_GE(check_source(media_path(GetParam().file), GetParam()), 0); }

INSTANTIATE_TEST_SUITE_P(Fixtures, Reference, testing::ValuesIn(kRows), [](const testing::TestParamInfo<Row> &info) {
    std::string name = info.param.file;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
});

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Every other generated input, in four shards.
class OtherFixtures : public testing::TestWithParam<int> {};

TEST_P(OtherFixtures, AsTheToolsSay)
{
    const std::vector<std::string> files = files_in(media_path(""));
    for (size_t i = GetParam(); i < files.size(); i += 4) {
        const std::string name = files[i].substr(files[i].rfind('/') + 1);
        SCOPED_TRACE(name);
        if (std::none_of(std::begin(kRows), std::end(kRows), [&](const Row &r) { return name == r.file; }))
            check_source(files[i], Row{});
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, OtherFixtures, testing::Range(0, 4));

// Where sweep.flac resumes after a seek to 1.25 s with the given fields, in
// samples of the tool's decode.
int64_t landing(int stream_index, int seek_backward, int keep_seek_flags)
{
    static const std::vector<uint8_t> tool = ffmpeg_pcm(media_path("sweep.flac"), 0, "s16le");
    OpenedSource src(media_path("sweep.flac"));
    EXPECT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = stream_index;
    src.rec.seek_backward = seek_backward;
    src.rec.keep_seek_flags = keep_seek_flags;
    src.rec.position = 1.25;
    EXPECT_EQ(ff_seek4(&src.rec), 0);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    const std::vector<uint8_t> block = buffer.packed(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr));
    return (std::search(tool.begin(), tool.end(), block.begin(), block.end()) - tool.begin()) / 4;
}

// Seek flags, the trial seek of the open and the byte position of the input.
TEST(Seek, FlagsTrialSeekAndBytePosition)
{
    const int64_t backward = landing(0, 1, 0), forward = landing(0, 0, 0);
    EXPECT_TRUE(backward <= 1.25 * 44100 && forward >= 1.25 * 44100 && backward < forward);
    // Without a stream the flags apply only with keep_seek_flags.
    EXPECT_EQ(landing(-1, 1, 1), backward);
    EXPECT_EQ(landing(-1, 1, 0), forward);
    EXPECT_EQ(landing(-1, 0, 1), forward);

    MemorySource memory(read_file(media_path("sweep.flac"))), unseekable(memory.bytes, false);
    OpenedSource src("sweep.flac", &memory), other("sweep.flac", &unseekable), url(media_path("sweep.flac"));
    src.rec.try_seek = other.rec.try_seek = 1;
    url.rec.try_seek = 2;
    url.rec.seekable = 7;
    ASSERT_TRUE(!src.open() && !other.open() && !url.open());
    EXPECT_TRUE(src.rec.seekable == 1 && other.rec.seekable == 0 && url.rec.seekable == 0);
    src.rec.audio_stream_index = 0;
    EXPECT_GT(ff_decode_audio(&src.rec, nullptr, nullptr, HostBuffer().get(), 0, nullptr), 0);
    const int64_t pos = ff_context_pos(&src.rec, FLATAV_CONTEXT_POS_NONE);
    EXPECT_GT(pos, 0);
    EXPECT_EQ(ff_context_pos(&src.rec, 1234), pos);
    EXPECT_EQ(ff_context_pos(&src.rec, FLATAV_CONTEXT_POS_NONE), 1234);
}

// Copy mode's two capacity bounds and the host's packet function (answer
// -1: none).
TEST(CopyMode, CapacityBoundsAndThePacketFunction)
{
    const std::string path = media_path("sweep.mp3");
    const DemuxedPacket first = demuxed_packets(path, "0").packets.at(0);
    const int32_t size = first.size;
    static std::vector<int32_t> offered;
    struct Case {
        int32_t expected_size, raw_buffer_size, answer, result;
    } cases[] = {{size, 0, -1, size},
                 {size - 1, size, -1, size},
                 {size - 1, size - 1, -1, FLATAV_DECODE_PACKET_TOO_LARGE},
                 {size, 0, FLATAV_PACKET_CB_TAKEN, FLATAV_DECODE_PACKET_TAKEN},
                 {size, 0, 5, size}};
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << k.expected_size << "/" << k.raw_buffer_size << " answer " << k.answer);
        OpenedSource src(path);
        ASSERT_EQ(src.open(), nullptr);
        src.rec.audio_stream_index = 0;
        src.rec.read_mode = FLATAV_READ_COPY;
        src.rec.raw_buffer_size = k.raw_buffer_size;
        src.rec.io_opaque = (void *)&k;
        offered.clear();
        if (k.answer >= 0)
            src.recorder.callbacks.packet_cb = [](void *opaque, const uint8_t *, int32_t sz, int32_t capacity) {
                offered = {sz, capacity};
                return static_cast<const Case *>(opaque)->answer;
            };
        std::vector<uint8_t> buf(size, 0);
        EXPECT_EQ(ff_decode_audio(&src.rec, buf.data(), nullptr, nullptr, k.expected_size, nullptr), k.result);
        EXPECT_EQ(md5_hex(buf.data(), size) == first.md5, k.result == size);
        EXPECT_EQ(src.rec.packet_duration_sum > 0, k.result != FLATAV_DECODE_PACKET_TAKEN) << "counted";
        EXPECT_EQ(offered, (k.answer < 0 ? std::vector<int32_t>{} : std::vector<int32_t>{size, k.expected_size}));
        // A null buf cannot take the packet: it counts as too small.
        EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 1 << 20, nullptr),
                  k.answer == FLATAV_PACKET_CB_TAKEN ? FLATAV_DECODE_PACKET_TAKEN : FLATAV_DECODE_PACKET_TOO_LARGE);
    }
}

// A format forced in custom-I/O mode opens raw PCM, which has no header;
// names of an earlier probe stay through the open.
TEST(Open, ForcedFormatAndProbedNames)
{
    std::vector<uint8_t> pcm(40000);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = (uint8_t)(i * 7 + i / 256);
    MemorySource memory(pcm);
    OpenedSource src("pcm.raw", &memory);
    src.rec.input_format = av_find_input_format("s16le");
    std::vector<uint8_t> head = read_file(media_path("stereo_s16.wav"));
    head.resize(64 + FLATAV_PROBE_PADDING);
    std::fill(head.begin() + 64, head.end(), 0);
    FlatavProbeData data{"", head.data(), 64, 0, nullptr};
    const AVInputFormat *wav = ff_probe(&src.rec, (AVProbeData *)&data);
    ASSERT_NE(wav, nullptr);
    EXPECT_STREQ(src.rec.format_name, "wav");
    EXPECT_NE(src.rec.format_name, wav->name) << "a copy of FFmpeg's text";
    EXPECT_STREQ(src.rec.format_long_name, wav->long_name);
    ASSERT_EQ(src.open(), nullptr);
    EXPECT_STREQ(src.rec.format_name, "wav");
    EXPECT_TRUE(decode_to_end(src.rec, 0).pcm == pcm);
}

// The first decodable stream of a corpus file copied into Matroska and into
// the source's own container where FFmpeg has a muxer for it:
// FLATAV_READ_RAW_PACKET hands out the demuxer's packets, and the output
// holds the packets of the tool's own remux, at the source's times. Where
// the tool cannot remux, neither can the library.
void check_copy(const std::string &path, int stream)
{
    const DemuxedPackets source = demuxed_packets(path, std::to_string(stream));
    const std::string own = "copy" + path.substr(path.rfind('.'));
    for (const std::string &output : {std::string("copy.mka"), own}) {
        const AVOutputFormat *fmt = av_guess_format(nullptr, output.c_str(), nullptr);
        if (source.packets.empty() || !fmt || (output == own && own == "copy.mka"))
            continue;
        SCOPED_TRACE(output);
        CopyRun run;
        copy_stream(path, stream, output, run);
        EXPECT_TRUE(!run.open_error.empty() || run.handed_out == source.packets);
        ScratchFile by_tool("tool_" + output), by_library("library_" + output);
        int status = -1;
        run_capture("ffmpeg -nostdin -v quiet -i " + shell_quote(path) + " -map 0:" + std::to_string(stream) +
                        " -c copy -f " + fmt->name + " -y " + shell_quote(by_tool.path),
                    &status);
        EXPECT_EQ(run.succeeded(), status == 0) << "library: open \"" << run.open_error << "\"";
        if (!run.succeeded() || status != 0)
            continue;
        by_library.write(run.out.bytes);
        // The tool's remux also copies chapters, which some containers keep
        // as a stream: the audio stream is compared.
        const DemuxedPackets written = demuxed_packets(by_library.path, "a:0");
        const DemuxedPackets remuxed = demuxed_packets(by_tool.path, "a:0");
        ASSERT_EQ(written.packets, remuxed.packets);
        ASSERT_EQ(written.tb_den * remuxed.tb_num, remuxed.tb_den * written.tb_num);
        // The tool moves the start to 0, the library keeps the source's times.
        for (size_t k = 0; k < written.packets.size(); k++)
            EXPECT_LE(std::llabs(written.packets[k].dts - remuxed.packets[k].dts -
                                 (written.packets[0].dts - remuxed.packets[0].dts)), 1);
    }
}

const char *const kCorpus[] = {"aiff", "broken", "dolby", "dsd", "flac", "lossless", "mkv",
                               "mlp",  "mp3",    "mp4",   "ogg", "video", "wav", "wma"};

class Corpus : public testing::TestWithParam<const char *> {};

TEST_P(Corpus, AsTheToolsSay)
{
    const std::string dir = corpus_dir() + "/" + GetParam();
    if (corpus_dir().empty() || !std::filesystem::is_directory(dir))
        GTEST_SKIP() << "no real-world corpus: set FLATAV_CORPUS to its directory "
                        "(it is ../shared/corpus beside the source tree)";
    for (const std::string &path : files_in(dir)) {
        SCOPED_TRACE(path);
        const int stream = check_source(path, Row{});
        if (stream >= 0)
            check_copy(path, stream);
        check_damaged(path);
    }
}

INSTANTIATE_TEST_SUITE_P(Directories, Corpus, testing::ValuesIn(kCorpus),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

// Every directory of the corpus is in the table, so no file escapes.
TEST(Corpus, EveryDirectoryIsWalked)
{
    if (corpus_dir().empty())
        GTEST_SKIP() << "no real-world corpus";
    for (const auto &entry : std::filesystem::directory_iterator(corpus_dir()))
        EXPECT_TRUE(!entry.is_directory() ||
                    std::count(std::begin(kCorpus), std::end(kCorpus), entry.path().filename().string()))
            << entry.path() << " is not walked";
}

}  // namespace

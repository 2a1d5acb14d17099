// Real-world files written by other projects: each one opens alike through
// a URL and through the host's read and seek functions and reports what
// ffprobe reports, every audio stream decodes to the ffmpeg tool's PCM,
// the first one copies into a new container packet for packet as FFmpeg's
// own remux does, and damaged copies end with documented codes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
#include <libavutil/samplefmt.h>
}

#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// Calls of one loop at most: a source that never ends fails the test
// instead of hanging it.
constexpr int kMaxCalls = 200000;

bool starts_with(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One line of what a check found, for the test's output: the corpus's
// results are read there, not only counted.
void note(const std::string &path, const std::string &text)
{
    const std::string name = path.substr(path.rfind('/', path.rfind('/') - 1) + 1);
    std::printf("[   NOTE   ] %s: %s\n", name.c_str(), text.c_str());
    std::fflush(stdout);
}

std::string extension_of(const std::string &path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? "" : path.substr(dot + 1);
}

// ---------------------------------------------------------------------------
// ffprobe's view of a file, from its INI output.

struct Probe {
    using Section = std::vector<std::pair<std::string, std::string>>;
    int status = -1;
    std::string errors;
    std::map<std::string, Section> sections;

    const Section &section(const std::string &name) const
    {
        static const Section none;
        auto it = sections.find(name);
        return it == sections.end() ? none : it->second;
    }
    std::string value(const std::string &name, const std::string &key) const
    {
        for (const auto &entry : section(name))
            if (entry.first == key)
                return entry.second;
        return "";
    }
};

// Undoes the INI writer's escapes: \b \f \n \r \t, \x00HH, \<char>.
std::string ini_unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x':
            out += (char)std::strtol(text.substr(i + 3, 2).c_str(), nullptr, 16);
            i += 4;
            break;
        default: out += c;
        }
    }
    return out;
}

// The split of key=value at the first unescaped '='.
std::pair<std::string, std::string> ini_entry(const std::string &line)
{
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '\\')
            i++;
        else if (line[i] == '=')
            return {ini_unescape(line.substr(0, i)), ini_unescape(line.substr(i + 1))};
    }
    return {ini_unescape(line), ""};
}

Probe ffprobe_file(const std::string &path)
{
    ScratchFile errors("ffprobe_errors.txt");
    Probe probe;
    const std::string text = run_text(
        "ffprobe -v error -show_entries "
        "format=duration:format_tags:stream=index,codec_type,codec_name,sample_rate,channels,"
        "sample_fmt:stream_tags:chapter=id,time_base,start,end:chapter_tags "
        "-of ini=sv=ignore " +
            shell_quote(path) + " 2>" + shell_quote(errors.path),
        &probe.status);
    const std::vector<uint8_t> err = read_file(errors.path);
    probe.errors.assign(err.begin(), err.end());
    std::istringstream lines(text);
    std::string line, current;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            probe.sections[current];
        } else {
            probe.sections[current].push_back(ini_entry(line));
        }
    }
    return probe;
}

// ---------------------------------------------------------------------------
// Decoding through the library and through the ffmpeg tool.

// The ffmpeg tool's raw format for packed samples of fmt.
const char *raw_format(int fmt)
{
    switch (av_get_packed_sample_fmt((AVSampleFormat)fmt)) {
    case AV_SAMPLE_FMT_U8: return "u8";
    case AV_SAMPLE_FMT_S16: return "s16le";
    case AV_SAMPLE_FMT_S32: return "s32le";
    case AV_SAMPLE_FMT_FLT: return "f32le";
    case AV_SAMPLE_FMT_DBL: return "f64le";
    case AV_SAMPLE_FMT_S64: return "s64le";
    default: return nullptr;
    }
}

// What decoding one stream to its end gave the host.
struct Pcm {
    std::vector<uint8_t> bytes;
    int failed_calls = 0;             // results FLATAV_DECODE_FAILED (the loop goes on)
    int32_t skipped = 0;              // counted by FLATAV_DECODE_ERRORS_COUNT_AND_SKIP
    bool ended = false;               // result 0 with end_of_stream 1
    std::vector<int32_t> unexpected;  // any other result
};

Pcm decode_all(DecodeRec &rec, int stream, int error_mode)
{
    rec.audio_stream_index = stream;
    rec.packed_output = 1;
    rec.read_mode = FLATAV_READ_DECODE;
    rec.decode_error_mode = error_mode;
    HostBuffer buffer;
    Pcm pcm;
    for (int calls = 0; calls < kMaxCalls && pcm.unexpected.size() < 10; calls++) {
        const int32_t got = ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, &pcm.skipped);
        if (got > 0) {
            pcm.bytes.insert(pcm.bytes.end(), buffer.get()->data, buffer.get()->data + got);
        } else if (got == FLATAV_DECODE_FAILED) {
            pcm.failed_calls++;
        } else if (got == 0 && rec.end_of_stream == 1) {
            pcm.ended = true;
            break;
        } else {
            pcm.unexpected.push_back(got);
        }
    }
    return pcm;
}

// The ffmpeg tool's decode of one stream: its PCM, its exit status and how
// many packets it could not decode.
struct ToolPcm {
    std::vector<uint8_t> bytes;
    int status = -1;
    int errors = 0;
};

ToolPcm tool_pcm(const std::string &path, int stream, const char *format)
{
    ScratchFile errors("ffmpeg_errors.txt");
    ToolPcm pcm;
    pcm.bytes = run_capture("ffmpeg -nostdin -v repeat+error -i " + shell_quote(path) + " -map 0:" +
                                std::to_string(stream) + " -f " + format + " - 2>" +
                                shell_quote(errors.path),
                            &pcm.status);
    const std::vector<uint8_t> err = read_file(errors.path);
    pcm.errors = tool_decode_errors(std::string(err.begin(), err.end()));
    return pcm;
}

// ---------------------------------------------------------------------------
// What a source reports: tags, chapters and stream descriptions.

struct Report {
    std::vector<std::string> tags;      // "stream|key|value"
    std::vector<std::string> chapters;  // "id|start|end|key|value"
    std::vector<std::string> streams;   // one line of AudioInfo fields each
};

std::string chapter_line(int64_t id, float start, float end, const std::string &key,
                         const std::string &value)
{
    std::ostringstream line;
    line.precision(9);
    line << id << '|' << start << '|' << end << '|' << key << '|' << value;
    return line.str();
}

Report report_of(const OpenedSource &src)
{
    Report report;
    for (const Recorder::Tag &t : src.recorder.tags)
        report.tags.push_back(std::to_string(t.stream) + '|' + t.key + '|' + t.value);
    for (const Recorder::ChapterTag &c : src.recorder.chapters)
        report.chapters.push_back(chapter_line(c.id, c.start, c.end, c.key, c.value));
    for (int i = 0; i < src.rec.nb_streams; i++) {
        const AudioInfo &a = src.rec.audio_info[i];
        std::ostringstream line;
        line << a.stream_index << ' ' << a.codec_type << ' ' << a.status << ' ' << a.codec_id
             << ' ' << (a.codec_name ? a.codec_name : "-") << ' ' << a.sample_rate << ' '
             << a.channels << ' ' << a.sample_fmt << ' ' << a.bit_rate << ' '
             << a.bits_per_raw_sample << ' ' << a.profile << ' ' << a.duration << ' '
             << a.duration_seconds << ' ' << a.time_base.num << '/' << a.time_base.den;
        report.streams.push_back(line.str());
    }
    return report;
}

// What ffprobe shows that the library reports too: container tags, the
// tags of audio streams (the library reports no others), and the tags of
// chapters with their times in single precision.
Report report_of(const Probe &probe, int nb_streams)
{
    Report report;
    for (const auto &tag : probe.section("format.tags"))
        report.tags.push_back("-1|" + tag.first + '|' + tag.second);
    for (int i = 0;; i++) {
        const std::string name = "chapters.chapter." + std::to_string(i);
        if (!probe.sections.count(name))
            break;
        int num = 0, den = 1;
        std::sscanf(probe.value(name, "time_base").c_str(), "%d/%d", &num, &den);
        const double tick = (double)num / den;
        const float start = (float)(std::atoll(probe.value(name, "start").c_str()) * tick);
        const float end = (float)(std::atoll(probe.value(name, "end").c_str()) * tick);
        for (const auto &tag : probe.section(name + ".tags"))
            report.chapters.push_back(chapter_line(std::atoll(probe.value(name, "id").c_str()),
                                                   start, end, tag.first, tag.second));
    }
    for (int i = 0; i < nb_streams; i++) {
        const std::string name = "streams.stream." + std::to_string(i);
        if (probe.value(name, "codec_type") != "audio")
            continue;
        for (const auto &tag : probe.section(name + ".tags"))
            report.tags.push_back(std::to_string(i) + '|' + tag.first + '|' + tag.second);
    }
    return report;
}

// ---------------------------------------------------------------------------
// Stream copy through read mode 3 and the stream-copy writer.

DemuxedPacket packet_of(const AVPacket *pkt)
{
    uint8_t digest[16];
    av_md5_sum(digest, pkt->data, pkt->size);
    char hex[33];
    for (int i = 0; i < 16; i++)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return {pkt->pts, pkt->dts, pkt->duration, pkt->size, hex};
}

struct CopyRun {
    std::string open_error;                 // "" after a successful open
    std::vector<DemuxedPacket> handed_out;  // what read mode 3 gave
    std::vector<int32_t> results;           // of the packet calls
    int32_t trailer = -100;
    MemoryOutput out;

    bool succeeded() const
    {
        return open_error.empty() && trailer == 0 &&
               std::all_of(results.begin(), results.end(), [](int32_t r) { return r == 0; });
    }
};

void copy_stream(const std::string &path, int stream, const std::string &output, CopyRun &run)
{
    OpenedSource src(path);
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    src.rec.streamcopy->stream_index = stream;
    src.rec.audio_stream_index = stream;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();

    Recorder recorder;
    EncodeRec rec{};
    rec.output_file_name = output.c_str();
    rec.callbacks = &recorder.callbacks;
    rec.streamcopy = src.rec.streamcopy;
    run.out.attach(rec);
    if (const char *failure = ff_open_encoder_raw(&rec)) {
        run.open_error = failure;
    } else {
        int32_t size;
        for (int calls = 0; calls < kMaxCalls &&
                            (size = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0,
                                                    nullptr)) >= 0;
             calls++) {
            run.handed_out.push_back(packet_of(src.rec.raw_pkt));
            rec.raw_pkt = src.rec.raw_pkt;
            run.results.push_back(ff_encode_audio_raw(&rec, size == 0 ? 1 : size));
            ff_pkt_clean(src.rec.raw_pkt);
        }
        EXPECT_EQ(src.rec.end_of_stream, 1);
        run.trailer = ff_encode_audio_raw(&rec, 0);
    }
    ff_cleanup_encoder(&rec);
    ff_pkt_free(src.rec.raw_pkt);
}

// ---------------------------------------------------------------------------
// The checks, file by file.

const char *const kDirectories[] = {"aiff", "broken", "dolby", "dsd", "flac", "lossless", "mkv",
                                    "mlp",  "mp3",    "mp4",   "ogg", "video", "wav", "wma"};

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

bool is_open_failure(const std::string &text)
{
    return starts_with(text, "(1)avformat_open_input failed -") ||
           starts_with(text, "avformat_find_stream_info failed -");
}

bool is_documented_status(const std::string &status)
{
    return status == "OK" || status == "N/A" ||
           starts_with(status, "avcodec_find_decoder for codec_id ") ||
           starts_with(status, "avcodec_parameters_to_context failed -") ||
           starts_with(status, "avcodec_open2 failed -");
}

// The code in an open failure text, for FFmpeg's text of it.
std::string text_of_failure_code(const std::string &failure)
{
    const size_t at = failure.find(" -");
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(std::atoi(failure.c_str() + at + 1), text, sizeof text);
    return text;
}

// Opening: the same report in both modes, and ffprobe's where comparable;
// a file ffprobe cannot open fails with the documented text and code.
void check_open(const std::string &path, const Probe &probe)
{
    MemorySource memory(read_file(path));
    OpenedSource url(path), io(path, &memory);
    const char *url_failure = url.open();
    const char *io_failure_text = io.open();
    const std::string url_error = url_failure ? url_failure : "";
    const std::string io_error = io_failure_text ? io_failure_text : "";

    if (probe.status != 0) {
        EXPECT_TRUE(is_open_failure(url_error)) << url_error << "\nffprobe: " << probe.errors;
        EXPECT_TRUE(is_open_failure(io_error)) << io_error;
        // FFmpeg's text for the code is the one ffprobe printed.
        EXPECT_NE(probe.errors.find(text_of_failure_code(url_error)), std::string::npos)
            << url_error << "\nffprobe: " << probe.errors;
        EXPECT_EQ(io_error.substr(0, io_error.find(", file=")),
                  url_error.substr(0, url_error.find(", file=")));
        note(path, "ffprobe cannot open it, nor can the library: \"" + url_error + "\"");
        return;
    }
    ASSERT_EQ(url_error, "");
    ASSERT_EQ(io_error, "");
    const Report by_url = report_of(url), by_io = report_of(io);
    EXPECT_EQ(by_url.tags, by_io.tags);
    EXPECT_EQ(by_url.chapters, by_io.chapters);
    EXPECT_EQ(by_url.streams, by_io.streams);

    const Report by_tool = report_of(probe, url.rec.nb_streams);
    EXPECT_EQ(by_url.tags, by_tool.tags);
    EXPECT_EQ(by_url.chapters, by_tool.chapters);

    int streams = 0;
    while (probe.sections.count("streams.stream." + std::to_string(streams)))
        streams++;
    note(path, "opens with " + std::to_string(streams) + " streams, " +
                   std::to_string(by_url.tags.size()) + " tags, " +
                   std::to_string(by_url.chapters.size()) + " chapter tags");
    ASSERT_EQ(url.rec.nb_streams, streams);
    const std::string duration = probe.value("format", "duration");
    for (int i = 0; i < streams; i++) {
        SCOPED_TRACE("stream " + std::to_string(i));
        const std::string name = "streams.stream." + std::to_string(i);
        const AudioInfo &a = url.rec.audio_info[i];
        EXPECT_TRUE(is_documented_status(a.status)) << a.status;
        EXPECT_EQ(a.codec_type == AVMEDIA_TYPE_AUDIO, probe.value(name, "codec_type") == "audio");
        if (std::string(a.status) != "OK")
            continue;
        EXPECT_EQ(avcodec_get_name((AVCodecID)a.codec_id), probe.value(name, "codec_name"));
        EXPECT_EQ(std::to_string(a.sample_rate), probe.value(name, "sample_rate"));
        EXPECT_EQ(std::to_string(a.channels), probe.value(name, "channels"));
        const char *fmt = av_get_sample_fmt_name((AVSampleFormat)a.sample_fmt);
        EXPECT_EQ(fmt ? fmt : "", probe.value(name, "sample_fmt"));
        if (duration == "N/A") {
            EXPECT_EQ(a.duration, 0);
            EXPECT_EQ(a.duration_seconds, -1.0);
        } else {
            EXPECT_EQ(a.duration, std::llround(std::atof(duration.c_str()) * 1e6));
            EXPECT_EQ(a.duration_seconds, std::floor(a.duration / 1e6));
        }
    }
}

// Decoding every audio stream that has a decoder: by URL with errors
// failing calls, through the host's functions with errors counted; both
// give the tool's PCM, all of it.
void check_decode(const std::string &path, std::vector<int> *decodable)
{
    OpenedSource probe_src(path);
    if (probe_src.open())
        return;
    for (int i = 0; i < probe_src.rec.nb_streams; i++) {
        const AudioInfo &a = probe_src.rec.audio_info[i];
        if (a.codec_type != AVMEDIA_TYPE_AUDIO || std::string(a.status) != "OK")
            continue;
        SCOPED_TRACE("audio stream " + std::to_string(i));
        OpenedSource url(path);
        ASSERT_EQ(url.open(), nullptr);
        const Pcm by_url = decode_all(url.rec, i, FLATAV_DECODE_ERRORS_FAIL);
        EXPECT_TRUE(by_url.ended);
        EXPECT_TRUE(by_url.unexpected.empty()) << by_url.unexpected[0];
        EXPECT_EQ(url.recorder.errors.size(), (size_t)by_url.failed_calls);
        for (const std::string &e : url.recorder.errors)
            EXPECT_TRUE(starts_with(e, "ff_decode_audio Error while decoding (-")) << e;

        MemorySource memory(read_file(path));
        OpenedSource io(path, &memory);
        ASSERT_EQ(io.open(), nullptr);
        const Pcm by_io = decode_all(io.rec, i, FLATAV_DECODE_ERRORS_COUNT_AND_SKIP);
        EXPECT_TRUE(by_io.ended);
        EXPECT_EQ(by_io.failed_calls, 0);
        EXPECT_EQ(by_io.skipped, by_url.failed_calls);
        EXPECT_TRUE(by_io.bytes == by_url.bytes)
            << by_io.bytes.size() << " bytes against " << by_url.bytes.size();

        const char *format = raw_format(url.rec.audio_info[i].output_sample_fmt);
        const ToolPcm tool = tool_pcm(path, i, format ? format : "s16le");
        EXPECT_EQ(tool.errors, by_url.failed_calls);
        const std::string counts = "tool errors " + std::to_string(tool.errors) +
                                   ", calls failing with FLATAV_DECODE_FAILED: " +
                                   std::to_string(by_url.failed_calls);
        if (!format) {
            // The decoder never produced a frame, nor did the tool's.
            EXPECT_TRUE(by_url.bytes.empty());
            EXPECT_TRUE(tool.bytes.empty());
            note(path, "stream " + std::to_string(i) + ": no PCM from either; " + counts);
            continue;
        }
        const bool same = by_url.bytes == tool.bytes;
        EXPECT_TRUE(same) << by_url.bytes.size() << " bytes against the tool's "
                          << tool.bytes.size() << " (" << format << ")";
        note(path, "stream " + std::to_string(i) + ": " + std::to_string(by_url.bytes.size()) +
                       " bytes " + format + (same ? " = " : " differ from ") + "the tool's; " +
                       counts);
        if (decodable)
            decodable->push_back(i);
    }
}

// Stream copy of the first decodable audio stream into Matroska and into
// the source's own container where FFmpeg has a muxer for it: read mode 3
// hands out the demuxer's packets, and the output holds the packets that
// FFmpeg's own remux writes. Where the tool cannot remux, neither can the
// library, and it says so with a documented code.
void check_copy(const std::string &path, int stream)
{
    const std::vector<DemuxedPacket> source = demuxed_packets(path, std::to_string(stream)).packets;
    if (source.empty()) {
        note(path, "no packets in stream " + std::to_string(stream) + ", nothing to copy");
        return;
    }
    std::vector<std::string> outputs{"copy.mka"};
    const std::string own = "copy." + extension_of(path);
    if (own != "copy.mka" && av_guess_format(nullptr, own.c_str(), nullptr))
        outputs.push_back(own);
    for (const std::string &output : outputs) {
        SCOPED_TRACE(output);
        CopyRun run;
        copy_stream(path, stream, output, run);
        if (run.open_error.empty()) {
            EXPECT_EQ(run.handed_out, source);
        } else {
            EXPECT_TRUE(starts_with(run.open_error, "avformat_write_header failed -"))
                << run.open_error;
        }
        for (int32_t r : run.results)
            EXPECT_TRUE(r == 0 || r == FLATAV_RAW_WRITE_FAILED) << r;

        const AVOutputFormat *fmt = av_guess_format(nullptr, output.c_str(), nullptr);
        ScratchFile by_tool("tool_" + output), by_library("library_" + output);
        int status = -1;
        run_text("ffmpeg -nostdin -v error -i " + shell_quote(path) + " -map 0:" +
                     std::to_string(stream) + " -c copy -f " + fmt->name + " -y " +
                     shell_quote(by_tool.path) + " 2>/dev/null",
                 &status);
        EXPECT_EQ(run.succeeded(), status == 0)
            << "library: open \"" << run.open_error << "\", trailer " << run.trailer;
        if (!run.succeeded() || status != 0) {
            note(path, "copy to " + output + ": the tool's remux fails, the library's " +
                           (run.open_error.empty() ? "packet or trailer calls fail"
                                                   : "open returns \"" + run.open_error + "\""));
            continue;
        }
        by_library.write(run.out.bytes);
        // The tool's remux also copies chapters, which some containers keep
        // as a stream: the audio stream is compared.
        const DemuxedPackets written = demuxed_packets(by_library.path, "a:0");
        const DemuxedPackets remuxed = demuxed_packets(by_tool.path, "a:0");
        ASSERT_EQ(written.packets, remuxed.packets);
        ASSERT_EQ(written.tb_den * remuxed.tb_num, remuxed.tb_den * written.tb_num);
        // The tool moves the start to 0, the library keeps the source's
        // times: the steps between packets agree.
        for (size_t k = 1; k < written.packets.size(); k++) {
            const int64_t ours = written.packets[k].dts - written.packets[0].dts;
            const int64_t theirs = remuxed.packets[k].dts - remuxed.packets[0].dts;
            EXPECT_LE(std::llabs(ours - theirs), 1) << "packet " << k;
        }
        note(path, "copy to " + output + ": " + std::to_string(written.packets.size()) +
                       " packets, as the tool's remux");
    }
}

// Damaged copies made here: truncated at several points and with bytes
// flipped at fixed seeds.
std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged(const std::vector<uint8_t> &bytes)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> variants;
    if (bytes.empty())
        return variants;
    for (size_t cut : {bytes.size() / 8, bytes.size() / 3, bytes.size() / 2, bytes.size() * 9 / 10})
        variants.emplace_back("truncated at " + std::to_string(cut),
                              std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> flipped = bytes;
        for (int k = 0; k < 8; k++)
            flipped[rng() % flipped.size()] ^= (uint8_t)(1 + rng() % 255);
        variants.emplace_back("flipped, seed " + std::to_string(seed), flipped);
    }
    return variants;
}

// What the damaged copies of one file gave, summed.
struct DamageTally {
    int variants = 0, opened = 0, decoded = 0, failed_calls = 0;
    int64_t pcm_bytes = 0, packets = 0;
};

// A damaged source: the open fails with its documented text, or every
// stream has a documented status, decoding ends with documented results (a
// truncated copy with the PCM the tool decodes from the same bytes), and
// after a seek back read mode 3 ends too. Clean-up follows.
void check_damaged(const std::string &path, const std::vector<uint8_t> &bytes,
                   bool truncated, DamageTally &tally)
{
    tally.variants++;
    MemorySource memory(bytes);
    OpenedSource src(path, &memory);
    // The trial seek moves the start (the read position is not restored),
    // so a truncated copy, whose PCM is compared, goes without it.
    src.rec.try_seek = truncated ? 0 : 1;
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    const char *failure = src.open();
    if (failure) {
        EXPECT_TRUE(is_open_failure(failure)) << failure;
        // A failed open leaves the request as the host wrote it.
        src.rec.streamcopy = nullptr;
        return;
    }
    for (int i = 0; i < src.rec.nb_streams; i++)
        EXPECT_TRUE(is_documented_status(src.rec.audio_info[i].status))
            << src.rec.audio_info[i].status;
    tally.opened++;
    const int stream = src.first_audio();
    if (stream < 0)
        return;
    const Pcm pcm = decode_all(src.rec, stream, FLATAV_DECODE_ERRORS_FAIL);
    EXPECT_TRUE(pcm.ended);
    tally.decoded++;
    const char *format = raw_format(src.rec.audio_info[stream].av_codec_context->sample_fmt);
    if (truncated && format) {
        ScratchFile cut("truncated." + extension_of(path));
        cut.write(bytes);
        const ToolPcm tool = tool_pcm(cut.path, stream, format);
        EXPECT_TRUE(pcm.bytes == tool.bytes)
            << pcm.bytes.size() << " bytes against the tool's " << tool.bytes.size();
    }
    tally.pcm_bytes += (int64_t)pcm.bytes.size();
    tally.failed_calls += pcm.failed_calls;
    for (const std::string &e : src.recorder.errors)
        EXPECT_TRUE(starts_with(e, "ff_decode_audio Error while decoding (-") ||
                    starts_with(e, "decode_audio_frame Failed to initialize the resampling"))
            << e;
    for (int32_t r : pcm.unexpected)
        EXPECT_TRUE(r == 0 && src.recorder.has_error_containing("resampling")) << r;

    src.rec.position = 0;
    EXPECT_LE(ff_seek4(&src.rec), 0);
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    int32_t got = 0;
    for (int calls = 0; calls < kMaxCalls && (got = ff_decode_audio(&src.rec, nullptr, nullptr,
                                                                     nullptr, 0, nullptr)) >= 0;
         calls++) {
        tally.packets++;
        ff_pkt_clean(src.rec.raw_pkt);
    }
    EXPECT_EQ(got, FLATAV_DECODE_END_OF_PACKETS);
    EXPECT_EQ(src.rec.end_of_stream, 1);
    ff_pkt_free(src.rec.raw_pkt);
    src.rec.raw_pkt = nullptr;
}

class CorpusDirectory : public testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        if (corpus_dir().empty())
            GTEST_SKIP() << "no real-world corpus: set FLATAV_CORPUS to its directory "
                            "(it is ../shared/corpus beside the source tree)";
        dir = corpus_dir() + "/" + GetParam();
        if (!std::filesystem::is_directory(dir))
            GTEST_SKIP() << dir << " is not in this corpus";
    }
    std::string dir;
};

TEST_P(CorpusDirectory, OpensAlikeInBothModesAndAsFfprobeSays)
{
    for (const std::string &path : files_in(dir)) {
        SCOPED_TRACE(path);
        check_open(path, ffprobe_file(path));
    }
}

TEST_P(CorpusDirectory, DecodesToTheToolsPcmAndCopiesAsTheToolRemuxes)
{
    for (const std::string &path : files_in(dir)) {
        SCOPED_TRACE(path);
        std::vector<int> decodable;
        check_decode(path, &decodable);
        if (!decodable.empty())
            check_copy(path, decodable[0]);
    }
}

TEST_P(CorpusDirectory, DamagedCopiesEndWithDocumentedCodes)
{
    for (const std::string &path : files_in(dir)) {
        DamageTally tally;
        for (const auto &variant : damaged(read_file(path))) {
            SCOPED_TRACE(path + ", " + variant.first);
            check_damaged(path, variant.second, starts_with(variant.first, "truncated"), tally);
        }
        note(path, std::to_string(tally.variants) + " damaged copies: " +
                       std::to_string(tally.opened) + " open, " + std::to_string(tally.decoded) +
                       " decode to their end (" + std::to_string(tally.pcm_bytes) + " bytes, " +
                       std::to_string(tally.failed_calls) +
                       " calls failing with FLATAV_DECODE_FAILED), " +
                       std::to_string(tally.packets) + " packets in FLATAV_READ_RAW_PACKET");
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusDirectory, testing::ValuesIn(kDirectories),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param);
                         });

// Every directory of the corpus is one of the table's, so no file escapes
// the walk.
TEST(Corpus, EveryDirectoryIsWalked)
{
    const std::string dir = corpus_dir();
    if (dir.empty())
        GTEST_SKIP() << "no real-world corpus: set FLATAV_CORPUS to its directory";
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_directory()) {
            EXPECT_EQ(name, "README.md") << "a file outside the walked directories";
            continue;
        }
        EXPECT_NE(std::find_if(std::begin(kDirectories), std::end(kDirectories),
                               [&](const char *d) { return name == d; }),
                  std::end(kDirectories))
            << name << " is not walked";
    }
}

}  // namespace

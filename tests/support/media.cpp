#include "media.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "common/ffmpeg_util.h"

namespace flatav_test {

std::string media_path(const std::string &name)
{
    return std::string(FLATAV_MEDIA_DIR) + "/" + name;
}

std::string corpus_dir()
{
    const char *env = std::getenv("FLATAV_CORPUS");
    std::string dir = env && *env ? env : FLATAV_CORPUS_DIR;
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "";
    return dir;
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::vector<uint8_t> run_capture(const std::string &command, int *exit_status)
{
    std::vector<uint8_t> out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exit_status)
            *exit_status = -1;
        return out;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    int status = pclose(pipe);
    if (exit_status)
        *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string shell_quote(const std::string &word)
{
#if defined(_WIN32)
    // cmd.exe runs the commands there; no test path holds a double quote.
    return "\"" + word + "\"";
#endif
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::vector<uint8_t> ffmpeg_pcm(const std::string &path, int stream_index,
                                const std::string &format)
{
    const std::string command = "ffmpeg -nostdin -v error -i " + shell_quote(path) +
                                " -map 0:" + std::to_string(stream_index) +
                                " -f " + format + " -";
    int status = 0;
    std::vector<uint8_t> pcm = run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    return pcm;
}

int tool_decode_errors(const std::string &log)
{
    // One line each: FFmpeg 5.1's tool says "Error while decoding stream";
    // 7.1's says "Error submitting packet to decoder" for a packet refused
    // and "Decoding error" for a frame that could not be received.
    int count = 0;
    for (const char *line : {"Error while decoding stream", "Error submitting packet to decoder",
                             "Decoding error"})
        for (size_t at = 0; (at = log.find(line, at)) != std::string::npos; at++)
            count++;
    return count;
}

double DemuxedPackets::total_seconds() const
{
    int64_t ticks = 0;
    for (const DemuxedPacket &p : packets)
        ticks += p.duration;
    return (double)ticks * tb_num / tb_den;
}

DemuxedPackets demuxed_packets(const std::string &path, const std::string &stream)
{
    const std::string command = "ffmpeg -nostdin -v error -copyts -i " + shell_quote(path) +
                                " -map 0:" + stream + " -c copy -f framemd5 -";
    int status = 0;
    const std::vector<uint8_t> out = run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    DemuxedPackets result;
    std::istringstream lines(std::string(out.begin(), out.end()));
    std::string line;
    while (std::getline(lines, line)) {
        long long a, b, c;
        int index, size;
        char md5[33] = "";
        if (std::sscanf(line.c_str(), "#tb 0: %lld/%lld", &a, &b) == 2) {
            result.tb_num = a;
            result.tb_den = b;
        } else if (line[0] != '#' &&
                   std::sscanf(line.c_str(), "%d, %lld, %lld, %lld, %d, %32s", &index, &a, &b,
                               &c, &size, md5) == 6) {
            result.packets.push_back({b, a, c, size, md5});
        }
    }
    return result;
}

BufferPackets buffer_packets(const std::string &path)
{
    BufferPackets out;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return out;
    flatav::InputPtr input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0 || raw->nb_streams < 1)
        return out;
    const AVCodecParameters *par = raw->streams[0]->codecpar;
    out.rec.channels = par->ch_layout.nb_channels;
    out.rec.sample_fmt = par->format;
    out.rec.sample_rate = par->sample_rate;
    flatav::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == 0)
            out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt.get());
    }
    return out;
}

}  // namespace flatav_test

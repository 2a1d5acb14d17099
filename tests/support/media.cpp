#include "media.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

namespace flatav_test {

std::string media_path(const std::string &name) { return std::string(FLATAV_MEDIA_DIR) + "/" + name; }

std::string corpus_dir()
{
    const char *env = std::getenv("FLATAV_CORPUS");
    const std::string dir = env && *env ? env : FLATAV_CORPUS_DIR;
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : "";
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Under load, Wine now and then fails to start a command: cmd.exe does not
// find the program on the PATH (exit 9009, "not recognized") or the pipe
// fails (-1). Nothing ran, so running it again is safe.
static bool not_started(int status, const std::vector<uint8_t> &out)
{
#if defined(_WIN32)
    return (status == 9009 || status == -1) && out.empty();
#else
    return (void)status, (void)out, false;
#endif
}

std::vector<uint8_t> run_capture(const std::string &command, int *exit_status)
{
    std::vector<uint8_t> out;
    int status = -1;
    for (int attempt = 0; attempt < 5; attempt++) {
        FILE *pipe = popen(command.c_str(), "r");
        uint8_t chunk[65536];
        for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.insert(out.end(), chunk, chunk + n);
        status = pipe ? pclose(pipe) : -1;
        if (!not_started(status, out))
            break;
    }
    if (exit_status)
        *exit_status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string shell_quote(const std::string &word)
{
#if defined(_WIN32)
    // cmd.exe runs the commands there; no test path holds a double quote.
    return "\"" + word + "\"";
#endif
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<uint8_t> ffmpeg_pcm(const std::string &path, int stream_index, const std::string &format,
                                int *errors)
{
    const std::string log = testing::TempDir() + "flatav_" + std::to_string(getpid()) + "_log";
    const std::string command = "ffmpeg -nostdin -v repeat+error -i " + shell_quote(path) + " -map 0:" +
                                std::to_string(stream_index) + " -f " + format + " - 2>" + shell_quote(log);
    int status = 0;
    std::vector<uint8_t> pcm = run_capture(command, &status);
    EXPECT_TRUE(errors || status == 0) << command;
    if (errors)
        *errors = 0;
    const std::vector<uint8_t> bytes = read_file(log);
    const std::string text(bytes.begin(), bytes.end());
    std::remove(log.c_str());
    // Packets the tool could not decode, one line each: FFmpeg 5.1's tool
    // says "Error while decoding stream"; 7.1's says "Error submitting packet
    // to decoder" for a packet refused and "Decoding error" for a frame that
    // could not be received.
    for (const char *line : {"Error while decoding stream", "Error submitting packet to decoder", "Decoding error"})
        for (size_t at = 0; errors && (at = text.find(line, at)) != std::string::npos; at++)
            ++*errors;
    return pcm;
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
    const std::string command = "ffmpeg -nostdin -v error -copyts -i " + shell_quote(path) + " -map 0:" + stream +
                                " -c copy -f framemd5 -";
    int status = 0;
    const std::vector<uint8_t> out = run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    DemuxedPackets result;
    std::istringstream lines(std::string(out.begin(), out.end()));
    for (std::string line; std::getline(lines, line);) {
        long long a, b, c;
        int index, size;
        char md5[33] = "";
        if (std::sscanf(line.c_str(), "#tb 0: %lld/%lld", &a, &b) == 2)
            result.tb_num = a, result.tb_den = b;
        else if (line[0] != '#' &&
                 std::sscanf(line.c_str(), "%d, %lld, %lld, %lld, %d, %32s", &index, &a, &b, &c, &size, md5) == 6)
            result.packets.push_back({b, a, c, size, md5});
    }
    return result;
}

std::string md5_hex(const uint8_t *data, int size)
{
    uint8_t digest[16];
    av_md5_sum(digest, data, size);
    char hex[33];
    for (int i = 0; i < 16; i++)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

BufferPackets buffer_packets(const std::string &path)
{
    BufferPackets out;
    AVFormatContext *input = nullptr;
    AVPacket *pkt = av_packet_alloc();
    if (pkt && avformat_open_input(&input, path.c_str(), nullptr, nullptr) >= 0 &&
        avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams > 0) {
        const AVCodecParameters *par = input->streams[0]->codecpar;
        out.rec.channels = par->ch_layout.nb_channels;
        out.rec.sample_fmt = par->format;
        out.rec.sample_rate = par->sample_rate;
        for (; av_read_frame(input, pkt) >= 0; av_packet_unref(pkt))
            if (pkt->stream_index == 0)
                out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
    }
    av_packet_free(&pkt);
    avformat_close_input(&input);
    return out;
}

const Json &Json::operator[](const std::string &key) const
{
    static const Json none;
    for (const auto &item : items)
        if (item.first == key)
            return item.second;
    return none;
}

const Json &Json::operator[](size_t index) const
{
    static const Json none;
    return index < items.size() ? items[index].second : none;
}

namespace {

// One value from s[i] on: objects, arrays, strings (ffprobe escapes quotes,
// backslashes and control characters), and bare numbers and words.
Json read_json(const std::string &s, size_t &i)
{
    Json v;
    i = s.find_first_not_of(" \n\r\t", i);
    if (i == std::string::npos) {
        i = s.size();
    } else if (s[i] == '{' || s[i] == '[') {
        v.kind = s[i] == '{' ? Json::object : Json::array;
        for (i = s.find_first_not_of(" \n\r\t", i + 1); i < s.size() && s[i] != '}' && s[i] != ']';
             i = s.find_first_not_of(" \n\r\t,", i)) {
            const std::string key = v.kind == Json::object ? read_json(s, i).text : "";
            i = v.kind == Json::object ? std::min(s.find(':', i), s.size()) + 1 : i;
            v.items.emplace_back(key, read_json(s, i));
        }
        i++;
    } else if (s[i] == '"') {
        v.kind = Json::scalar;
        for (i++; i < s.size() && s[i] != '"'; i++) {
            char c = s[i];
            const char *escape = c == '\\' ? std::strchr("b\bf\fn\nr\rt\t", s[++i]) : nullptr;
            if (c == '\\' && s[i] == 'u')
                c = (char)std::stoi(s.substr(i + 1, 4), nullptr, 16), i += 4;
            else if (c == '\\')
                c = escape ? escape[1] : s[i];
            v.text += c;
        }
        i++;
    } else {
        const size_t end = std::min(s.find_first_of(",}] \n\r\t", i), s.size());
        v.text = s.substr(i, end - i);
        v.kind = v.text == "null" ? Json::null : Json::scalar;
        i = end;
    }
    return v;
}

}  // namespace

Json parse_json(const std::string &text)
{
    size_t at = 0;
    return read_json(text, at);
}

Json ffprobe_json(const std::string &path, const std::string &options, int *status)
{
    const std::vector<uint8_t> out = run_capture("ffprobe -v quiet " + options + " -of json " + shell_quote(path), status);
    return parse_json(std::string(out.begin(), out.end()));
}

}  // namespace flatav_test

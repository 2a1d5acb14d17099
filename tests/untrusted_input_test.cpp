// What untrusted media may make the library open besides itself. A playlist
// read through the host's functions or from a local file reaches neither
// the files nor the network it names (an HTTP listener of this process
// counts connections), unless the host allows it, and then plays as the
// ffmpeg tool plays it; an HLS stream served over HTTP plays by default;
// outputs through the host's write function create no file of their own.
// The listener and the scratch directories are POSIX's: a Windows build of
// the suite goes without these rows.
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// An HTTP server on 127.0.0.1: answers GET with the file of that path or
// 404, one connection at a time, and counts the connections.
class LoopbackHttp {
public:
    LoopbackHttp()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (bind(fd_, (sockaddr *)&addr, size) == 0 && listen(fd_, 8) == 0 &&
            getsockname(fd_, (sockaddr *)&addr, &size) == 0)
            port_ = ntohs(addr.sin_port);
        server_ = std::thread([this] { serve(); });
    }
    ~LoopbackHttp()
    {
        stop_ = true;
        server_.join();
        close(fd_);
    }
    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::map<std::string, std::string> files;  // path -> body, set before any request
    std::atomic<int> connections{0};

private:
    void serve()
    {
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0)
                continue;
            const int client = accept(fd_, nullptr, nullptr);
            if (client < 0)
                continue;
            connections++;
            std::string request(4096, '\0');
            const ssize_t got = recv(client, &request[0], request.size(), 0);
            request.resize(got > 0 ? (size_t)got : 0);
            const size_t start = request.find(' ') + 1;
            const auto file = files.find(request.substr(start, request.find(' ', start) - start));
            const std::string body = file == files.end() ? "" : file->second;
            const std::string reply =
                std::string(file == files.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
                "\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;
            for (size_t sent = 0; sent < reply.size();) {
                const ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += (size_t)n;
            }
            close(client);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread server_;
};

std::string playlist(const std::vector<std::string> &segments)
{
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n";
    for (const std::string &segment : segments)
        text += "#EXTINF:10,\n" + segment + "\n";
    return text + "#EXT-X-ENDLIST\n";
}

enum class Via { HostFunctions, FileName, Http };

struct SourceRow {
    const char *name;
    Via via;
    std::vector<std::string> lines;  // "FILE": the local segment, "HTTP": one on the listener
    int32_t allow_nested_opens;
    const char *protocol_whitelist;
    const char *refusal;  // the open's failure text holds this; null: plays
};

void PrintTo(const SourceRow &row, std::ostream *os) { *os << row.name; }

const SourceRow kSourceRows[] = {
    {"host_functions", Via::HostFunctions, {"FILE", "HTTP"}, 0, nullptr, "refused to open \"file://"},
    {"host_functions_ignore_the_switch", Via::HostFunctions, {"HTTP", "FILE"}, 1, "file,http,tcp",
     "refused to open \"http://"},
    {"file_name", Via::FileName, {"FILE", "HTTP"}, 0, nullptr, "refused to open \"file://"},
    {"file_name_switch_set", Via::FileName, {"FILE"}, 1, nullptr, nullptr},
    {"file_name_whitelisted", Via::FileName, {"FILE"}, 0, "file", nullptr},
    {"concat_by_name", Via::FileName, {"CONCAT"}, 0, nullptr, "\"concat\" sources are refused"},
    {"http_stream", Via::Http, {"seg.ts"}, 0, nullptr, nullptr},
    {"http_stream_naming_a_file", Via::Http, {"FILE"}, 0, nullptr, "avformat_open_input failed"},
};

class UntrustedSource : public testing::TestWithParam<SourceRow> {};

TEST_P(UntrustedSource, OpensOnlyWhatItMay)
{
    const SourceRow &row = GetParam();
    const std::string segment = media_path("sweep.ts");
    LoopbackHttp http;
    http.files["/seg.ts"] = http.files["/probe.ts"] = [&] {
        const std::vector<uint8_t> bytes = read_file(segment);
        return std::string(bytes.begin(), bytes.end());
    }();
    std::vector<std::string> lines;
    for (const std::string &line : row.lines)
        lines.push_back(line == "FILE" ? "file://" + segment
                        : line == "HTTP" ? http.url("/probe.ts")
                                         : line);
    ScratchFile list(std::string(row.name) + ".m3u8");
    const std::string text = playlist(lines);
    list.write(std::vector<uint8_t>(text.begin(), text.end()));
    http.files["/list.m3u8"] = text;

    MemorySource memory(std::vector<uint8_t>(text.begin(), text.end()));
    const std::string name = row.via == Via::Http       ? http.url("/list.m3u8")
                             : row.lines[0] == "CONCAT" ? "concat:" + segment
                                                        : list.path;
    OpenedSource src(name, row.via == Via::HostFunctions ? &memory : nullptr);
    src.rec.allow_nested_opens = row.allow_nested_opens;
    src.rec.protocol_whitelist = row.protocol_whitelist;
    src.rec.packed_output = 1;
    const char *failure = src.open();
    if (row.refusal) {
        ASSERT_NE(failure, nullptr);
        EXPECT_NE(std::string(failure).find(row.refusal), std::string::npos) << failure;
        if (row.via != Via::Http) {
            EXPECT_EQ(http.connections, 0);
        }
        return;
    }
    ASSERT_EQ(failure, nullptr);
    src.rec.audio_stream_index = src.first_audio();
    HostBuffer buffer;
    std::vector<uint8_t> pcm;
    for (int32_t got; (got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0,
                                             nullptr)) > 0;)
        pcm.insert(pcm.end(), buffer.get()->data, buffer.get()->data + got);
    const std::vector<uint8_t> reference = ffmpeg_pcm(name, 0, "f32le");
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(pcm == reference) << pcm.size() << " bytes, the ffmpeg tool " << reference.size();
}

INSTANTIATE_TEST_SUITE_P(Rows, UntrustedSource, testing::ValuesIn(kSourceRows),
                         [](const auto &info) { return std::string(info.param.name); });

struct OutputRow {
    const char *name;
    bool raw;  // ff_open_encoder_raw, else ff_open_encoder
    const char *codec_name;
    const char *output_file_name;
    const char *refusal;
};

void PrintTo(const OutputRow &row, std::ostream *os) { *os << row.name; }

const OutputRow kOutputRows[] = {
    {"hls", false, "hls", "evil.m3u8", "the container \"hls\" writes files of its own"},
    {"segment", false, "segment", "evil%d.ts", "the container \"segment\""},
    {"tee", false, "tee", "evil.mka|evil.mp3", "the container \"tee\""},
    {"hls_by_name_raw", true, nullptr, "evil.m3u8", "the container \"hls\""},
    {"image2_by_name_raw", true, nullptr, "evil%d.png", "the container \"image2\""},
};

class UntrustedOutput : public testing::TestWithParam<OutputRow> {};

// In an empty directory of its own, which must stay empty.
TEST_P(UntrustedOutput, WritesOnlyThroughTheHost)
{
    const OutputRow &row = GetParam();
    std::string dir = testing::TempDir() + "flatav_untrusted_XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    MemoryOutput out;
    EncodeRec rec{};
    out.attach(rec);
    rec.codec_name = row.codec_name;
    rec.output_file_name = row.output_file_name;
    rec.sample_rate = 44100;
    rec.channels = 2;
    const char *failure = row.raw ? ff_open_encoder_raw(&rec) : ff_open_encoder(&rec);
    const std::string text = failure ? failure : "";
    ff_cleanup_encoder(&rec);
    int status = 0;
    const std::vector<uint8_t> listing = run_capture("ls -A", &status);
    EXPECT_EQ(chdir(before), 0);
    run_capture("rm -rf " + shell_quote(dir), &status);

    EXPECT_NE(text.find(row.refusal), std::string::npos) << text;
    EXPECT_EQ(rec.opened, 0);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(std::string(listing.begin(), listing.end()), "");
}

INSTANTIATE_TEST_SUITE_P(Rows, UntrustedOutput, testing::ValuesIn(kOutputRows),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
#endif

// What a source may make FFmpeg open besides itself, for ff_decoder_open and
// ff_probe2: nothing through custom I/O or from a local file, URLs of the
// same kind from an HTTP source, and whatever the host allows instead.
#include <cstring>

#include "common/nested_open.h"
#include "common/report.h"
#include "decoder.h"

namespace flatav {
namespace {

// Protocols that read other local resources under another name (a list of
// files, a byte range of one, inline bytes, a file descriptor): a name a
// user typed may not use them unless the host whitelists them.
constexpr const char *kRefusedProtocols[] = {"concat", "concatf", "subfile", "data",
                                             "pipe",   "fd"};

// An HTTP source may open further HTTP(S) URLs (an HLS stream's playlists,
// segments and keys) and the protocols they run on.
constexpr const char *kHttpWhitelist = "http,https,tcp,tls,crypto";
// Any other network source keeps its own transports but reaches no local
// resource.
constexpr const char *kNetworkBlacklist = "file,concat,concatf,subfile,data,pipe,fd";

bool is_refused(const char *protocol)
{
    for (const char *refused : kRefusedProtocols)
        if (std::strcmp(protocol, refused) == 0)
            return true;
    return false;
}

bool set_option(AVDictionary **options, const char *key, const char *value)
{
    return av_dict_set(options, key, value, 0) >= 0;
}

}  // namespace

const char *confine_source(const DecodeRec *avrec, AVFormatContext *fmt_ctx,
                           NestedRefusal *refusal, AVDictionary **options,
                           const char *caller)
{
    fmt_ctx->opaque = refusal;
    constexpr const char *kNoMemory = "protocol options allocation failed";
    if (!avrec->is_url) {
        refuse_nested_opens(fmt_ctx);
        return set_option(options, "protocol_whitelist", "") ? nullptr : kNoMemory;
    }
    if (avrec->protocol_whitelist)
        return set_option(options, "protocol_whitelist", avrec->protocol_whitelist)
                   ? nullptr
                   : kNoMemory;
    if (avrec->allow_nested_opens)
        return nullptr;

    const char *protocol = avio_find_protocol_name(avrec->file_name ? avrec->file_name : "");
    if (protocol && is_refused(protocol))
        return format_static("%s: \"%s\" sources are refused unless protocol_whitelist "
                             "names the protocol",
                             caller, protocol);
    if (protocol && (std::strcmp(protocol, "http") == 0 || std::strcmp(protocol, "https") == 0))
        return set_option(options, "protocol_whitelist", kHttpWhitelist) ? nullptr : kNoMemory;

    refuse_nested_opens(fmt_ctx, true);
    const bool set = protocol && std::strcmp(protocol, "file") == 0
                         ? set_option(options, "protocol_whitelist", "file")
                         : set_option(options, "protocol_blacklist", kNetworkBlacklist);
    return set ? nullptr : kNoMemory;
}

}  // namespace flatav

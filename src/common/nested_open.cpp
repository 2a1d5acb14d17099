// Refusing nested opens, for custom-I/O sources, local files and every
// output that goes through the host's write function.
#include "nested_open.h"

#include <cstdio>
#include <cstring>

namespace flatav {
namespace {

int refuse_nested_open(AVFormatContext *s, AVIOContext **pb, const char *url, int flags,
                       AVDictionary **options)
{
    auto *refusal = static_cast<NestedRefusal *>(s->opaque);
    if (refusal && refusal->source_open) {
        auto *source_open = refusal->source_open;
        refusal->source_open = nullptr;
        return source_open(s, pb, url, flags, options);
    }
    *pb = nullptr;
    av_log(s, AV_LOG_ERROR, "nested open of '%s' refused\n", url ? url : "");
    if (refusal && !refusal->refused) {
        refusal->refused = true;
        std::snprintf(refusal->url, sizeof refusal->url, "%s", url ? url : "");
    }
    return AVERROR(EPERM);
}

}  // namespace

void refuse_nested_opens(AVFormatContext *fmt_ctx, bool admit_source)
{
    auto *refusal = static_cast<NestedRefusal *>(fmt_ctx->opaque);
    if (admit_source && refusal)
        refusal->source_open = fmt_ctx->io_open;
    fmt_ctx->io_open = refuse_nested_open;
}

bool writes_other_files(const AVOutputFormat *fmt)
{
    return (fmt->flags & AVFMT_NOFILE) && std::strcmp(fmt->name, "null") != 0;
}

}  // namespace flatav

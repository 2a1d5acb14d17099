// Nested opens: what FFmpeg opens on behalf of a source or an output beyond
// the I/O it was given (a playlist's segments, a segment muxer's files).
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

namespace flatav {

// The first nested open refused during one opening call. The format
// context's opaque points to it for that call only: a record may move
// between calls, so later refusals are logged and not recorded.
struct NestedRefusal {
    // avformat_open_input opens a named source through the same function
    // as the demuxer's nested opens, and before them: that first open goes
    // here (FFmpeg's own), once.
    int (*source_open)(AVFormatContext *s, AVIOContext **pb, const char *url, int flags,
                       AVDictionary **options) = nullptr;
    bool refused = false;
    char url[256] = "";
};

// Makes every nested open of fmt_ctx fail with AVERROR(EPERM), logged at
// error level and recorded in the NestedRefusal that fmt_ctx->opaque points
// to, if any. With admit_source, that NestedRefusal lets the source's own
// open through to the open fmt_ctx had so far.
void refuse_nested_opens(AVFormatContext *fmt_ctx, bool admit_source = false);

// A muxer that writes files or connections of its own instead of the I/O
// context it is given (FFmpeg's AVFMT_NOFILE muxers: hls, dash, segment,
// tee, image2, fifo...); "null", which writes nothing, is not one.
bool writes_other_files(const AVOutputFormat *fmt);

}  // namespace flatav

// setup_af: builds the four-stage graph around the filter the host names:
// buffer source, that filter, a format stage that restores the input's
// format, rate and layout, buffer sink.
#include <cinttypes>
#include <cstdint>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include "filter.h"
#include "host/report.h"

namespace flatav {
namespace {

constexpr const char *kName = "setup_af";

// Every failure below tears down what exists and hands back its code.
int fail(FilterRec *rec, int code)
{
    clean_filter_avrec(rec);
    return code;
}

// Stages 2 to 4, each allocated in the graph and initialised. status is the
// result of the last call that succeeded, printed when an allocation fails.
int add_stages(FilterRec *rec, const AVFilter *aformat, const AVFilter *abuffersink,
               const char *filter_name, const char *filter_args, int status)
{
    const AVFilter *chosen = avfilter_get_by_name(filter_name);
    if (!chosen) {
        filter_print("%s(): avfilter_get_by_name %s failed\n", kName, filter_name);
        return fail(rec, AVERROR_FILTER_NOT_FOUND);
    }
    rec->user_filter = avfilter_graph_alloc_filter(rec->graph, chosen, filter_name);
    if (!rec->user_filter) {
        filter_print("%s(): avfilter_graph_alloc_filter %s : %d\n", kName, filter_name,
                     status);
        return fail(rec, AVERROR(ENOMEM));
    }
    // Without arguments the filter still needs its init call (with its
    // defaults), or the graph cannot be configured.
    int r = avfilter_init_str(rec->user_filter, filter_args);
    if (r < 0) {
        filter_print("%s(): avfilter_init_str %s : %d\n", kName, filter_name, r);
        return fail(rec, AVERROR(ENOMEM));
    }
    status = r;

    rec->aformat_out = avfilter_graph_alloc_filter(rec->graph, aformat, "aformat");
    if (!rec->aformat_out) {
        filter_print("%s(): avfilter_graph_alloc_filter aformat_out : %d\n", kName,
                     status);
        return fail(rec, AVERROR(ENOMEM));
    }
    char text[kTextSize];
    format_into(text, "sample_fmts=%s:sample_rates=%d:channel_layouts=0x%" PRIx64,
                sample_format_name(rec->sample_fmt), rec->sample_rate,
                rec->channel_layout);
    r = avfilter_init_str(rec->aformat_out, text);
    if (r < 0) {
        filter_print("%s(): avfilter_init_str aformat_out : %d\n", kName, r);
        return fail(rec, AVERROR(ENOMEM));
    }

    if (!abuffersink) {
        filter_print("%s(): abuffersink failed\n", kName);
        return fail(rec, AVERROR_FILTER_NOT_FOUND);
    }
    rec->sink = avfilter_graph_alloc_filter(rec->graph, abuffersink, "sink");
    if (!rec->sink) {
        filter_print("%s(): avfilter_graph_alloc_filter sink failed\n", kName);
        return fail(rec, AVERROR(ENOMEM));
    }
    r = avfilter_init_str(rec->sink, nullptr);
    if (r < 0) {
        filter_print("%s(): avfilter_init_str failed : %d\n", kName, r);
        return fail(rec, r);
    }
    return 0;
}

int link_stages(FilterRec *rec)
{
    int r = avfilter_link(rec->src, 0, rec->user_filter, 0);
    if (r >= 0)
        r = avfilter_link(rec->user_filter, 0, rec->aformat_out, 0);
    if (r >= 0)
        r = avfilter_link(rec->aformat_out, 0, rec->sink, 0);
    if (r < 0) {
        // The line follows the teardown's checkpoints.
        clean_filter_avrec(rec);
        filter_print("%s(): Error connecting filters : %d\n", kName, r);
    }
    return r;
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t setup_af(const char *filter_name, const char *filter_args,
                                       FilterRec *rec)
{
    if (!rec || !filter_name)
        return AVERROR(EINVAL);
    // A record that is still built gives up its old graph first.
    clean_filter_avrec(rec);
    const AVFilter *abuffer = avfilter_get_by_name("abuffer");
    const AVFilter *abuffersink = avfilter_get_by_name("abuffersink");
    const AVFilter *aformat = avfilter_get_by_name("aformat");

    rec->graph = avfilter_graph_alloc();
    if (!rec->graph) {
        filter_print("%s(): avfilter_graph_alloc failed\n", kName);
        return AVERROR(ENOMEM);
    }

    char text[kTextSize];
    format_into(text,
                "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=0x%" PRIx64,
                1, rec->sample_rate, rec->sample_rate,
                sample_format_name(rec->sample_fmt), rec->channel_layout);
    int r = avfilter_graph_create_filter(&rec->src, abuffer, "src", text, nullptr,
                                         rec->graph);
    if (r < 0) {
        filter_print("%s(): avfilter_graph_create_filter failed : %d\n", kName, r);
        return fail(rec, r);
    }

    r = add_stages(rec, aformat, abuffersink, filter_name, filter_args, r);
    if (r < 0)
        return r;
    r = link_stages(rec);
    if (r < 0)
        return r;
    r = avfilter_graph_config(rec->graph, nullptr);
    if (r < 0) {
        filter_print("%s(): avfilter_graph_config failed : %d\n", kName, r);
        return fail(rec, r);
    }

    rec->run_graph = rec->graph;
    rec->run_src = rec->src;
    rec->run_sink = rec->sink;
    // Allocated once here and reused by every push and pull.
    rec->in_frame = av_frame_alloc();
    rec->out_frame = av_frame_alloc();
    if (!rec->in_frame || !rec->out_frame) {
        filter_print("%s(): av_frame_alloc failed\n", kName);
        return fail(rec, AVERROR(ENOMEM));
    }
    return 0;
}

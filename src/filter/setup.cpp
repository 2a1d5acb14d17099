// setup_af: builds the four-stage graph around the filter the host names:
// buffer source, that filter, a format stage that restores the input's
// format, rate and layout, buffer sink.
#include <cinttypes>
#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include "common/report.h"
#include "filter.h"

namespace flatav {
namespace {

constexpr const char *kName = "setup_af";

// The buffer source, fed with the record's format, rate and layout.
int add_source(FilterRec *rec)
{
    char text[kTextSize];
    format_into(text,
                "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=0x%" PRIx64,
                1, rec->sample_rate, rec->sample_rate,
                sample_format_name(rec->sample_fmt), rec->channel_layout);
    const int r = avfilter_graph_create_filter(&rec->src, avfilter_get_by_name("abuffer"),
                                               "src", text, nullptr, rec->graph);
    if (r < 0)
        console_print(stdout, "%s(): avfilter_graph_create_filter failed : %d\n", kName, r);
    return r;
}

// The host's filter, the format stage and the sink, each allocated in the
// graph and initialised. status is the result of the last call that
// succeeded, printed when an allocation fails.
int add_stages(FilterRec *rec, const char *filter_name, const char *filter_args, int status)
{
    const AVFilter *chosen = avfilter_get_by_name(filter_name);
    if (!chosen) {
        console_print(stdout, "%s(): avfilter_get_by_name %s failed\n", kName, filter_name);
        return AVERROR_FILTER_NOT_FOUND;
    }
    // A source filter has no input for the host's PCM, and some (amovie,
    // movie) open the file their arguments name while they initialise: a
    // filter name a user typed must not make the library read a file.
    if (avfilter_filter_pad_count(chosen, 0) == 0 &&
        !(chosen->flags & AVFILTER_FLAG_DYNAMIC_INPUTS)) {
        console_print(stdout, "%s(): %s takes no input : %d\n", kName, filter_name,
                      AVERROR(EINVAL));
        return AVERROR(EINVAL);
    }
    rec->user_filter = avfilter_graph_alloc_filter(rec->graph, chosen, filter_name);
    if (!rec->user_filter) {
        console_print(stdout, "%s(): avfilter_graph_alloc_filter %s : %d\n", kName,
                      filter_name, status);
        return AVERROR(ENOMEM);
    }
    // Without arguments the filter still needs its init call (with its
    // defaults), or the graph cannot be configured.
    int r = avfilter_init_str(rec->user_filter, filter_args);
    if (r < 0) {
        console_print(stdout, "%s(): avfilter_init_str %s : %d\n", kName, filter_name, r);
        return AVERROR(ENOMEM);
    }
    status = r;

    rec->aformat_out =
        avfilter_graph_alloc_filter(rec->graph, avfilter_get_by_name("aformat"), "aformat");
    if (!rec->aformat_out) {
        console_print(stdout, "%s(): avfilter_graph_alloc_filter aformat_out : %d\n", kName,
                      status);
        return AVERROR(ENOMEM);
    }
    char text[kTextSize];
    format_into(text, "sample_fmts=%s:sample_rates=%d:channel_layouts=0x%" PRIx64,
                sample_format_name(rec->sample_fmt), rec->sample_rate,
                rec->channel_layout);
    r = avfilter_init_str(rec->aformat_out, text);
    if (r < 0) {
        console_print(stdout, "%s(): avfilter_init_str aformat_out : %d\n", kName, r);
        return AVERROR(ENOMEM);
    }

    const AVFilter *abuffersink = avfilter_get_by_name("abuffersink");
    if (!abuffersink) {
        console_print(stdout, "%s(): abuffersink failed\n", kName);
        return AVERROR_FILTER_NOT_FOUND;
    }
    rec->sink = avfilter_graph_alloc_filter(rec->graph, abuffersink, "sink");
    if (!rec->sink) {
        console_print(stdout, "%s(): avfilter_graph_alloc_filter sink failed\n", kName);
        return AVERROR(ENOMEM);
    }
    r = avfilter_init_str(rec->sink, nullptr);
    if (r < 0)
        console_print(stdout, "%s(): avfilter_init_str failed : %d\n", kName, r);
    return r < 0 ? r : 0;
}

int link_stages(FilterRec *rec)
{
    int r = avfilter_link(rec->src, 0, rec->user_filter, 0);
    if (r >= 0)
        r = avfilter_link(rec->user_filter, 0, rec->aformat_out, 0);
    if (r >= 0)
        r = avfilter_link(rec->aformat_out, 0, rec->sink, 0);
    return r;
}

// The whole set-up. Every instance and frame goes into the record as soon
// as it exists, so that clean_filter_avrec undoes a failure at any step.
// Each failure prints its line and returns its code, except a failed link,
// whose line comes after the teardown: *link_failed is then set.
int build_graph(FilterRec *rec, const char *filter_name, const char *filter_args,
                bool *link_failed)
{
    rec->graph = avfilter_graph_alloc();
    if (!rec->graph) {
        console_print(stdout, "%s(): avfilter_graph_alloc failed\n", kName);
        return AVERROR(ENOMEM);
    }
    int r = add_source(rec);
    if (r < 0)
        return r;
    r = add_stages(rec, filter_name, filter_args, r);
    if (r < 0)
        return r;
    r = link_stages(rec);
    if (r < 0) {
        *link_failed = true;
        return r;
    }
    r = avfilter_graph_config(rec->graph, nullptr);
    if (r < 0) {
        console_print(stdout, "%s(): avfilter_graph_config failed : %d\n", kName, r);
        return r;
    }

    rec->run_graph = rec->graph;
    rec->run_src = rec->src;
    rec->run_sink = rec->sink;
    // Allocated once here and reused by every push and pull.
    rec->in_frame = av_frame_alloc();
    rec->out_frame = av_frame_alloc();
    if (!rec->in_frame || !rec->out_frame) {
        console_print(stdout, "%s(): av_frame_alloc failed\n", kName);
        return AVERROR(ENOMEM);
    }
    return 0;
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
    bool link_failed = false;
    const int r = build_graph(rec, filter_name, filter_args, &link_failed);
    if (r < 0) {
        clean_filter_avrec(rec);
        if (link_failed)
            console_print(stdout, "%s(): Error connecting filters : %d\n", kName, r);
    }
    return r;
}

// clean_filter_avrec and clean_af: tear a filter record down, after a failed
// set-up or push and at the end of the job.
#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/frame.h>
}

#include "common/report.h"
#include "filter.h"

namespace flatav {

void clean_filter_avrec(FilterRec *rec)
{
    constexpr const char *kName = "clean_filter_avrec";
    if (rec->graph) {
        // Checkpoints around the one call that frees every instance.
        console_print(stdout, "%s(): [3]\n", kName);
        avfilter_graph_free(&rec->graph);
        console_print(stdout, "%s(): [4]\n", kName);
    }
    av_frame_free(&rec->in_frame);
    av_frame_free(&rec->out_frame);
}

}  // namespace flatav

extern "C" FLATAV_API void clean_af(FilterRec **rec_ptr)
{
    // The host's variable keeps its value: the record stays the host's.
    if (!rec_ptr || !*rec_ptr)
        return;
    flatav::clean_filter_avrec(*rec_ptr);
}

// Internal steps of the audio filter graph.
#pragma once

#include "flatav.h"
#include "host/report.h"

namespace flatav {

// A trace line of the filter graph: straight to standard output, whatever
// the quiet switch says.
void filter_print(const char *fmt, ...) FLATAV_PRINTF(1, 2);

// Frees the graph (with its four instances) and the two frames. The
// instance fields and their run-time copies keep their values; graph,
// in_frame and out_frame null mean the record is torn down.
void clean_filter_avrec(FilterRec *rec);

}  // namespace flatav

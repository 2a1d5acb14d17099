// Internal steps of the audio filter graph.
#pragma once

#include "flatav.h"

namespace flatav {

// The filter's one release function: frees the graph (with its four
// instances) and the two frames. The instance fields and their run-time
// copies keep their values; graph, in_frame and out_frame null mean the
// record is torn down. A failed set-up or push ends with it.
void clean_filter_avrec(FilterRec *rec);

}  // namespace flatav

// ff_cleanup_encoder: release what opening and encoding put into a record.
// The stream-copy writer's records are released here too.
#include "encoder.h"
#include "host/report.h"

using namespace flatav;

extern "C" FLATAV_API void ff_cleanup_encoder(EncodeRec *avrec)
{
    constexpr const char *kName = "ff_cleanup_encoder";
    if (!avrec)
        return;
    report_message(avrec->callbacks, "%s begin", kName);
    // A record never opened, or whose open failed, holds nothing.
    if (!avrec->opened)
        return;

    // No trailer is written here: a host that skips the drain gets a
    // container without one. The released fields are cleared, so a second
    // clean-up finds nothing left to release.
    console_log("%s(): 01\n", kName);
    release_output(avrec);
    console_log("%s(): 02\n", kName);
    av_frame_free(&avrec->frame);
    report_message(avrec->callbacks, "%s end", kName);
}

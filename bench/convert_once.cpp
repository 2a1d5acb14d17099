// One resampling or filtering run through flatav or directly, for
// instruction counts under callgrind and for peak memory over long streams:
//   flatav_convert_once resample|filter CASE flatav|direct [SECONDS]
// With SECONDS, the peak resident size is printed after every tenth of the
// stream.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "convert_work.h"
#include "flatav.h"

namespace {

double g_seconds = 0;
int g_reported = 0;

void report_peak(double done)
{
    if (done < g_seconds * (g_reported + 1) / 10)
        return;
    g_reported++;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "after %6.0f s of audio: peak RSS %ld KiB\n", done, usage.ru_maxrss);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5)
        return 2;
    LogSettings quiet{1, 1};
    ff_init(&quiet);
    Stream stream;
    if (argc == 5) {
        stream.seconds = g_seconds = std::atof(argv[4]);
        stream.progress = report_peak;
    }
    const bool resample = std::strcmp(argv[1], "resample") == 0;
    const bool direct = std::strcmp(argv[3], "direct") == 0;
    ConvertResult r;
    if (resample)
        r = direct ? resample_directly(argv[2], stream) : resample_with_flatav(argv[2], stream);
    else
        r = direct ? filter_directly(argv[2], stream) : filter_with_flatav(argv[2], stream);
    std::fprintf(stderr, "%s %s %s: %lld bytes, checksum %08x\n", argv[1], argv[2], argv[3],
                 (long long)r.bytes, r.checksum);
    return r.ok ? 0 : 1;
}

#include "progress.h"

#include <stdio.h>

#include "platform.h"

enum { kBarWidth = 40 };

void progress_start(Progress *p, const char *label)
{
    p->enabled = platform_stderr_is_terminal();
    p->last_permille = -1;
    p->label = label;
}

void progress_update(Progress *p, double done, double total)
{
    if (!p->enabled)
        return;
    if (total <= 0) {
        fprintf(stderr, "\r%s %.1f s", p->label, done);
        fflush(stderr);
        return;
    }
    double fraction = done / total;
    if (fraction < 0)
        fraction = 0;
    if (fraction > 1)
        fraction = 1;
    int permille = (int)(fraction * 1000);
    if (permille == p->last_permille)
        return;
    p->last_permille = permille;
    int filled = (int)(fraction * kBarWidth);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; i++)
        bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    fprintf(stderr, "\r%s [%s] %5.1f%%", p->label, bar, permille / 10.0);
    fflush(stderr);
}

void progress_finish(Progress *p)
{
    if (p->enabled) {
        fputc('\n', stderr);
        fflush(stderr);
    }
}

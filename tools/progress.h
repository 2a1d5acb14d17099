/* A progress bar on standard error, drawn only when it is a terminal. */
#ifndef FLATAV_TOOL_PROGRESS_H
#define FLATAV_TOOL_PROGRESS_H

typedef struct Progress {
    int enabled;
    int last_permille;
    const char *label;
} Progress;

void progress_start(Progress *p, const char *label);
/* done and total in any one unit; total <= 0 shows only done. */
void progress_update(Progress *p, double done, double total);
void progress_finish(Progress *p);

#endif

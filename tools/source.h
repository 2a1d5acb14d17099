/* Opening a source through the library, choosing its audio stream, and
 * keeping its tags and chapters for an output: shared by the commands. */
#ifndef FLATAV_TOOL_SOURCE_H
#define FLATAV_TOOL_SOURCE_H

#include "flatav.h"
#include "host_io.h"

/* A tag of the source: stream -1 for the container's. */
typedef struct SourceTag {
    int32_t stream;
    FlatavTag tag; /* key and value owned here */
} SourceTag;

typedef struct Source {
    DecodeRec rec; /* rec.tags: the container's tags and the chapters, exact */
    HostCallbacks callbacks;
    HostFile file;
    const char *path;
    /* A zero-filled StreamCopy: given to the open, it asks for stream-copy
     * data, which the library then puts in rec.streamcopy instead. */
    StreamCopy streamcopy_request;
    int stream;              /* the chosen audio stream, -1 before */
    SourceTag *tags;         /* every stream's, in the order the library reported them */
    int nb_tags, tags_capacity;
    /* What goes to an output: rec.tags with the chosen stream's tags and
     * the chapters within its time (the texts stay the library's). */
    FlatavTag *output_container_tags, *output_stream_tags;
    FlatavChapter *output_chapters;
    OutputTags output_tags;
} Source;

/* What source_open does besides opening. */
enum {
    /* Make the library's trial seek, which tells whether the source is
     * seekable but leaves the read position wherever the seek went (for some
     * containers not the first packet): for sources not decoded afterwards. */
    SOURCE_TRY_SEEK = 1,
    SOURCE_STREAMCOPY = 2, /* ask for stream-copy data */
};

/* Opens path ("-": standard input; a URL through FFmpeg; a file through the
 * library's custom-I/O callbacks) with the SOURCE_ flags. Returns EXIT_DONE,
 * or EXIT_FAILED after saying why. Close with source_close either way. */
int source_open(Source *s, const char *path, int flags);
void source_close(Source *s);

/* Chooses audio stream `stream` (-1: the first audio stream that decodes)
 * for decoding or copying. EXIT_DONE, EXIT_USAGE for a stream that is not
 * an audio stream that decodes (the message lists those), EXIT_FAILED when
 * the source has none. */
int source_select(Source *s, int stream, const char *command);

/* The container's tags, the chosen stream's and the chapters, as an output
 * takes them ("encoder" left out: it names the source's writer); NULL when
 * out of memory. Valid until source_close. The chapters are mapped as the
 * ffmpeg tool maps them, to the tick: the output's 0 is the source's
 * time shift (microseconds), chapters that end before it are left out,
 * those that start after shift + length too (length < 0: no end), and the
 * others are cut to the output's time. */
const OutputTags *source_output_tags(Source *s, int64_t shift, int64_t length);

/* The chosen stream's description. */
const AudioInfo *source_info(const Source *s);
/* The packed sample format ff_decode_audio delivers. */
int source_sample_format(const Source *s);

#endif

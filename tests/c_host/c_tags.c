/* A C99 host and the tags and chapters of EncodeRec.tags and DecodeRec.tags;
 * tags_test.sh compares with what ffprobe reads.
 * usage: c_tags OUT.mka      encodes a little FLAC with the host's tags
 *        c_tags IN OUT.mka   prints IN's DecodeRec.tags as ffprobe's compact
 *                            lines, then copies its first playable stream
 *                            into OUT with that record as EncodeRec.tags */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "flatav.h"

static int32_t write_file(void *opaque, uint8_t *buf, int32_t size)
{
    return fwrite(buf, 1, (size_t)size, (FILE *)opaque) == (size_t)size ? size : -5;
}

static int64_t seek_file(void *opaque, int64_t offset, int32_t whence)
{
    FILE *f = (FILE *)opaque;
    if (whence == FLATAV_SEEK_SIZE || fseek(f, (long)offset, whence & 0xffff) != 0)
        return -1;
    return ftell(f);
}

static const FlatavTag kFileTags[] = {{"title", "Album title"}, {"artist", "Some One"}};
static const FlatavTag kStreamTags[] = {{"language", "ger"}};
static const FlatavTag kIntro[] = {{"title", "Intro"}};
static const FlatavTag kMain[] = {{"title", "Main"}};
/* The second chapter ends after an hour, to the millisecond. */
static const FlatavChapter kChapters[] = {
    {1, {1, 1000}, 0, 500, kIntro, 1, 0},
    {2, {1, 1000}, 500, 3600123, kMain, 1, 0},
};

static int encode(EncodeRec *rec)
{
    static const int16_t silence[2 * 4608];
    static OutputTags tags;
    tags.container_tags = kFileTags;
    tags.nb_container_tags = 2;
    tags.stream_tags = kStreamTags;
    tags.nb_stream_tags = 1;
    tags.chapters = kChapters;
    tags.nb_chapters = 2;
    rec->tags = &tags;
    rec->codec_id = ff_get_encoder_03(); /* the name "flac" would choose its container */
    rec->encode = 1;
    rec->compression_level = -1;
    rec->sample_fmt = rec->requested_sample_fmt = FLATAV_SAMPLE_FMT_S16;
    rec->channels = 2;
    rec->sample_rate = 48000;
    return !ff_open_encoder(rec) &&
                   ff_encode_audio2(rec, (const uint8_t *)silence, NULL, sizeof silence) >= 0 &&
                   ff_encode_audio2(rec, NULL, NULL, 0) == 0
               ? 0
               : 1;
}

/* lead: the separator before the first tag. */
static void print_tags(const FlatavTag *tags, int32_t count, const char *lead)
{
    int32_t i;
    for (i = 0; i < count; i++)
        printf("%stag:%s=%s", i ? "|" : lead, tags[i].key, tags[i].value);
    putchar('\n');
}

/* As ffprobe -show_entries chapter:chapter_tags:format_tags -of compact. */
static void print_record(const OutputTags *t)
{
    int32_t i;
    for (i = 0; i < t->nb_chapters; i++) {
        const FlatavChapter *c = &t->chapters[i];
        const double tick = (double)c->time_base.num / c->time_base.den;
        printf("chapter|id=%" PRId64 "|time_base=%d/%d|start=%" PRId64 "|start_time=%f"
               "|end=%" PRId64 "|end_time=%f",
               c->id, (int)c->time_base.num, (int)c->time_base.den, c->start, c->start * tick,
               c->end, c->end * tick);
        print_tags(c->tags, c->nb_tags, "|");
    }
    printf("format|");
    print_tags(t->container_tags, t->nb_container_tags, "");
    printf("stream|");
    print_tags(t->stream_tags, t->nb_stream_tags, "");
}

static int copy(DecodeRec *src, EncodeRec *rec, const char *in)
{
    StreamCopy request;
    const char *failure;
    int32_t i, size;
    int status = 1;
    memset(&request, 0, sizeof request);
    src->file_name = in;
    src->is_url = 1;
    src->streamcopy = &request;
    src->read_mode = FLATAV_READ_RAW_PACKET;
    failure = ff_decoder_open(src);
    if (src->streamcopy != &request)
        src->streamcopy->active = 1;
    if (failure) {
        fprintf(stderr, "%s\n", failure);
        return 1;
    }
    for (i = 0; i < src->nb_streams && src->audio_stream_index < 0; i++)
        if (strcmp(src->audio_info[i].status, "OK") == 0)
            src->audio_stream_index = i;
    print_record(src->tags);
    src->streamcopy->stream_index = src->audio_stream_index;
    rec->streamcopy = src->streamcopy;
    rec->tags = src->tags; /* that stream's tags are the record's */
    if (src->audio_stream_index < 0 || !(src->raw_pkt = ff_pkt_new()) || ff_open_encoder_raw(rec))
        return 1;
    while ((size = ff_decode_audio(src, NULL, NULL, NULL, 0, NULL)) > 0) {
        rec->raw_pkt = src->raw_pkt;
        if (ff_encode_audio_raw(rec, size) != 0)
            break;
        ff_pkt_clean(src->raw_pkt);
    }
    if (size == FLATAV_DECODE_END_OF_PACKETS && ff_encode_audio_raw(rec, 0) == 0)
        status = 0;
    ff_pkt_free(src->raw_pkt);
    return status;
}

int main(int argc, char **argv)
{
    LogSettings quiet = {1, 1};
    EncodeRec rec;
    DecodeRec src;
    FILE *file;
    int status;
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: c_tags OUT.mka | c_tags IN OUT.mka\n");
        return 2;
    }
    ff_init(&quiet);
    file = fopen(argv[argc - 1], "wb");
    if (!file)
        return 1;
    memset(&rec, 0, sizeof rec);
    rec.output_file_name = argv[argc - 1];
    rec.io_opaque = file;
    rec.write_packet = write_file;
    rec.seek = seek_file;
    memset(&src, 0, sizeof src);
    src.audio_stream_index = -1;
    status = argc == 2 ? encode(&rec) : copy(&src, &rec, argv[1]);
    /* The writer first: it reads the source's stream-copy data. */
    ff_cleanup_encoder(&rec);
    ff_clean_streamcopy(&src.streamcopy);
    ff_cleanup_decoder(&src);
    ff_cleanup_decoder(&src);
    fclose(file);
    return status;
}

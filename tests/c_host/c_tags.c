/* A host in plain C99 (c_host.c checks the record offsets): the tags and
 * chapters it hands over through EncodeRec.tags are written; tags_test.sh
 * compares with what ffprobe reads.
 * usage: c_tags OUT.mka      encodes a little FLAC with the host's tags */
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

int main(int argc, char **argv)
{
    LogSettings quiet = {1, 1};
    EncodeRec rec;
    FILE *file;
    int status;
    if (argc != 2) {
        fprintf(stderr, "usage: c_tags OUT.mka\n");
        return 2;
    }
    ff_init(&quiet);
    file = fopen(argv[1], "wb");
    if (!file)
        return 1;
    memset(&rec, 0, sizeof rec);
    rec.output_file_name = argv[1];
    rec.io_opaque = file;
    rec.write_packet = write_file;
    rec.seek = seek_file;
    status = encode(&rec);
    ff_cleanup_encoder(&rec);
    ff_cleanup_encoder(&rec);
    fclose(file);
    return status;
}

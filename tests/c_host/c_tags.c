/* A C99 host writes tags and chapters through EncodeRec.tags while it
 * encodes a little FLAC into Matroska; tags_test.sh compares what ffprobe
 * reads back. (The stream-copy writer takes the same record: the tool's
 * copy rows test that path.)
 * usage: c_tags OUT.mka */
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

int main(int argc, char **argv)
{
    static const int16_t silence[2 * 4608];
    LogSettings quiet = {1, 1};
    OutputTags tags;
    EncodeRec rec;
    FILE *file;
    int status = 1;
    if (argc != 2) {
        fprintf(stderr, "usage: c_tags OUT.mka\n");
        return 2;
    }
    ff_init(&quiet);
    file = fopen(argv[1], "wb");
    if (!file)
        return 1;
    memset(&tags, 0, sizeof tags);
    tags.container_tags = kFileTags;
    tags.nb_container_tags = 2;
    tags.stream_tags = kStreamTags;
    tags.nb_stream_tags = 1;
    tags.chapters = kChapters;
    tags.nb_chapters = 2;

    memset(&rec, 0, sizeof rec);
    rec.output_file_name = argv[1];
    rec.io_opaque = file;
    rec.write_packet = write_file;
    rec.seek = seek_file;
    rec.tags = &tags;
    rec.codec_id = ff_get_encoder_03(); /* the name "flac" would choose its container */
    rec.encode = 1;
    rec.compression_level = -1;
    rec.sample_fmt = rec.requested_sample_fmt = FLATAV_SAMPLE_FMT_S16;
    rec.channels = 2;
    rec.sample_rate = 48000;
    if (!ff_open_encoder(&rec) &&
        ff_encode_audio2(&rec, (const uint8_t *)silence, NULL, sizeof silence) >= 0 &&
        ff_encode_audio2(&rec, NULL, NULL, 0) == 0)
        status = 0;
    ff_cleanup_encoder(&rec);
    fclose(file);
    return status;
}

/* A host in plain C99: the public header compiles as C, its records have the
 * offsets hosts rely on, a file decodes through custom I/O, and tags and
 * chapters go into an output through EncodeRec.tags (tags_test.sh compares
 * what ffprobe reads back; the stream-copy writer takes the same record and
 * the tool's copy rows test that path).
 * usage: c_host decode FILE EXPECTED_BYTES | c_host tags OUT.mka */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "flatav.h"

#define CHECK_OFFSET(type, field, offset) \
    typedef char check_##type##_##field[offsetof(type, field) == (offset) ? 1 : -1]

CHECK_OFFSET(HostCallbacks, grow_buffer_cb, 56);
CHECK_OFFSET(DecodeRec, audio_info, 224);
CHECK_OFFSET(DecodeRec, raw_pkt, 280);
CHECK_OFFSET(AudioInfo, codecpar, 120);
CHECK_OFFSET(EncodeRec, rescale_delta_last, 360);
CHECK_OFFSET(ResampleRec, precision, 208);
CHECK_OFFSET(FilterRec, frames_out, 116);
CHECK_OFFSET(BufferDecodeRec, frame, 24);

static int32_t read_file(void *opaque, uint8_t *buf, int32_t size)
{
    size_t n = fread(buf, 1, (size_t)size, (FILE *)opaque);
    return n ? (int32_t)n : FLATAV_ERROR_EOF;
}

static int32_t write_file(void *opaque, uint8_t *buf, int32_t size)
{
    return fwrite(buf, 1, (size_t)size, (FILE *)opaque) == (size_t)size ? size : -5;
}

static int64_t seek_file(void *opaque, int64_t offset, int32_t whence)
{
    FILE *f = (FILE *)opaque;
    long here = ftell(f), size;
    if (whence == FLATAV_SEEK_SIZE) {
        fseek(f, 0, SEEK_END);
        size = ftell(f);
        fseek(f, here, SEEK_SET);
        return size;
    }
    return fseek(f, (long)offset, whence & 0xffff) == 0 ? ftell(f) : -1;
}

static void grow(void *always_null, AudioBuffer *abuf, int32_t need)
{
    uint8_t *bigger = (uint8_t *)realloc(abuf->data, (size_t)need);
    (void)always_null;
    if (bigger) {
        abuf->data = bigger;
        abuf->capacity = need;
    }
}

/* Decodes the first audio stream that opened; 0 when it gave expected bytes. */
static int decode(FILE *f, const char *name, long long expected)
{
    HostCallbacks callbacks;
    DecodeRec rec;
    AudioBuffer abuf;
    const char *failure;
    long long total = 0;
    int i;
    memset(&callbacks, 0, sizeof callbacks);
    memset(&rec, 0, sizeof rec);
    memset(&abuf, 0, sizeof abuf);
    callbacks.grow_buffer_cb = grow;
    rec.callbacks = &callbacks;
    rec.file_name = name;
    rec.io_opaque = f;
    rec.read_packet = read_file;
    rec.seek = seek_file;
    rec.packed_output = 1;
    rec.request_sample_fmt = FLATAV_SAMPLE_FMT_NONE;
    rec.audio_stream_index = -1;
    failure = ff_decoder_open(&rec);
    if (failure)
        fprintf(stderr, "open failed: %s\n", failure);
    for (i = 0; !failure && i < rec.nb_streams && rec.audio_stream_index < 0; i++)
        if (rec.audio_info[i].codec_type == FLATAV_MEDIA_AUDIO &&
            strcmp(rec.audio_info[i].status, "OK") == 0)
            rec.audio_stream_index = i;
    while (!failure) {
        int32_t n = ff_decode_audio(&rec, NULL, NULL, &abuf, 0, NULL);
        if (n < 0 || (n == 0 && rec.end_of_stream))
            break;
        total += n;
    }
    ff_cleanup_decoder(&rec);
    free(abuf.data);
    printf("decoded %lld bytes\n", total);
    return total == expected ? 0 : 1;
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

/* Encodes a little FLAC silence into Matroska with tags and chapters. */
static int write_tags(FILE *f, const char *name)
{
    static const int16_t silence[2 * 4608];
    OutputTags tags;
    EncodeRec rec;
    int status = 1;
    memset(&tags, 0, sizeof tags);
    tags.container_tags = kFileTags;
    tags.nb_container_tags = 2;
    tags.stream_tags = kStreamTags;
    tags.nb_stream_tags = 1;
    tags.chapters = kChapters;
    tags.nb_chapters = 2;
    memset(&rec, 0, sizeof rec);
    rec.output_file_name = name;
    rec.io_opaque = f;
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
    return status;
}

int main(int argc, char **argv)
{
    LogSettings settings = {1, 1};
    int decoding = argc == 4 && strcmp(argv[1], "decode") == 0, status;
    FILE *f;
    if (!decoding && !(argc == 3 && strcmp(argv[1], "tags") == 0))
        return 2;
    f = fopen(argv[2], decoding ? "rb" : "wb");
    if (!f)
        return 2;
    ff_init(&settings);
    status = decoding ? decode(f, argv[2], atoll(argv[3])) : write_tags(f, argv[2]);
    fclose(f);
    return status;
}

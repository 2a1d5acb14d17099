/* A host in plain C99: the public header compiles as C, its records have the
 * offsets hosts rely on, and a file decodes through custom I/O (c_tags.c is
 * the C host of tags and chapters).
 * usage: c_host decode FILE EXPECTED_BYTES */
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

int main(int argc, char **argv)
{
    LogSettings settings = {1, 1};
    int status;
    FILE *f;
    if (argc != 4 || strcmp(argv[1], "decode") != 0 || !(f = fopen(argv[2], "rb")))
        return 2;
    ff_init(&settings);
    status = decode(f, argv[2], atoll(argv[3]));
    fclose(f);
    return status;
}

/* A host in plain C99: the public header compiles as C, its records have the
 * offsets hosts rely on, and a file decodes through custom I/O.
 * usage: c_host FILE EXPECTED_BYTES [OUT.raw] */
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
    if (whence == FLATAV_SEEK_SIZE) {
        long here = ftell(f), size;
        fseek(f, 0, SEEK_END);
        size = ftell(f);
        fseek(f, here, SEEK_SET);
        return size;
    }
    if (fseek(f, (long)offset, whence & 0xffff) != 0)
        return -1;
    return ftell(f);
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

int main(int argc, char **argv)
{
    LogSettings settings = {1, 1};
    HostCallbacks callbacks;
    DecodeRec rec;
    AudioBuffer abuf;
    const char *failure;
    long long total = 0;
    FILE *f, *out = NULL;
    int i;

    if (argc != 3 && argc != 4)
        return 2;
    f = fopen(argv[1], "rb");
    if (!f || (argc == 4 && !(out = fopen(argv[3], "wb"))))
        return 2;
    ff_init(&settings);
    memset(&callbacks, 0, sizeof callbacks);
    memset(&rec, 0, sizeof rec);
    memset(&abuf, 0, sizeof abuf);
    callbacks.grow_buffer_cb = grow;
    rec.callbacks = &callbacks;
    rec.file_name = argv[1];
    rec.io_opaque = f;
    rec.read_packet = read_file;
    rec.seek = seek_file;
    rec.packed_output = 1;
    rec.request_sample_fmt = -1;

    failure = ff_decoder_open(&rec);
    if (failure) {
        fprintf(stderr, "open failed: %s\n", failure);
        ff_cleanup_decoder(&rec);
        return 1;
    }
    rec.audio_stream_index = -1;
    for (i = 0; i < rec.nb_streams; i++)
        if (rec.audio_info[i].codec_type == FLATAV_MEDIA_AUDIO &&
            strcmp(rec.audio_info[i].status, "OK") == 0) {
            rec.audio_stream_index = i;
            break;
        }
    for (;;) {
        int32_t n = ff_decode_audio(&rec, NULL, NULL, &abuf, 0, NULL);
        if (n < 0 || (n == 0 && rec.end_of_stream))
            break;
        if (out && fwrite(abuf.data, 1, (size_t)n, out) != (size_t)n)
            return 2;
        total += n;
    }
    ff_cleanup_decoder(&rec);
    free(abuf.data);
    fclose(f);
    if (out && fclose(out) != 0)
        return 2;
    printf("decoded %lld bytes\n", total);
    return total == atoll(argv[2]) ? 0 : 1;
}

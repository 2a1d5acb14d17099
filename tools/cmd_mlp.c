/* flatav mlp IN.mlp OUT.raw: decode an MLP elementary stream to raw packed
 * PCM through the memory-source decoder, which pulls the file's bytes
 * through a read function and pushes PCM through a write function. */
#include <stdio.h>

#include "commands.h"
#include "flatav.h"
#include "host_io.h"
#include "progress.h"

/* What the decoder reads from and writes to. */
typedef struct MlpJob {
    FILE *in;
    FILE *out;
    long long read_bytes;    /* delivered to the decoder so far */
    long long written;       /* PCM bytes written to out */
    int input_ended;         /* the read function has seen the end of IN */
    int write_failed;
} MlpJob;

/* Read and refill sizes: a refill asks for up to 16 KiB, several packets. */
enum { kBufferAlloc = 32768, kRefillSize = 16384 };

static int32_t read_input(void *user, uint8_t *dst, int32_t max)
{
    MlpJob *job = (MlpJob *)user;
    size_t n = fread(dst, 1, (size_t)max, job->in);
    if (n == 0) {
        job->input_ended = 1;
        return 0;
    }
    job->read_bytes += (long long)n;
    return (int32_t)n;
}

static int32_t write_output(void *user, const uint8_t *data, int32_t size)
{
    MlpJob *job = (MlpJob *)user;
    if (fwrite(data, 1, (size_t)size, job->out) != (size_t)size)
        job->write_failed = 1;
    else
        job->written += size;
    return size;
}

static long long file_size(FILE *file)
{
    long long size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    rewind(file);
    return size;
}

/* Decodes the whole input; 0, or -1 after a message. */
static int decode_all(MemDecodeRec *decoder, MlpJob *job, long long in_size)
{
    Progress progress;
    progress_start(&progress, "decoding");
    int32_t n = 0;
    /* One packet per call while the file delivers. */
    while (!job->input_ended && (n = mem_decode_audio(decoder, 0)) >= 0)
        progress_update(&progress, (double)job->read_bytes, (double)in_size);
    /* The input has ended: the packets still buffered, one per call, until a
     * call yields nothing (the last of these gives the parser no bytes,
     * which releases a packet it may hold back). */
    while (n >= 0 && (n = mem_decode_audio(decoder, 0)) > 0) {
    }
    progress_finish(&progress);
    if (n < 0) {
        fprintf(stderr, "flatav: the MLP parser stopped with code %d\n", n);
        return -1;
    }
    /* Whatever is left, then the decoder's own tail. */
    mem_decode_audio(decoder, 1);
    return 0;
}

int cmd_mlp(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: flatav mlp IN.mlp OUT.raw\n");
        return 2;
    }
    HostFile in, out;
    if (host_file_open(&in, argv[0], "rb") != 0)
        return 1;
    if (host_file_open(&out, argv[1], "wb") != 0) {
        host_file_close(&in);
        return 1;
    }

    MlpJob job = {in.file, out.file, 0, 0, 0, 0};
    const long long in_size = file_size(in.file);
    int status = 1;
    MemDecodeRec *decoder =
        mem_init(&job, read_input, write_output, 1, kBufferAlloc, kRefillSize);
    if (decoder) {
        status = decode_all(decoder, &job, in_size) == 0 ? 0 : 1;
        mem_clean(&decoder);
    }
    if (job.write_failed) {
        fprintf(stderr, "flatav: cannot write %s\n", argv[1]);
        status = 1;
    }
    if (status == 0)
        printf("%s: decoded %lld bytes of MLP into %lld bytes of packed PCM -> %s\n",
               argv[0], job.read_bytes, job.written, argv[1]);
    host_file_close(&out);
    host_file_close(&in);
    return status;
}

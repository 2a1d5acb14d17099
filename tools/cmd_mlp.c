/* flatav mlp [OPTIONS] IN OUT: decode an MLP elementary stream to raw packed
 * PCM through the memory-source decoder, which pulls the file's bytes
 * through a read function and pushes PCM through a write function. */
#include <string.h>

#include "commands.h"
#include "flatav.h"
#include "host_io.h"
#include "pcm.h"
#include "progress.h"
#include "util.h"

static const char kCommand[] = "mlp";

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

/* Decodes the whole input: EXIT_DONE, or EXIT_FAILED after a message. */
static int decode_all(MemDecodeRec *decoder, MlpJob *job)
{
    Progress progress;
    progress_start(&progress, "decoding");
    int32_t n = 0;
    /* One packet per call while the file delivers. */
    while (!job->input_ended && (n = mem_decode_audio(decoder, 0)) >= 0)
        progress_update(&progress, (double)job->read_bytes, 0);
    /* The input has ended: the packets still buffered, one per call, until a
     * call yields nothing (the last of these gives the parser no bytes,
     * which releases a packet it may hold back). */
    while (n >= 0 && (n = mem_decode_audio(decoder, 0)) > 0) {
    }
    progress_finish(&progress);
    if (n < 0)
        return fail("the MLP parser stopped: %s", code_reason(n));
    /* Whatever is left, then the decoder's own tail. */
    mem_decode_audio(decoder, 1);
    return EXIT_DONE;
}

int cmd_mlp(int argc, char **argv)
{
    const char *in_path = NULL, *out_path = NULL;
    int overwrite = 0;
    const OptionDef options[] = {OVERWRITE_OPTIONS(overwrite), OPTIONS_END};
    int status = parse_in_out(kCommand, argc, argv, options, &in_path, &out_path);
    if (status != EXIT_DONE)
        return status;

    HostFile in;
    Output out;
    MemDecodeRec *decoder = NULL;
    MlpJob job;
    memset(&in, 0, sizeof in);
    memset(&job, 0, sizeof job);
    status = output_open(&out, out_path, overwrite, in_path);
    if (status == EXIT_DONE && host_file_open_input(&in, in_path) != 0)
        status = EXIT_FAILED;
    if (status != EXIT_DONE)
        goto cleanup;

    job.in = in.file;
    job.out = out.file.file;
    decoder = mem_init(&job, read_input, write_output, FLATAV_MEM_CODEC_MLP, kBufferAlloc,
                       kRefillSize);
    if (!decoder) {
        status = fail("cannot set up the MLP decoder");
        goto cleanup;
    }
    status = decode_all(decoder, &job);
    if (status == EXIT_DONE && job.write_failed)
        status = fail("cannot write %s", out_path);
    if (status == EXIT_DONE)
        status = output_commit(&out);
    if (status == EXIT_DONE)
        note("%s -> %s: %lld bytes of MLP decoded into %lld bytes of packed PCM", in_path,
             out_path, job.read_bytes, job.written);

cleanup:
    if (status != EXIT_DONE)
        output_abort(&out);
    mem_clean(&decoder);
    host_file_close(&in);
    return status;
}

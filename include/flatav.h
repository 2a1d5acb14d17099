/*
 * flatav: a flat, C-callable interface to audio work on top of FFmpeg.
 *
 * The host allocates a record per job (decoding, encoding, stream copy,
 * resampling, in-memory decoding, filtering), fills in its input fields and
 * calls the functions below on it. Records are shared by byte offset: every
 * field sits at a fixed offset (64-bit targets), gaps are named reserved
 * fields that the library never touches. Zero-fill a record before use.
 * Each field's comment starts with its offset; "(host)" marks a field the
 * host sets before the call that reads it, "(library)" one that the calls
 * write.
 *
 * Results come back as return values, as fields of the same record, and
 * through host functions called synchronously inside the call, on the
 * calling thread. Error texts that opening functions return are constants
 * or live in one process-wide text buffer (see below).
 *
 * Texts are stable: this library's own error texts (returned, handed to
 * error_cb or printed) and trace texts stay the same from one release to
 * the next, so hosts may match them; parts that come from FFmpeg (its error
 * descriptions, codec and format names) follow the FFmpeg in use. An
 * opening function given a NULL record returns "<function>: no record"
 * ("ff_open_encoder: no record"). Trace texts and a few error texts carry
 * fixed checkpoints, a mark beside the function's name that numbers a
 * place in the call, not a count: the "01" of "ff_cleanup_decoder, 01",
 * the "[3]" of "clean_filter_avrec(): [3]", the "[99]" of
 * "encode_audio_frame(): [99] av_write_trailer=0", the "(1)" of
 * "(1)avformat_open_input failed". A host may follow a call's progress by
 * them.
 *
 * Ownership: the host owns every record (except the memory-source decoder's
 * handle, which mem_init creates and mem_clean destroys) and everything its
 * input fields point to. FFmpeg objects that the library creates are
 * referenced from the record that caused them and released by that record's
 * clean-up call: ff_cleanup_decoder, ff_clean_streamcopy, ff_cleanup_encoder,
 * ff_cleanup_resample, ff_decoder_cleanup, mem_clean, clean_af. Packet
 * objects of ff_pkt_new go back through ff_pkt_free, memory of ff_alloc
 * through ff_free. Every clean-up call skips what is missing, so it may
 * follow a failed open and may be called twice.
 *
 * Threads: the library starts no thread and takes no lock. One record is
 * used by one thread at a time; distinct records may be used on distinct
 * threads at once. Process-wide and unprotected are the switches of ff_init,
 * the log function of ff_set_log_callback (set both up before work starts)
 * and one 1024-byte text buffer: formatted error texts that ff_decoder_open,
 * ff_open_encoder and ff_open_encoder_raw return, and the error texts in
 * AudioInfo.status, live there until the next such text is formatted
 * anywhere in the library. Hosts that open records on several threads copy
 * such a text at once, or serialise the opens that can fail.
 *
 * This header needs no FFmpeg header: FFmpeg objects appear as pointers to
 * incomplete struct types, which the FFmpeg headers complete when a host
 * includes them too.
 *
 * FFmpeg versions: the library builds against FFmpeg 5.1 through 7.1 and
 * behaves alike on each. The FFmpeg values named below (FLATAV_ERROR_*,
 * FLATAV_SEEK_*, FLATAV_SAMPLE_FMT_*, FLATAV_MEDIA_*) are the same in all of
 * them; a build against an FFmpeg where one differs fails. Every other value
 * that is FFmpeg's own is that of the FFmpeg the library was built against
 * and may differ from one build to another: AVCodecID numbers, channel
 * masks (AV_CH_*) and the default layout of a channel count, FFmpeg's other
 * error codes and its texts, codec and format names, and the size and
 * layout of an AVPacket (ff_pkt_size). A host takes those from that
 * FFmpeg's headers, or asks the library at run time (ff_pkt_size, the
 * capability functions), rather than keeping numbers of its own. Record
 * layouts and the library's own codes do not depend on the build.
 */
#ifndef FLATAV_H
#define FLATAV_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(FLATAV_BUILDING)
#    define FLATAV_API __declspec(dllexport)
#  else
#    define FLATAV_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define FLATAV_API __attribute__((visibility("default")))
#else
#  define FLATAV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Named values
 *
 * Every mode a host sets and every code a call returns, by name. The
 * FFmpeg values (FLATAV_ERROR_*, FLATAV_SEEK_*, FLATAV_SAMPLE_FMT_*,
 * FLATAV_MEDIA_*) equal FFmpeg's own, which the library checks when it is
 * built; the others are this library's. They are macros, not enum types:
 * the fields and results that carry them stay int32_t.
 * ---------------------------------------------------------------------- */

/* FFmpeg's error codes and seek flags. */
#define FLATAV_ERROR_EAGAIN (-11)        /* AVERROR(EAGAIN): feed more input */
#define FLATAV_ERROR_EOF (-541478725)    /* AVERROR_EOF: end of stream / drained */
#define FLATAV_SEEK_SIZE 0x10000         /* AVSEEK_SIZE: seek function asked for the size */
#define FLATAV_SEEK_FORCE 0x20000        /* AVSEEK_FORCE: or-ed into whence, seek even if slow */

/* FFmpeg's sample formats (AVSampleFormat): AudioInfo.sample_fmt and
 * output_sample_fmt, request_sample_fmt, and every record's sample_fmt. A
 * planar format (..P) keeps each channel in its own plane. */
#define FLATAV_SAMPLE_FMT_NONE (-1)      /* none / not known */
#define FLATAV_SAMPLE_FMT_U8 0           /* unsigned 8 bits */
#define FLATAV_SAMPLE_FMT_S16 1          /* signed 16 bits */
#define FLATAV_SAMPLE_FMT_S32 2          /* signed 32 bits */
#define FLATAV_SAMPLE_FMT_FLT 3          /* float */
#define FLATAV_SAMPLE_FMT_DBL 4          /* double */
#define FLATAV_SAMPLE_FMT_U8P 5          /* unsigned 8 bits, planar */
#define FLATAV_SAMPLE_FMT_S16P 6         /* signed 16 bits, planar */
#define FLATAV_SAMPLE_FMT_S32P 7         /* signed 32 bits, planar */
#define FLATAV_SAMPLE_FMT_FLTP 8         /* float, planar */
#define FLATAV_SAMPLE_FMT_DBLP 9         /* double, planar */
#define FLATAV_SAMPLE_FMT_S64 10         /* signed 64 bits */
#define FLATAV_SAMPLE_FMT_S64P 11        /* signed 64 bits, planar */

/* FFmpeg's media types (AVMediaType): AudioInfo.codec_type. */
#define FLATAV_MEDIA_UNKNOWN (-1)
#define FLATAV_MEDIA_VIDEO 0
#define FLATAV_MEDIA_AUDIO 1
#define FLATAV_MEDIA_DATA 2
#define FLATAV_MEDIA_SUBTITLE 3
#define FLATAV_MEDIA_ATTACHMENT 4

/* DecodeRec.read_mode: what ff_decode_audio does with the next packet of
 * the selected stream. */
#define FLATAV_READ_DECODE 0             /* decode it to PCM (also any value outside 0..3) */
#define FLATAV_READ_PACKET_DURATIONS 1   /* write its duration to packet_times */
#define FLATAV_READ_COPY 2               /* offer it to packet_cb, else copy it to buf */
#define FLATAV_READ_RAW_PACKET 3         /* leave it in raw_pkt */

/* DecodeRec.decode_error_mode: what a packet that does not decode does. */
#define FLATAV_DECODE_ERRORS_FAIL 0           /* the call returns FLATAV_DECODE_FAILED (also other values) */
#define FLATAV_DECODE_ERRORS_COUNT_AND_SKIP 1 /* skipped, counted in *error_count */
#define FLATAV_DECODE_ERRORS_SKIP 2           /* skipped */

/* ff_decode_audio's negative results (0 and up: bytes, see there). */
#define FLATAV_DECODE_NO_DECODER (-1)        /* no opened decoder for audio_stream_index (FLATAV_READ_RAW_PACKET: no raw_pkt or source) */
#define FLATAV_DECODE_END_OF_PACKETS (-1)    /* the packet modes: end of input (end_of_stream is 1) */
#define FLATAV_DECODE_NO_DESTINATION (-2)    /* FLATAV_READ_DECODE: neither buf nor abuf */
#define FLATAV_DECODE_PACKET_TAKEN (-2)      /* FLATAV_READ_COPY: packet_cb took the packet */
#define FLATAV_DECODE_PACKET_TOO_LARGE (-3)  /* FLATAV_READ_COPY: the packet fits neither bound */
#define FLATAV_DECODE_FAILED (-4)            /* FLATAV_READ_DECODE: a decoding error under FLATAV_DECODE_ERRORS_FAIL */
#define FLATAV_DECODE_OUT_OF_MEMORY (-21)    /* FLATAV_READ_DECODE: no packet or frame could be allocated */

/* HostPacketFn's answer. */
#define FLATAV_PACKET_CB_TAKEN 0         /* the host took the packet; any other value lets the library copy it */

/* ff_context_pos: new_pos that moves nothing, and the result without an I/O
 * context. */
#define FLATAV_CONTEXT_POS_NONE (-2)

/* ff_encode_audio2's failure result beside FFmpeg's own negative codes. */
#define FLATAV_ENCODE_FAILED (-1)        /* not open, no memory, a block of no whole frame, write or trailer failed, second drain */

/* ff_encode_audio_raw's negative results. */
#define FLATAV_RAW_WRITE_FAILED (-1)     /* write or trailer failed, or the record is not open */
#define FLATAV_RAW_NO_PACKET (-10)       /* no packet could be made from raw_data */

/* ff_init_decoder's positive results (0: opened; negative: FFmpeg's code). */
#define FLATAV_BUFFER_DECODER_MISSING 2  /* FFmpeg has no MLP (or DST) decoder */
#define FLATAV_BUFFER_DECODER_NO_MEMORY 3 /* no frame or packet could be allocated */

/* mem_init's codec_select. */
#define FLATAV_MEM_CODEC_MLP 1           /* MLP elementary stream, the only one */

/* ff_res_get_buffer's failure result. */
#define FLATAV_RES_BUFFER_FAILED (-1)    /* no record, or the buffer could not grow */

/* HostMetadataFn's stream_index for the container's own tags. */
#define FLATAV_METADATA_CONTAINER (-1)

struct AVCodec;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVInputFormat;
struct AVOutputFormat;
struct AVIOContext;
struct AVStream;
struct AVPacket;
struct AVFrame;
struct AVProbeData;
struct SwrContext;
struct AVFilterGraph;
struct AVFilterContext;

/* A time base: num / den seconds per tick (layout of FFmpeg's AVRational). */
typedef struct FlatavRational {
    int32_t num;  /* 0: numerator */
    int32_t den;  /* 4: denominator */
} FlatavRational;

typedef struct AudioBuffer AudioBuffer;

/* ------------------------------------------------------------------------
 * Host functions
 *
 * Every host function is called on the thread that made the library call,
 * inside that call, never later. Pointers it receives are valid only during
 * the call.
 * ---------------------------------------------------------------------- */

/* Receives an error text (error_cb) or a trace text (message_cb).
 * Parameters: user: HostCallbacks.user_data. text: zero-terminated, at most
 *   1023 characters (longer texts arrive cut).
 * Return value: none.
 * Remarks: error texts name the reporting step ("ff_decode_audio Error while
 *   decoding (...) : ..."); trace texts name the function first ("... begin",
 *   "... end") and also go to standard output (not while quiet, see
 *   ff_init). */
typedef void (*HostTextFn)(void *user, const char *text);

/* One metadata entry of the source being opened (ff_decoder_open).
 * Parameters: user: HostCallbacks.user_data. stream_index:
 *   FLATAV_METADATA_CONTAINER (-1) for container tags, else the index of an
 *   audio stream. key, value: the entry.
 * Return value: none.
 * Remarks: container tags come first, then the chapters' tags (chapter_cb),
 *   then each audio stream's tags; streams of other types report none. */
typedef void (*HostMetadataFn)(void *user, int32_t stream_index,
                               const char *key, const char *value);

/* One metadata entry of a chapter of the source being opened.
 * Parameters: user: HostCallbacks.user_data. chapter_id: the chapter's own id
 *   (not its position). start, end: the chapter's bounds in seconds, in
 *   single precision (DecodeRec.tags has them to the tick). key, value: the
 *   entry.
 * Return value: none.
 * Remarks: one call per entry; a chapter without metadata makes no call
 *   (DecodeRec.tags has it too). */
typedef void (*HostChapterFn)(void *user, int32_t chapter_id, float start,
                              float end, const char *key, const char *value);

/* Offered every packet in copy mode (read_mode FLATAV_READ_COPY).
 * Parameters: opaque: DecodeRec.io_opaque (not user_data). data, size: the
 *   packet's bytes. capacity: the caller's expected_size.
 * Return value: FLATAV_PACKET_CB_TAKEN (0) when the host took the packet
 *   (the library then copies nothing and ff_decode_audio returns
 *   FLATAV_DECODE_PACKET_TAKEN); any other value lets the library copy it
 *   into buf. */
typedef int32_t (*HostPacketFn)(void *opaque, const uint8_t *data,
                                int32_t size, int32_t capacity);

/* Asked for a larger AudioBuffer while decoding.
 * Parameters: always_null: always NULL. abuf: the buffer given to
 *   ff_decode_audio. need: bytes the buffer (or every plane buffer) must
 *   hold.
 * Return value: none.
 * Remarks: the host must leave data (or every planes[i]) at least need bytes
 *   long and update capacity; the library re-reads the pointers after the
 *   call, and a buffer still shorter than need gets no write (error_cb
 *   receives a line, the frame is skipped). It also asks when the
 *   output switches between packed and planar, or when planar output has
 *   more channels than abuf->channels said before (need may then be within
 *   the capacity): the host then makes sure data, or every one of
 *   abuf->channels planes, holds need bytes. */
typedef void (*HostGrowBufferFn)(void *always_null, AudioBuffer *abuf,
                                 int32_t need);

/* Receives FFmpeg's own log lines once ff_set_log_callback installed it.
 * Parameters: is_info: 0 for errors and worse (AV_LOG_ERROR and below), 1
 *   for warnings, information, verbose and debug lines. line: the formatted
 *   line, zero-terminated, at most 1023 characters.
 * Return value: none.
 * Remarks: FFmpeg calls it on whichever thread logs, also outside flatav's
 *   own calls; every level arrives, flatav filters nothing. */
typedef void (*HostLogFn)(int32_t is_info, const char *line);

/* Custom-I/O read function, FFmpeg's read contract.
 * Parameters: opaque: the record's io_opaque. buf: room for buf_size bytes.
 * Return value: bytes written to buf (1..buf_size), or a negative FFmpeg
 *   error code such as AVERROR_EOF at the end. */
typedef int32_t (*IoReadFn)(void *opaque, uint8_t *buf, int32_t buf_size);

/* Custom-I/O write function, FFmpeg's write contract.
 * Parameters: opaque: EncodeRec.io_opaque. buf, buf_size: the next bytes of
 *   the container, at the current position.
 * Return value: bytes taken, or a negative FFmpeg error code. */
typedef int32_t (*IoWriteFn)(void *opaque, uint8_t *buf, int32_t buf_size);

/* Custom-I/O seek function, FFmpeg's seek contract.
 * Parameters: opaque: the record's io_opaque. offset: the target. whence:
 *   SEEK_SET, SEEK_CUR or SEEK_END, possibly or-ed with AVSEEK_FORCE
 *   (FLATAV_SEEK_FORCE); or AVSEEK_SIZE (FLATAV_SEEK_SIZE): return the total size
 *   without moving.
 * Return value: the new position (or the size), or a negative value when the
 *   seek is not possible. */
typedef int64_t (*IoSeekFn)(void *opaque, int64_t offset, int32_t whence);

/* Receives PCM from the memory-source decoder and the filter.
 * Parameters: user: the host value given with the function. data, size: the
 *   bytes, valid only during the call.
 * Return value: ignored. */
typedef int32_t (*PcmWriteFn)(void *user, const uint8_t *data, int32_t size);

/* Delivers the next bytes of an elementary stream to the memory-source
 * decoder.
 * Parameters: user: the value given to mem_init. dst: room for max bytes.
 * Return value: bytes written to dst (1..max), or 0 or less when nothing is
 *   available now (the decoder goes on with what it holds). */
typedef int32_t (*MemReadFn)(void *user, uint8_t *dst, int32_t max);

/* ------------------------------------------------------------------------
 * Host callbacks and logging
 * ---------------------------------------------------------------------- */

/* The host's callback table (64 bytes), read only by the library. Decoder,
 * encoder and resampler records point to it through their `callbacks` field.
 * Every slot is optional, except grow_buffer_cb when an AudioBuffer that may
 * be too small is passed to ff_decode_audio. The encoder and the resampler
 * use only the first four slots. */
typedef struct HostCallbacks {
    int32_t message_enabled;          /*  0: non-zero lets message_cb be called */
    int32_t reserved_4;               /*  4 */
    void *user_data;                  /*  8: first argument of the text, metadata and chapter functions */
    HostTextFn error_cb;              /* 16: error texts */
    HostTextFn message_cb;            /* 24: trace texts (only while message_enabled) */
    HostMetadataFn metadata_cb;       /* 32: metadata of a source being opened */
    HostChapterFn chapter_cb;         /* 40: chapter metadata of a source being opened */
    HostPacketFn packet_cb;           /* 48: copy-mode packet offer */
    HostGrowBufferFn grow_buffer_cb;  /* 56: AudioBuffer growth */
} HostCallbacks;

/* The two process-wide switches given to ff_init (8 bytes). */
typedef struct LogSettings {
    int32_t quiet;         /* 0: non-zero: nothing on standard output or error (see ff_init) */
    int32_t ffmpeg_quiet;  /* 4: non-zero installs a log callback that drops FFmpeg's log */
} LogSettings;

/* Copies both switches into the library. With ffmpeg_quiet set, FFmpeg's log
 * is silenced; otherwise FFmpeg's log callback stays as it is. The last call
 * wins.
 * With quiet set, nothing in the library writes to standard output or
 * standard error: not the timestamped console trace, not the trace texts
 * that reach standard output beside (or without) a callback table, not the
 * lines of the filter, the in-memory decoders and the probes. A host that
 * writes its PCM or container to standard output sets it. Callbacks still
 * receive their texts, and FFmpeg's own log is left to ffmpeg_quiet and
 * ff_set_log_callback. Without quiet every line is printed as described at
 * its function. settings must not be NULL (a NULL pointer changes nothing).
 * Process-wide: call it before other threads use the library. Nothing to
 * release. */
FLATAV_API void ff_init(const LogSettings *settings);

/* Routes FFmpeg's log lines to fn (see HostLogFn), each line also echoed to
 * the console trace. fn NULL drops FFmpeg's log completely. A later ff_init
 * with ffmpeg_quiet set replaces the route, and the reverse.
 * Process-wide: call it before other threads use the library. */
FLATAV_API void ff_set_log_callback(HostLogFn fn);

/* ------------------------------------------------------------------------
 * Tags and chapters, of a source and of an output
 * ---------------------------------------------------------------------- */

/* One metadata entry (16 bytes): zero-terminated UTF-8 texts. */
typedef struct FlatavTag {
    const char *key;    /*  0 */
    const char *value;  /*  8 */
} FlatavTag;

/* One chapter (48 bytes): its bounds in ticks of time_base, and its tags. */
typedef struct FlatavChapter {
    int64_t id;                /*  0: the chapter's own id (not its position), unique in an output */
    FlatavRational time_base;  /*  8: seconds per tick of start and end */
    int64_t start;             /* 16: first tick */
    int64_t end;               /* 24: tick after the last */
    const FlatavTag *tags;     /* 32: nb_tags entries (title...), NULL when none */
    int32_t nb_tags;           /* 40 */
    int32_t reserved_44;       /* 44 */
} FlatavChapter;

/* Tags and chapters of a file (40 bytes). A writer takes them through
 * EncodeRec.tags: the host owns that record and everything it points to;
 * the library reads them during ff_open_encoder or ff_open_encoder_raw only
 * and keeps copies, so they may go as soon as the open returns. Each muxer
 * writes what its container holds (ID3 frames, Vorbis comments, MP4 atoms,
 * Matroska tags and chapters) and leaves the rest out; keys are FFmpeg's
 * generic ones ("title", "artist", "album", "date", "track"...). A source
 * describes its own in DecodeRec.tags, which a host may hand to a writer as
 * it is. */
typedef struct OutputTags {
    const FlatavTag *container_tags;  /*  0: the file's own tags */
    const FlatavTag *stream_tags;     /*  8: the audio stream's tags */
    const FlatavChapter *chapters;    /* 16: in order of start */
    int32_t nb_container_tags;        /* 24 */
    int32_t nb_stream_tags;           /* 28 */
    int32_t nb_chapters;              /* 32 */
    int32_t reserved_36;              /* 36 */
} OutputTags;

/* ------------------------------------------------------------------------
 * Source decoder: records
 * ---------------------------------------------------------------------- */

/* Description of one stream of an opened source (128 bytes; element of
 * DecodeRec.audio_info, allocated zeroed by ff_decoder_open and released
 * with its contexts by ff_cleanup_decoder). Fields marked "audio" are filled
 * for audio streams that have a decoder; the others stay zero.
 *
 * sample_fmt is what the demuxer reports, which can differ from what the
 * decoder delivers (FFmpeg describes MP2 as FLTP and decodes it as S16).
 * output_sample_fmt is the decoder's own: set when it opens,
 * FLATAV_SAMPLE_FMT_NONE when the decoder learns it only from the data, and
 * updated by every decoded frame that arrives in another format (so after
 * the first frame of such a decoder). ff_decode_audio delivers PCM in this
 * format, except that with packed_output a planar format arrives as its
 * packed variant (FLATAV_SAMPLE_FMT_FLTP as FLATAV_SAMPLE_FMT_FLT, S16P as
 * S16, and so on; orig_sample_fmt may turn FLTP into S32). channel_layout
 * is FFmpeg's channel mask (AV_CH_*) of the channels in the order they
 * arrive, likewise updated by decoded frames; 0 when the decoder's layout
 * is not one of FFmpeg's native-order layouts (channels counted only, or a
 * custom order). */
typedef struct AudioInfo {
    int32_t codec_id;            /*   0: AVCodecID (audio) */
    int32_t stream_index;        /*   4: index of the stream, every stream */
    const char *codec_name;      /*   8: the decoder's name (FFmpeg's string, not a copy; audio) */
    int32_t bit_rate;            /*  16: bit rate in bit/s, cut to 32 bits (audio) */
    int32_t sample_fmt;          /*  20: FLATAV_SAMPLE_FMT_* as the demuxer reports it (audio) */
    int32_t request_sample_fmt;  /*  24: copy of DecodeRec.request_sample_fmt, every stream */
    int32_t bits_per_raw_sample; /*  28: the stream's; 24 for DTS 96/24 streams that report 0 (audio) */
    int32_t channels;            /*  32: channel count (the decoder's when the stream gives none; audio) */
    int32_t output_sample_fmt;   /*  36: FLATAV_SAMPLE_FMT_* the opened decoder delivers, see below (audio, status "OK") */
    uint64_t channel_layout;     /*  40: native channel mask of the decoder's layout, 0 when not native (audio, status "OK") */
    int32_t sample_rate;         /*  48: Hz (audio) */
    int32_t reserved_52;         /*  52 */
    int64_t duration_scale;      /*  56: always 1000000, units of duration per second (audio) */
    int64_t duration;            /*  64: container duration in microseconds; 0 when unknown (audio) */
    double duration_seconds;     /*  72: whole seconds of the duration; -1.0 when unknown (audio) */
    const char *status;          /*  80: "OK" (decoder open), "N/A" (not audio) or an error text in the shared text buffer */
    int32_t codec_type;          /*  88: FLATAV_MEDIA_*, every stream */
    int32_t profile;             /*  92: codec profile (audio) */
    FlatavRational time_base;    /*  96: the stream's time base (audio streams) */
    const struct AVCodec *codec; /* 104: the decoder found, NULL when none (audio streams) */
    struct AVCodecContext *av_codec_context; /* 112: decoder context of an audio stream; opened when status is "OK" */
    struct AVCodecParameters *codecpar;      /* 120: the stream's own parameters (owned by the source) */
} AudioInfo;

/* Per-stream stream-copy data (56 bytes; element of StreamCopy.data). Filled
 * for audio streams that have a decoder; the other elements stay zero. */
typedef struct StreamCopyData {
    int64_t pts_offset;   /*  0: added to every output pts by the stream-copy writer (host; 0 at creation) */
    int64_t dts_offset;   /*  8: added to every output dts (host; 0 at creation) */
    int64_t last_pts;     /* 16: last pts written (writer) */
    int64_t last_dts;     /* 24: last dts written (writer) */
    struct AVCodecParameters *codecpar;    /* 32: copy of the stream's parameters, owned here */
    struct AVCodecContext *codec_context;  /* 40: the stream's opened decoder (owned by the DecodeRec) */
    FlatavRational time_base;              /* 48: the stream's time base */
} StreamCopyData;

/* Stream-copy data of a source (24 bytes), made by ff_decoder_open when
 * DecodeRec.streamcopy is non-NULL, released by ff_clean_streamcopy. It
 * refers to the decoder record's contexts: finish the stream-copy writer
 * before ff_cleanup_decoder. */
typedef struct StreamCopy {
    int32_t active;        /*  0: host sets non-zero; ff_clean_streamcopy releases only then */
    int32_t nb_streams;    /*  4: elements in data (library) */
    int32_t stream_index;  /*  8: element the stream-copy writer uses (host) */
    int32_t reserved_12;   /* 12 */
    StreamCopyData *data;  /* 16: one element per stream of the source (library) */
} StreamCopy;

/* The decoder record (288 bytes), the `avrec` of every source-decoder call.
 * Zero-fill it, set the host fields, then ff_decoder_open; release what it
 * holds with ff_cleanup_decoder. */
typedef struct DecodeRec {
    struct AVFormatContext *av_format_context;  /*   0: demuxer, set once the streams were read (library) */
    const struct AVInputFormat *input_format;   /*   8: format forced in custom-I/O mode, NULL probes (host) */
    struct AVIOContext *avio_context;           /*  16: custom-I/O context (library) */
    struct SwrContext *swr_context;             /*  24: planar-to-packed converter, made on first need (library) */
    int32_t nb_streams;                         /*  32: streams of the source (library) */
    int32_t nb_audio_streams;                   /*  36: audio streams (library) */
    int32_t audio_stream_index;                 /*  40: stream to decode and seek in, negative: none (host) */
    int32_t reserved_44;                        /*  44 */
    int32_t request_sample_fmt;                 /*  48: FLATAV_SAMPLE_FMT_* asked of every decoder, FLATAV_SAMPLE_FMT_NONE: none (host) */
    int32_t orig_sample_fmt;                    /*  52: FLATAV_SAMPLE_FMT_S32P turns float planar into packed S32 (host) */
    uint8_t *avio_buffer;                       /*  56: buffer first given to the I/O context (library) */
    int32_t end_of_stream;                      /*  64: 1 once a read of the source failed (library) */
    int32_t call_status;                        /*  68: 0 after every ff_decode_audio (library) */
    double position;                            /*  72: seconds; the seek target before ff_seek4 (host, library) */
    const OutputTags *tags;                     /*  80: the source's tags and chapters, NULL until opened; see ff_decoder_open (library) */
    int64_t pkt_pos;                            /*  88: byte position of the last packet read (library) */
    uint64_t sample_count;                      /*  96: samples decoded since the last seek (library) */
    double position_base;                       /* 104: seconds at the last seek (library) */
    int32_t position_reset;                     /* 112: 1 after a seek until the next frame (library) */
    int32_t keep_seek_flags;                    /* 116: seek flags also for a seek without stream (host) */
    void *io_opaque;                            /* 120: first argument of read_packet, seek and packet_cb (host) */
    IoReadFn read_packet;                       /* 128: custom-I/O read (host) */
    IoSeekFn seek;                              /* 136: custom-I/O seek, may be NULL (host) */
    HostCallbacks *callbacks;                   /* 144: may be NULL (host) */
    char *format_name;                          /* 152: container format's short name, from ff_probe or ff_decoder_open (library) */
    char *format_long_name;                     /* 160: container format's long name, likewise (library) */
    const char *file_name;                      /* 168: path or URL; a name hint in custom-I/O mode (host) */
    int32_t is_url;                             /* 176: non-zero: FFmpeg opens file_name itself (host) */
    int32_t decode_error_mode;                  /* 180: FLATAV_DECODE_ERRORS_*, other values: fail (host) */
    int32_t seekable;                           /* 184: 1 when the trial seek succeeded (library) */
    int32_t try_seek;                           /* 188: exactly 1 makes the trial seek (host) */
    int32_t packed_output;                      /* 192: non-zero converts planar frames to packed (host) */
    int32_t seek_backward;                      /* 196: non-zero seeks with AVSEEK_FLAG_BACKWARD (host) */
    int32_t raw_buffer_size;                    /* 200: second capacity bound of copy mode (host) */
    int32_t allow_nested_opens;                 /* 204: URL mode: non-zero lets FFmpeg open what the source refers to by its own rules; see Untrusted input (host) */
    const char *protocol_whitelist;             /* 208: URL mode: FFmpeg's protocol_whitelist for the source and all it opens, NULL: the default; see Untrusted input (host) */
    uint8_t reserved_216[8];                    /* 216 */
    AudioInfo *audio_info;                      /* 224: nb_streams elements (library) */
    int32_t read_mode;                          /* 232: FLATAV_READ_* (host) */
    int32_t reserved_236;                       /* 236 */
    double *packet_times;                       /* 240: FLATAV_READ_PACKET_DURATIONS: [0] last duration, [1] running sum (host) */
    StreamCopy *streamcopy;                     /* 248: non-NULL asks for stream-copy data; replaced by the library's */
    int32_t packet_count;                       /* 256: packets of the selected stream read (library) */
    int32_t reserved_260;                       /* 260 */
    double packet_duration_sum;                 /* 264: seconds of packets delivered by FLATAV_READ_COPY and _RAW_PACKET (library) */
    int64_t raw_packet_count;                   /* 272: packets delivered by FLATAV_READ_RAW_PACKET (library) */
    struct AVPacket *raw_pkt;                   /* 280: packet object FLATAV_READ_RAW_PACKET fills (host) */
} DecodeRec;

/* The host's growable PCM buffer (32 bytes). The host owns it and every
 * buffer in it. */
struct AudioBuffer {
    int32_t capacity;   /*  0: bytes of data, or of every buffer in planes (host) */
    int32_t planar;     /*  4: 0 the last frame went packed to data, 1 into planes (library) */
    int32_t channels;   /*  8: planes filled, planar output only (library) */
    int32_t reserved_12;/* 12 */
    uint8_t *data;      /* 16: packed output (host) */
    uint8_t **planes;   /* 24: one buffer per channel (host) */
};

/* ------------------------------------------------------------------------
 * Untrusted input
 *
 * Media can make FFmpeg open other resources: a playlist names segments
 * (local files, URLs), a segment muxer writes files of its own. What the
 * library lets a source or an output open besides itself:
 * - Custom I/O (is_url 0): nothing. The source is the host's bytes alone;
 *   a playlist or reference inside it fails the open with
 *   "ff_decoder_open: refused to open "<url>", which the source refers to".
 *   protocol_whitelist and allow_nested_opens do not apply. ff_probe2
 *   reads the host's bytes only.
 * - URL mode (is_url 1), both fields zero (the default): a local file opens
 *   nothing else (the same refusal); an http:// or https:// source may open
 *   further URLs of its kind and what they run on ("http,https,tcp,tls,
 *   crypto"), so an HLS stream plays, but no local file; another network
 *   source keeps its own transports and opens neither local files nor
 *   nested resources. concat:, concatf:, subfile:, data:, pipe: and fd:
 *   sources are refused ("ff_decoder_open: "concat" sources are refused
 *   unless protocol_whitelist names the protocol").
 * - URL mode with protocol_whitelist: FFmpeg's protocol_whitelist syntax
 *   ("file,http,tcp"), applied to the source and everything it opens, by
 *   FFmpeg's own rules within it; allow_nested_opens is then moot.
 * - URL mode with allow_nested_opens (and no whitelist): FFmpeg's own
 *   rules, as the ffmpeg tool has them.
 * ff_probe2 opens in URL mode what ff_decoder_open would.
 * - Outputs always go to the host's write_packet alone: a container that
 *   writes files or connections of its own (hls, dash, segment, tee,
 *   image2, fifo, rtsp...) is refused by ff_open_encoder and
 *   ff_open_encoder_raw ("ff_open_encoder: the container "hls" writes files
 *   of its own besides the host's output; refused"), and any other open a
 *   muxer attempts fails.
 * - Filters: setup_af refuses a filter without an input, so a filter name
 *   that reaches it (amovie, movie: sources that open the file their
 *   arguments name) opens nothing.
 * A host that decodes uploads, or opens names that users type, reads them
 * through custom I/O or by name with both fields zero. A whitelist lets a
 * source open whatever FFmpeg would within it (with "file", the local
 * segments of a local playlist), and allow_nested_opens anything: set them
 * for sources the host trusts.
 * ---------------------------------------------------------------------- */

/* ------------------------------------------------------------------------
 * Source decoder: functions
 * ---------------------------------------------------------------------- */

/* Opens the source that avrec describes: file or URL (is_url non-zero), or
 * the host's read_packet/seek (is_url 0); what the source may make FFmpeg
 * open besides itself is under Untrusted input. Reports container tags, chapter
 * tags and audio-stream tags through the callbacks, describes every stream in
 * audio_info and opens a decoder for every audio stream (see each element's
 * status). Describes the source's tags and chapters, exactly, in tags (see
 * below). With streamcopy non-NULL, makes a StreamCopy. When format_name is
 * NULL (no ff_probe before, or it matched nothing), fills format_name and
 * format_long_name with copies of the opened format's names (long name NULL
 * when FFmpeg has none); names from ff_probe stay as they are.
 * Returns NULL on success, else an error text (a constant or the shared text
 * buffer, valid until the next formatted error). Release with
 * ff_cleanup_decoder, also after a failure; the StreamCopy with
 * ff_clean_streamcopy.
 * tags points to one block of the library's, laid out as the record a
 * writer takes: valid and unchanged until ff_cleanup_decoder releases it
 * (decoding does not touch it), NULL after a failed open. container_tags
 * holds the container's tags; chapters every chapter in the source's
 * order with its own id, time base and start and end ticks as the
 * container gives them (exact, not rounded to seconds) and its tags, a
 * chapter without tags included; stream_tags the tags of the first audio
 * stream whose decoder opened (status "OK"), the stream a host that takes
 * the first playable one decodes or copies, none when no decoder opened.
 * Keys and values are those the callbacks report, "encoder" tags included.
 * A host that copies that stream hands the block to a writer as it is
 * (EncodeRec.tags = DecodeRec.tags); one that copies another stream gives
 * the writer an OutputTags of its own with the same container_tags and
 * chapters and that stream's tags (from metadata_cb).
 * In custom-I/O mode the library copies read_packet, seek and io_opaque here
 * into a block of its own, which FFmpeg's reads go through until
 * ff_cleanup_decoder: a host may move or copy the record between calls (as
 * marshalling does), and changing those three fields later has no effect. */
FLATAV_API const char *ff_decoder_open(DecodeRec *avrec);

/* Pull call. FLATAV_READ_DECODE (and any read_mode outside 0..3): decodes the
 * next packet of audio_stream_index that yields audio and writes its PCM,
 * in AudioInfo.output_sample_fmt, to abuf (grown through grow_buffer_cb), or
 * to buf (packed) / planes (planar output) when abuf is NULL; without abuf
 * those must hold all PCM of one packet.
 * Returns the bytes written (planar output: all planes together), 0 at the
 * end of input (end_of_stream 1), FLATAV_DECODE_NO_DECODER (-1) no decoder
 * for the stream, FLATAV_DECODE_NO_DESTINATION (-2) neither buf nor abuf, or
 * planar output without abuf and planes, FLATAV_DECODE_FAILED (-4) a
 * decoding error under FLATAV_DECODE_ERRORS_FAIL, FLATAV_DECODE_OUT_OF_MEMORY
 * (-21). Updates position (the end of the last frame, in seconds).
 * The library flushes the decoder at the end of input, so that no audio is
 * lost: the frames a decoder still holds (codecs with delay, frame
 * threading) come out one per call through the same output as the others,
 * and only then does the call return 0 with end_of_stream 1, as every later
 * call does. A decoding error during that drain ends it in every
 * decode_error_mode (counted where the mode counts), as it ends the ffmpeg
 * tool's: a damaged stream can leave a decoder that answers every later call
 * with the same error. A packet the decoder is not ready for is not dropped: the frames
 * it is waiting on go out first and the packet is sent again. Planar output
 * with nowhere to go is an error, not an empty result: error_cb receives
 * "ff_decode_audio planes = NULL" and the call returns
 * FLATAV_DECODE_NO_DESTINATION (before reading a packet when the decoder
 * announces a planar format). A frame whose sample format or channel count
 * differs from what the planar-to-packed converter was made for gets a new
 * converter.
 * The other read modes hand out packets instead:
 * FLATAV_READ_PACKET_DURATIONS returns 0 and writes the packet's duration
 * to packet_times; FLATAV_READ_COPY copies the packet to buf when it fits
 * expected_size or raw_buffer_size and returns its size,
 * FLATAV_DECODE_PACKET_TAKEN (-2) when packet_cb took it,
 * FLATAV_DECODE_PACKET_TOO_LARGE (-3) when it fits neither;
 * FLATAV_READ_RAW_PACKET leaves it in raw_pkt (clean it with ff_pkt_clean
 * before the next call) and returns its size. These three return
 * FLATAV_DECODE_END_OF_PACKETS (-1) at the end of input.
 * error_count is incremented per skipped error under
 * FLATAV_DECODE_ERRORS_COUNT_AND_SKIP. No result closes anything: the next
 * call reads the next packet. */
FLATAV_API int32_t ff_decode_audio(DecodeRec *avrec, uint8_t *buf,
                                   uint8_t **planes, AudioBuffer *abuf,
                                   int32_t expected_size, int32_t *error_count);

/* Packet objects for FLATAV_READ_RAW_PACKET (an AVPacket). ff_pkt_size gives the size of
 * FFmpeg's packet object, ff_pkt_new allocates one (NULL on failure; safe to
 * clean at once), ff_pkt_clean releases the data it references (after every
 * packet read into it), ff_pkt_free frees the object and any data it still
 * references. NULL is accepted by clean and free. */
FLATAV_API int32_t ff_pkt_size(void);
FLATAV_API struct AVPacket *ff_pkt_new(void);
FLATAV_API void ff_pkt_clean(struct AVPacket *pkt);
FLATAV_API void ff_pkt_free(struct AVPacket *pkt);

/* Seeks to avrec->position seconds (from the start of the presentation) in
 * audio_stream_index (negative: FFmpeg's default stream, see
 * keep_seek_flags). The next decoded frame restarts the position count from
 * there. Returns 0, or the negative FFmpeg error of the seek
 * (AVERROR(EINVAL) on a record that is not open). Nothing to release.
 * Decoders are not flushed by a seek, except that one flushed at the end of
 * input (see ff_decode_audio) is reset before it takes the next packet, so
 * that decoding resumes at the new place. */
FLATAV_API int32_t ff_seek4(DecodeRec *avrec);

/* Returns the byte position of the source's I/O context
 * (FLATAV_CONTEXT_POS_NONE without one) and, when new_pos is not
 * FLATAV_CONTEXT_POS_NONE, sets it to new_pos. */
FLATAV_API int64_t ff_context_pos(DecodeRec *avrec, int64_t new_pos);

/* Probe input laid out as FFmpeg's AVProbeData, for hosts without FFmpeg's
 * headers: buf holds buf_size bytes followed by 32 zero bytes of padding;
 * filename (a name hint, may be "") and mime_type (may be NULL) help the
 * guess. Pass it to ff_probe cast to struct AVProbeData *. */
typedef struct FlatavProbeData {
    const char *filename;   /*  0: name hint, may be "" */
    unsigned char *buf;     /*  8: the bytes, followed by FLATAV_PROBE_PADDING zero bytes */
    int32_t buf_size;       /* 16: bytes in buf, padding not counted */
    int32_t reserved_20;    /* 20 */
    const char *mime_type;  /* 24: MIME type hint, may be NULL */
} FlatavProbeData;

#define FLATAV_PROBE_PADDING 32 /* AVPROBE_PADDING_SIZE */

/* Names the container format matching probe_data's bytes and keeps copies of
 * its names in avrec->format_name / format_long_name (released by
 * ff_cleanup_decoder; both NULL when nothing matches). Returns FFmpeg's
 * format (never freed; may go to input_format), or NULL. */
FLATAV_API const struct AVInputFormat *ff_probe(DecodeRec *avrec,
                                                struct AVProbeData *probe_data);

/* Finds the container format of the source avrec describes (file/URL, or the
 * host's read callbacks, which it reads without rewinding them), opening
 * no more than ff_decoder_open would (see Untrusted input). Writes no
 * field and keeps nothing open. Returns FFmpeg's format (never freed; may go
 * to input_format), or NULL. */
FLATAV_API const struct AVInputFormat *ff_probe2(DecodeRec *avrec);

/* Returns 1 when the opened source has a DTS audio stream (with a decoder),
 * else 0. */
FLATAV_API int32_t ff_is_dca(DecodeRec *avrec);

/* Releases what ff_decoder_open, decoding and ff_probe put into avrec (not the
 * StreamCopy), the format names and tags included, and clears those fields;
 * the record may be opened again. Safe after a failed open and when called
 * twice. */
FLATAV_API void ff_cleanup_decoder(DecodeRec *avrec);

/* Releases the StreamCopy held in *field when it is active, and sets *field
 * to NULL. NULL, a NULL field or an inactive StreamCopy: nothing. Other
 * copies of the pointer (EncodeRec.streamcopy) must no longer be used. */
FLATAV_API void ff_clean_streamcopy(StreamCopy **field);

/* ------------------------------------------------------------------------
 * Encoder and stream-copy writer
 * ---------------------------------------------------------------------- */

/* The encoder record (368 bytes), shared by encoding and the stream-copy
 * writer. Zero-fill it, set the host fields, then ff_open_encoder or
 * ff_open_encoder_raw; release what it holds with ff_cleanup_encoder. */
typedef struct EncodeRec {
    int32_t opened;                             /*   0: 1 once the header was written (library) */
    uint8_t reserved_4[12];                     /*   4 */
    const char *output_file_name;               /*  16: chooses the container; never opened (host) */
    const char *codec_name;                     /*  24: encoder name, also tried as container name (host) */
    int32_t codec_id;                           /*  32: AVCodecID when codec_name names no encoder (host) */
    int32_t reserved_36;                        /*  36 */
    uint8_t *io_buffer;                         /*  40: output I/O buffer (library) */
    const struct AVOutputFormat *output_format; /*  48: the muxer (library) */
    struct AVFormatContext *av_format_context;  /*  56: the output (library) */
    struct AVStream *audio_st;                  /*  64: the one output stream (library) */
    struct AVCodecContext *av_codec_context;    /*  72: the encoder (library) */
    int32_t audio_input_frame_size;             /*  80: samples per channel per encode call, 0: any (library) */
    int32_t audio_input_buffer_size;            /*  84: bytes per encode call, 0: any (library) */
    int32_t sample_size;                        /*  88: bytes of one sample of requested_sample_fmt (library) */
    int32_t reserved_92;                        /*  92 */
    struct AVFrame *frame;                      /*  96: frame reused by every encode call (library) */
    int32_t encode;                             /* 104: non-zero opens a real encoder, 0 declares MP3 only (host) */
    int32_t compression_level;                  /* 108: the encoder's compression level, 0 included (host) */
    int32_t codec_bit_rate;                     /* 112: non-zero overrides the encoder's bit rate (host) */
    int32_t block_align;                        /* 116: non-zero sets the stream's block_align (host) */
    void *io_opaque;                            /* 120: first argument of the I/O functions (host) */
    IoReadFn read_packet;                       /* 128: may be NULL (host) */
    IoWriteFn write_packet;                     /* 136: receives every byte of the container (host) */
    IoSeekFn seek;                              /* 144: NULL makes the output non-seekable (host) */
    HostCallbacks *callbacks;                   /* 152: error and trace texts, may be NULL (host) */
    const OutputTags *tags;                     /* 160: tags and chapters for the output, NULL: none (host) */
    uint8_t reserved_168[8];                    /* 168 */
    int32_t bit_rate;                           /* 176: bit/s for the encoder and the stream (host) */
    int32_t sample_fmt;                         /* 180: FLATAV_SAMPLE_FMT_* given to the encoder (host, then library) */
    int32_t requested_sample_fmt;               /* 184: FLATAV_SAMPLE_FMT_* of the host's PCM (host) */
    int32_t reserved_188;                       /* 188 */
    int32_t channels;                           /* 192: channel count (host) */
    uint8_t reserved_196[12];                   /* 196 */
    int32_t sample_rate;                        /* 208: Hz (host) */
    uint8_t reserved_212[76];                   /* 212 */
    struct AVPacket *raw_pkt;                   /* 288: packet to write, NULL: built from raw_data (host) */
    uint8_t *raw_data;                          /* 296: bytes of a packet without raw_pkt (host) */
    int32_t raw_size;                           /* 304: byte count of raw_data (host) */
    int32_t raw_codec_id;                       /* 308: declared for packets without stream-copy data (host) */
    int32_t raw_frame_size;                     /* 312: frame size declared likewise (host) */
    int32_t raw_channels;                       /* 316: channel count declared likewise (host) */
    int32_t raw_sample_rate;                    /* 320: sample rate declared likewise (host) */
    int32_t reserved_324;                       /* 324 */
    StreamCopy *streamcopy;                     /* 328: the source's stream-copy data, or NULL (host) */
    int32_t planar;                             /* 336: 1 when requested_sample_fmt is planar (library) */
    int32_t reserved_340;                       /* 340 */
    int64_t next_pts;                           /* 344: samples per channel encoded so far (library) */
    uint64_t channel_layout;                    /* 352: non-zero is given to the encoder (host) */
    int64_t rescale_delta_last;                 /* 360: retiming state of the stream-copy writer (library) */
} EncodeRec;

/* Opens an output with one audio stream and an encoder; the container bytes
 * go to write_packet/seek (seek NULL: the muxer sees an output that cannot
 * seek). The header carries tags and chapters when tags is set. A container
 * that writes files of its own is refused (see Untrusted input). Returns NULL on success, else an error text (a constant, or the
 * shared text buffer for "avformat_write_header failed %d" and the refusals). Release with
 * ff_cleanup_encoder; a failed open has already released what it made. */
FLATAV_API const char *ff_open_encoder(EncodeRec *avrec);

/* Encodes buf_size bytes of PCM (buf interleaved, or planes when the record
 * is planar; buf must then be non-NULL). buf NULL drains the encoder and
 * writes the trailer. Returns the packet size written, 0 when the encoder
 * kept the frame, FLATAV_ENCODE_FAILED (-1) or FFmpeg's negative code on
 * failure; the drain returns 0 or FLATAV_ENCODE_FAILED (also for a second
 * drain, which writes nothing). Nothing to release per call: the data are
 * only read during the call. */
FLATAV_API int32_t ff_encode_audio2(EncodeRec *avrec, const uint8_t *buf,
                                    uint8_t **planes, int32_t buf_size);

/* FFmpeg's buffer size for the whole sample frames that byte_count holds in
 * the output stream's format; AVERROR(EINVAL) without an open output. */
FLATAV_API int32_t ff_buff_size(EncodeRec *avrec, int32_t byte_count);

/* Releases what an open and the encode calls created (output, its I/O
 * context and buffer, encoder, frame) and clears those fields; writes no
 * trailer. Does nothing for a record never opened; a second call does
 * nothing either. Also the clean-up of the stream-copy writer. */
FLATAV_API void ff_cleanup_encoder(EncodeRec *avrec);

/* Opens an output for stream copy: the stream copies the parameters of
 * streamcopy->data[streamcopy->stream_index], or declares MP3 without
 * stream-copy data. The header carries tags and chapters when tags is set. Returns NULL on success, else an error text (as for
 * ff_open_encoder). Release with ff_cleanup_encoder. */
FLATAV_API const char *ff_open_encoder_raw(EncodeRec *avrec);

/* size non-zero: writes raw_pkt (or raw_data/raw_size) as one packet, retimed
 * into the output; raw_pkt stays the host's (its pts, dts and stream index
 * are changed in place). size 0: writes the trailer. An output given no
 * packet is what FFmpeg's muxer makes of none, as the ffmpeg tool's own
 * remux of no packet (-frames:a 0) writes it: Matroska then holds no
 * Cluster, which Matroska's own tools read but FFmpeg's demuxer refuses
 * ("End of file"), and MP4 a track without samples, which FFmpeg reads as
 * no stream. Returns 0 (written, or
 * skipped under a non-zero pts_offset), FLATAV_RAW_WRITE_FAILED (-1: write
 * or trailer failed, or the record is not open) or FLATAV_RAW_NO_PACKET
 * (-10: no packet could be made). */
FLATAV_API int32_t ff_encode_audio_raw(EncodeRec *avrec, int32_t size);

/* ------------------------------------------------------------------------
 * Encoder lookup and capabilities
 *
 * These only read FFmpeg's registries: no record, nothing to release, any
 * thread.
 * ---------------------------------------------------------------------- */

/* Fixed codec ids of the encoders a host offers (there is no 04). */
FLATAV_API int32_t ff_get_encoder_01(void); /* ALAC */
FLATAV_API int32_t ff_get_encoder_02(void); /* AC-3 */
FLATAV_API int32_t ff_get_encoder_03(void); /* FLAC */
FLATAV_API int32_t ff_get_encoder_05(void); /* PCM signed 16-bit little-endian */
FLATAV_API int32_t ff_get_encoder_06(void); /* MP3 */
FLATAV_API int32_t ff_get_encoder_07(void); /* Opus */
FLATAV_API int32_t ff_get_encoder_08(void); /* WavPack */
FLATAV_API int32_t ff_get_encoder_09(void); /* MP2 */
FLATAV_API int32_t ff_get_encoder_10(void); /* Vorbis */
FLATAV_API int32_t ff_get_encoder_11(void); /* FLV1 (a video codec) */
FLATAV_API int32_t ff_get_encoder_12(void); /* AAC */
FLATAV_API int32_t ff_get_encoder_13(void); /* TTA */
FLATAV_API int32_t ff_get_encoder_14(void); /* DTS */
FLATAV_API int32_t ff_get_encoder_15(void); /* TrueHD */
FLATAV_API int32_t ff_get_encoder_16(void); /* WMA v1 */
FLATAV_API int32_t ff_get_encoder_17(void); /* WMA v2 */
FLATAV_API int32_t ff_get_encoder_18(void); /* PCM mu-law */
FLATAV_API int32_t ff_get_encoder_19(void); /* PCM A-law */

/* Always NULL: no lookup by name takes place. */
FLATAV_API const struct AVCodec *ff_get_encoder(const char *name);

/* The FLATAV_SAMPLE_FMT_* to feed the encoder of codec_id with, given the host's
 * sample_fmt and preferred bits per sample: planar float when the host has
 * float and the encoder takes it, else sample_fmt when the encoder takes it,
 * else the first format of best_bits_per_sample bits, else the encoder's
 * last. FLATAV_SAMPLE_FMT_NONE when the encoder is missing or declares no
 * formats. */
FLATAV_API int32_t ff_get_encoder_sample_format(int32_t codec_id,
                                                int32_t best_bits_per_sample,
                                                int32_t sample_fmt);

/* 1 when FFmpeg has an encoder for codec1 or codec2 (0 = none), else 0. */
FLATAV_API int32_t ff_format_supported(int32_t codec1, int32_t codec2);

/* Writes the list of video codecs ("E:", "D:", "|", name, ",") into buffer,
 * without a terminating zero; returns its length. The buffer must hold it;
 * buffer NULL only returns the length. */
FLATAV_API int32_t ff_gvc(char *buffer);

/* Prints every muxer to the console trace (nothing while quiet). */
FLATAV_API void ff_dumpf(void);

/* ------------------------------------------------------------------------
 * Resampler
 * ---------------------------------------------------------------------- */

/* The resampler record (216 bytes). Packed formats (or planar mono) only.
 * Zero-fill it, set the host fields, then ff_init_resample; release what it
 * holds with ff_cleanup_resample. */
typedef struct ResampleRec {
    struct SwrContext *swr;       /*   0: NULL until initialised (library) */
    char resampler_name[104];     /*   8: "resampler" option, empty: default (host) */
    HostCallbacks *callbacks;     /* 112: receives the error text of a refused matrix (host) */
    int32_t in_sample_fmt;        /* 120: FLATAV_SAMPLE_FMT_* of the input (host) */
    int32_t in_sample_rate;       /* 124: Hz (host) */
    int32_t in_channels;          /* 128: for size arithmetic (host) */
    int32_t reserved_132;         /* 132 */
    uint64_t in_channel_layout;   /* 136: channel mask (host) */
    int32_t in_bytes_per_sample;  /* 144: bytes of one input sample of one channel (library) */
    int32_t out_sample_fmt;       /* 148: FLATAV_SAMPLE_FMT_* of the output (host) */
    int32_t out_sample_rate;      /* 152: Hz (host) */
    int32_t out_channels;         /* 156: for size arithmetic (host) */
    uint64_t out_channel_layout;  /* 160: channel mask (host) */
    int32_t out_bytes_per_sample; /* 168: bytes of one output sample of one channel (library) */
    int32_t user_in_ch_count;     /* 172: "in_channel_count" option, 0 unset, else in_channels (host) */
    int32_t user_out_ch_count;    /* 176: "out_channel_count" option, 0 unset, else out_channels (host) */
    int32_t dither_method;        /* 180: "dither_method" option, 0 leaves it unset (host) */
    int32_t free_buffer;          /* 184: non-zero lets clean-up free buffer (host) */
    int32_t reserved_188;         /* 188 */
    uint8_t *buffer;              /* 192: output buffer kept in the record, from FFmpeg's allocator (library; host may preset) */
    int32_t buffer_size;          /* 200: usable bytes of buffer (library) */
    int32_t reserved_204;         /* 204 */
    double precision;             /* 208: "precision" option, 0.0 leaves it unset (host) */
} ResampleRec;

/* Sets up the converter: 0, libswresample's error code (the record stays
 * as it was: fix it and call again), or AVERROR(EINVAL) for a format that is
 * not an AVSampleFormat or a planar format of more than one channel, a
 * channel mask that does not name in_channels (out_channels) channels, or a
 * user_in_ch_count (user_out_ch_count) other than 0 and in_channels
 * (out_channels); 0 at once when swr is already set. The block sizes count
 * in_channels and out_channels: a converter that read or wrote another
 * number of channels per sample would run past the host's memory, so the
 * library refuses any mask or count that disagrees with them. A count that
 * agrees goes to libswresample as "in_channel_count" ("out_channel_count")
 * where it has that option (FFmpeg 7 dropped it); either way the converter
 * works on the layout of the mask, or FFmpeg's default layout of
 * in_channels (out_channels) when the mask is 0. matrix (with
 * stride) is an optional remix matrix; a refused matrix is reported to
 * callbacks->error_cb, its code returned, and the record needs
 * ff_cleanup_resample before the next set-up. Release with
 * ff_cleanup_resample. */
FLATAV_API int32_t ff_init_resample(ResampleRec *rec, const double *matrix,
                                    int32_t stride);
/* Output bytes that ff_resample gives at most for in_bytes of input (0 for a
 * record that is not set up). */
FLATAV_API int32_t ff_buffer_size(ResampleRec *rec, int32_t in_bytes);
/* Grows rec->buffer to at least size usable bytes (it never shrinks): 0, or
 * FLATAV_RES_BUFFER_FAILED (-1) on failure, after which the record holds no
 * buffer. The buffer is released by ff_cleanup_resample when free_buffer is
 * set, else by the host with ff_free. */
FLATAV_API int32_t ff_res_get_buffer(ResampleRec *rec, int32_t size);
/* Converts in_bytes of in into out; *out_samples is the capacity in samples
 * per channel (0: the computed count) and receives the capacity used. flush
 * non-zero drains (in_bytes 0); repeat it while it returns bytes.
 * Returns the bytes written, 0 on failure. With resampler_name "soxr", give
 * at least the room ff_buffer_size counts, and blocks small enough for that
 * count to fit in 32 bits: libsoxr 0.1.3 crashes in the drain after a
 * conversion that was given less. */
FLATAV_API int32_t ff_resample(ResampleRec *rec, const uint8_t *in,
                               int32_t in_bytes, uint8_t *out,
                               int32_t *out_samples, int32_t flush);
/* Passes a remix matrix to the converter; libswresample's result. */
FLATAV_API int32_t ff_set_matrix(ResampleRec *rec, const double *matrix,
                                 int32_t stride);
/* Releases the converter, and buffer when free_buffer is set; the record may
 * be set up again. A second call does nothing. */
FLATAV_API void ff_cleanup_resample(ResampleRec *rec);
/* Memory from FFmpeg's allocator (NULL for a negative size or on failure),
 * released with ff_free (NULL accepted). Suitable for ResampleRec.buffer. */
FLATAV_API void *ff_alloc(int32_t size);
FLATAV_API void ff_free(void *p);

/* ------------------------------------------------------------------------
 * In-memory decoding
 * ---------------------------------------------------------------------- */

/* The packet buffer decoder record (32 bytes). Set the host fields, then
 * ff_init_decoder; release with ff_decoder_cleanup. */
typedef struct BufferDecodeRec {
    int32_t channels;                      /*  0: channel count of the frames (host) */
    int32_t sample_fmt;                    /*  4: format the decoder produces, sizes the copy (host) */
    int32_t sample_rate;                   /*  8: Hz (host) */
    int32_t reserved_12;                   /* 12 */
    struct AVCodecContext *codec_context;  /* 16: the open decoder, NULL when closed (library) */
    struct AVFrame *frame;                 /* 24: frame receiving decoded audio, NULL when closed (library) */
} BufferDecodeRec;

/* Opens an MLP (is_mlp non-zero) or DST decoder: 0,
 * FLATAV_BUFFER_DECODER_MISSING (2), FLATAV_BUFFER_DECODER_NO_MEMORY (3: no
 * frame or packet), or FFmpeg's negative code. Set channels (DST needs
 * them), sample_fmt and sample_rate first. A failed open leaves nothing to
 * release; close an open record with ff_decoder_cleanup before opening it
 * again. */
FLATAV_API int32_t ff_init_decoder(int32_t is_mlp, BufferDecodeRec *rec);
/* Decodes one packet (data, size: read during the call only); copies one
 * frame of PCM to dst, which must hold a whole frame in the record's
 * channels and sample_fmt. Returns its bytes, or FFmpeg's negative code
 * (FLATAV_ERROR_EAGAIN: feed more packets). Prints two trace lines per frame to standard
 * output. */
FLATAV_API int32_t ff_decode_buffer(BufferDecodeRec *rec, const uint8_t *data,
                                    int32_t size, uint8_t *dst);
/* Closes the decoder; NULL and a closed record are accepted. */
FLATAV_API void ff_decoder_cleanup(BufferDecodeRec *rec);

/* Handle of the memory-source decoder (library-owned; its fields are not
 * part of the interface). */
typedef struct MemDecodeRec MemDecodeRec;

/* Creates an MLP elementary-stream decoder (codec_select
 * FLATAV_MEM_CODEC_MLP) reading through
 * read_fn and writing PCM through write_fn (packed, interleaved); reads fill
 * an input buffer of buffer_alloc bytes up to refill_size (1..buffer_alloc).
 * user is passed first to both functions. NULL on failure, with a line on
 * standard output. Release with mem_clean. */
FLATAV_API MemDecodeRec *mem_init(void *user, MemReadFn read_fn,
                                  PcmWriteFn write_fn, int32_t codec_select,
                                  int32_t buffer_alloc, int32_t refill_size);
/* One parse step (drain 0), or everything left plus the decoder's tail
 * (drain non-zero). Returns the PCM bytes written, or a parser error. Once
 * the input has ended and nothing is buffered, a call with drain 0 lets the
 * parser give up a packet it still holds; the drain call then ends the
 * stream, after which calls write nothing. */
FLATAV_API int32_t mem_decode_audio(MemDecodeRec *rec, int32_t drain);
/* Destroys *handle and sets it to NULL; NULL or a NULL handle: nothing. */
FLATAV_API void mem_clean(MemDecodeRec **handle);

/* ------------------------------------------------------------------------
 * Audio filter
 * ---------------------------------------------------------------------- */

/* The filter record (120 bytes). Zero-fill it, set the host fields, then
 * setup_af; release the graph with clean_af. */
typedef struct FilterRec {
    int32_t sample_fmt;                    /*   0: FLATAV_SAMPLE_FMT_* of input and output (host) */
    int32_t reserved_4;                    /*   4 */
    uint64_t channel_layout;               /*   8: channel mask (host) */
    int32_t sample_rate;                   /*  16: Hz of input and output (host) */
    int32_t channels;                      /*  20: must agree with channel_layout (host) */
    uint8_t reserved_24[8];                /*  24 */
    struct AVFilterContext *src;           /*  32: buffer source "src" (library) */
    struct AVFilterContext *aformat_out;   /*  40: format stage restoring the input's format (library) */
    struct AVFilterGraph *graph;           /*  48: owns the four stages; NULL when torn down (library) */
    struct AVFilterContext *user_filter;   /*  56: the named filter (library) */
    struct AVFilterGraph *run_graph;       /*  64: copy of graph once set up (library) */
    struct AVFilterContext *run_src;       /*  72: copy of src once set up; run_af pushes here (library) */
    struct AVFilterContext *run_sink;      /*  80: copy of sink once set up; run_af pulls here (library) */
    struct AVFilterContext *sink;          /*  88: buffer sink "sink" (library) */
    struct AVFrame *in_frame;              /*  96: wraps each pushed block; NULL when torn down (library) */
    struct AVFrame *out_frame;             /* 104: receives each filtered frame; NULL when torn down (library) */
    int32_t frames_in;                     /* 112: run_af calls so far, drives the timestamps (library) */
    int32_t frames_out;                    /* 116: filtered frames so far (library) */
} FilterRec;

/* Builds source -> filter_name(filter_args) -> format -> sink (filter_args
 * may be NULL). 0 or a negative FFmpeg code; a failure leaves nothing to
 * release. Prints its failure lines to standard output. Release with
 * clean_af. frames_in and frames_out are not reset: clear them to reuse a
 * record. A filter without an input (a source such as amovie, which opens
 * the file its arguments name) is refused with AVERROR(EINVAL) before it is
 * made, so a filter name a user typed makes the library open nothing. */
FLATAV_API int32_t setup_af(const char *filter_name, const char *filter_args,
                            FilterRec *rec);
/* Pushes size bytes (0: end of stream) and writes every ready frame through
 * write_fn (packed: one call per frame; planar: one call per plane). Returns
 * FLATAV_ERROR_EAGAIN (wants more), FLATAV_ERROR_EOF (drained) or an error; a refused push tears
 * the graph down. */
FLATAV_API int32_t run_af(FilterRec *rec, const uint8_t *data, int32_t size,
                          void *user, PcmWriteFn write_fn);
/* Tears down the graph of *rec_ptr; NULL or a NULL record: nothing. The
 * record stays the host's and may be set up again. */
FLATAV_API void clean_af(FilterRec **rec_ptr);

#ifdef __cplusplus
}
#endif

#endif /* FLATAV_H */

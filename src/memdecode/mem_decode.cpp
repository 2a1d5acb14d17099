// mem_decode_audio: refills the input buffer through the host's read
// function, cuts packets with the parser and decodes them; with drain set it
// parses everything left and flushes the decoder.
#include <climits>
#include <cstring>

#include "memdecode.h"

using namespace flatav;

namespace {

// Moves the unparsed bytes to the start of the buffer and asks the host for
// the room up to refill_size. A read of 0 or less changes nothing.
void refill(MemDecodeRec *rec)
{
    if (rec->pending > 0 && rec->read_pos != rec->input_buffer)
        memmove(rec->input_buffer, rec->read_pos, (size_t)rec->pending);
    rec->read_pos = rec->input_buffer;

    const int32_t room = rec->refill_size - (int32_t)rec->pending;
    int32_t n = rec->read_fn(rec->user, rec->input_buffer + rec->pending, room);
    if (n > 0)
        rec->pending += (uint64_t)(n < room ? n : room);
}

bool below_refill_size(const MemDecodeRec *rec)
{
    return rec->pending < (uint64_t)(int64_t)rec->refill_size;
}

// One parser call over the buffered bytes: the bytes it consumed, or its
// negative code (nothing consumed). A packet it completed is left in
// rec->packet.
int parse(MemDecodeRec *rec)
{
    AVPacket *pkt = rec->packet;
    const int r = av_parser_parse2(rec->parser, rec->codec_context, &pkt->data,
                                   &pkt->size, rec->read_pos, (int)rec->pending,
                                   AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (r > 0) {
        rec->read_pos += r;
        rec->pending -= (uint64_t)r;
    }
    return r;
}

// Decodes the packet the parser completed, if any; true when there was one.
bool decode_parsed(MemDecodeRec *rec, int64_t &total)
{
    if (rec->packet->size == 0)
        return false;
    const int32_t d = decode_and_write(rec);
    if (d > 0)
        total += d;
    return true;
}

// Sends the empty packet that makes the decoder give up what it holds.
void flush_decoder(MemDecodeRec *rec, int64_t &total)
{
    rec->packet->data = nullptr;
    rec->packet->size = 0;
    const int32_t d = decode_and_write(rec);
    if (d > 0)
        total += d;
}

int32_t clamp_total(int64_t total)
{
    return total > INT32_MAX ? INT32_MAX : (int32_t)total;
}

}  // namespace

extern "C" FLATAV_API int32_t mem_decode_audio(MemDecodeRec *rec, int32_t drain)
{
    if (!rec)
        return AVERROR(EINVAL);

    if (below_refill_size(rec))
        refill(rec);

    // A drain call can decode far more than one refill: the count is kept
    // wide and the result saturates rather than wraps.
    int64_t total = 0;
    if (!drain) {
        const int r = parse(rec);
        if (r < 0)
            return r;
        decode_parsed(rec, total);
        return clamp_total(total);
    }

    // A parser that neither consumes nor completes anything twice in a row
    // would keep this loop going for ever; it ends parsing instead.
    int idle_steps = 0;
    for (;;) {
        const int r = parse(rec);
        if (r < 0)
            break;
        const bool got_packet = decode_parsed(rec, total);
        idle_steps = (r == 0 && !got_packet) ? idle_steps + 1 : 0;
        if (rec->pending == 0 || idle_steps >= 2)
            break;
        if (below_refill_size(rec))
            refill(rec);
    }
    flush_decoder(rec, total);
    return clamp_total(total);
}

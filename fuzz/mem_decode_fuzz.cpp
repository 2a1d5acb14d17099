// mem_init, mem_decode_audio and mem_clean: an MLP elementary stream pulled
// through the host's read function in arbitrary read sizes, parsed, decoded
// and written out.
//
// Input: 14 option bytes, then the stream.
//   0: codec_select (FLATAV_MEM_CODEC_MLP for most values, else the value itself)
//   1-2: buffer_alloc - 1
//   3-4: refill_size (values above buffer_alloc are taken modulo it + 1,
//        except 0xffff, which stays too large)
//   5-12: eight read sizes used in turn: 0 answers 0 bytes, 255 answers -1,
//         others that many bytes times 16
//   13: steps with drain 0 between drains (0: only the final drain)
#include <cstdint>

#include "flatav.h"
#include "fuzz_host.h"

using namespace flatav_fuzz;

namespace {

constexpr int kMaxCalls = 2000;

struct Stream {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    uint8_t reads[8] = {};
    unsigned next_read = 0;
    int64_t written = 0;  // bytes the write function received
};

int32_t read_stream(void *user, uint8_t *dst, int32_t max)
{
    auto *s = static_cast<Stream *>(user);
    const uint8_t r = s->reads[s->next_read++ % 8];
    if (r == 255)
        return -1;
    size_t n = (size_t)r * 16;
    if (n > (size_t)max)
        n = (size_t)max;
    if (n > s->size - s->pos)
        n = s->size - s->pos;
    if (max < 0)
        __builtin_trap();  // the library asked for a negative amount
    std::memcpy(dst, s->data + s->pos, n);
    s->pos += n;
    return (int32_t)n;
}

int32_t write_pcm(void *user, const uint8_t *data, int32_t size)
{
    if (size <= 0)
        __builtin_trap();  // a write of nothing
    touch(data, size);
    static_cast<Stream *>(user)->written += size;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    init_target();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in(data, size);
    const uint8_t select = in.u8();
    const int32_t buffer_alloc = (int32_t)in.u16() + 1;
    const uint16_t refill = in.u16();
    Stream stream{};
    for (uint8_t &r : stream.reads)
        r = in.u8();
    const uint8_t steps_per_drain = in.u8();
    stream.data = in.rest();
    stream.size = in.left();

    const int32_t codec_select = select < 0xf0 ? FLATAV_MEM_CODEC_MLP : select & 0x0f;
    const int32_t refill_size =
        refill == 0xffff ? buffer_alloc + 1
                         : (refill > buffer_alloc ? refill % buffer_alloc + 1 : refill);
    MemDecodeRec *rec =
        mem_init(&stream, read_stream, write_pcm, codec_select, buffer_alloc, refill_size);
    if (!rec)
        return 0;

    // Steps until the input has ended and two more (the first of them lets
    // the parser give up the packet it holds), then the drain; with
    // steps_per_drain set, drains in between too.
    // Every call returns the bytes it wrote (or a parser error, having
    // written nothing).
    int idle = 0;
    int64_t returned = 0;
    for (int call = 0; call < kMaxCalls && idle < 3; call++) {
        const bool drain = steps_per_drain && call % (steps_per_drain + 1) == steps_per_drain;
        const int32_t r = mem_decode_audio(rec, drain ? 1 : 0);
        if (r < 0 && drain)
            __builtin_trap();  // a drain returns bytes written, never a code
        returned += r > 0 ? r : 0;
        if (stream.pos == stream.size)
            idle++;
    }
    for (const int32_t drain : {1, 0}) {
        const int32_t r = mem_decode_audio(rec, drain);
        returned += r > 0 ? r : 0;
    }
    if (returned != stream.written)
        __builtin_trap();
    mem_clean(&rec);
    mem_clean(&rec);
    return 0;
}

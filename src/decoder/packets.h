// Packet hand-out: read modes 1 (durations), 2 (copy) and 3 (raw packet).
#pragma once

#include <cstdint>

#include "flatav.h"

struct AVPacket;

namespace flatav {

// Read modes 1 and 2, given the packet of the selected stream that the
// packet loop has just read; the result is that of ff_decode_audio.
int32_t get_raw_packet(DecodeRec *avrec, AVPacket *pkt, uint8_t *buf,
                       int32_t expected_size);

// Read mode 3: the next packet of the selected stream, left in raw_pkt.
int32_t read_raw_packet(DecodeRec *avrec);

}  // namespace flatav

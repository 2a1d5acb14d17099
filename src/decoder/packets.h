// Packet hand-out: the read modes FLATAV_READ_PACKET_DURATIONS,
// FLATAV_READ_COPY and FLATAV_READ_RAW_PACKET.
#pragma once

#include <cstdint>

#include "flatav.h"

struct AVPacket;

namespace flatav {

// FLATAV_READ_PACKET_DURATIONS and FLATAV_READ_COPY, given the packet of the
// selected stream that the packet loop has just read; the result is that of
// ff_decode_audio.
int32_t get_raw_packet(DecodeRec *avrec, AVPacket *pkt, uint8_t *buf,
                       int32_t expected_size);

// FLATAV_READ_RAW_PACKET: the next packet of the selected stream, left in
// raw_pkt.
int32_t read_raw_packet(DecodeRec *avrec);

}  // namespace flatav

// Whole jobs run the way a host runs them: decoding a stream to its end,
// copying one into a new container, and one job of every kind the library
// does, for the tests that run many of them (threads, the quiet switch).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encode_host.h"
#include "flatav.h"
#include "media.h"

namespace flatav_test {

// What decoding one stream to its end gave the host.
struct Decoded {
    std::vector<uint8_t> pcm;   // planar output interleaved, sample by sample
    int failed_calls = 0;       // results FLATAV_DECODE_FAILED (the loop goes on)
    int32_t skipped = 0;        // counted under FLATAV_DECODE_ERRORS_COUNT_AND_SKIP
    bool ended = false;         // result 0 with end_of_stream 1
    std::vector<int32_t> other; // any other result
};

// Decodes stream of the opened rec to its end as its fields ask (packed
// output, decode_error_mode): into a growing AudioBuffer, or with caller
// set into the caller's buf and planes without one.
Decoded decode_to_end(DecodeRec &rec, int stream, bool caller = false);

// A stream copied through FLATAV_READ_RAW_PACKET and the stream-copy writer
// into out, going on after failures as a careless host would.
struct CopyRun {
    std::string open_error;                 // "" after a successful open
    std::vector<DemuxedPacket> handed_out;  // what FLATAV_READ_RAW_PACKET gave
    std::vector<int32_t> results;           // of the packet calls
    int32_t trailer = -100;
    MemoryOutput out;                       // set fail_after before the run

    bool succeeded() const;
};
void copy_stream(const std::string &path, int stream, const std::string &output, CopyRun &run);

// What a job produced, or why it stopped.
struct Outcome {
    std::vector<uint8_t> bytes;
    std::string failure;
};
struct Job {
    std::string name;
    std::function<Outcome()> run;
};

// About a second of work of every kind: decoding (by URL and through custom
// I/O, with and without a callback table), encoding, stream copy,
// resampling, filtering and both in-memory MLP decoders.
std::vector<Job> library_jobs();

}  // namespace flatav_test

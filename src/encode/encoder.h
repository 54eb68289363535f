// The encoder's search over blocks (encoder.cpp), for the entry points that
// check a caller's options first.
#ifndef VORNISH_ENCODE_ENCODER_H
#define VORNISH_ENCODE_ENCODER_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"
#include "encode/block_coder.h"

namespace vornish::encode {

struct Job {
    const std::int16_t* pcm;
    std::size_t count;
    DecodeRules rules;
    int effort;              // BRR_EFFORT_*, checked
    std::int64_t loopBlock;  // -1: none
    bool reset;              // filter 0 at the first block and the loop's
    BRRProgressFunction progress;
    void* progressContext;
};

// Writes the blocks of job's samples (blockCount of them, without flags) and
// returns their squared error.
std::uint64_t EncodeBlocks(const Job& job, std::uint64_t blockCount, std::uint8_t* blocks);

}  // namespace vornish::encode

#endif

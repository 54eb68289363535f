// Sample forms.
//
//   size 9k      k blocks
//   size 9k+2    (sample forms) a loop header, then k blocks:
//                  bytes 0-1  the loop start's byte offset into the blocks,
//                             16-bit little-endian; a whole block inside
//                             the sample, or the file is refused (it may be a
//                             plain sample with two stray bytes)
//                with noHeader: k blocks, then two bytes left out
//
// With sample forms the first block with the end flag (header bit 0) ends
// the sample: blocks after it are counted (and left out with stopAtEnd). A
// loop start is the option's, else the loop header's. The WAV gets a smpl
// chunk when the loop start is known and was either given as an option or is
// confirmed by both flags on the last block decoded.
//
// The rendering: every block once, then blocks [loop start, end) again for
// every further pass; played, it is what the voice outputs at the pitch. Its
// sizes must fit the WAV's 32-bit fields.
//
// The smpl chunk's unity note is the root note given, else the probable note
// of the loop: with +c cents that note and c/100 of a semitone as the pitch
// fraction, with -c cents the note below and (100 - c)/100.
#include "forms/forms.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "base/shared.h"
#include "render/loop_reports.h"
#include "render/playback.h"
#include "wav/wav_writer.h"

namespace vornish {

int CheckOptions(const BRRConvertOptions& options)
{
    if (options.loopCount < 1 || options.loopCount > BRR_MAX_LOOP_COUNT) {
        return BRR_STATUS_BAD_LOOP_COUNT;
    }
    if (options.sampleRate < 1 || options.sampleRate > 0x7FFFFFFFu || BRRRulesName(options.rules) == nullptr) {
        return BRR_STATUS_BAD_OPTION;
    }
    if (options.loopStart < BRR_NO_LOOP_START) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    const bool reserved = !AllZero(options.reserved);
    if (options.pieceBlocks > BRR_MAX_PIECE_BLOCKS || options.play > BRR_MAX_PITCH ||
        options.rootNote < BRR_ROOT_NOTE_AUTO || options.rootNote > 127 || reserved) {
        return BRR_STATUS_BAD_OPTION;
    }
    return BRR_OK;
}

int LayOut(std::uint64_t size, const BRRConvertOptions& options, Layout* layout)
{
    const bool twoMore = options.sampleForms != 0 && size % BRR_BLOCK_SIZE == BRR_LOOP_HEADER_SIZE;
    if (!twoMore && size % BRR_BLOCK_SIZE != 0) {
        return BRR_STATUS_BAD_SIZE;
    }
    layout->headered = twoMore && options.noHeader == 0;
    layout->dataOffset = layout->headered ? BRR_LOOP_HEADER_SIZE : 0;
    layout->extraBytes = twoMore && !layout->headered ? BRR_LOOP_HEADER_SIZE : 0;
    layout->blockCount = (size - layout->dataOffset) / BRR_BLOCK_SIZE;
    return BRR_OK;
}

std::size_t FindEndFlag(const std::uint8_t* blocks, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if ((blocks[i * BRR_BLOCK_SIZE] & BRR_END_FLAG) != 0) {
            return i;
        }
    }
    return count;
}

namespace {

bool BothFlags(std::uint8_t header)
{
    return (header & (BRR_END_FLAG | BRR_LOOP_FLAG)) == (BRR_END_FLAG | BRR_LOOP_FLAG);
}

// Fills the sizes of the rendering; false when they do not fit the WAV.
bool PlanRendering(const BRRConvertOptions& options, BRRConvertResult* result)
{
    const std::uint64_t smplBytes = result->smpl != 0 ? BRR_SMPL_CHUNK_SIZE : 0;
    const std::uint64_t maxBlocks = WavMaxBlockCount(smplBytes);
    const std::uint64_t repeats = options.loopCount - 1u;
    const std::uint64_t loopBlocks = result->blockCount - RepeatFrom(*result);
    // B is checked alone first so that the product cannot overflow.
    if (result->blockCount > maxBlocks ||
        (loopBlocks > 0 && repeats > (maxBlocks - result->blockCount) / loopBlocks)) {
        return false;
    }
    result->totalBlocks = result->blockCount + repeats * loopBlocks;
    result->sampleCount = result->totalBlocks * BRR_SAMPLES_PER_BLOCK;
    result->sampleRate = options.sampleRate;
    if (options.play != 0) {
        result->sampleCount = PlayedCount(result->sampleCount, options.play);
        result->sampleRate = kPlaybackRate;
        if (result->sampleCount > maxBlocks * BRR_SAMPLES_PER_BLOCK) {
            return false;
        }
    }
    result->wavSize = BRR_WAV_HEADER_SIZE + result->sampleCount * 2u + smplBytes;
    if (result->smpl != 0) {
        // One forward loop over the last pass; it ends with the file.
        result->smplStart =
            static_cast<std::uint32_t>((result->totalBlocks - loopBlocks) * BRR_SAMPLES_PER_BLOCK);
        result->smplEnd = static_cast<std::uint32_t>(result->sampleCount - 1u);
    }
    return true;
}

// The probable-note report, and from it (or the root note given) the smpl
// chunk's unity note and pitch fraction.
void PlanNote(const BRRConvertOptions& options, BRRConvertResult* result)
{
    result->unityNote = options.rootNote >= 0 ? static_cast<std::uint32_t>(options.rootNote) : 60u;
    if (options.loopCount < 2) {
        return;
    }
    ProbableNote note{0, 0, 0};
    const std::uint64_t loopBlocks = result->blockCount - RepeatFrom(*result);
    result->note = LoopNote(static_cast<std::uint32_t>(loopBlocks), options.sampleRate, &note);
    result->noteIndex = note.index;
    result->noteOctave = note.octave;
    result->noteCents = static_cast<std::int32_t>(note.cents);
    const long midi = 12L * (note.octave + 1) + note.index - (note.cents < 0 ? 1 : 0);
    if (result->note == BRR_NOTE_FOUND && options.rootNote == BRR_ROOT_NOTE_AUTO && midi >= 0 && midi <= 127) {
        const double above = note.cents < 0 ? 100.0 + static_cast<double>(note.cents) : static_cast<double>(note.cents);
        result->unityNote = static_cast<std::uint32_t>(midi);
        result->pitchFraction = static_cast<std::uint32_t>(std::llround(above / 100.0 * 4294967296.0));
    }
}

}  // namespace

int CompletePlan(const Layout& layout, const Facts& facts, const BRRConvertOptions& options,
                 BRRConvertResult* result)
{
    result->dataOffset = layout.dataOffset;
    result->extraBytes = layout.extraBytes;
    result->blockCount = layout.blockCount;
    bool loopFlags = false;  // the last block decoded has both flags
    bool loopFlag = false;   // ... the loop flag
    if (options.sampleForms != 0 && layout.blockCount > 0) {
        const bool ended = facts.endBlock < layout.blockCount;
        result->trailingBlocks = ended ? layout.blockCount - 1u - facts.endBlock : 0;
        const bool cut = options.stopAtEnd != 0 && result->trailingBlocks > 0;
        if (cut) {
            result->blockCount = facts.endBlock + 1u;
        }
        const std::uint8_t last = cut ? facts.endHeader : facts.lastHeader;
        loopFlags = BothFlags(last);
        loopFlag = (last & BRR_LOOP_FLAG) != 0;
    }
    if (result->blockCount == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    std::int64_t loopStart = options.loopStart;
    if (loopStart == BRR_NO_LOOP_START && layout.headered) {
        if (facts.loopHeader % BRR_BLOCK_SIZE != 0 || facts.loopHeader / BRR_BLOCK_SIZE >= result->blockCount) {
            return BRR_STATUS_BAD_LOOP_HEADER;
        }
        loopStart = facts.loopHeader / BRR_BLOCK_SIZE;
    }
    if (loopStart != BRR_NO_LOOP_START &&
        (loopStart < 0 || static_cast<std::uint64_t>(loopStart) >= result->blockCount)) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    result->loopStart = loopStart;
    result->smpl = options.sampleForms != 0 && options.writeSmpl != 0 && options.play == 0 && loopStart >= 0 &&
                   (options.loopStart != BRR_NO_LOOP_START || loopFlags);
    result->unlooped = options.sampleForms != 0 && options.loopCount > 1 && loopStart < 0 && !loopFlag;
    PlanNote(options, result);
    return PlanRendering(options, result) ? BRR_OK : BRR_STATUS_TOO_LARGE;
}

bool IsPlanFor(const BRRConvertResult& plan, const BRRConvertOptions& options)
{
    const bool forms = options.sampleForms != 0;
    const bool smplAllowed = forms && options.writeSmpl != 0 && options.play == 0 && plan.loopStart >= 0;
    if (plan.blockCount == 0 || plan.loopStart < BRR_NO_LOOP_START || RepeatFrom(plan) >= plan.blockCount ||
        (plan.smpl != 0 && !smplAllowed) ||
        (options.loopStart != BRR_NO_LOOP_START && plan.loopStart != options.loopStart) ||
        (plan.dataOffset != 0 && (plan.dataOffset != BRR_LOOP_HEADER_SIZE || !forms || options.noHeader != 0))) {
        return false;
    }
    BRRConvertResult again = plan;
    PlanNote(options, &again);
    return PlanRendering(options, &again) && again.totalBlocks == plan.totalBlocks &&
           again.sampleCount == plan.sampleCount && again.sampleRate == plan.sampleRate &&
           again.wavSize == plan.wavSize && again.smplStart == plan.smplStart && again.smplEnd == plan.smplEnd &&
           again.unityNote == plan.unityNote && again.pitchFraction == plan.pitchFraction;
}

}  // namespace vornish

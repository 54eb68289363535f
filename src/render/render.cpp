// Rendering.
//
// Nothing here grows with the input or the loop count: every size is known
// from the plan before the first byte is written, and each piece's samples
// are handed on before the next piece is read.
#include "render/render.h"

#include <cstdlib>

#include "forms/forms.h"
#include "render/loop_reports.h"
#include "stream/writer.h"
#include "wav/wav_writer.h"

namespace vornish {
namespace {

struct Pass {
    const Source& source;
    std::uint64_t dataOffset;
    std::size_t pieceBlocks;
    std::uint8_t* scratch;  // one piece of blocks, for a read function
    Writer& writer;
    BRRDecoder decoder;
    bool readFailed;
};

// Decodes and writes blocks first..first+count-1; `record`, when given,
// receives their first two samples.
bool StreamBlocks(Pass& p, std::uint64_t first, std::uint64_t count, std::int16_t* record)
{
    while (count > 0) {
        const std::size_t n = count < p.pieceBlocks ? static_cast<std::size_t>(count) : p.pieceBlocks;
        const std::uint8_t* blocks = SourceBytes(p.source, p.dataOffset + first * BRR_BLOCK_SIZE,
                                                 n * BRR_BLOCK_SIZE, p.scratch);
        if (blocks == nullptr) {
            p.readFailed = true;
            return false;
        }
        std::int16_t* samples = NextBuffer(p.writer);
        if (samples == nullptr) {
            return false;
        }
        BRRDecodeBlocks(&p.decoder, blocks, n, samples);
        if (record != nullptr) {
            record[0] = samples[0];
            record[1] = samples[1];
            record = nullptr;
        }
        StoreSamplesLittleEndian(samples, n * BRR_SAMPLES_PER_BLOCK);
        SubmitBuffer(p.writer, n * BRR_SAMPLES_PER_BLOCK * sizeof(std::int16_t));
        first += n;
        count -= n;
    }
    return true;
}

// The first two samples of the loop in every pass, for the loop reports.
struct LoopStartRecord {
    std::int16_t firsts[BRR_MAX_LOOP_COUNT];
    std::int16_t seconds[BRR_MAX_LOOP_COUNT];
};

// Header, every pass, smpl chunk. Pass 0 plays every block; each pass's
// record is taken where the loop starts.
int WritePasses(Pass& p, const BRRConvertOptions& options, bool threaded,
                const BRRConvertResult& plan, LoopStartRecord& record)
{
    std::uint8_t header[kWavHeaderSize];
    MakeWavHeader(header, options.sampleRate, static_cast<std::uint32_t>(plan.totalBlocks),
                  plan.smpl != 0 ? kSmplChunkSize : 0);
    if (!WriteNow(p.writer, header, sizeof header)) {
        return BRR_STATUS_WRITE_ERROR;
    }
    const std::uint64_t repeatFrom = RepeatFrom(plan);
    const std::uint64_t loopBlocks = plan.blockCount - repeatFrom;
    if (threaded && plan.totalBlocks > p.pieceBlocks) {
        StartWriter(p.writer);  // one piece has nothing to overlap with
    }
    std::int16_t pair[2] = {0, 0};
    bool ok = repeatFrom == 0 || StreamBlocks(p, 0, repeatFrom, nullptr);
    for (std::uint32_t pass = 0; ok && pass < options.loopCount; ++pass) {
        ok = StreamBlocks(p, repeatFrom, loopBlocks, pair);
        record.firsts[pass] = pair[0];
        record.seconds[pass] = pair[1];
    }
    ok = StopWriter(p.writer) && ok;
    if (ok && plan.smpl != 0) {
        std::uint8_t chunk[kSmplChunkSize];
        MakeSmplChunk(chunk, options.sampleRate, plan.smplStart, plan.smplEnd);
        ok = WriteNow(p.writer, chunk, sizeof chunk);
    }
    return ok ? BRR_OK : p.readFailed ? BRR_STATUS_READ_ERROR : BRR_STATUS_WRITE_ERROR;
}

void Report(const BRRConvertOptions& options, const LoopStartRecord& record, BRRConvertResult* result)
{
    result->stability = LoopStability(options.loopCount, record.firsts, record.seconds,
                                      &result->repeatLater, &result->repeatEarlier);
    if (options.loopCount > 1) {
        ProbableNote note{0, 0, 0};
        const std::uint64_t loopBlocks = result->blockCount - RepeatFrom(*result);
        result->note = LoopNote(static_cast<std::uint32_t>(loopBlocks), options.sampleRate, &note);
        result->noteIndex = note.index;
        result->noteOctave = note.octave;
        result->noteCents = static_cast<std::int32_t>(note.cents);
    }
}

}  // namespace

int RenderSource(const Source& source, const BRRConvertOptions& options, BRRWriteFunction write,
                 void* context, bool threaded, BRRConvertResult* result)
{
    if (write == nullptr || !IsPlanFor(*result, options)) {
        return BRR_STATUS_MISSING_PATH;
    }
    Writer writer;
    writer.write = write;
    writer.context = context;
    Pass p{source, result->dataOffset, PieceBlocks(options), nullptr, writer, BRRDecoder{}, false};
    BRRDecoderInit(&p.decoder, options.rules);
    const std::size_t sampleBytes = p.pieceBlocks * BRR_SAMPLES_PER_BLOCK * sizeof(std::int16_t);
    if (source.memory == nullptr) {
        p.scratch = static_cast<std::uint8_t*>(std::malloc(p.pieceBlocks * BRR_BLOCK_SIZE));
    }
    writer.buffers[0] = static_cast<std::int16_t*>(std::malloc(sampleBytes));
    writer.buffers[1] = threaded ? static_cast<std::int16_t*>(std::malloc(sampleBytes)) : writer.buffers[0];
    auto* record = static_cast<LoopStartRecord*>(std::malloc(sizeof(LoopStartRecord)));
    int status = BRR_STATUS_NO_MEMORY;
    if ((source.memory != nullptr || p.scratch != nullptr) && writer.buffers[0] != nullptr &&
        writer.buffers[1] != nullptr && record != nullptr) {
        status = WritePasses(p, options, threaded, *result, *record);
    }
    if (status == BRR_OK) {
        Report(options, *record, result);
    }
    std::free(record);
    if (writer.buffers[1] != writer.buffers[0]) {
        std::free(writer.buffers[1]);
    }
    std::free(writer.buffers[0]);
    std::free(p.scratch);
    return status;
}

}  // namespace vornish

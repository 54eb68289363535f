// Rendering.
//
// Nothing here grows with the input or the loop count: every size is known
// from the plan before the first byte is written, and each piece's samples
// are handed on before the next piece is read.
#include "render/render.h"

#include <cstdlib>

#include "forms/forms.h"
#include "render/loop_reports.h"
#include "render/playback.h"
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
    // Playing: the voice, a piece of decoded samples it takes, and the
    // writer buffer its output fills.
    Player* player;
    std::int16_t* decoded;
    std::int16_t* out;
    std::size_t filled;
};

std::size_t PieceSamples(const Pass& p) { return p.pieceBlocks * BRR_SAMPLES_PER_BLOCK; }

void SubmitSamples(Pass& p, std::int16_t* samples, std::size_t count)
{
    StoreSamplesLittleEndian(samples, count);
    SubmitBuffer(p.writer, count * sizeof(std::int16_t));
}

// Plays `count` decoded samples into the writer's buffers, handing each on
// as it fills.
bool PlayPiece(Pass& p, const std::int16_t* samples, std::size_t count)
{
    std::size_t taken = 0;
    for (;;) {
        if (p.out == nullptr && (p.out = NextBuffer(p.writer)) == nullptr) {
            return false;
        }
        std::size_t used = 0;
        p.filled += Play(*p.player, samples + taken, count - taken, p.out + p.filled, PieceSamples(p) - p.filled, &used);
        taken += used;
        if (p.filled < PieceSamples(p)) {
            return true;  // every sample taken, every output made
        }
        SubmitSamples(p, p.out, p.filled);
        p.out = nullptr;
        p.filled = 0;
    }
}

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
        std::int16_t* samples = p.player != nullptr ? p.decoded : NextBuffer(p.writer);
        if (samples == nullptr) {
            return false;
        }
        BRRDecodeBlocks(&p.decoder, blocks, n, samples);
        if (record != nullptr) {
            record[0] = samples[0];
            record[1] = samples[1];
            record = nullptr;
        }
        if (p.player == nullptr) {
            SubmitSamples(p, samples, n * BRR_SAMPLES_PER_BLOCK);
        } else if (!PlayPiece(p, samples, n * BRR_SAMPLES_PER_BLOCK)) {
            return false;
        }
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
    MakeWavHeader(header, plan.sampleRate, static_cast<std::uint32_t>(plan.sampleCount * 2u),
                  plan.smpl != 0 ? kSmplChunkSize : 0);
    if (!WriteNow(p.writer, header, sizeof header)) {
        return BRR_STATUS_WRITE_ERROR;
    }
    const std::uint64_t repeatFrom = RepeatFrom(plan);
    const std::uint64_t loopBlocks = plan.blockCount - repeatFrom;
    if (threaded && plan.sampleCount > PieceSamples(p)) {
        StartWriter(p.writer);  // one piece has nothing to overlap with
    }
    std::int16_t pair[2] = {0, 0};
    bool ok = repeatFrom == 0 || StreamBlocks(p, 0, repeatFrom, nullptr);
    for (std::uint32_t pass = 0; ok && pass < options.loopCount; ++pass) {
        ok = StreamBlocks(p, repeatFrom, loopBlocks, pair);
        record.firsts[pass] = pair[0];
        record.seconds[pass] = pair[1];
    }
    if (ok && p.filled > 0) {
        SubmitSamples(p, p.out, p.filled);  // the last played samples
    }
    ok = StopWriter(p.writer) && ok;
    if (ok && plan.smpl != 0) {
        std::uint8_t chunk[kSmplChunkSize];
        MakeSmplChunk(chunk, options.sampleRate, plan.smplStart, plan.smplEnd, plan.unityNote, plan.pitchFraction);
        ok = WriteNow(p.writer, chunk, sizeof chunk);
    }
    return ok ? BRR_OK : p.readFailed ? BRR_STATUS_READ_ERROR : BRR_STATUS_WRITE_ERROR;
}

void Report(const BRRConvertOptions& options, const LoopStartRecord& record, BRRConvertResult* result)
{
    result->stability = LoopStability(options.loopCount, record.firsts, record.seconds,
                                      &result->repeatLater, &result->repeatEarlier);
    for (std::uint64_t& r : result->reserved) {
        r = 0;  // a hand-made plan may hold anything there
    }
}

}  // namespace

int RenderSource(const Source& source, const BRRConvertOptions& options, BRRWriteFunction write,
                 void* context, bool threaded, BRRConvertResult* result)
{
    if (const int status = CheckOptions(options); status != BRR_OK) {
        return status;
    }
    if (write == nullptr || !IsPlanFor(*result, options)) {
        return BRR_STATUS_INVALID_ARGUMENT;
    }
    Writer writer;
    writer.write = write;
    writer.context = context;
    Player player;
    player.pitch = options.play;
    Pass p{source,  result->dataOffset, PieceBlocks(options), nullptr, writer, BRRDecoder{}, false,
           options.play != 0 ? &player : nullptr, nullptr, nullptr, 0};
    BRRDecoderInit(&p.decoder, options.rules);
    const std::size_t sampleBytes = PieceSamples(p) * sizeof(std::int16_t);
    if (source.memory == nullptr) {
        p.scratch = static_cast<std::uint8_t*>(std::malloc(p.pieceBlocks * BRR_BLOCK_SIZE));
    }
    if (p.player != nullptr) {
        p.decoded = static_cast<std::int16_t*>(std::malloc(sampleBytes));
    }
    writer.buffers[0] = static_cast<std::int16_t*>(std::malloc(sampleBytes));
    writer.buffers[1] = threaded ? static_cast<std::int16_t*>(std::malloc(sampleBytes)) : writer.buffers[0];
    auto* record = static_cast<LoopStartRecord*>(std::malloc(sizeof(LoopStartRecord)));
    int status = BRR_STATUS_NO_MEMORY;
    if ((source.memory != nullptr || p.scratch != nullptr) && (p.player == nullptr || p.decoded != nullptr) &&
        writer.buffers[0] != nullptr && writer.buffers[1] != nullptr && record != nullptr) {
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
    std::free(p.decoded);
    return status;
}

}  // namespace vornish

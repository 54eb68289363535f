// The C API: conversions from memory and through callbacks, their statuses
// and results as values, the loop passes, and the file layer's errors.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "VornishAudioBRRFile.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORNISH_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORNISH_UNDER_SANITIZER 1
#endif
#endif

using testsupport::Bytes;
using testsupport::ScratchDir;

namespace {

// What a conversion handed its write function.
struct Output {
    Bytes bytes;
    std::size_t largestPiece = 0;
    std::size_t failAfter = SIZE_MAX;  // bytes accepted before the writes fail
};

int Collect(void* context, const void* bytes, std::size_t size)
{
    auto* out = static_cast<Output*>(context);
    if (out->bytes.size() + size > out->failAfter) {
        return 1;
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    out->bytes.insert(out->bytes.end(), p, p + size);
    out->largestPiece = std::max(out->largestPiece, size);
    return 0;
}

BRRConvertOptions Options(std::uint32_t loops, std::int64_t loopStart = BRR_NO_LOOP_START)
{
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    options.loopCount = loops;
    options.loopStart = loopStart;
    return options;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Repeat(const Bytes& bytes, int times)
{
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// Reads the bytes of a Bytes; fails past `failFrom`.
struct Input {
    const Bytes* bytes;
    std::uint64_t failFrom;
};

int ReadInput(void* context, std::uint64_t offset, void* buffer, std::size_t size)
{
    const auto* in = static_cast<const Input*>(context);
    if (offset + size > in->failFrom || offset + size > in->bytes->size()) {
        return 1;
    }
    std::copy_n(in->bytes->begin() + static_cast<long>(offset), size, static_cast<std::uint8_t*>(buffer));
    return 0;
}

// In one call into a buffer: the samples of `loops` passes over `input`, in
// the host's order, and the reports of `result`.
void CheckDecodeToPCM(const Bytes& input, const BRRConvertOptions& options, std::uint32_t loops,
                      const BRRConvertResult& result)
{
    std::uint64_t count = 0;
    ASSERT_EQ(BRRDecodedSize(input.data(), input.size(), &options, &count), BRR_OK);
    testsupport::Samples pcm(static_cast<std::size_t>(count));
    BRRConvertResult direct;
    EXPECT_EQ(BRRDecodeToPCM(input.data(), input.size(), &options, pcm.data(), pcm.size() - 1, &direct),
              BRR_STATUS_SMALL_BUFFER);
    EXPECT_EQ(BRRDecodeToPCM(input.data(), input.size(), &options, nullptr, pcm.size(), &direct),
              BRR_STATUS_MISSING_PATH);
    ASSERT_EQ(BRRDecodeToPCM(input.data(), input.size(), &options, pcm.data(), pcm.size(), &direct), BRR_OK);
    testsupport::ReferenceDecoder fresh;
    EXPECT_EQ(pcm, fresh.DecodeBlocks(Repeat(input, static_cast<int>(loops))));
    EXPECT_EQ(direct.stability, result.stability);
    EXPECT_EQ(direct.noteCents, result.noteCents);
}

struct PassCase {
    const char* name;
    Bytes input;
    std::uint32_t loops, rate;
    int stability, note;
    int noteIndex, octave, cents;
};

void CheckPasses(const PassCase& c)
{
    SCOPED_TRACE(c.name);
    BRRConvertOptions options = Options(c.loops);
    options.sampleRate = c.rate;
    Output out;
    BRRConvertResult result;
    const auto console = testsupport::Capture([&] {
        return BRRConvertMemory(c.input.data(), c.input.size(), &options, Collect, &out, &result);
    });
    EXPECT_EQ(console.status, BRR_OK);
    EXPECT_EQ(console.out + console.err, "");  // the API never prints
    EXPECT_EQ(result.blockCount, c.input.size() / 9);
    EXPECT_EQ(result.totalBlocks, c.loops * c.input.size() / 9);
    EXPECT_EQ(result.stability, c.stability);
    EXPECT_EQ(result.note, c.note);
    if (c.note == BRR_NOTE_FOUND) {
        EXPECT_EQ(result.noteIndex, c.noteIndex);
        EXPECT_EQ(result.noteOctave, c.octave);
        EXPECT_EQ(result.noteCents, c.cents);
    }
    testsupport::ReferenceDecoder reference;
    EXPECT_EQ(out.bytes,
              testsupport::ExpectedWav(c.rate, reference.DecodeBlocks(Repeat(c.input, static_cast<int>(c.loops)))));
    EXPECT_EQ(out.bytes.size(), result.wavSize);
    CheckDecodeToPCM(c.input, options, c.loops, result);
}

TEST(BRRConvertMemory, PassesCarryTheHistoryAndReportAsValues)
{
    // Filter 1 from a zero history, ending away from zero: the second pass
    // starts from a different history, so its samples differ from the first.
    const Bytes carried = {0xC4, 0x77, 0x77, 0, 0, 0, 0, 0, 0};
    // Filter 0 never looks at the history: every pass is the same.
    const Bytes plain = {0xC0, 0x7F, 0x12, 0, 0, 0, 0, 0, 0x34, 0xB0, 0x11, 0, 0, 0, 0, 0, 0, 0x80};
    // Both passes start 14336, then -29536 against -29542, then 0: the record
    // must hold the first two samples, not any others.
    const Bytes secondDiffers = {0xBC, 0x75, 0xDE, 0xCB, 0x3B, 0xC9, 0x91, 0xED, 0x41,
                                 0x11, 0x25, 0x28, 0x9C, 0xC1, 0xDA, 0xEB, 0xA8, 0x63};
    const PassCase cases[] = {
        {"carried_two", carried, 2, 8000, BRR_STABILITY_UNDECIDED, BRR_NOTE_FOUND, 11, 4, 21},
        {"plain_three", plain, 3, 32000, BRR_STABILITY_STABLE, BRR_NOTE_FOUND, 11, 5, 21},
        {"carried_once", carried, 1, 8000, BRR_STABILITY_NONE, BRR_NOTE_NONE, 0, 0, 0},
        {"plain_many_blocks", Repeat(plain, 30), 2, 8000, BRR_STABILITY_STABLE, BRR_NOTE_TOO_LONG, 0, 0, 0},
        {"record_takes_first_two", secondDiffers, 2, 8000, BRR_STABILITY_UNDECIDED, BRR_NOTE_FOUND, 11, 3, 21},
    };
    for (const PassCase& c : cases) {
        CheckPasses(c);
    }
    // Guards the first case: its passes really differ.
    testsupport::ReferenceDecoder reference;
    const testsupport::Samples twice = reference.DecodeBlocks(Repeat(carried, 2));
    EXPECT_NE(testsupport::Samples(twice.begin(), twice.begin() + 16),
              testsupport::Samples(twice.begin() + 16, twice.end()));
}

// The pieces' boundaries fall everywhere (pieces of 1, 3 or 7 blocks against
// passes of 10 and 6 blocks), with the history carried across each of them
// and from pass to pass; from memory, through a read function, and into a
// file with the writer thread.
TEST(BRRConvertMemory, PieceBoundariesCarryTheHistory)
{
    ScratchDir scratch;
    const Bytes blocks = testsupport::RandomBytes(9 * 10, 9);
    testsupport::ReferenceDecoder reference;
    testsupport::Samples expected = reference.DecodeBlocks(blocks);
    for (int pass = 1; pass < 3; ++pass) {
        const testsupport::Samples again = reference.DecodeBlocks(Bytes(blocks.begin() + 9 * 4, blocks.end()));
        expected.insert(expected.end(), again.begin(), again.end());
    }
    const Bytes wav = testsupport::ExpectedWav(8000, expected);
    for (const std::size_t piece : {1u, 3u, 7u, 0u}) {
        SCOPED_TRACE(piece);
        BRRConvertOptions options = Options(3, 4);
        options.pieceBlocks = piece;
        Output memory;
        EXPECT_EQ(BRRConvertMemory(blocks.data(), blocks.size(), &options, Collect, &memory, nullptr), BRR_OK);
        EXPECT_EQ(memory.bytes, wav);
        EXPECT_LE(memory.largestPiece, std::max<std::size_t>(44, 32 * (piece == 0 ? 16384 : piece)));

        Input input{&blocks, UINT64_MAX};
        BRRConvertResult plan;
        ASSERT_EQ(BRRPlan(ReadInput, &input, blocks.size(), &options, &plan), BRR_OK);
        BRRFile file;
        ASSERT_EQ(BRRFileOpenOutput(&file, scratch.Path("out.wav").c_str(), nullptr, 0), 0);
        EXPECT_EQ(BRRRenderToFile(ReadInput, &input, &options, &file, &plan), BRR_OK);
        EXPECT_EQ(BRRFileCommit(&file), 0);
        EXPECT_EQ(testsupport::ReadFile(scratch.Path("out.wav")), wav);
    }
}

// Every failure is a status with a text, nothing is written for a refused
// input, and nothing is printed.
TEST(BRRConvertMemory, FailuresAreStatuses)
{
    const Bytes oneBlock = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0};
    const Bytes blocks = testsupport::RandomBytes(9 * 100, 4);
    BRRConvertOptions forms = Options(1);
    forms.sampleForms = 1;
    struct Case {
        const char* name;
        Bytes input;
        BRRConvertOptions options;
        std::size_t failAfter;
        int status;
    };
    const Case cases[] = {
        {"ten_bytes", Bytes(10, 0), Options(1), SIZE_MAX, BRR_STATUS_BAD_SIZE},
        {"loop_header_without_forms", Bytes(11, 0), Options(1), SIZE_MAX, BRR_STATUS_BAD_SIZE},
        {"empty", {}, Options(1), SIZE_MAX, BRR_STATUS_NO_BLOCKS},
        {"header_alone", {0, 0}, forms, SIZE_MAX, BRR_STATUS_NO_BLOCKS},
        {"loops_0", oneBlock, Options(0), SIZE_MAX, BRR_STATUS_BAD_LOOP_COUNT},
        {"loops_3201", oneBlock, Options(3201), SIZE_MAX, BRR_STATUS_BAD_LOOP_COUNT},
        {"loop_start_outside", oneBlock, Options(2, 1), SIZE_MAX, BRR_STATUS_BAD_LOOP_START},
        {"loop_start_negative", oneBlock, Options(2, -2), SIZE_MAX, BRR_STATUS_BAD_LOOP_START},
        {"loop_header_not_a_block", Bytes{10, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0}, forms, SIZE_MAX,
         BRR_STATUS_BAD_LOOP_HEADER},
        {"loop_header_past_the_end", Bytes{9, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0}, forms, SIZE_MAX,
         BRR_STATUS_BAD_LOOP_HEADER},
        {"header_write_fails", blocks, Options(1), 0, BRR_STATUS_WRITE_ERROR},
        {"sample_write_fails", blocks, Options(1), 44 + 32 * 50, BRR_STATUS_WRITE_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out;
        out.failAfter = c.failAfter;
        BRRConvertResult result;
        const auto console = testsupport::Capture([&] {
            return BRRConvertMemory(c.input.data(), c.input.size(), &c.options, Collect, &out, &result);
        });
        EXPECT_EQ(console.status, c.status);
        EXPECT_EQ(console.out + console.err, "");
        EXPECT_STRNE(BRRStatusText(c.status), BRRStatusText(BRR_OK));
        if (c.status != BRR_STATUS_WRITE_ERROR) {
            EXPECT_TRUE(out.bytes.empty());
        }
    }
    Output out;
    EXPECT_EQ(BRRConvertMemory(nullptr, 9, nullptr, Collect, &out, nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRRConvertMemory(oneBlock.data(), 9, nullptr, nullptr, &out, nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_STREQ(BRRStatusText(BRR_STATUS_BAD_SIZE), "the input's size is not a multiple of 9 bytes");
}

// A read that fails while planning or while rendering; a plan that is not
// the options' own.
TEST(BRRConvertMemory, FailedReadsAndForeignPlansAreStatuses)
{
    const Bytes blocks = testsupport::RandomBytes(9 * 100, 4);
    BRRConvertOptions forms = Options(1);
    forms.sampleForms = 1;
    BRRConvertOptions twoPasses = Options(2);
    Output out;
    Input failing{&blocks, 9 * 60};
    BRRConvertResult plan;
    EXPECT_EQ(BRRPlan(ReadInput, &failing, blocks.size(), &forms, &plan), BRR_STATUS_READ_ERROR);
    ASSERT_EQ(BRRPlan(ReadInput, &failing, blocks.size(), &twoPasses, &plan), BRR_OK);
    EXPECT_EQ(BRRRender(ReadInput, &failing, &forms, Collect, &out, &plan), BRR_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(BRRRender(ReadInput, &failing, &twoPasses, Collect, &out, &plan), BRR_STATUS_READ_ERROR);
}

TEST(BRRInit, EveryInitLeavesNullAlone)
{
    BRRDecoderInit(nullptr, BRR_RULES_HARDWARE);
    BRRConvertOptionsInit(nullptr);
    BRRConvertOptionsInitTool(nullptr);
    BRREncodeOptionsInit(nullptr);
    BRRScanOptionsInit(nullptr);
}

// Every option field at its bounds and one past them, through every entry
// point: planning refuses it first, and so does rendering, whatever plan it
// is handed; inside the bounds all five convert alike.
// One set of options through every entry point: planning refuses it with
// `status`, and so does rendering, whatever plan it is handed.
void CheckEveryEntryPoint(const Bytes& blocks, const BRRConvertOptions& options, int status,
                          const BRRConvertResult& goodPlan, const ScratchDir& scratch)
{
    Input input{&blocks, UINT64_MAX};
    BRRConvertResult plan;
    EXPECT_EQ(BRRPlan(ReadInput, &input, blocks.size(), &options, &plan), status);
    EXPECT_EQ(BRRPlanMemory(blocks.data(), blocks.size(), &options, &plan), status);
    Output memory;
    EXPECT_EQ(BRRConvertMemory(blocks.data(), blocks.size(), &options, Collect, &memory, &plan), status);
    // Rendering is handed the options' own plan when there is one, else
    // a plan for good options: neither gets past the check. A loop start
    // past the end is the input's fault, which only the plan knows.
    const int renderStatus =
        options.loopStart > 0 && status != BRR_OK ? BRR_STATUS_INVALID_ARGUMENT : status;
    BRRConvertResult handed = status == BRR_OK ? plan : goodPlan;
    Output rendered;
    EXPECT_EQ(BRRRender(ReadInput, &input, &options, Collect, &rendered, &handed), renderStatus);
    EXPECT_EQ(rendered.bytes, memory.bytes);
    handed = status == BRR_OK ? plan : goodPlan;
    BRRFile file;
    ASSERT_EQ(BRRFileOpenOutput(&file, scratch.Path("o.wav").c_str(), nullptr, 0), 0);
    EXPECT_EQ(BRRRenderToFile(ReadInput, &input, &options, &file, &handed), renderStatus);
    EXPECT_EQ(BRRFileClose(&file), 0);
    EXPECT_EQ(memory.bytes.empty(), status != BRR_OK);
}

struct BoundCase {
    const char* name;
    BRRConvertOptions options;
    int status;
};

// Each field just inside and just past its bounds (for three blocks).
std::vector<BoundCase> BoundCases()
{
    const auto with = [](auto set) {
        BRRConvertOptions o = Options(2);
        set(o);
        return o;
    };
    std::vector<BoundCase> cases = {
        {"loops_1", with([](auto& o) { o.loopCount = 1; }), BRR_OK},
        {"loops_3200", with([](auto& o) { o.loopCount = 3200; }), BRR_OK},
        {"loops_0", with([](auto& o) { o.loopCount = 0; }), BRR_STATUS_BAD_LOOP_COUNT},
        {"loops_5000", with([](auto& o) { o.loopCount = 5000; }), BRR_STATUS_BAD_LOOP_COUNT},
        {"rate_1", with([](auto& o) { o.sampleRate = 1; }), BRR_OK},
        {"rate_2147483647", with([](auto& o) { o.sampleRate = 0x7FFFFFFF; }), BRR_OK},
        {"rate_0", with([](auto& o) { o.sampleRate = 0; }), BRR_STATUS_BAD_OPTION},
        {"rate_2147483648", with([](auto& o) { o.sampleRate = 0x80000000u; }), BRR_STATUS_BAD_OPTION},
        {"rules_hardware", with([](auto& o) { o.rules = BRR_RULES_HARDWARE; }), BRR_OK},
        {"rules_minus_1", with([](auto& o) { o.rules = -1; }), BRR_STATUS_BAD_OPTION},
        {"rules_2", with([](auto& o) { o.rules = 2; }), BRR_STATUS_BAD_OPTION},
        {"rules_7", with([](auto& o) { o.rules = 7; }), BRR_STATUS_BAD_OPTION},
        {"flags_any_value", with([](auto& o) { o.sampleForms = o.noHeader = o.stopAtEnd = o.writeSmpl = -7; }), BRR_OK},
        {"loop_start_last_block", with([](auto& o) { o.loopStart = 2; }), BRR_OK},
        {"loop_start_past_the_end", with([](auto& o) { o.loopStart = 3; }), BRR_STATUS_BAD_LOOP_START},
        {"loop_start_minus_2", with([](auto& o) { o.loopStart = -2; }), BRR_STATUS_BAD_LOOP_START},
        {"piece_1", with([](auto& o) { o.pieceBlocks = 1; }), BRR_OK},
        {"piece_largest", with([](auto& o) { o.pieceBlocks = BRR_MAX_PIECE_BLOCKS; }), BRR_OK},
        {"piece_one_past", with([](auto& o) { o.pieceBlocks = BRR_MAX_PIECE_BLOCKS + 1; }), BRR_STATUS_BAD_OPTION},
        {"piece_wraps_32_bits", with([](auto& o) { o.pieceBlocks = 134217728; }), BRR_STATUS_BAD_OPTION},
        {"piece_size_max", with([](auto& o) { o.pieceBlocks = SIZE_MAX; }), BRR_STATUS_BAD_OPTION},
        {"play_16383", with([](auto& o) { o.play = BRR_MAX_PITCH; }), BRR_OK},
        {"play_16384", with([](auto& o) { o.play = BRR_MAX_PITCH + 1; }), BRR_STATUS_BAD_OPTION},
        {"root_0", with([](auto& o) { o.rootNote = 0; }), BRR_OK},
        {"root_127", with([](auto& o) { o.rootNote = 127; }), BRR_OK},
        {"root_minus_2", with([](auto& o) { o.rootNote = -2; }), BRR_STATUS_BAD_OPTION},
        {"root_128", with([](auto& o) { o.rootNote = 128; }), BRR_STATUS_BAD_OPTION},
        {"reserved_first", with([](auto& o) { o.reserved[0] = 1; }), BRR_STATUS_BAD_OPTION},
        {"reserved_last", with([](auto& o) { o.reserved[7] = 1u << 31; }), BRR_STATUS_BAD_OPTION},
    };
    if (sizeof(std::size_t) == 8) {
        cases.push_back({"piece_2_60_plus_1", with([](auto& o) { o.pieceBlocks = std::size_t(1 << 30) * (1u << 30) + 1; }),
                         BRR_STATUS_BAD_OPTION});
    }
    return cases;
}

TEST(BRRConvertOptions, EveryFieldIsCheckedAtItsBounds)
{
    const Bytes blocks = testsupport::RandomBytes(9 * 3, 12);
    ScratchDir scratch;
    const BRRConvertOptions good = Options(2);
    Input input{&blocks, UINT64_MAX};
    BRRConvertResult goodPlan;
    ASSERT_EQ(BRRPlan(ReadInput, &input, blocks.size(), &good, &goodPlan), BRR_OK);
    for (const BoundCase& c : BoundCases()) {
        SCOPED_TRACE(c.name);
        CheckEveryEntryPoint(blocks, c.options, c.status, goodPlan, scratch);
    }
}

// A plan that other options made is refused: another rate, another root
// note with its smpl chunk, another loop start, no smpl chunk.
TEST(BRRRender, RefusesAPlanOtherOptionsMade)
{
    const Bytes blocks = testsupport::RandomBytes(9 * 3, 12);
    Input input{&blocks, UINT64_MAX};
    BRRConvertOptions forms = Options(1, 1);
    forms.sampleForms = 1;
    BRRConvertResult plan;
    ASSERT_EQ(BRRPlan(ReadInput, &input, blocks.size(), &forms, &plan), BRR_OK);
    for (const auto& change : std::vector<void (*)(BRRConvertOptions&)>{
             [](BRRConvertOptions& o) { o.sampleRate = 16000; }, [](BRRConvertOptions& o) { o.rootNote = 61; },
             [](BRRConvertOptions& o) { o.loopStart = 0; }, [](BRRConvertOptions& o) { o.writeSmpl = 0; }}) {
        BRRConvertOptions other = forms;
        change(other);
        Output out;
        EXPECT_EQ(BRRRender(ReadInput, &input, &other, Collect, &out, &plan), BRR_STATUS_INVALID_ARGUMENT);
        EXPECT_TRUE(out.bytes.empty());
    }
}

// A virtual input of zero bytes, as large as asked.
int ReadZeros(void*, std::uint64_t, void* buffer, std::size_t size)
{
    std::fill_n(static_cast<std::uint8_t*>(buffer), size, 0);
    return 0;
}

// The exact size limits: the most blocks the WAV's 32-bit sizes hold, every
// pass counted, and 68 bytes fewer with a smpl chunk (sample forms with a
// loop start given).
TEST(BRRPlan, SizeLimitsCountEveryPassAndTheSmplChunk)
{
    struct Case {
        std::uint64_t blocks;
        std::uint32_t loops;
        std::int64_t loopStart;
        int sampleForms;
        int status;
    };
    const Case cases[] = {
        {134217726, 1, BRR_NO_LOOP_START, 0, BRR_OK},
        {134217727, 1, BRR_NO_LOOP_START, 0, BRR_STATUS_TOO_LARGE},
        {0x100000001ull, 1, BRR_NO_LOOP_START, 0, BRR_STATUS_TOO_LARGE},
        {67108863, 2, BRR_NO_LOOP_START, 0, BRR_OK},
        {67108864, 2, BRR_NO_LOOP_START, 0, BRR_STATUS_TOO_LARGE},
        {134217724, 1, 0, 1, BRR_OK},
        {134217725, 1, 0, 1, BRR_STATUS_TOO_LARGE},
        {134214525, 3200, 134214524, 1, BRR_OK},              // + 3199 one-block passes
        {134214526, 3200, 134214525, 1, BRR_STATUS_TOO_LARGE},
    };
    for (const Case& c : cases) {
        BRRConvertOptions options = Options(c.loops, c.loopStart);
        options.sampleForms = c.sampleForms;
        BRRConvertResult plan;
        EXPECT_EQ(BRRPlan(ReadZeros, nullptr, 9 * c.blocks, &options, &plan), c.status) << c.blocks;
        EXPECT_EQ(plan.blockCount, c.blocks);
        EXPECT_EQ(plan.smpl != 0, c.sampleForms != 0) << c.blocks;
    }
    // BRR_MAX_INPUT_SIZE, the most brrdecode spools of standard input (the
    // spool's own bound is shell_test's), is the largest input that converts.
    BRRConvertOptions forms = Options(1, BRR_NO_LOOP_START);
    forms.sampleForms = 1;
    BRRConvertResult plan;
    EXPECT_EQ(BRRPlan(ReadZeros, nullptr, BRR_MAX_INPUT_SIZE, &forms, &plan), BRR_OK);
    EXPECT_EQ(BRRPlan(ReadZeros, nullptr, BRR_MAX_INPUT_SIZE + 9, &forms, &plan), BRR_STATUS_TOO_LARGE);
}

// What sample forms find, read through pieces of two blocks: an end flag
// beyond the first piece, and both flags (not either) on the last block for
// a smpl loop.
TEST(BRRPlan, SampleFormsReadAcrossPieces)
{
    const auto blocks = [](std::vector<std::uint8_t> headers, int loopHeader) {
        Bytes file;
        if (loopHeader >= 0) {
            file = {static_cast<std::uint8_t>(loopHeader), 0};
        }
        for (const std::uint8_t h : headers) {
            file.push_back(h);
            file.insert(file.end(), 8, 0x21);
        }
        return file;
    };
    struct Case {
        const char* name;
        Bytes file;
        int noHeader, stopAtEnd;
        std::uint64_t blockCount, trailing;
        std::int64_t loopStart;
        int smpl;
        std::uint32_t extraBytes;
    };
    const Case cases[] = {
        {"end_in_third_piece", blocks({0, 0, 0, 0, 0, 1, 0, 0}, -1), 0, 0, 8, 2, -1, 0, 0},
        {"end_in_third_piece_stops", blocks({0, 0, 0, 0, 0, 3, 0, 0}, 18), 0, 1, 6, 2, 2, 1, 0},
        {"both_flags_smpl", blocks({0, 0, 0, 0, 0, 3}, 27), 0, 0, 6, 0, 3, 1, 0},
        {"loop_flag_only", blocks({0, 0, 0, 0, 0, 2}, 27), 0, 0, 6, 0, 3, 0, 0},
        {"end_flag_only", blocks({0, 0, 0, 0, 0, 1}, 27), 0, 0, 6, 0, 3, 0, 0},
        {"no_header_two_bytes_after", blocks({0, 0, 3}, -1) + Bytes{7, 7}, 1, 0, 3, 0, -1, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BRRConvertOptions options = Options(1);
        options.sampleForms = 1;
        options.noHeader = c.noHeader;
        options.stopAtEnd = c.stopAtEnd;
        options.pieceBlocks = 2;
        Input input{&c.file, UINT64_MAX};
        BRRConvertResult plan;
        ASSERT_EQ(BRRPlan(ReadInput, &input, c.file.size(), &options, &plan), BRR_OK);
        EXPECT_EQ(plan.blockCount, c.blockCount);
        EXPECT_EQ(plan.trailingBlocks, c.trailing);
        EXPECT_EQ(plan.loopStart, c.loopStart);
        EXPECT_EQ(plan.smpl, c.smpl);
        EXPECT_EQ(plan.extraBytes, c.extraBytes);
    }
}

// Memory does not grow with the output: 3200 passes over a 64 KiB sample (a
// 745 MB WAV) convert within an address-space limit far below that.
TEST(BRRConvertMemoryDeathTest, MemoryStaysBoundedForLongOutputs)
{
#if defined(VORNISH_UNDER_SANITIZER)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#elif defined(VORNISH_TESTS_EMULATED)
    GTEST_SKIP() << "a user-mode emulator does not apply the address-space limit";
#else
    const Bytes blocks = testsupport::RandomBytes(9 * 7282, 5);
    const auto convertWithLittleMemory = [&] {
        const rlimit limit{256ull << 20, 256ull << 20};
        setrlimit(RLIMIT_AS, &limit);
        const BRRConvertOptions options = Options(3200);
        BRRConvertResult result;
        const auto discard = [](void*, const void*, std::size_t) { return 0; };
        const int status = BRRConvertMemory(blocks.data(), blocks.size(), &options, discard, nullptr, &result);
        std::exit(status == BRR_OK && result.wavSize == 44 + 32ull * 7282 * 3200 ? 0 : 1);
    };
    EXPECT_EXIT(convertWithLittleMemory(), ::testing::ExitedWithCode(0), "^$");
#endif
}

TEST(BRRFile, OpenFailuresCarryTheReason)
{
    ScratchDir scratch;
    const std::string fifo = scratch.Path("fifo.brr");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testsupport::WriteFile(scratch.Path("there.wav"), {1});
    const std::pair<std::string, int> inputs[] = {
        {scratch.Path("missing.brr"), ENOENT}, {scratch.dir, EISDIR}, {fifo, BRR_FILE_NOT_REGULAR}};
    for (const auto& c : inputs) {
        BRRFile file;
        EXPECT_EQ(BRRFileOpenInput(&file, c.first.c_str(), nullptr), c.second) << c.first;
        EXPECT_EQ(file.descriptor, -1);
    }
    BRRFile file;
    EXPECT_EQ(BRRFileOpenOutput(&file, scratch.Path("there.wav").c_str(), nullptr, 1), BRR_FILE_EXISTS);
    EXPECT_EQ(BRRFileOpenOutput(&file, scratch.Path("no/x.wav").c_str(), nullptr, 0), ENOENT);
    EXPECT_STREQ(BRRFileErrorText(BRR_FILE_NOT_REGULAR), "Not a regular file");
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("there.wav")), Bytes{1});
    // Reads past the end of the file fail rather than return less.
    ASSERT_EQ(BRRFileOpenInput(&file, scratch.Path("there.wav").c_str(), nullptr), 0);
    std::uint8_t two[2];
    EXPECT_NE(BRRFileRead(&file, 0, two, 2), 0);
    EXPECT_EQ(BRRFileClose(&file), 0);
}

}  // namespace

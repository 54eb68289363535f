#include <gtest/gtest.h>

#include "test_support.h"
#include "wav/wav_writer.h"

using testsupport::Bytes;

namespace {

// Header bytes written out by hand for a few counts, rates and trailers.
TEST(MakeWavHeader, KnownHeaders)
{
    struct Case {
        std::uint32_t rate, blocks, trailing;
        Bytes expected;
    };
    const Case cases[] = {
        {8000, 1, 0, {'R', 'I', 'F', 'F', 68, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                      16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
                      'd', 'a', 't', 'a', 32, 0, 0, 0}},
        {8000, 0, 0, {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                      16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
                      'd', 'a', 't', 'a', 0, 0, 0, 0}},
        // 640 samples at 32000 Hz with a smpl chunk after them.
        {32000, 40, 68, {'R', 'I', 'F', 'F', 0x68, 0x05, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                         16, 0, 0, 0, 1, 0, 1, 0, 0x00, 0x7D, 0, 0, 0x00, 0xFA, 0, 0, 2, 0, 16, 0,
                         'd', 'a', 't', 'a', 0x00, 0x05, 0, 0}},
        // The largest count without a trailer: RIFF size 0xFFFFFFE4.
        {384000, 134217726, 0, {'R', 'I', 'F', 'F', 0xE4, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x00, 0xDC, 0x05, 0,
                                0x00, 0xB8, 0x0B, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0xC0, 0xFF,
                                0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        std::uint8_t header[vornish::kWavHeaderSize];
        vornish::MakeWavHeader(header, c.rate, 32 * c.blocks, c.trailing);
        EXPECT_EQ(Bytes(header, header + sizeof header), c.expected) << c.blocks << " blocks";
    }
    EXPECT_EQ(vornish::WavMaxBlockCount(0), 134217726u);
    EXPECT_EQ(vornish::WavMaxBlockCount(vornish::kSmplChunkSize), 134217724u);
}

TEST(MakeSmplChunk, OneForwardLoopForever)
{
    std::uint8_t chunk[vornish::kSmplChunkSize];
    vornish::MakeSmplChunk(chunk, 32000, 1984, 2431, 60, 0);
    const Bytes expected = {
        's', 'm', 'p', 'l', 60, 0, 0, 0,  // chunk id and size
        0, 0, 0, 0, 0, 0, 0, 0,           // manufacturer, product
        0x12, 0x7A, 0, 0,                 // sample period: 31250 ns
        60, 0, 0, 0, 0, 0, 0, 0,          // unity note, pitch fraction
        0, 0, 0, 0, 0, 0, 0, 0,           // SMPTE format and offset
        1, 0, 0, 0, 0, 0, 0, 0,           // one loop, no sampler data
        0, 0, 0, 0, 0, 0, 0, 0,           // cue id, type forward
        0xC0, 0x07, 0, 0, 0x7F, 0x09, 0, 0,  // start 1984, end 2431
        0, 0, 0, 0, 0, 0, 0, 0};          // fraction, play count 0 (forever)
    EXPECT_EQ(Bytes(chunk, chunk + sizeof chunk), expected);
    // The period is rounded to the nearest nanosecond: 10^9 / 44100 = 22675.7.
    vornish::MakeSmplChunk(chunk, 44100, 0, 15, 61, 0x80000000u);
    EXPECT_EQ(chunk[16] | chunk[17] << 8, 22676);
    EXPECT_EQ(Bytes(chunk + 20, chunk + 28), (Bytes{61, 0, 0, 0, 0, 0, 0, 0x80}));  // C#4 and a half
}

TEST(StoreSamplesLittleEndian, BytesAreLowThenHigh)
{
    std::int16_t samples[4] = {28672, -4096, 0x1234, -1};
    vornish::StoreSamplesLittleEndian(samples, 4);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples);
    EXPECT_EQ(Bytes(bytes, bytes + 8), (Bytes{0x00, 0x70, 0x00, 0xF0, 0x34, 0x12, 0xFF, 0xFF}));
}

}  // namespace

#include <future>

#include "stream/writer.h"

namespace {

// The first write fails, later ones succeed; with the writer thread, the
// first waits until both buffers are handed over.
struct FailFirst {
    int calls = 0;
    std::shared_future<void> go;
};

int FailFirstWrite(void* context, const void*, std::size_t)
{
    auto* f = static_cast<FailFirst*>(context);
    if (f->calls++ == 0 && f->go.valid()) {
        f->go.wait();
    }
    return f->calls == 1 ? 1 : 0;
}

// A later write that succeeds never erases an earlier failure, with the
// writer thread or without one.
TEST(Writer, ALaterWriteNeverErasesAFailure)
{
    for (const bool threaded : {false, true}) {
        std::int16_t buffers[2][4] = {};
        std::promise<void> bothSubmitted;
        FailFirst fail;
        if (threaded) {
            fail.go = bothSubmitted.get_future().share();
        }
        vornish::Writer w;
        w.write = FailFirstWrite;
        w.context = &fail;
        w.buffers[0] = buffers[0];
        w.buffers[1] = buffers[threaded ? 1 : 0];
        if (threaded) {
            vornish::StartWriter(w);
        }
        for (int piece = 0; piece < 2; ++piece) {
            if (threaded) {
                ASSERT_NE(vornish::NextBuffer(w), nullptr);
            }
            vornish::SubmitBuffer(w, sizeof buffers[0]);
        }
        bothSubmitted.set_value();
        EXPECT_FALSE(vornish::StopWriter(w)) << (threaded ? "threaded" : "inline");
    }
}

}  // namespace

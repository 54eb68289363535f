#include <gtest/gtest.h>

#include <cstdio>

#include "test_support.h"
#include "wav/wav_writer.h"

using testsupport::Bytes;

namespace {

Bytes WriteToFile(std::uint32_t rate, const std::int16_t* samples, std::uint32_t blocks)
{
    testsupport::ScratchDir scratch;
    const std::string path = scratch.Path("out.wav");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(vornish::WriteWav(file, rate, samples, blocks));
    std::fclose(file);
    return testsupport::ReadFile(path);
}

TEST(WriteWav, OneBlockIsByteExact)
{
    std::int16_t samples[16] = {28672, -4096, 1, -1, 32767, -32768, 0x1234, 0};
    const Bytes expected = {
        'R', 'I', 'F', 'F', 68, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
        'd', 'a', 't', 'a', 32, 0, 0, 0,
        0x00, 0x70, 0x00, 0xF0, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes wav = WriteToFile(8000, samples, 1);
    EXPECT_EQ(wav.size(), 76u);
    EXPECT_EQ(wav, expected);
}

TEST(WriteWav, HeaderFieldsFollowCountAndRate)
{
    struct Case {
        std::uint32_t rate, blocks;
    };
    const Case cases[] = {{8000, 0}, {8000, 3}, {32000, 2}, {1, 1}, {384000, 5}};
    for (const Case& c : cases) {
        std::vector<std::int16_t> samples(16 * c.blocks + 1, 0x0102);
        const Bytes wav = WriteToFile(c.rate, samples.data(), c.blocks);
        ASSERT_EQ(wav.size(), 44u + 32u * c.blocks);
        EXPECT_EQ(Bytes(wav.begin(), wav.begin() + 44), testsupport::ExpectedWavHeader(c.rate, c.blocks))
            << "rate " << c.rate << " blocks " << c.blocks;
    }
}

TEST(MakeWavHeader, LargestBlockCountFitsThirtyTwoBits)
{
    std::uint8_t header[vornish::kWavHeaderSize];
    vornish::MakeWavHeader(header, 8000, static_cast<std::uint32_t>(vornish::kWavMaxBlockCount));
    EXPECT_EQ(vornish::kWavMaxBlockCount, 134217726u);
    EXPECT_EQ(Bytes(header, header + 44), testsupport::ExpectedWavHeader(8000, 134217726u));
    EXPECT_EQ(header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::uint32_t>(header[7]) << 24,
              4294967268u);
}

TEST(WriteWav, ReportsFailedWrite)
{
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    std::int16_t samples[16] = {};
    EXPECT_FALSE(vornish::WriteWav(full, 8000, samples, 1));
    std::fclose(full);
}

}  // namespace

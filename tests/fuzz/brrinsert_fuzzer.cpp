// Insertion fuzz target: arbitrary bytes as a sample and an image (plain, a
// 64 KiB memory image, or a music-state dump around one) through BRRInsert
// with option fields at their edges and past them, and the dump through
// BRRReadDump. A refusal leaves the image as it was; a success changes only
// the new blocks (which are the sample's) and the entry's four bytes, inside
// the room it reported; the dump's fields stay in their ranges.
//
// Byte 0: bit 0 --at (else --entry), bits 1-2 the form (0 plain, 1 memory,
// 2 dump, 3 memory behind an offset of 3), bits 3-5 a wrong field (0 none,
// 1 a reserved field, 2 entry 256, 3 a free range ending at its start, 4 an
// echo of 0 bytes, 5 both entry and at). Byte 1: the entry, or the offset.
// Byte 2: bits 0-1 free ranges (from the bytes 4-15), bit 2 an echo buffer
// (bytes 16-19). Byte 3: the sample's size. Then the sample, then the image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

std::vector<std::uint8_t> Image(int form, const std::uint8_t* bytes, std::size_t size)
{
    if (form == 0) {
        return std::vector<std::uint8_t>(bytes, bytes + size);
    }
    const std::size_t offset = form == 1 ? 0 : form == 2 ? BRR_DUMP_MEMORY_OFFSET : 3;
    std::vector<std::uint8_t> image(form == 2 ? BRR_DUMP_MIN_SIZE : offset + BRR_MEMORY_IMAGE_SIZE);
    std::copy(bytes, bytes + std::min<std::size_t>(size, BRR_MEMORY_IMAGE_SIZE), image.begin() + static_cast<long>(offset));
    if (form == 2) {
        image[0x21] = image[0x22] = 26;
        image[0x23] = size % 2 == 0 ? 26 : 27;
        // The registers from the data's last bytes: a directory page, an echo.
        for (std::size_t r = 0; r < 128 && r < size; ++r) {
            image[BRR_DUMP_REGISTERS_OFFSET + r] = bytes[size - 1 - r];
        }
    }
    return image;
}

void CheckDump(const std::vector<std::uint8_t>& image)
{
    BRRDump d;
    const int status = BRRReadDump(image.data(), image.size(), &d);
    // An empty image may have no data pointer at all: a missing argument.
    const int expected = image.data() == nullptr                      ? BRR_STATUS_MISSING_PATH
                         : BRRIsDump(image.data(), image.size()) != 0 ? BRR_OK
                                                                      : BRR_STATUS_NOT_A_DUMP;
    Check(status == expected, "a dump's status");
    if (status != BRR_OK) {
        return;
    }
    Check(d.directory % 256 == 0 && d.directory <= 0xFF00, "a directory off its page");
    Check(d.echoStart < 0 || (d.echoStart <= 0xFF00 && d.echoBytes >= 4 && d.echoBytes <= 15 * 2048), "an echo buffer");
    for (const BRRVoice& v : d.voices) {
        Check(v.pitch >= 0 && v.pitch <= 0x3FFF && v.source >= 0 && v.source <= 255, "a voice's fields");
    }
    Check(d.song[32] == '\0' && d.game[32] == '\0', "an unterminated title");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 20 || static_cast<std::size_t>(20) + data[3] > size) {
        return 0;
    }
    const std::uint8_t* sample = data + 20;
    const std::size_t sampleSize = data[3];
    const int form = (data[0] >> 1) & 3;
    std::vector<std::uint8_t> image = Image(form, sample + sampleSize, size - 20 - sampleSize);
    CheckDump(image);
    BRRInsertOptions o;
    BRRInsertOptionsInit(&o);
    (data[0] & 1) != 0 ? (void)(o.at = data[1]) : (void)(o.entry = data[1]);
    o.memoryOffset = form == 3 ? 3 : BRR_SCAN_AUTO;
    BRRMemoryRange free[3];
    o.freeCount = data[2] & 3;
    for (int i = 0; i < o.freeCount && i < 3; ++i) {
        const std::int64_t start = (data[4 + 4 * i] | (data[5 + 4 * i] << 8));
        free[i] = BRRMemoryRange{start, std::min<std::int64_t>(0x10000, start + 1 + (data[6 + 4 * i] | (data[7 + 4 * i] << 8)))};
    }
    o.free = free;
    if ((data[2] & 4) != 0) {
        o.echoStart = data[16] | (data[17] << 8);
        o.echoBytes = 1 + (data[18] | (data[19] << 8));
    }
    switch ((data[0] >> 3) & 7) {
    case 1: o.reserved[data[1] % 8] = 1; break;
    case 2: o.entry = 256; o.at = -1; break;
    case 3: o.freeCount = 1; free[0].end = free[0].start; break;
    case 4: o.echoStart = 0; o.echoBytes = 0; break;
    case 5: o.entry = 1; o.at = 1; break;
    default: break;
    }
    const std::vector<std::uint8_t> before = image;
    BRRInsertResult r;
    const int status = BRRInsert(image.data(), image.size(), sample, sampleSize, &o, &r);
    if (status != BRR_OK) {
        Check(image == before, "a refusal that changed the image");
        return 0;
    }
    const int wrong = (data[0] >> 3) & 7;
    Check(wrong == 0 || wrong > 5, "a wrong field accepted");
    const std::size_t header = sampleSize % BRR_BLOCK_SIZE == BRR_LOOP_HEADER_SIZE ? BRR_LOOP_HEADER_SIZE : 0;
    Check(r.bytes == sampleSize - header && r.bytes <= r.room && r.offset + r.bytes <= image.size(), "a place");
    Check(std::equal(sample + header, sample + sampleSize, image.begin() + static_cast<long>(r.offset)), "the new blocks");
    const std::size_t entry = o.entry >= 0 ? static_cast<std::size_t>(r.offset - static_cast<std::uint64_t>(r.start)) +
                                                 static_cast<std::size_t>(r.directory) + 4u * static_cast<std::size_t>(o.entry)
                                           : image.size();
    for (std::size_t i = 0; i < image.size(); ++i) {
        const bool placed = (i >= r.offset && i < r.offset + r.bytes) || (i >= entry && i < entry + 4);
        Check(placed || image[i] == before[i], "a byte changed outside the new sample and its entry");
    }
    return 0;
}

// A music-state dump: the header's signature and text tag, and the
// registers that name the directory, the echo buffer and what each voice
// plays.
#include "memory/dump.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "scan/directory.h"

namespace vornish {
namespace memory {
namespace {

constexpr std::size_t kSongTitle = 0x2E;
constexpr std::size_t kGameTitle = 0x4E;
constexpr std::size_t kTitleSize = 32;
constexpr std::uint8_t kTagged = 26;
constexpr std::uint8_t kUntagged = 27;
// Register indices.
constexpr int kDirectoryPage = 0x5D;
constexpr int kEchoPage = 0x6D;
constexpr int kEchoDelay = 0x7D;
constexpr int kFlags = 0x6C;
constexpr std::uint8_t kEchoWritesOff = 0x20;

void CopyTitle(const std::uint8_t* from, char* to)
{
    std::memcpy(to, from, kTitleSize);
    to[kTitleSize] = '\0';  // NUL-padded, or full
}

}  // namespace

bool IsDump(const std::uint8_t* data, std::size_t size)
{
    return data != nullptr && size >= BRR_DUMP_MIN_SIZE && data[0x21] == 26 && data[0x22] == 26 &&
           (data[0x23] == kTagged || data[0x23] == kUntagged);
}

std::int64_t MemoryImageOf(const std::uint8_t* data, std::size_t size)
{
    return size == BRR_MEMORY_IMAGE_SIZE ? 0 : IsDump(data, size) ? BRR_DUMP_MEMORY_OFFSET : -1;
}

void ReadRegisters(const std::uint8_t* data, BRRDump& dump)
{
    const std::uint8_t* r = data + BRR_DUMP_REGISTERS_OFFSET;
    dump = BRRDump{};
    dump.directory = r[kDirectoryPage] * 256;
    const int delay = r[kEchoDelay] & 15;
    dump.echoStart = (r[kFlags] & kEchoWritesOff) != 0 ? -1 : r[kEchoPage] * 256;
    dump.echoBytes = dump.echoStart < 0 ? 0 : delay == 0 ? 4 : delay * 2048;
    for (int v = 0; v < BRR_VOICES; ++v) {
        const std::uint8_t* voice = r + std::ptrdiff_t{16} * v;
        BRRVoice& out = dump.voices[v];
        out.pitch = (voice[2] | (voice[3] << 8)) & 0x3FFF;
        out.rate = (out.pitch * 32000 + 2048) / 4096;
        out.source = voice[4];
        out.adsr[0] = voice[5];
        out.adsr[1] = voice[6];
        out.gain = voice[7];
        out.envelope = voice[8];
        out.sounding = voice[8] != 0 ? 1 : 0;
    }
    dump.hasTitles = data[0x23] == kTagged ? 1 : 0;
    if (dump.hasTitles != 0) {
        CopyTitle(data + kSongTitle, dump.song);
        CopyTitle(data + kGameTitle, dump.game);
    }
}

bool OverlapsWrapping(std::uint64_t start, std::uint64_t bytes, std::uint64_t from, std::uint64_t length)
{
    constexpr std::uint64_t kMemory = BRR_MEMORY_IMAGE_SIZE;
    // The wrapped range as up to two plain ones.
    const std::uint64_t first = std::min(length, kMemory - from);
    const auto overlaps = [&](std::uint64_t a, std::uint64_t n) { return n > 0 && start < a + n && a < start + bytes; };
    return bytes > 0 && (overlaps(from, first) || overlaps(0, length - first));
}

bool InEcho(const BRRDump& dump, std::uint64_t start, std::uint64_t bytes)
{
    return dump.echoStart >= 0 &&
           OverlapsWrapping(start, bytes, static_cast<std::uint64_t>(dump.echoStart),
                            static_cast<std::uint64_t>(dump.echoBytes));
}

}  // namespace memory
}  // namespace vornish

extern "C" {

VORNISH_BRR_API int BRRIsDump(const std::uint8_t* data, std::size_t size)
{
    return vornish::memory::IsDump(data, size) ? 1 : 0;
}

VORNISH_BRR_API int BRRReadDump(const std::uint8_t* data, std::size_t size, BRRDump* dump)
{
    if (data == nullptr || dump == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    if (!vornish::memory::IsDump(data, size)) {
        return BRR_STATUS_NOT_A_DUMP;
    }
    BRRDump read;
    vornish::memory::ReadRegisters(data, read);
    try {
        vornish::scan::MemoryChains chains(data + BRR_DUMP_MEMORY_OFFSET);
        read.directoryNamesSamples = vornish::scan::ChooseDirectory(chains, -1, read.directory) == read.directory ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    *dump = read;
    return BRR_OK;
}

}  // extern "C"

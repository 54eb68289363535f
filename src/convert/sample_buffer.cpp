// On Linux a large buffer is mapped in 2 MiB huge pages where the system
// allows it: a conversion writes every byte of its buffer once, and faulting
// it in 4 KiB at a time costs more than decoding into it (hundreds of
// thousands of page faults for a 100 MB input, each one expensive under
// virtualisation). Elsewhere, and for small buffers, the C heap serves.
#include "convert/sample_buffer.h"

#include <cstddef>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vornish {
namespace {

#if defined(__linux__) && defined(MADV_HUGEPAGE)
constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
constexpr std::uint64_t kMapThreshold = std::uint64_t{8} << 20;

std::uint64_t MappedSize(std::uint64_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

std::int16_t* MapHugeAligned(std::uint64_t bytes)
{
    // Map one huge page more than needed, then trim to a 2 MiB boundary on
    // both sides so that the whole range can be backed by huge pages.
    const std::uint64_t size = MappedSize(bytes);
    if (size + kHugePage > SIZE_MAX) {
        return nullptr;
    }
    const std::size_t span = static_cast<std::size_t>(size + kHugePage);
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const auto misalignment = reinterpret_cast<std::uintptr_t>(raw) & (kHugePage - 1);
    const std::size_t head = misalignment == 0 ? 0 : static_cast<std::size_t>(kHugePage - misalignment);
    const std::size_t tail = span - head - static_cast<std::size_t>(size);
    char* buffer = static_cast<char*>(raw) + head;
    if (head > 0) {
        ::munmap(raw, head);
    }
    if (tail > 0) {
        ::munmap(buffer + size, tail);
    }
    ::madvise(buffer, static_cast<std::size_t>(size), MADV_HUGEPAGE);  // a hint: fine if refused
    return reinterpret_cast<std::int16_t*>(buffer);
}
#endif

}  // namespace

std::int16_t* AllocateSamples(std::uint64_t bytes)
{
    if (bytes > SIZE_MAX) {
        return nullptr;
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kMapThreshold) {
        return MapHugeAligned(bytes);
    }
#endif
    return static_cast<std::int16_t*>(std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes)));
}

void FreeSamples(std::int16_t* samples, std::uint64_t bytes)
{
    if (samples == nullptr) {
        return;
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kMapThreshold) {
        ::munmap(samples, static_cast<std::size_t>(MappedSize(bytes)));
        return;
    }
#else
    (void)bytes;
#endif
    std::free(samples);
}

}  // namespace vornish

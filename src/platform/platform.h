// The calls each platform file provides to the shared file code.
#ifndef VORNISH_PLATFORM_H
#define VORNISH_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace vornish {

// 32-bit hosts refuse a single read or write of 2 GiB or more.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// One read at `offset` / one write at the current position, of at most
// kMaxPiece bytes: the count done, or -1 with errno set.
long ReadSomeAt(int fd, std::uint64_t offset, void* buffer, std::size_t size);
long WriteSome(int fd, const void* buffer, std::size_t size);

}  // namespace vornish

#endif

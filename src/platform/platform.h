// The calls each platform file provides to the shared file code.
#ifndef VORNISH_PLATFORM_H
#define VORNISH_PLATFORM_H

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "VornishAudioBRRFile.h"

namespace vornish {

// 32-bit hosts refuse a single read or write of 2 GiB or more.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// A closed BRRFile; and one whose replacement strings are freed, then closed.
void ClearFile(BRRFile* file);
void ReleaseFile(BRRFile* file);

// Closes a replacement's descriptor and puts it in place under its target's
// name: 0, or the error, its temporary name then removed. Each system's own.
int PlaceReplacement(BRRFile* file);

// An output that could not be opened for want of memory: closed, ENOMEM.
int OutOfMemory(BRRFile* file);

// One read at `offset` / one write at the current position, of at most
// kMaxPiece bytes: the count done, or -1 with errno set.
long ReadSomeAt(int fd, std::uint64_t offset, void* buffer, std::size_t size);
long WriteSome(int fd, const void* buffer, std::size_t size);

// Repeats `some(at, left)` (one read or write call, which may do less than
// asked, or fail with EINTR) until all `size` bytes are done. 0, or the
// error; an early end of file (a call that does nothing) is EIO, never a
// loop without end.
template <typename Byte, typename Call>
int Transfer(Byte* at, std::size_t size, Call some)
{
    while (size > 0) {
        const long n = some(at, size < kMaxPiece ? size : kMaxPiece);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno != 0 ? errno : EIO;
        }
        if (n == 0) {
            return EIO;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace vornish

#endif

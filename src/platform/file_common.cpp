// The parts of the file layer that every platform shares.
#include <cerrno>
#include <cstring>

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRRFile.h"
#include "platform/platform.h"

namespace {

// Repeats `some` until all `size` bytes are done; 0, or the error (EIO for
// an early end of file).
template <typename Byte, typename Call>
int Transfer(Byte* at, std::size_t size, Call some)
{
    while (size > 0) {
        const long n = some(at, size);
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

}  // namespace

int BRRFileRead(void* context, std::uint64_t offset, void* buffer, std::size_t size)
{
    auto* file = static_cast<BRRFile*>(context);
    char* const start = static_cast<char*>(buffer);
    file->error = Transfer(start, size, [&](char* at, std::size_t left) {
        return vornish::ReadSomeAt(file->descriptor, offset + static_cast<std::uint64_t>(at - start),
                                   at, left < vornish::kMaxPiece ? left : vornish::kMaxPiece);
    });
    return file->error;
}

int BRRFileWrite(void* context, const void* bytes, std::size_t size)
{
    auto* file = static_cast<BRRFile*>(context);
    file->error = Transfer(static_cast<const char*>(bytes), size, [&](const char* at, std::size_t left) {
        return vornish::WriteSome(file->descriptor, at, left < vornish::kMaxPiece ? left : vornish::kMaxPiece);
    });
    return file->error;
}

int BRRFileIsSame(const BRRFile* a, const BRRFile* b)
{
    return a->regular != 0 && b->regular != 0 && a->device == b->device && a->number == b->number;
}

const char* BRRFileErrorText(int error)
{
    switch (error) {
    case BRR_FILE_NOT_REGULAR: return "Not a regular file";
    case BRR_FILE_EXISTS: return "File exists";
    default: return std::strerror(error);
    }
}

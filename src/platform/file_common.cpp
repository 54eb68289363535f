// The parts of the file layer that every platform shares.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRRFile.h"
#include "platform/platform.h"

namespace vornish {

void ClearFile(BRRFile* file)
{
    *file = BRRFile{};
    file->descriptor = -1;
}

void ReleaseFile(BRRFile* file)
{
    std::free(file->target);
    std::free(file->temporary);
    std::free(file->wideTarget);
    std::free(file->wideTemporary);
    ClearFile(file);
}

int OutOfMemory(BRRFile* file)
{
    BRRFileClose(file);
    return ENOMEM;
}

}  // namespace vornish

int BRRFileCommit(BRRFile* file)
{
    if (file->replacing == 0) {
        return BRRFileClose(file);
    }
    const int error = vornish::PlaceReplacement(file);
    vornish::ReleaseFile(file);
    return error;
}

int BRRFileRead(void* context, std::uint64_t offset, void* buffer, std::size_t size)
{
    auto* file = static_cast<BRRFile*>(context);
    char* const start = static_cast<char*>(buffer);
    file->error = vornish::Transfer(start, size, [&](char* at, std::size_t piece) {
        return vornish::ReadSomeAt(file->descriptor, offset + static_cast<std::uint64_t>(at - start), at, piece);
    });
    return file->error;
}

int BRRFileWrite(void* context, const void* bytes, std::size_t size)
{
    auto* file = static_cast<BRRFile*>(context);
    file->error = vornish::Transfer(static_cast<const char*>(bytes), size, [&](const char* at, std::size_t piece) {
        return vornish::WriteSome(file->descriptor, at, piece);
    });
    return file->error;
}

int BRRFileIsSame(const BRRFile* a, const BRRFile* b)
{
    return a->regular != 0 && b->regular != 0 && a->number != 0 && a->device == b->device &&
           a->number == b->number;
}

namespace {

// strerror_r comes as the XSI function (an int) or the GNU one (the text).
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer)
{
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextOf(const char* text, const char*) { return text; }

}  // namespace

const char* BRRFileErrorText(int error)
{
    switch (error) {
    case BRR_FILE_NOT_REGULAR: return "Not a regular file";
    case BRR_FILE_EXISTS: return "File exists";
    default: break;
    }
    // One buffer per thread: strerror's own is shared by all of them.
    thread_local char buffer[128];
#if defined(_WIN32)
    return ErrorTextOf(strerror_s(buffer, sizeof buffer, error), buffer);
#else
    return ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer);
#endif
}

#include "convert/file_access.h"

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornish {

#if defined(_WIN32)

std::FILE* OpenRegularFileForReading(const char* path, std::uint64_t* size)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    struct _stat64 st;
    if (_fstat64(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(file);
        return nullptr;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

OutputIdentity IdentifyOpenFile(std::FILE* file)
{
    struct _stat64 st;
    const bool regular = _fstat64(_fileno(file), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
    return OutputIdentity{regular, 0, 0};
}

void RemovePartialOutput(const char* path, const OutputIdentity& identity)
{
    if (!identity.regular) {
        return;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                       FILE_ATTRIBUTE_DEVICE)) != 0) {
        return;
    }
    std::remove(path);
}

bool RewindFile(std::FILE* file) { return _fseeki64(file, 0, SEEK_SET) == 0; }

#else

std::FILE* OpenRegularFileForReading(const char* path, std::uint64_t* size)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

OutputIdentity IdentifyOpenFile(std::FILE* file)
{
    struct stat st;
    if (::fstat(::fileno(file), &st) != 0) {
        return OutputIdentity{false, 0, 0};
    }
    return OutputIdentity{S_ISREG(st.st_mode), static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
}

void RemovePartialOutput(const char* path, const OutputIdentity& identity)
{
    struct stat st;
    if (!identity.regular || ::lstat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_dev) != identity.device ||
        static_cast<std::uint64_t>(st.st_ino) != identity.inode) {
        return;
    }
    ::unlink(path);
}

bool RewindFile(std::FILE* file) { return ::fseeko(file, 0, SEEK_SET) == 0; }

#endif

}  // namespace vornish

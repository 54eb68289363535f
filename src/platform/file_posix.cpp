// The file layer on POSIX hosts.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "VornishAudioBRRFile.h"
#include "platform/platform.h"

namespace {

void Describe(BRRFile* file, int fd, const struct stat& st)
{
    file->descriptor = fd;
    file->regular = S_ISREG(st.st_mode) ? 1 : 0;
    file->size = file->regular != 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    file->device = static_cast<std::uint64_t>(st.st_dev);
    file->number = static_cast<std::uint64_t>(st.st_ino);
    file->error = 0;
}

void Clear(BRRFile* file)
{
    *file = BRRFile{};
    file->descriptor = -1;
}

// Describes what open() and fstat() gave, or closes it and returns the error.
int Opened(BRRFile* file, int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return error;
    }
    Describe(file, fd, st);
    return 0;
}

}  // namespace

namespace vornish {

long ReadSomeAt(int fd, std::uint64_t offset, void* buffer, std::size_t size)
{
    return ::pread(fd, buffer, size, static_cast<off_t>(offset));
}

long WriteSome(int fd, const void* buffer, std::size_t size) { return ::write(fd, buffer, size); }

}  // namespace vornish

int BRRFileAdopt(BRRFile* file, int descriptor)
{
    Clear(file);
    struct stat st;
    if (::fstat(descriptor, &st) != 0) {
        return errno;
    }
    Describe(file, descriptor, st);
    return 0;
}

int BRRFileOpenInput(BRRFile* file, const char* path, const wchar_t* /*widePath*/)
{
    Clear(file);
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = Opened(file, fd);
    if (error != 0) {
        return error;
    }
    if (file->regular == 0) {
        struct stat st;
        const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
        ::close(fd);
        Clear(file);
        return directory ? EISDIR : BRR_FILE_NOT_REGULAR;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return 0;
}

int BRRFileOpenOutput(BRRFile* file, const char* path, const wchar_t* /*widePath*/, int exclusive)
{
    Clear(file);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path, exclusive != 0 ? kFlags | O_EXCL : kFlags, 0666);
    if (fd < 0 && exclusive != 0 && errno == EEXIST) {
        // Only a regular file (or a name that resolves to none, such as a
        // dangling link) counts as one not to replace.
        struct stat st;
        if (::stat(path, &st) != 0 || S_ISREG(st.st_mode)) {
            return BRR_FILE_EXISTS;
        }
        fd = ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    return Opened(file, fd);
}

int BRRFileTruncate(BRRFile* file)
{
    struct stat st;
    if (::fstat(file->descriptor, &st) != 0) {
        return errno;
    }
    return st.st_size == 0 || ::ftruncate(file->descriptor, 0) == 0 ? 0 : errno;
}

int BRRFileClose(BRRFile* file)
{
    const int fd = file->descriptor;
    file->descriptor = -1;
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
}

void BRRFileRemove(const char* path, const wchar_t* /*widePath*/, const BRRFile* file)
{
    struct stat st;
    if (file->regular == 0 || ::lstat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_dev) != file->device ||
        static_cast<std::uint64_t>(st.st_ino) != file->number) {
        return;
    }
    ::unlink(path);
}

#endif

#include "convert/file_access.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornish {

// 32-bit hosts refuse a single read or write of 2 GiB or more.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

namespace {
// One read or write call of at most kMaxPiece bytes: the count done, or -1.
long ReadSome(int fd, void* buffer, std::size_t size);
long WriteSome(int fd, const void* buffer, std::size_t size);
}  // namespace

// Repeats `some` (one read or one write call) until all `size` bytes are done.
template <typename Byte, typename Call>
bool Transfer(int fd, Byte* at, std::size_t size, Call some)
{
    while (size > 0) {
        const long n = some(fd, at, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadFully(int fd, void* buffer, std::size_t size)
{
    return Transfer(fd, static_cast<char*>(buffer), size, ReadSome);
}

bool WriteFully(int fd, const void* buffer, std::size_t size)
{
    return Transfer(fd, static_cast<const char*>(buffer), size, WriteSome);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode;
}

const char* OpenErrorText(int error)
{
    switch (error) {
    case kErrorNotRegular: return "Not a regular file";
    case kErrorFileExists: return "file exists (use -f to overwrite)";
    default: return std::strerror(error);
    }
}

#if defined(_WIN32)

namespace {

// Paths of MAX_PATH characters or more open only in their extended-length
// form (\\?\C:\... or \\?\UNC\server\...), which must be absolute.
std::wstring OpenablePath(const wchar_t* path)
{
    const std::size_t length = std::wcslen(path);
    if (length < MAX_PATH || std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
        return path;
    }
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path, needed, &full[0], nullptr);
    full.resize(written);
    if (full.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

int OpenPath(const FilePath& path, int flags)
{
    if (path.wide != nullptr) {
        return _wopen(OpenablePath(path.wide).c_str(), flags, _S_IREAD | _S_IWRITE);
    }
    return _open(path.text, flags, _S_IREAD | _S_IWRITE);
}

bool Identify(int fd, FileIdentity* identity)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info)) {
        *identity = FileIdentity{};
        return true;
    }
    identity->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity->device = info.dwVolumeSerialNumber;
    identity->inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32u | info.nFileIndexLow;
    return true;
}

}  // namespace

bool MeasureInput(int fd, std::uint64_t* size, FileIdentity* identity, int* error)
{
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0) {
        *error = errno;
        return false;
    }
    Identify(fd, identity);
    if ((st.st_mode & _S_IFMT) != _S_IFREG || !identity->regular) {
        *error = (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : kErrorNotRegular;
        return false;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

int OpenInput(const FilePath& path, std::uint64_t* size, FileIdentity* identity, int* error)
{
    const int fd = OpenPath(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (!MeasureInput(fd, size, identity, error)) {
        _close(fd);
        return -1;
    }
    return fd;
}

int OpenOutput(const FilePath& path, bool exclusive, FileIdentity* identity, int* error)
{
    const int flags = _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT;
    int fd = OpenPath(path, exclusive ? flags | _O_EXCL : flags);
    if (fd < 0 && exclusive && errno == EEXIST) {
        fd = OpenPath(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
        if (fd >= 0) {
            Identify(fd, identity);
            if (identity->regular) {
                _close(fd);
                *error = kErrorFileExists;
                return -1;
            }
            return fd;
        }
    }
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    Identify(fd, identity);
    return fd;
}

bool TruncateFile(int fd) { return _chsize_s(fd, 0) == 0; }

bool SeekFile(int fd, std::uint64_t offset)
{
    return _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0;
}

namespace {

long ReadSome(int fd, void* buffer, std::size_t size)
{
    return _read(fd, buffer, static_cast<unsigned int>(size < kMaxPiece ? size : kMaxPiece));
}

long WriteSome(int fd, const void* buffer, std::size_t size)
{
    return _write(fd, buffer, static_cast<unsigned int>(size < kMaxPiece ? size : kMaxPiece));
}

}  // namespace

bool CloseFile(int fd) { return _close(fd) == 0; }

void RemovePartialOutput(const FilePath& path, const FileIdentity& identity)
{
    if (!identity.regular) {
        return;
    }
    const std::wstring wide = path.wide != nullptr ? OpenablePath(path.wide) : std::wstring();
    const DWORD attributes =
        path.wide != nullptr ? GetFileAttributesW(wide.c_str()) : GetFileAttributesA(path.text);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                       FILE_ATTRIBUTE_DEVICE)) != 0) {
        return;
    }
    if (path.wide != nullptr) {
        DeleteFileW(wide.c_str());
    } else {
        DeleteFileA(path.text);
    }
}

#else

namespace {

void Identify(const struct stat& st, FileIdentity* identity)
{
    identity->regular = S_ISREG(st.st_mode);
    identity->device = static_cast<std::uint64_t>(st.st_dev);
    identity->inode = static_cast<std::uint64_t>(st.st_ino);
}

}  // namespace

bool MeasureInput(int fd, std::uint64_t* size, FileIdentity* identity, int* error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegular;
        return false;
    }
    Identify(st, identity);
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

int OpenInput(const FilePath& path, std::uint64_t* size, FileIdentity* identity, int* error)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused.
    const int fd = ::open(path.text, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (!MeasureInput(fd, size, identity, error)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

int OpenOutput(const FilePath& path, bool exclusive, FileIdentity* identity, int* error)
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.text, exclusive ? kFlags | O_EXCL : kFlags, 0666);
    if (fd < 0 && exclusive && errno == EEXIST) {
        // Only a regular file (or a name that resolves to none, such as a
        // dangling link) counts as one not to replace.
        struct stat st;
        if (::stat(path.text, &st) != 0 || S_ISREG(st.st_mode)) {
            *error = kErrorFileExists;
            return -1;
        }
        fd = ::open(path.text, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    Identify(st, identity);
    return fd;
}

bool TruncateFile(int fd)
{
    // An empty file is left as it is: truncating it anyway makes ext4 flush
    // the whole output when it is closed (its guard for files replaced by
    // truncation), which costs a new output a tenth of its conversion time.
    struct stat st;
    return (::fstat(fd, &st) == 0 && st.st_size == 0) || ::ftruncate(fd, 0) == 0;
}

bool SeekFile(int fd, std::uint64_t offset)
{
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

namespace {

long ReadSome(int fd, void* buffer, std::size_t size)
{
    return ::read(fd, buffer, size < kMaxPiece ? size : kMaxPiece);
}

long WriteSome(int fd, const void* buffer, std::size_t size)
{
    return ::write(fd, buffer, size < kMaxPiece ? size : kMaxPiece);
}

}  // namespace

bool CloseFile(int fd) { return ::close(fd) == 0; }

void RemovePartialOutput(const FilePath& path, const FileIdentity& identity)
{
    struct stat st;
    if (!identity.regular || ::lstat(path.text, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_dev) != identity.device ||
        static_cast<std::uint64_t>(st.st_ino) != identity.inode) {
        return;
    }
    ::unlink(path.text);
}

#endif

}  // namespace vornish

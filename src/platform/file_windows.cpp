// The file layer on Windows: CRT descriptors opened through the wide paths,
// so that the file named is the file opened whatever the code page lacks.
#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "VornishAudioBRRFile.h"
#include "platform/platform.h"

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

int OpenPath(const char* path, const wchar_t* widePath, int flags)
{
    if (widePath != nullptr) {
        return _wopen(OpenablePath(widePath).c_str(), flags, _S_IREAD | _S_IWRITE);
    }
    return _open(path, flags, _S_IREAD | _S_IWRITE);
}

// Fills the identity and kind of an open descriptor; false if fstat fails.
bool Describe(BRRFile* file, int fd)
{
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0) {
        return false;
    }
    *file = BRRFile{};
    file->descriptor = fd;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info;
    if ((st.st_mode & _S_IFMT) == _S_IFREG && handle != INVALID_HANDLE_VALUE &&
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        file->regular = 1;
        file->size = static_cast<std::uint64_t>(st.st_size);
        file->device = info.dwVolumeSerialNumber;
        file->number = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32u | info.nFileIndexLow;
    }
    return true;
}

void Clear(BRRFile* file)
{
    *file = BRRFile{};
    file->descriptor = -1;
}

// Describes what _open() gave, or closes it and returns the error.
int Opened(BRRFile* file, int fd)
{
    if (fd < 0 || !Describe(file, fd)) {
        const int error = errno;
        if (fd >= 0) {
            _close(fd);
        }
        Clear(file);
        return error;
    }
    return 0;
}

}  // namespace

namespace vornish {

long ReadSomeAt(int fd, std::uint64_t offset, void* buffer, std::size_t size)
{
    if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
        return -1;
    }
    return _read(fd, buffer, static_cast<unsigned int>(size));
}

long WriteSome(int fd, const void* buffer, std::size_t size)
{
    return _write(fd, buffer, static_cast<unsigned int>(size));
}

}  // namespace vornish

int BRRFileAdopt(BRRFile* file, int descriptor)
{
    Clear(file);
    return Describe(file, descriptor) ? 0 : errno;
}

int BRRFileOpenInput(BRRFile* file, const char* path, const wchar_t* widePath)
{
    Clear(file);
    const int fd = OpenPath(path, widePath, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    const int error = Opened(file, fd);
    if (error != 0) {
        return error;
    }
    if (file->regular == 0) {
        struct _stat64 st;
        const bool directory = _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
        _close(fd);
        Clear(file);
        return directory ? EISDIR : BRR_FILE_NOT_REGULAR;
    }
    return 0;
}

int BRRFileOpenOutput(BRRFile* file, const char* path, const wchar_t* widePath, int exclusive)
{
    Clear(file);
    const int flags = _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT;
    int fd = OpenPath(path, widePath, exclusive != 0 ? flags | _O_EXCL : flags);
    if (fd < 0 && exclusive != 0 && errno == EEXIST) {
        fd = OpenPath(path, widePath, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
        if (fd >= 0 && Describe(file, fd) && file->regular != 0) {
            _close(fd);
            Clear(file);
            return BRR_FILE_EXISTS;
        }
    }
    return Opened(file, fd);
}

int BRRFileTruncate(BRRFile* file) { return _chsize_s(file->descriptor, 0) == 0 ? 0 : errno; }

int BRRFileClose(BRRFile* file)
{
    const int fd = file->descriptor;
    file->descriptor = -1;
    return fd < 0 || _close(fd) == 0 ? 0 : errno;
}

void BRRFileRemove(const char* path, const wchar_t* widePath, const BRRFile* file)
{
    if (file->regular == 0) {
        return;
    }
    const std::wstring wide = widePath != nullptr ? OpenablePath(widePath) : std::wstring();
    const DWORD attributes =
        widePath != nullptr ? GetFileAttributesW(wide.c_str()) : GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                       FILE_ATTRIBUTE_DEVICE)) != 0) {
        return;
    }
    if (widePath != nullptr) {
        DeleteFileW(wide.c_str());
    } else {
        DeleteFileA(path);
    }
}

#endif

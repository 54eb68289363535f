// The file layer on Windows: CRT descriptors opened through the wide paths,
// so that the file named is the file opened whatever the code page lacks. A
// regular output is written under a hidden temporary name in the target's
// folder and moved over the target when it is complete.
#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <cstdlib>
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

// Describes what _open() gave, or closes it and returns the error.
int Opened(BRRFile* file, int fd)
{
    if (fd < 0 || !Describe(file, fd)) {
        const int error = errno;
        if (fd >= 0) {
            _close(fd);
        }
        vornish::ClearFile(file);
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
    vornish::ClearFile(file);
    return Describe(file, descriptor) ? 0 : errno;
}

int BRRFileOpenInput(BRRFile* file, const char* path, const wchar_t* widePath)
{
    vornish::ClearFile(file);
    const int fd = OpenPath(path, widePath, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    const int error = Opened(file, fd);
    if (error != 0) {
        return error;
    }
    if (file->regular == 0) {
        struct _stat64 st;
        const bool directory = _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
        _close(fd);
        vornish::ClearFile(file);
        return directory ? EISDIR : BRR_FILE_NOT_REGULAR;
    }
    return 0;
}

namespace {

// The wide form of a path given only narrowly (in the ANSI code page).
std::wstring Widened(const char* path, const wchar_t* widePath)
{
    if (widePath != nullptr) {
        return widePath;
    }
    const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], n);
    wide.resize(wide.size() - 1);
    return wide;
}

wchar_t* Copy(const std::wstring& text)
{
    auto* copy = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::wmemcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

// ".NAME.XXXXXX.tmp" beside `target`.
std::wstring HiddenName(const std::wstring& target, unsigned attempt)
{
    const std::size_t slash = target.find_last_of(L"\\/:");
    const unsigned mix = (GetTickCount() * 2654435761u) ^ (GetCurrentProcessId() << 12u) ^ (attempt * 40503u);
    wchar_t suffix[24];
    swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%06x.tmp", mix & 0xFFFFFFu);
    const std::size_t base = slash == std::wstring::npos ? 0 : slash + 1;
    return target.substr(0, base) + L"." + target.substr(base) + suffix;
}

int ErrorOf(DWORD code)
{
    switch (code) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return BRR_FILE_EXISTS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    default: return EACCES;
    }
}

// A replacement for `target`; `replaced` describes the file there, if any.
int Replacement(BRRFile* file, const std::wstring& target, int exclusive, const BRRFile& replaced)
{
    std::wstring temporary;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = HiddenName(target, attempt);
        fd = _wopen(OpenablePath(temporary.c_str()).c_str(),
                    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    const int error = Opened(file, fd);
    if (error != 0) {
        return error;
    }
    file->device = replaced.device;
    file->number = replaced.number;
    file->replacing = 1;
    file->exclusive = exclusive;
    file->wideTarget = Copy(target);
    file->wideTemporary = Copy(temporary);
    if (file->wideTarget == nullptr || file->wideTemporary == nullptr) {
        BRRFileClose(file);
        return ENOMEM;
    }
    return 0;
}

}  // namespace

int BRRFileOpenOutput(BRRFile* file, const char* path, const wchar_t* widePath, int exclusive)
{
    vornish::ClearFile(file);
    try {
        // Opening what is there for writing changes nothing in it; it tells
        // a device from a file on a disk.
        BRRFile there;
        const int error = Opened(&there, OpenPath(path, widePath, _O_WRONLY | _O_BINARY | _O_NOINHERIT));
        if (error == 0 && there.regular == 0) {
            *file = there;
            return 0;
        }
        if (error == 0) {
            _close(there.descriptor);
            if (exclusive != 0) {
                return BRR_FILE_EXISTS;
            }
        } else if (error != ENOENT) {
            return error;
        } else {
            vornish::ClearFile(&there);
            there.device = 0;
        }
        return Replacement(file, Widened(path, widePath), exclusive, there);
    } catch (const std::bad_alloc&) {
        return vornish::OutOfMemory(file);
    }
}

int vornish::PlaceReplacement(BRRFile* file)
{
    int error = _close(file->descriptor) == 0 ? 0 : errno;
    file->descriptor = -1;
    const std::wstring temporary = OpenablePath(file->wideTemporary);
    if (error == 0 &&
        !MoveFileExW(temporary.c_str(), OpenablePath(file->wideTarget).c_str(),
                     file->exclusive != 0 ? 0 : MOVEFILE_REPLACE_EXISTING)) {
        error = ErrorOf(GetLastError());
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
    }
    return error;
}

void BRRFileAbandon(const BRRFile* file)
{
    if (file->replacing != 0 && file->wideTemporary != nullptr) {
        DeleteFileW(OpenablePath(file->wideTemporary).c_str());
    }
}

int BRRFileClose(BRRFile* file)
{
    const int error = file->descriptor < 0 || _close(file->descriptor) == 0 ? 0 : errno;
    if (file->replacing != 0) {
        BRRFileAbandon(file);
    }
    vornish::ReleaseFile(file);
    return error;
}

#endif

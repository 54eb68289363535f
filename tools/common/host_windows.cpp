// The shell layer's system calls on Windows: identities from the file
// system's volume serial and file index (as the file layer's), the console,
// and a spool that the system deletes when it is closed.
#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "host.h"

namespace host {
namespace {

bool Describe(HANDLE handle, Identity& identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    identity.device = info.dwVolumeSerialNumber;
    identity.number = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32u | info.nFileIndexLow;
    identity.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return true;
}

}  // namespace

bool IdentityOfPath(const char* path, Identity& identity)
{
    const WidePath wide(path);
    const HANDLE handle = CreateFileW(wide.get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = Describe(handle, identity);
    CloseHandle(handle);
    return known;
}

bool IdentityOfDescriptor(int descriptor, Identity& identity)
{
    return Describe(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), identity);
}

bool IsDirectory(const char* path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).get());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const char* path)
{
    if (CreateDirectoryW(WidePath(path).get(), nullptr)) {
        return true;
    }
    errno = GetLastError() == ERROR_ALREADY_EXISTS ? EEXIST : GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

bool IsTerminal(int descriptor) { return _isatty(descriptor) != 0; }

int OpenSpool(std::string& folder)
{
    const char* tmp = std::getenv("TMPDIR");
    std::wstring where;
    if (tmp != nullptr && *tmp != '\0') {
        folder = tmp;
        where = WidePath(tmp).get();
    } else {
        wchar_t system[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, system);
        where.assign(system, n);
        folder = "the temporary folder";
    }
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(where.c_str(), L"brr", 0, name) == 0) {
        errno = ENOENT;
        return -1;
    }
    return _wopen(name, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY, _S_IREAD | _S_IWRITE);
}

long ReadSome(int descriptor, void* buffer, std::size_t size)
{
    return _read(descriptor, buffer, static_cast<unsigned int>(size));
}

bool Rewind(int descriptor) { return _lseeki64(descriptor, 0, SEEK_SET) == 0; }

int Duplicate(int descriptor) { return _dup(descriptor); }

void Close(int descriptor) { _close(descriptor); }

WidePath::WidePath(const char* path)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (n > 1) {
        wide_.resize(static_cast<std::size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide_[0], n);
        wide_.resize(static_cast<std::size_t>(n - 1));
    }
}

std::size_t NameStart(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace host

#endif

// The shell layer's system calls on POSIX.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "host.h"
#include "shell.h"

namespace host {
namespace {

Identity Of(const struct stat& st)
{
    Identity id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.number = static_cast<std::uint64_t>(st.st_ino);
    id.regular = S_ISREG(st.st_mode);
    return id;
}

}  // namespace

bool IdentityOfPath(const char* path, Identity& identity)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        return false;
    }
    identity = Of(st);
    return true;
}

bool IdentityOfDescriptor(int descriptor, Identity& identity)
{
    struct stat st;
    if (::fstat(descriptor, &st) != 0) {
        return false;
    }
    identity = Of(st);
    return true;
}

bool IsDirectory(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const char* path) { return ::mkdir(path, 0777) == 0; }

bool IsTerminal(int descriptor) { return ::isatty(descriptor) != 0; }

int OpenSpool(std::string& folder)
{
    const char* tmp = std::getenv("TMPDIR");
    folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
#if defined(O_TMPFILE)
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
#endif
    std::string name = folder + "/" + shell::programName + ".XXXXXX";
    const int named = ::mkstemp(&name[0]);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

long ReadSome(int descriptor, void* buffer, std::size_t size)
{
    return static_cast<long>(::read(descriptor, buffer, size));
}

bool Rewind(int descriptor) { return ::lseek(descriptor, 0, SEEK_SET) == 0; }

int Duplicate(int descriptor) { return ::dup(descriptor); }

void Close(int descriptor) { ::close(descriptor); }

WidePath::WidePath(const char* /*path*/) {}

std::size_t NameStart(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace host

#endif

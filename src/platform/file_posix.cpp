// The file layer on POSIX hosts. A regular output is written as an unnamed
// file in the target's folder (O_TMPFILE on Linux), which gets a hidden name
// only when it is complete; where the system has no unnamed files, it has
// that hidden name from the start. Either way it is closed under the hidden
// name and then renamed (or, exclusively, linked) into place.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

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
}

// Describes what open() gave, or closes it and returns the error.
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

std::string DirName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links from `path` to the name the replacement must take,
// so that a link stays a link. False with errno set.
bool ResolveLinks(const char* path, std::string& resolved)
{
    resolved = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return true;
        }
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        const ssize_t n = ::readlink(resolved.c_str(), &link[0], link.size());
        if (n < 0) {
            return false;
        }
        link.resize(static_cast<std::size_t>(n));
        if (link.empty() || link[0] != '/') {
            link.insert(0, DirName(resolved) + "/");
        }
        resolved.swap(link);
    }
    errno = ELOOP;
    return false;
}

// ".NAME.XXXXXX" beside `target`: hidden, and unlikely to be anyone's.
std::string HiddenName(const std::string& target, unsigned attempt)
{
    const std::size_t slash = target.find_last_of('/');
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto mix = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 12u) ^
                     (static_cast<unsigned long>(attempt) * 2654435761ul);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%06lx", mix & 0xFFFFFFul);
    return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + suffix;
}

// An empty new file for `target`: unnamed where the system has them, else
// under a hidden name stored in `temporary`. -1 with errno set.
int OpenReplacement(const std::string& target, std::string& temporary)
{
#if defined(O_TMPFILE) && !defined(VORNISH_NO_UNNAMED_FILES)
    const int fd = ::open(DirName(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
#endif
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = HiddenName(target, attempt);
        const int named = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (named >= 0 || errno != EEXIST) {
            return named;
        }
    }
    return -1;
}

int Replacement(BRRFile* file, const char* path, int exclusive, const struct stat* old)
{
    std::string target;
    std::string temporary;
    if (!ResolveLinks(path, target)) {
        return errno;
    }
    const int error = Opened(file, OpenReplacement(target, temporary));
    if (error != 0) {
        return error;
    }
    file->replacing = 1;
    file->exclusive = exclusive;
    file->device = old != nullptr ? static_cast<std::uint64_t>(old->st_dev) : 0;
    file->number = old != nullptr ? static_cast<std::uint64_t>(old->st_ino) : 0;
    file->target = ::strdup(target.c_str());
    file->temporary = temporary.empty() ? nullptr : ::strdup(temporary.c_str());
    if (file->target == nullptr || (!temporary.empty() && file->temporary == nullptr)) {
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        BRRFileClose(file);
        return ENOMEM;
    }
    // A replacement that cannot take the old file's permission bits would
    // change who may read it: refused, with the reason.
    if (old != nullptr && ::fchmod(file->descriptor, old->st_mode & 0777) != 0) {
        const int error = errno;
        BRRFileClose(file);
        return error;
    }
    return 0;
}

// Gives the unnamed replacement a hidden name beside its target, so that it
// can be closed, and a failure of the close seen, before the target is
// touched.
int NameUnnamed(BRRFile* file)
{
    char self[48];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file->descriptor);
    const auto linkAs = [&](const char* name) {
        return ::linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ||
               (errno == ENOENT && ::linkat(file->descriptor, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0);
    };
    try {
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            const std::string hidden = HiddenName(file->target, attempt);
            if (linkAs(hidden.c_str())) {
                file->temporary = ::strdup(hidden.c_str());
                if (file->temporary == nullptr) {
                    ::unlink(hidden.c_str());
                    return ENOMEM;
                }
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    return EEXIST;
}

// Renames the named replacement over its target; without replacing, links
// it in (which fails if the name was taken meanwhile) and drops the old name.
int PlaceNamed(const BRRFile* file)
{
    if (file->exclusive == 0) {
        return ::rename(file->temporary, file->target) == 0 ? 0 : errno;
    }
    if (::link(file->temporary, file->target) != 0) {
        return errno == EEXIST ? BRR_FILE_EXISTS : errno;
    }
    ::unlink(file->temporary);
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
    vornish::ClearFile(file);
    struct stat st;
    if (::fstat(descriptor, &st) != 0) {
        return errno;
    }
    Describe(file, descriptor, st);
    return 0;
}

int BRRFileOpenInput(BRRFile* file, const char* path, const wchar_t* /*widePath*/)
{
    vornish::ClearFile(file);
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
        vornish::ClearFile(file);
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
    vornish::ClearFile(file);
    struct stat st;
    const bool exists = ::stat(path, &st) == 0;
    if (!exists && errno != ENOENT) {
        return errno;
    }
    struct stat link;
    if (!exists && exclusive != 0 && ::lstat(path, &link) == 0) {
        return BRR_FILE_EXISTS;  // a dangling link is a name in use, too
    }
    if (exists && S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        return Opened(file, ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC));
    }
    if (exists && exclusive != 0) {
        return BRR_FILE_EXISTS;
    }
    try {
        return Replacement(file, path, exclusive, exists ? &st : nullptr);
    } catch (const std::bad_alloc&) {
        return vornish::OutOfMemory(file);
    }
}

int vornish::PlaceReplacement(BRRFile* file)
{
    int error = file->temporary == nullptr ? NameUnnamed(file) : 0;
    if (::close(file->descriptor) != 0 && error == 0) {
        error = errno;
    }
    file->descriptor = -1;
    if (file->temporary != nullptr) {
        error = error != 0 ? error : PlaceNamed(file);
        if (error != 0) {
            ::unlink(file->temporary);
        }
    }
    return error;
}

void BRRFileAbandon(const BRRFile* file)
{
    // Only the file this replacement created: the name may have been taken
    // over since.
    struct stat named;
    struct stat own;
    if (file->replacing != 0 && file->temporary != nullptr && ::lstat(file->temporary, &named) == 0 &&
        ::fstat(file->descriptor, &own) == 0 && named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
        ::unlink(file->temporary);
    }
}

int BRRFileClose(BRRFile* file)
{
    BRRFileAbandon(file);
    const int error = file->descriptor < 0 || ::close(file->descriptor) == 0 ? 0 : errno;
    vornish::ReleaseFile(file);
    return error;
}

#endif

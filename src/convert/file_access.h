// The file operations the conversion needs, on plain file descriptors, with
// 64-bit sizes and offsets on every platform.
#ifndef VORNISH_FILE_ACCESS_H
#define VORNISH_FILE_ACCESS_H

#include <cstddef>
#include <cstdint>

namespace vornish {

// A file named by the caller. `text` is the narrow form that messages show;
// POSIX opens it. Windows opens `wide` when it is given, so that the file
// named is the file opened even where the narrow form had to replace a
// character the code page lacks.
// A descriptor in `fd` is an already open file (standard input or output),
// used as it is; `text` is then the name shown for it.
struct FilePath {
    const char* text = nullptr;
    const wchar_t* wide = nullptr;
    int fd = -1;
};

// Which file an open descriptor refers to.
struct FileIdentity {
    bool regular = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Open failures carry the system's error number, or one of these.
constexpr int kErrorNotRegular = -1;  // a FIFO, device or the like
constexpr int kErrorFileExists = -2;  // a regular file already there, and not to be replaced

// The reason for an open failure, as a short phrase ("No such file or
// directory", "Not a regular file", ...).
const char* OpenErrorText(int error);

// Opens a regular file for reading (never blocking on a FIFO); stores its size
// and identity. Returns the descriptor, or -1 with `*error` set.
int OpenInput(const FilePath& path, std::uint64_t* size, FileIdentity* identity, int* error);

// Measures an input that is already open.
bool MeasureInput(int fd, std::uint64_t* size, FileIdentity* identity, int* error);

// Opens `path` for writing, creating it if needed, without truncating it (so
// that it can be compared with the input first). With `exclusive`, an
// existing regular file is refused (kErrorFileExists); devices and FIFOs are
// opened all the same. Returns the descriptor, or -1 with `*error` set.
int OpenOutput(const FilePath& path, bool exclusive, FileIdentity* identity, int* error);

bool TruncateFile(int fd);
bool SeekFile(int fd, std::uint64_t offset);
// False on an error or an early end of file.
bool ReadFully(int fd, void* buffer, std::size_t size);
bool WriteFully(int fd, const void* buffer, std::size_t size);
bool CloseFile(int fd);

// Removes the file at `path` if it is still the regular file `identity`
// describes (not a link, not a device, not replaced since). Safe to call
// from a signal handler on POSIX.
void RemovePartialOutput(const FilePath& path, const FileIdentity& identity);

}  // namespace vornish

#endif

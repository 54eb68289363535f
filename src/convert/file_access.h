// The few file operations the conversion needs beyond standard C streams,
// with 64-bit sizes on every platform.
#ifndef VORNISH_FILE_ACCESS_H
#define VORNISH_FILE_ACCESS_H

#include <cstdint>
#include <cstdio>

namespace vornish {

// Opens `path` for binary reading if it names a regular file, and stores its
// size. Returns nullptr if it cannot be opened or is a directory, FIFO, device
// or the like (never blocks waiting for a FIFO's writer).
std::FILE* OpenRegularFileForReading(const char* path, std::uint64_t* size);

// Which file an open output stream refers to, so that a partial output can be
// removed without touching a device or the target of a link.
struct OutputIdentity {
    bool regular;
    std::uint64_t device;
    std::uint64_t inode;
};

OutputIdentity IdentifyOpenFile(std::FILE* file);

// Removes the file at `path` if it is still the regular file `identity`
// describes (not a link, not a device, not replaced since).
void RemovePartialOutput(const char* path, const OutputIdentity& identity);

// Moves `file` back to its start; false on failure.
bool RewindFile(std::FILE* file);

}  // namespace vornish

#endif

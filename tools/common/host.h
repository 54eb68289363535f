// The few things the shell layer asks of the system, on POSIX and on
// Windows: a file's identity, terminals, the spool for standard input,
// reading a descriptor, and paths as the file layer opens them.
#ifndef VORNISH_TOOLS_HOST_H
#define VORNISH_TOOLS_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// What names a file: its device (volume) and file number, and whether it is
// a regular file. False when it cannot be known.
struct Identity {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool regular = false;
};
bool IdentityOfPath(const char* path, Identity& identity);
bool IdentityOfDescriptor(int descriptor, Identity& identity);
inline bool SameFile(const Identity& a, const Identity& b) { return a.device == b.device && a.number == b.number; }

bool IsDirectory(const char* path);
// mkdir(): one level, 0777 less the umask; false with errno set.
bool MakeDirectory(const char* path);
bool IsTerminal(int descriptor);

// An unnamed file in $TMPDIR (or the system's temporary folder, `folder`
// tells which), gone when the run ends; -1 with errno set.
int OpenSpool(std::string& folder);
// read(): bytes read, 0 at the end, -1 with errno set.
long ReadSome(int descriptor, void* buffer, std::size_t size);
bool Rewind(int descriptor);
// dup(): a second descriptor of the same open file, -1 with errno set (for
// a library that may close what it is given).
int Duplicate(int descriptor);
void Close(int descriptor);

// A path as the file layer's wide-path argument wants it: the UTF-8 path in
// UTF-16 on Windows, null elsewhere.
class WidePath {
public:
    explicit WidePath(const char* path);
    const wchar_t* get() const { return wide_.empty() ? nullptr : wide_.c_str(); }

private:
    std::wstring wide_;
};

// Where a path's last component begins: after its last '/' (or '\' on Windows).
std::size_t NameStart(const std::string& path);

}  // namespace host

#endif

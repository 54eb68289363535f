// Narrowing of the wide path arguments of the exported function.
#ifndef VORNISH_NARROW_PATH_H
#define VORNISH_NARROW_PATH_H

#include <cwchar>
#include <string>

namespace vornish {

// The narrow form of `path`: in the ANSI code page on Windows, where it only
// shows in messages (characters the code page lacks become '?'); UTF-8
// elsewhere, where it is also what gets opened (a code unit that is no
// character becomes '?'). False only when memory runs out.
bool NarrowPath(const wchar_t* path, std::string& narrow) noexcept;

}  // namespace vornish

#endif

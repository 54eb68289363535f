// Narrowing of the wide path arguments of the exported function.
#ifndef VORNISH_NARROW_PATH_H
#define VORNISH_NARROW_PATH_H

#include <cwchar>
#include <string>

namespace vornish {

// The narrow form of `path` that the platform's fopen expects: the ANSI code
// page on Windows (characters it lacks become '?'), UTF-8 elsewhere (a code
// unit that is no character becomes '?'). False only when memory runs out.
bool NarrowPath(const wchar_t* path, std::string& narrow) noexcept;

}  // namespace vornish

#endif

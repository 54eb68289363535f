#include "export/narrow_path.h"

#include <cstdint>
#include <new>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vornish {

#if defined(_WIN32)

bool NarrowPath(const wchar_t* path, std::string& narrow) noexcept
{
    try {
        narrow.clear();
        // No best-fit mapping: a character the code page lacks shows as '?',
        // never as a look-alike that names another file. (The UTF-8 code
        // page holds every character and takes no flags.)
        const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
        const int needed = WideCharToMultiByte(CP_ACP, flags, path, -1, nullptr, 0, nullptr, nullptr);
        if (needed <= 1) {
            return true;
        }
        narrow.resize(static_cast<std::size_t>(needed));
        const int written =
            WideCharToMultiByte(CP_ACP, flags, path, -1, &narrow[0], needed, nullptr, nullptr);
        narrow.resize(written > 0 ? static_cast<std::size_t>(written) - 1 : 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

#else

namespace {

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80u) {
        out += static_cast<char>(c);
    } else if (c < 0x800u) {
        out += static_cast<char>(0xC0u | (c >> 6u));
        out += static_cast<char>(0x80u | (c & 0x3Fu));
    } else if (c < 0x10000u) {
        out += static_cast<char>(0xE0u | (c >> 12u));
        out += static_cast<char>(0x80u | ((c >> 6u) & 0x3Fu));
        out += static_cast<char>(0x80u | (c & 0x3Fu));
    } else {
        out += static_cast<char>(0xF0u | (c >> 18u));
        out += static_cast<char>(0x80u | ((c >> 12u) & 0x3Fu));
        out += static_cast<char>(0x80u | ((c >> 6u) & 0x3Fu));
        out += static_cast<char>(0x80u | (c & 0x3Fu));
    }
}

std::uint32_t CodeUnit(wchar_t unit)
{
    return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800u && c <= 0xDBFFu; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00u && c <= 0xDFFFu; }

}  // namespace

bool NarrowPath(const wchar_t* path, std::string& narrow) noexcept
{
    try {
        narrow.clear();
        // wchar_t holds UTF-32 here; surrogate pairs are also accepted, for
        // platforms whose wchar_t is 16 bits.
        for (const wchar_t* p = path; *p != L'\0'; ++p) {
            std::uint32_t c = CodeUnit(*p);
            if (IsHighSurrogate(c) && IsLowSurrogate(CodeUnit(p[1]))) {
                c = 0x10000u + ((c - 0xD800u) << 10u) + (CodeUnit(p[1]) - 0xDC00u);
                ++p;
            } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFFu) {
                c = 0x3Fu;  // '?'
            }
            AppendUtf8(narrow, c);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

#endif

}  // namespace vornish

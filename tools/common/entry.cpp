// The tools' entry: main on POSIX; on Windows wmain, so that every argument
// arrives whole whatever the code page, handed on as UTF-8 (which the
// file layer opens as UTF-16), with standard input and output in binary mode.
#include "shell.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" int wmain(int argc, wchar_t** wargv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &text[0], n, nullptr, nullptr);
        text.resize(text.size() - 1);
        arguments.push_back(text);
    }
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    return ToolMain(argc, argv.data());
}

#else

int main(int argc, char** argv) { return ToolMain(argc, argv); }

#endif

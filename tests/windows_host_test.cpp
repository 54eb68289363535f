// A Windows host for the DLL: loads it with LoadLibraryW, finds BRRDecode by
// name and by ordinal 1, checks the version resource, and converts files
// through UTF-16 paths, checking statuses, console lines and WAV bytes. The
// paths that end the process are run in a child copy of this program.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using BRRDecodeFunction = std::int32_t (*)(const wchar_t*, const wchar_t*);
using Bytes = std::vector<unsigned char>;

std::vector<std::string> failures;

#define CHECK(condition) Check((condition), #condition, __LINE__)
#define CHECK_EQ(actual, expected) CheckEqual((actual), (expected), #actual, __LINE__)

void Check(bool ok, const char* what, int line)
{
    if (!ok) {
        failures.push_back("line " + std::to_string(line) + ": " + what);
    }
}

template <typename A, typename B>
void CheckEqual(const A& actual, const B& expected, const char* what, int line)
{
    if (!(actual == expected)) {
        failures.push_back("line " + std::to_string(line) + ": " + what + " differs");
    }
}

void CheckText(const std::string& actual, const std::string& expected, int line)
{
    if (actual != expected) {
        failures.push_back("line " + std::to_string(line) + ": got [" + actual + "], expected [" +
                           expected + "]");
    }
}

std::wstring scratch;  // this run's directory, with a trailing backslash

std::string Narrow(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &narrow[0], n, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return narrow;
}

void WriteFile(const std::wstring& path, const Bytes& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
        failures.push_back("cannot create " + Narrow(path));
        return;
    }
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    }
    std::fclose(file);
}

Bytes ReadFile(const std::wstring& path)
{
    Bytes bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return bytes;
    }
    unsigned char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(file);
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Console text with the text-mode line ends turned back into '\n'.
std::string ReadText(const std::wstring& path)
{
    const Bytes bytes = ReadFile(path);
    std::string text;
    for (const unsigned char c : bytes) {
        if (c != '\r') {
            text += static_cast<char>(c);
        }
    }
    return text;
}

struct Console {
    std::int32_t status;
    std::string out;
    std::string err;
};

// Calls BRRDecode with standard output and error sent to files. The DLL
// shares the C runtime (and so file descriptors 1 and 2) with this program.
Console Call(BRRDecodeFunction decode, const wchar_t* in, const wchar_t* out)
{
    const std::wstring outPath = scratch + L"stdout.txt";
    const std::wstring errPath = scratch + L"stderr.txt";
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = _dup(1);
    const int savedErr = _dup(2);
    const int outFd = _wopen(outPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    const int errFd = _wopen(errPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    _dup2(outFd, 1);
    _dup2(errFd, 2);
    _close(outFd);
    _close(errFd);
    Console console;
    console.status = decode(in, out);
    std::fflush(stdout);
    std::fflush(stderr);
    _dup2(savedOut, 1);
    _dup2(savedErr, 2);
    _close(savedOut);
    _close(savedErr);
    console.out = ReadText(outPath);
    console.err = ReadText(errPath);
    return console;
}

Bytes ExpectedOneBlockWav()
{
    Bytes wav = {'R', 'I', 'F', 'F', 68, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
                 'd', 'a', 't', 'a', 32, 0, 0, 0, 0x00, 0x70, 0x00, 0xF0};
    wav.resize(76, 0);
    return wav;
}

const Bytes kOneBlock = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0};

// The C API beside BRRDecode: BRRDecoderInit at ordinal 2, and a one-block
// sample converted from memory into the same bytes BRRDecode writes.
int AppendBytes(void* context, const void* bytes, std::size_t size)
{
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<const unsigned char*>(bytes),
                static_cast<const unsigned char*>(bytes) + size);
    return 0;
}

void CheckMemoryApi(HMODULE module)
{
    using ConvertMemory = int (*)(const std::uint8_t*, std::size_t, const void*,
                                  int (*)(void*, const void*, std::size_t), void*, void*);
    const auto convert = reinterpret_cast<ConvertMemory>(
        reinterpret_cast<void*>(GetProcAddress(module, "BRRConvertMemory")));
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(2)) == GetProcAddress(module, "BRRDecoderInit"));
    CHECK(convert != nullptr);
    if (convert != nullptr) {
        Bytes wav;
        CHECK_EQ(convert(kOneBlock.data(), kOneBlock.size(), nullptr, AppendBytes, &wav, nullptr), 0);
        CHECK(wav == ExpectedOneBlockWav());
    }
}

void CheckVersionResource(const std::wstring& dllPath)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(dllPath.c_str(), &handle);
    CHECK(size > 0);
    if (size == 0) {
        return;
    }
    std::vector<unsigned char> info(size);
    CHECK(GetFileVersionInfoW(dllPath.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    CHECK(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    if (fixed != nullptr) {
        CHECK_EQ(fixed->dwFileVersionMS, 0x00010000u);
        CHECK_EQ(fixed->dwFileVersionLS, 0x00000001u);
        CHECK_EQ(fixed->dwProductVersionMS, 0x00010000u);
        CHECK_EQ(fixed->dwProductVersionLS, 0x00000001u);
        CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    }
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileVersion", L"1.0.0.1"},
        {L"ProductVersion", L"1.0.0.1"},
        {L"InternalName", L"VornishAudioBRRDecoder"},
        {L"OriginalFilename", L"VornishAudioBRRDecoder.dll"},
        {L"ProductName", L"VornishAudioBRRDecoder"},
    };
    for (const auto& s : strings) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.first;
        wchar_t* value = nullptr;
        length = 0;
        const bool found = VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value),
                                          &length) != 0;
        if (!found || value == nullptr || std::wstring(value) != s.second) {
            failures.push_back("version string " + Narrow(s.first) + " is wrong or missing");
        }
    }
}

// Conversions written, and written again over the first.
void CheckConversions(BRRDecodeFunction decode)
{
    // One block, plain and non-ASCII (a character of the ANSI code page) paths.
    for (const wchar_t* name : {L"one", L"t\u00F6n"}) {
        const std::wstring in = scratch + name + L".brr";
        const std::wstring out = scratch + name + L".wav";
        WriteFile(in, kOneBlock);
        const Console c = Call(decode, in.c_str(), out.c_str());
        CHECK_EQ(c.status, 999);
        CheckText(c.out, "Number of BRR blocks to decode : 1.\nDone !\n", __LINE__);
        CheckText(c.err, "", __LINE__);
        CHECK(ReadFile(out) == ExpectedOneBlockWav());
    }
    {
        // Written, then replaced by a second conversion; no temporary stays.
        const std::wstring in = scratch + L"twice.brr";
        const std::wstring out = scratch + L"twice.wav";
        WriteFile(in, kOneBlock);
        WriteFile(out, Bytes(1000, 0xAA));
        CHECK_EQ(Call(decode, in.c_str(), out.c_str()).status, 999);
        CHECK_EQ(Call(decode, in.c_str(), out.c_str()).status, 999);
        CHECK(ReadFile(out) == ExpectedOneBlockWav());
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((scratch + L".twice*").c_str(), &found);
        CHECK(search == INVALID_HANDLE_VALUE);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
        }
    }
}

// Inputs refused: a size not of whole blocks, no block, no path, and a size
// past 4 GiB measured whole.
void CheckRefusals(BRRDecodeFunction decode)
{
    {
        const std::wstring in = scratch + L"ten.brr";
        WriteFile(in, Bytes(10, 0));
        const Console c = Call(decode, in.c_str(), (scratch + L"ten.wav").c_str());
        CHECK_EQ(c.status, 1);
        CheckText(c.out, "", __LINE__);
        CheckText(c.err, "Error : Size of BRR file " + Narrow(in) + " isn't a multiple of 9 bytes.\n",
                  __LINE__);
        CHECK(!Exists(scratch + L"ten.wav"));
    }
    {
        const std::wstring in = scratch + L"empty.brr";
        WriteFile(in, {});
        const Console c = Call(decode, in.c_str(), (scratch + L"empty.wav").c_str());
        CHECK_EQ(c.status, 2);
        CheckText(c.out, "Number of BRR blocks to decode : 0.\n", __LINE__);
        CheckText(c.err, "Error : Loop position is out of range\n", __LINE__);
        CHECK(!Exists(scratch + L"empty.wav"));
    }
    {
        const Console c = Call(decode, nullptr, (scratch + L"null.wav").c_str());
        CHECK_EQ(c.status, 7);
        CheckText(c.err, "Error : Missing file path.\n", __LINE__);
    }
    {
        // Sizes past 4 GiB are measured whole: 2^32 + 1 blocks, a sparse file.
        const std::wstring in = scratch + L"huge.brr";
        const int fd = _wopen(in.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                              _S_IREAD | _S_IWRITE);
        CHECK(fd >= 0 && _chsize_s(fd, 9ll * 0x100000001ll) == 0);
        _close(fd);
        const Console c = Call(decode, in.c_str(), (scratch + L"huge.wav").c_str());
        CHECK_EQ(c.status, 3);
        CheckText(c.out, "Number of BRR blocks to decode : 4294967297.\n", __LINE__);
        CheckText(c.err, "Error : BRR file " + Narrow(in) + " is too large to convert.\n", __LINE__);
        CHECK(!Exists(scratch + L"huge.wav"));
        DeleteFileW(in.c_str());
    }
}

// The file named is the file opened: characters the ANSI code page lacks are
// neither replaced by look-alikes nor lost, and long paths work.
void CheckWidePaths(BRRDecodeFunction decode)
{
    {
        const std::wstring in = scratch + L"\u0100bc2.brr";
        const std::wstring out = scratch + L"\u0100-out.wav";
        WriteFile(in, kOneBlock);
        const Console c = Call(decode, in.c_str(), out.c_str());
        CHECK_EQ(c.status, 999);
        CheckText(c.out, "Number of BRR blocks to decode : 1.\nDone !\n", __LINE__);
        CHECK(ReadFile(out) == ExpectedOneBlockWav());
        CHECK(!Exists(scratch + L"A-out.wav"));
    }
    {
        // The input itself as the output: read before it is truncated.
        const std::wstring both = scratch + L"both.brr";
        WriteFile(both, kOneBlock);
        CHECK_EQ(Call(decode, both.c_str(), both.c_str()).status, 999);
        CHECK(ReadFile(both) == ExpectedOneBlockWav());
    }
    {
        // Full-width dots and backslash name a file inside the jail, never
        // a way out of it.
        const std::wstring jail = scratch + L"jail\\";
        CreateDirectoryW(jail.c_str(), nullptr);
        const std::wstring out = jail + L"\uFF0E\uFF0E\uFF3C" L"escaped.wav";
        Call(decode, (scratch + L"one.brr").c_str(), out.c_str());
        CHECK(!Exists(scratch + L"escaped.wav"));
        CHECK(ReadFile(out) == ExpectedOneBlockWav());
    }
    {
        // A path far past MAX_PATH characters.
        std::wstring dir = scratch;
        for (int i = 0; i < 5; ++i) {
            dir += std::wstring(60, static_cast<wchar_t>(L'a' + i)) + L"\\";
            CreateDirectoryW((L"\\\\?\\" + dir).c_str(), nullptr);
        }
        const std::wstring in = dir + L"in.brr";
        WriteFile(L"\\\\?\\" + in, kOneBlock);
        const Console c = Call(decode, in.c_str(), (dir + L"out.wav").c_str());
        CHECK(in.size() > MAX_PATH);
        CHECK_EQ(c.status, 999);
        CHECK(ReadFile(L"\\\\?\\" + dir + L"out.wav") == ExpectedOneBlockWav());
    }
}

// Runs this program again as a child that calls BRRDecode with the given
// paths, its standard error in a file; returns the child's exit status.
int RunChild(const std::wstring& self, const std::wstring& in, const std::wstring& out,
             std::string& err)
{
    const std::wstring errPath = scratch + L"child_stderr.txt";
    const std::wstring quotedIn = L"\"" + in + L"\"";
    const std::wstring quotedOut = L"\"" + out + L"\"";
    const std::wstring quotedErr = L"\"" + errPath + L"\"";
    const intptr_t status = _wspawnl(_P_WAIT, self.c_str(), L"host", L"--child", quotedIn.c_str(),
                                     quotedOut.c_str(), quotedErr.c_str(), nullptr);
    err = ReadText(errPath);
    return static_cast<int>(status);
}

int ChildMain(BRRDecodeFunction decode, int argc, wchar_t** argv)
{
    if (argc != 5 || _wfreopen(argv[4], L"w", stderr) == nullptr) {
        return 100;
    }
    const std::int32_t status = decode(argv[2], argv[3]);
    return 200 + status;  // not reached when the process is ended
}

}  // namespace

// The paths that end the process, with exit status 1, run in a child.
void CheckEndingPaths(const wchar_t* self)
{
    std::string err;
    const std::wstring missing = scratch + L"missing.brr";
    CHECK_EQ(RunChild(self, missing, scratch + L"x.wav", err), 1);
    CheckText(err, "No such file : " + Narrow(missing) + "\n", __LINE__);
    const std::wstring in = scratch + L"one.brr";
    const std::wstring unwritable = scratch + L"no\\such\\dir\\x.wav";
    CHECK_EQ(RunChild(self, in, unwritable, err), 1);
    CheckText(err, "Can't open file " + Narrow(unwritable) + " for writing.\n", __LINE__);
    // A missing name beside an existing look-alike: the look-alike is not
    // opened, and the message shows what the code page cannot hold as '?'.
    WriteFile(scratch + L"Abc.brr", kOneBlock);
    CHECK_EQ(RunChild(self, scratch + L"\u0100bc.brr", scratch + L"abc-out.wav", err), 1);
    CheckText(err, "No such file : " + Narrow(scratch) + "?bc.brr\n", __LINE__);
    CHECK(!Exists(scratch + L"abc-out.wav"));
}

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    HMODULE module = LoadLibraryW(L"VornishAudioBRRDecoder.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load VornishAudioBRRDecoder.dll\n");
        return 1;
    }
    const auto byName = reinterpret_cast<BRRDecodeFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "BRRDecode")));
    const auto byOrdinal = reinterpret_cast<BRRDecodeFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    if (argc > 1 && std::wcscmp(argv[1], L"--child") == 0) {
        return ChildMain(byName, argc, argv);
    }
    CHECK(byName != nullptr);
    CHECK(byName == byOrdinal);
    CheckMemoryApi(module);
    if (byName == nullptr) {
        std::fprintf(stderr, "BRRDecode not found\n");
        return 1;
    }

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    scratch = std::wstring(temp) + L"brrhost" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(scratch.c_str(), nullptr);

    wchar_t dllPath[MAX_PATH];
    GetModuleFileNameW(module, dllPath, MAX_PATH);
    CheckVersionResource(dllPath);
    CheckConversions(byName);
    CheckRefusals(byName);
    CheckWidePaths(byName);

    CheckEndingPaths(self);

    std::printf("ANSI code page %u\n", GetACP());
    for (const std::string& failure : failures) {
        std::printf("FAILED %s\n", failure.c_str());
    }
    std::printf(failures.empty() ? "windows host: every check held\n" : "windows host: %zu checks failed\n",
                failures.size());
    return failures.empty() ? 0 : 1;
}

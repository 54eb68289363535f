#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

ScratchDir::ScratchDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/brrtest.XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

namespace {

std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Points `fd` at `path` until Restore; keeps the original.
struct Redirect {
    int fd;
    int saved;
    Redirect(int which, int target) : fd(which), saved(::dup(which)) { ::dup2(target, which); }
    ~Redirect()
    {
        ::dup2(saved, fd);
        ::close(saved);
    }
};

int OpenForCapture(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

}  // namespace

Console Capture(const std::function<std::int32_t()>& call)
{
    ScratchDir scratch;
    const std::string outPath = scratch.Path("stdout");
    const std::string errPath = scratch.Path("stderr");
    Console console;
    std::fflush(stdout);
    std::fflush(stderr);
    {
        const int outFd = OpenForCapture(outPath);
        const int errFd = OpenForCapture(errPath);
        Redirect out(1, outFd);
        Redirect err(2, errFd);
        ::close(outFd);
        ::close(errFd);
        console.status = call();
        std::fflush(stdout);
        std::fflush(stderr);
    }
    console.out = ReadText(outPath);
    console.err = ReadText(errPath);
    return console;
}

std::string CaptureInterleaved(const std::function<void()>& call)
{
    ScratchDir scratch;
    const std::string path = scratch.Path("console");
    std::fflush(stdout);
    std::fflush(stderr);
    {
        const int fd = OpenForCapture(path);
        Redirect out(1, fd);
        Redirect err(2, fd);
        ::close(fd);
        // Fully buffered standard output, as when it goes to a pipe or file.
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
        call();
        std::fflush(stdout);
        std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);
    }
    return ReadText(path);
}

namespace {

void PutLE(Bytes& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutTag(Bytes& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

Bytes ExpectedWavHeader(std::uint32_t sampleRate, std::uint32_t blockCount)
{
    Bytes h;
    PutTag(h, "RIFF");
    PutLE(h, blockCount * 32 + 36, 4);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    PutLE(h, 16, 4);
    PutLE(h, 1, 2);
    PutLE(h, 1, 2);
    PutLE(h, sampleRate, 4);
    PutLE(h, sampleRate * 2, 4);
    PutLE(h, 2, 2);
    PutLE(h, 16, 2);
    PutTag(h, "data");
    PutLE(h, blockCount * 32, 4);
    return h;
}

Bytes ExpectedWav(std::uint32_t sampleRate, const Samples& samples)
{
    Bytes wav = ExpectedWavHeader(sampleRate, static_cast<std::uint32_t>(samples.size() / 16));
    for (const std::int16_t s : samples) {
        PutLE(wav, static_cast<std::uint16_t>(s), 2);
    }
    return wav;
}

Samples WavSamples(const Bytes& wav)
{
    Samples samples;
    for (std::size_t i = 44; i + 1 < wav.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(wav[i] | (wav[i + 1] << 8)));
    }
    return samples;
}

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        std::uint32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3Fu);
        }
        wide += static_cast<wchar_t>(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return wide;
}

Bytes RandomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator() >> 24);
    }
    return bytes;
}

}  // namespace testsupport

// Helpers shared by the tests: scratch files, console capture, WAV building
// and parsing.
#ifndef VORNISH_TEST_SUPPORT_H
#define VORNISH_TEST_SUPPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reference_decoder.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

// A fresh directory for one test, removed with everything in it at the end.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// What a call printed, each stream captured at the file-descriptor level.
struct Console {
    std::int32_t status = 0;
    std::string out;
    std::string err;
};
Console Capture(const std::function<std::int32_t()>& call);
// Both streams into one file, to check the order in which lines arrive.
std::string CaptureInterleaved(const std::function<void()>& call);

// The 44-byte header a 16-bit mono PCM WAV of `blockCount` blocks must have,
// built field by field.
Bytes ExpectedWavHeader(std::uint32_t sampleRate, std::uint32_t blockCount);
Bytes ExpectedWav(std::uint32_t sampleRate, const Samples& samples);
// The little-endian samples following a 44-byte header.
Samples WavSamples(const Bytes& wav);

// The plain decoder the library's output is held to.
using ReferenceDecoder = reference::Decoder;

// The wide form of a UTF-8 string (wchar_t holds UTF-32 here), whatever the
// locale.
std::wstring Wide(const std::string& utf8);

// A deterministic pseudo-random byte stream.
Bytes RandomBytes(std::size_t count, std::uint32_t seed);

}  // namespace testsupport

#endif

// Reading an input: any file libsndfile reads, in any sample format, mixed
// to one channel (or one chosen), with the loop its metadata gives (a WAV
// 'smpl' loop, AIFF markers: libsndfile's instrument data, END exclusive).
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "brrencode.h"
#include "host.h"

namespace brrencode {
namespace {

// libsndfile gives PCM of any width as -1..1 (and float data as it is).
constexpr double kFullScale = 32768.0;
// Float data beyond twice full scale (infinities among it) is held there: it
// saturates all the same, and resampling or the boost stays finite.
constexpr double kHeld = 2.0;

// A channel's value held to +-kHeld; NaN is counted in `nan` and read as 0.
double Held(double value, std::uint64_t& nan)
{
    if (std::isnan(value)) {
        ++nan;
        return 0.0;
    }
    return std::clamp(value, -kHeld, kHeld);
}

bool ReadFrames(SNDFILE* file, const SF_INFO& info, const Options& options, Signal& signal, std::uint64_t& nan)
{
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<double> frames(4096 * channels);
    for (;;) {
        const sf_count_t n = sf_readf_double(file, frames.data(), 4096);
        if (n <= 0) {
            return sf_error(file) == SF_ERR_NO_ERROR;
        }
        for (sf_count_t i = 0; i < n; ++i) {
            const double* frame = &frames[static_cast<std::size_t>(i) * channels];
            double value = 0;
            if (options.channel > 0) {
                value = Held(frame[options.channel - 1], nan);
            } else {
                for (std::size_t c = 0; c < channels; ++c) {
                    value += Held(frame[c], nan);
                }
                value /= static_cast<double>(channels);
            }
            signal.samples.push_back(value * kFullScale);
        }
    }
}

// The loop and root note of a WAV 'smpl' chunk or of AIFF's INST and
// markers, as libsndfile's instrument data gives them.
void ReadInstrument(SNDFILE* file, const std::string& name, bool loop, Signal& signal)
{
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE) {
        return;
    }
    if (instrument.basenote >= 0) {
        signal.rootNote = instrument.basenote + instrument.detune / 100.0;
    }
    if (!loop || instrument.loop_count < 1) {
        return;
    }
    const std::int64_t start = instrument.loops[0].start;
    const std::int64_t end = instrument.loops[0].end;
    if (start < end && end <= static_cast<std::int64_t>(signal.samples.size())) {
        signal.loopStart = start;
        signal.loopEnd = end;
    } else {
        PrintError("Warning : %s has a loop (%" PRId64 " to %" PRId64 ") outside its %zu samples; ignored.\n",
                   name.c_str(), start, end, signal.samples.size());
    }
}

// A header that promises more sample data than the file holds: libsndfile
// reads what is there and says so only in its log ("data : 16000 (should be
// 7956)"), so the warning comes from there, as sox warns of an early end.
void WarnIfCut(SNDFILE* file, const std::string& name)
{
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log - 1);
    for (const char* tag : {"\ndata : ", "\n SSND : ", "\nSSND : "}) {
        const char* at = std::strstr(log, tag);
        unsigned long long promised = 0;
        unsigned long long held = 0;
        if (at != nullptr && std::sscanf(at + std::strlen(tag), "%llu (should be %llu)", &promised, &held) == 2 &&
            promised > held) {
            PrintError("Warning : %s ends early: its header promises %llu bytes of samples, the file holds %llu.\n",
                       name.c_str(), promised, held);
            return;
        }
    }
}

// The Windows build's libsndfile has no external codecs: the name of a
// format it lacks, from the first bytes, else null.
const char* LackedFormat(int descriptor)
{
#if VORNISH_SNDFILE_BUILTIN_FORMATS
    unsigned char magic[4] = {};
    const bool read = host::ReadSome(descriptor, magic, sizeof magic) == sizeof magic;
    if (!host::Rewind(descriptor) || !read) {
        return nullptr;
    }
    return std::memcmp(magic, "fLaC", 4) == 0   ? "FLAC"
           : std::memcmp(magic, "OggS", 4) == 0 ? "Ogg"
           : std::memcmp(magic, "ID3", 3) == 0 || (magic[0] == 0xFF && (magic[1] & 0xE0) == 0xE0) ? "MP3"
                                                                                                : nullptr;
#else
    (void)descriptor;
    return nullptr;
#endif
}

// libsndfile closes a descriptor it fails to open on some systems: it is
// given one of its own.
SNDFILE* Open(int descriptor, const std::string& name, SF_INFO& info)
{
    if (const char* format = LackedFormat(descriptor)) {
        PrintFailure(name, (std::string("is ") + format +
                            " audio, which this Windows build does not read; convert it to WAV first").c_str());
        return nullptr;
    }
    const int own = host::Duplicate(descriptor);
    if (own < 0) {
        PrintFailure(name, std::strerror(errno));
        return nullptr;
    }
    SNDFILE* file = sf_open_fd(own, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        PrintFailure(name, HasExtension(name, "brr") ? "is a BRR block file, not audio; brrdecode decodes it"
                                                 : sf_strerror(nullptr));
    }
    return file;
}

// --loop, in samples of the input (seconds at its rate); false after the error line.
bool TakeLoop(const Options& options, const std::string& name, Signal& signal)
{
    const auto samples = [&](double v, bool seconds) {
        return static_cast<std::int64_t>(seconds ? std::llround(v * signal.rate) : static_cast<long long>(v));
    };
    const std::int64_t start = samples(options.loopStart, options.loopStartSeconds);
    const std::int64_t end = samples(options.loopEnd, options.loopEndSeconds);
    if (end <= start || end > static_cast<std::int64_t>(signal.samples.size())) {
        PrintError("Error : Loop %" PRId64 ":%" PRId64 " is %s %s (%zu samples).\n", start, end,
                   end <= start ? "empty in" : "outside", name.c_str(), signal.samples.size());
        return false;
    }
    signal.loopStart = start;
    signal.loopEnd = end;
    return true;
}

}  // namespace

bool ReadSignal(int descriptor, const std::string& name, const Options& options, Signal& signal)
{
    SF_INFO info{};
    SNDFILE* file = Open(descriptor, name, info);
    if (file == nullptr) {
        return false;
    }
    WarnIfCut(file, name);
    bool ok = false;
    std::uint64_t nan = 0;
    if (options.channel > static_cast<std::uint32_t>(info.channels)) {
        PrintFailure(name, ("has " + std::to_string(info.channels) + " channel(s); there is no channel " +
                            std::to_string(options.channel)).c_str());
    } else {
        try {
            ok = ReadFrames(file, info, options, signal, nan);
            if (!ok) {
                PrintFailure(name, sf_strerror(file));
            }
            if (ok && nan > 0) {
                PrintFailure(name, ("has " + std::to_string(nan) + " samples that are not numbers (NaN)").c_str());
                ok = false;
            }
        } catch (const std::bad_alloc&) {
            PrintError("Error : Not enough memory to read %s.\n", name.c_str());
        }
    }
    signal.rate = info.samplerate;
    if (ok) {
        ReadInstrument(file, name, !options.noLoop, signal);
    }
    sf_close(file);
    if (ok && signal.samples.empty()) {
        PrintError("Error : %s holds no sample.\n", name.c_str());
        return false;
    }
    signal.beyond = static_cast<std::uint64_t>(std::count_if(signal.samples.begin(), signal.samples.end(), [](double v) {
        const double r = std::round(v);
        return r > 32767.0 || r < -32768.0;
    }));
    return ok && (options.loopStart < 0 || TakeLoop(options, name, signal));
}

}  // namespace brrencode

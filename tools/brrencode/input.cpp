// Reading an input: any file libsndfile reads, in any sample format, mixed
// to one channel (or one chosen), with the loop its metadata gives (a WAV
// 'smpl' loop, AIFF markers: libsndfile's instrument data, END exclusive).
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "brrencode.h"
#include "host.h"

namespace brrencode {
namespace {

bool ReadFrames(SNDFILE* file, const SF_INFO& info, const Options& options, Signal& signal, BRRMonoResult& counts)
{
    // libsndfile gives PCM of any width as -1..1 (and float data as it is);
    // the shaping library mixes it into 16-bit units.
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<double> frames(4096 * channels);
    for (;;) {
        const sf_count_t n = sf_readf_double(file, frames.data(), 4096);
        if (n <= 0) {
            return sf_error(file) == SF_ERR_NO_ERROR;
        }
        const std::size_t at = signal.samples.size();
        signal.samples.resize(at + static_cast<std::size_t>(n));
        BRRMonoResult chunk;
        BRRToMono(frames.data(), static_cast<std::size_t>(n), static_cast<std::uint32_t>(channels), BRR_SAMPLE_FLOAT64,
                  options.channel, signal.samples.data() + at, &chunk);
        counts.beyond += chunk.beyond;
        counts.notNumbers += chunk.notNumbers;
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

// --loop auto: the loop found, or none where the sound does not sustain.
bool FindLoop(const std::string& name, Signal& signal)
{
    BRRFoundLoop found;
    const int status = BRRFindLoop(signal.samples.data(), signal.samples.size(), signal.rate, &found);
    if (status != BRR_OK) {
        PrintError("Error : No loop can be looked for in %s: %s.\n", name.c_str(), BRRStatusText(status));
        return false;
    }
    signal.loopStart = found.start;
    signal.loopEnd = found.end;
    signal.loopFound = found.verdict == BRR_LOOP_FOUND;
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
    BRRMonoResult counts{};
    if (options.channel > static_cast<std::uint32_t>(info.channels)) {
        PrintFailure(name, ("has " + std::to_string(info.channels) + " channel(s); there is no channel " +
                            std::to_string(options.channel)).c_str());
    } else {
        try {
            ok = ReadFrames(file, info, options, signal, counts);
            if (!ok) {
                PrintFailure(name, sf_strerror(file));
            }
            if (ok && counts.notNumbers > 0) {
                PrintFailure(name, ("has " + std::to_string(counts.notNumbers) + " samples that are not numbers (NaN)").c_str());
                ok = false;
            }
        } catch (const std::bad_alloc&) {
            PrintError("Error : Not enough memory to read %s.\n", name.c_str());
        }
    }
    signal.rate = info.samplerate;
    if (ok) {
        ReadInstrument(file, name, !options.noLoop && !options.loopAuto, signal);
    }
    sf_close(file);
    if (ok && signal.samples.empty()) {
        PrintError("Error : %s holds no sample.\n", name.c_str());
        return false;
    }
    signal.beyond = counts.beyond;
    return ok && (options.loopStart < 0 || TakeLoop(options, name, signal)) && (!options.loopAuto || FindLoop(name, signal));
}

}  // namespace brrencode

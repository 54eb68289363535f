// The page's audio: a file in memory read with libsndfile (as brrencode
// reads one), and encoded as brrencode encodes it, through the shaping
// library and the encoder.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VornishAudioBRRShape.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    sf_count_t size;
    sf_count_t at;
};

sf_count_t Length(void* m) { return static_cast<Memory*>(m)->size; }
sf_count_t Tell(void* m) { return static_cast<Memory*>(m)->at; }
sf_count_t Seek(sf_count_t offset, int whence, void* context)
{
    auto* m = static_cast<Memory*>(context);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->size;
    m->at = std::clamp<sf_count_t>(base + offset, 0, m->size);
    return m->at;
}
sf_count_t Read(void* out, sf_count_t count, void* context)
{
    auto* m = static_cast<Memory*>(context);
    const sf_count_t n = std::min(count, m->size - m->at);
    std::memcpy(out, m->data + m->at, static_cast<std::size_t>(n));
    m->at += n;
    return n;
}
sf_count_t Write(const void*, sf_count_t, void*) { return 0; }

}  // namespace

extern "C" {

// Reads audio bytes into one channel of 16-bit units (BRRToMono: the mean
// of the channels, or `channel` alone), a malloc'd array the page frees,
// with the file's rate, its loop (WAV smpl, AIFF INST; -1 when none) and
// its samples beyond full scale. On failure, *error holds libsndfile's
// reason (256 bytes) and the status is BRR_STATUS_READ_ERROR.
int VornishReadAudio(const std::uint8_t* data, std::size_t size, std::uint32_t channel, double** samples,
                     std::size_t* count, double* facts, char* error)
{
    Memory m{data, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &m);
    if (file == nullptr) {
        std::snprintf(error, 256, "%s", sf_strerror(nullptr));
        return BRR_STATUS_READ_ERROR;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<double> frames(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_double(file, frames.data(), info.frames);
    std::vector<double> mono(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
    BRRMonoResult counts{};
    int status = BRRToMono(frames.data(), mono.size(), static_cast<std::uint32_t>(channels), BRR_SAMPLE_FLOAT64,
                           channel, mono.data(), &counts);
    SF_INSTRUMENT instrument{};
    const bool named = sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE;
    facts[0] = info.samplerate;
    facts[1] = named && instrument.loop_count > 0 ? instrument.loops[0].start : -1;
    facts[2] = named && instrument.loop_count > 0 ? instrument.loops[0].end : -1;
    facts[3] = static_cast<double>(counts.beyond);
    facts[4] = static_cast<double>(counts.notNumbers);
    facts[5] = static_cast<double>(channels);
    sf_close(file);
    if (status != BRR_OK) {
        return status;
    }
    *count = mono.size();
    *samples = static_cast<double*>(std::malloc(sizeof(double) * (mono.size() + 1)));
    if (*samples == nullptr) {
        return BRR_STATUS_NO_MEMORY;
    }
    std::memcpy(*samples, mono.data(), sizeof(double) * mono.size());
    return BRR_OK;
}

}  // extern "C"

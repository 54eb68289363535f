// The listing: a line per find, or a JSON object per line, and a dump's
// header before its finds.
#include <cinttypes>
#include <cstdio>

#include "brrscan.h"

namespace brrscan {
namespace {

// The length of the well-formed UTF-8 sequence at text[i] (0: none there).
std::size_t Utf8Length(const std::string& text, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = at(i);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong form, no surrogate, nothing past U+10FFFF.
    const unsigned second = length > 1 ? at(i + 1) : 0x80;
    const bool bad = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                     (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F);
    return bad ? 0 : length;
}

// A string as JSON writes it. A byte that is not part of well-formed UTF-8
// (a file name in another encoding) is written as \u00XX, its Latin-1 reading.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(text, i);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += text[i];
        } else if (u < 0x20 || length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

void PrintVoice(const Place& place)
{
    const BRRVoice& v = place.voiceState;
    std::printf(", \"voice\": %d, \"pitch\": %d, \"rate\": %d, \"envelope\": {\"adsr\": [%u, %u], \"gain\": %u}",
                place.voice, v.pitch, v.rate, v.adsr[0], v.adsr[1], v.gain);
}

}  // namespace

std::string JsonString(const std::string& text) { return Quoted(text); }

void List(const Options& options, const Place& place, const std::vector<Place>* places)
{
    const BRRFound& f = place.found;
    const bool directory = f.foundBy == BRR_FOUND_BY_DIRECTORY;
    if (options.json) {
        std::printf("{\"image\": %s, \"offset\": %" PRIu64 ", \"blocks\": %" PRIu64 ", \"loop\": ",
                    Quoted(place.image).c_str(), f.offset, f.blocks);
        f.loopBlock >= 0 ? std::printf("%" PRId64, f.loopBlock) : std::printf("null");
        std::printf(", \"score\": %.4f, \"found_by\": \"%s\", \"directory\": ", f.score, directory ? "directory" : "scan");
        directory ? std::printf("%d, \"entry\": %d", f.entry, f.entryNumber) : std::printf("null, \"entry\": null");
        if (place.voice >= 0) {
            PrintVoice(place);
        }
        if (places != nullptr) {
            std::printf(", \"places\": [");
            for (std::size_t i = 0; i < places->size(); ++i) {
                std::printf("%s{\"image\": %s, \"offset\": %" PRIu64 "}", i > 0 ? ", " : "",
                            Quoted((*places)[i].image).c_str(), (*places)[i].found.offset);
            }
            std::printf("]");
        }
        std::printf("}\n");
        return;
    }
    char loop[24] = "-";
    if (f.loopBlock >= 0) {
        std::snprintf(loop, sizeof loop, "%" PRId64, f.loopBlock);
    }
    char by[48] = "scan";
    if (directory) {
        std::snprintf(by, sizeof by, "directory 0x%04x", static_cast<unsigned>(f.entry));
    }
    const bool more = places != nullptr || options.batch;
    std::printf("0x%06" PRIx64 "  %7" PRIu64 "  %7s  %4.2f  %-*s", f.offset, f.blocks, loop, f.score, more ? 16 : 0, by);
    if (directory) {
        std::printf("  entry %d", f.entryNumber);
    }
    if (place.voice >= 0) {
        std::printf("  voice %d pitch 0x%04x %d Hz", place.voice, static_cast<unsigned>(place.voiceState.pitch),
                    place.voiceState.rate);
    }
    if (places != nullptr) {
        for (const Place& p : *places) {
            std::printf("  %s@0x%06" PRIx64, p.image.c_str(), p.found.offset);
        }
    } else if (options.batch) {
        std::printf("  %s", place.image.c_str());
    }
    std::printf("\n");
}

}  // namespace brrscan

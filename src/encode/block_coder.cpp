#include "encode/block_coder.h"

namespace vornish::encode {

namespace {

std::uint8_t Header(int filter, int range)
{
    return static_cast<std::uint8_t>((range << 4) | (filter << 2));
}

std::uint64_t Nibble(std::int32_t code, int k)
{
    return static_cast<std::uint64_t>(code & 15) << (4 * k);
}

struct Path {
    History h;
    std::uint64_t error;
    std::uint64_t codes;
};

constexpr int kMaxWidth = 16;

// Adds a path to the kept set (sorted by error, at most width): a path to a
// history already kept replaces it only when better.
void Keep(Path* kept, int& count, int width, const Path& path)
{
    for (int i = 0; i < count; ++i) {
        if (kept[i].h.p1 == path.h.p1 && kept[i].h.p2 == path.h.p2) {
            if (path.error >= kept[i].error) {
                return;
            }
            for (int j = i; j + 1 < count; ++j) {
                kept[j] = kept[j + 1];
            }
            --count;
            break;
        }
    }
    if (count == width && path.error >= kept[count - 1].error) {
        return;
    }
    int i = count < width ? count++ : count - 1;
    for (; i > 0 && kept[i - 1].error > path.error; --i) {
        kept[i] = kept[i - 1];
    }
    kept[i] = path;
}

}  // namespace

bool NearestBlock(const std::int32_t* targets, History start, int filter, int range,
                  const DecodeRules& rules, std::uint64_t bound, Coded& out)
{
    History h = start;
    std::uint64_t error = 0;
    std::uint64_t codes = 0;
    for (int k = 0; k < kCodesPerBlock; ++k) {
        std::int32_t code = 0;
        std::int32_t x = 0;
        if (!Nearest(Predict(filter, h.p1, h.p2, rules.hardware), targets[k], range, rules, code, x)) {
            return false;
        }
        error += Squared(x, targets[k]);
        // bound is the best error so far less one. Every coding of one block
        // has an error congruent to sum(t^2) mod 4 ((2x - t)^2 = t^2 mod 4),
        // so none can end at exactly the bound: '>' and '>=' choose alike.
        if (error > bound) {
            return false;
        }
        codes |= Nibble(code, k);
        h.p2 = h.p1;
        h.p1 = x;
    }
    out = Coded{Header(filter, range), codes, h, error};
    return true;
}

bool TrellisBlock(const std::int32_t* targets, History start, int filter, int range,
                  const DecodeRules& rules, int width, int span, Coded* out, int& found)
{
    width = width > kMaxWidth ? kMaxWidth : width;
    Path paths[kMaxWidth];
    Path next[kMaxWidth];
    int count = 1;
    paths[0] = Path{start, 0, 0};
    for (int k = 0; k < kCodesPerBlock; ++k) {
        int kept = 0;
        for (int i = 0; i < count; ++i) {
            const Path& p = paths[i];
            const std::int32_t prediction = Predict(filter, p.h.p1, p.h.p2, rules.hardware);
            std::int32_t code = 0;
            std::int32_t x = 0;
            if (!Nearest(prediction, targets[k], range, rules, code, x)) {
                continue;
            }
            for (std::int32_t c = code - span; c <= code + span; ++c) {
                if (c < -8 || c > 7) {
                    continue;
                }
                const std::int32_t v = c == code ? x : Decoded(c, range, prediction);
                if (v < rules.lo || v > rules.hi) {
                    continue;
                }
                Keep(next, kept, width, Path{{v, p.h.p1}, p.error + Squared(v, targets[k]),
                                             p.codes | Nibble(c, k)});
            }
        }
        if (kept == 0) {
            return false;
        }
        for (int i = 0; i < kept; ++i) {
            paths[i] = next[i];
        }
        count = kept;
    }
    found = found < count ? found : count;
    for (int i = 0; i < found; ++i) {
        out[i] = Coded{Header(filter, range), paths[i].codes, paths[i].h, paths[i].error};
    }
    return true;
}

}  // namespace vornish::encode

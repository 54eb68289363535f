// BRREncode: a beam search over blocks.
//
// Each survivor (a "candidate") is a decoder history with its squared error
// so far and its last kLag blocks. Every block, each candidate is extended:
//
//   fast     every filter and range, nearest codes; the least error wins.
//            One candidate: the usual per-block search.
//   default  the best few filter/range pairs by nearest codes, each also
//   best     refined by a trellis over the codes (its two best paths); the
//            best children by total error survive, one per history.
//
// All candidates advance together, so a block kLag blocks back is committed
// from the best candidate once it is that old, and candidates that disagree
// with it are dropped: the memory stays about 36 KB however long the
// input.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "encode/block_coder.h"
#include "encode/encoder.h"

namespace vornish::encode {
namespace {

struct Effort {
    int beams;    // candidates kept from block to block
    int configs;  // filter/range pairs refined per candidate (0: none)
    int width;    // trellis paths per pair
    int lag;      // blocks held before committing
    int span;     // codes tried on either side of the nearest
};

constexpr Effort kEfforts[3] = {{1, 0, 0, 1, 0}, {4, 4, 4, 16, 1}, {16, 8, 8, 32, 1}};
constexpr int kMaxBeams = 16;
constexpr int kMaxLag = 32;
constexpr int kMaxPairs = 8;
constexpr int kPaths = 2;  // trellis paths kept per pair
constexpr int kMaxChildren = kMaxBeams * kMaxPairs * (1 + kPaths);  // each pair: nearest, trellis
constexpr std::uint64_t kNone = ~std::uint64_t{0};
constexpr std::uint64_t kProgressBlocks = 1024;  // a tenth of a second at the best effort

struct Block {
    std::uint8_t header;
    std::uint64_t codes;
};

struct Beam {
    History h;
    std::uint64_t error;
    Block ring[kMaxLag];
};

struct Child {
    int parent;
    Coded coded;
    std::uint64_t total;
};

struct Search {
    const std::int16_t* pcm;
    std::size_t count;
    DecodeRules rules;
    Effort effort;
    std::int64_t loopBlock;
    bool reset;
    BRRProgressFunction progress;
    void* progressContext;
    Beam beams[kMaxBeams];
    Beam spare[kMaxBeams];
    int live;
};

void Targets(const Search& s, std::uint64_t block, std::int32_t* t)
{
    for (int k = 0; k < kCodesPerBlock; ++k) {
        const std::uint64_t i = block * kCodesPerBlock + static_cast<std::uint64_t>(k);
        t[k] = i < s.count ? s.pcm[i] : 0;
    }
}

// The best few pairs by nearest codes, best first, into top (at most n).
int TopPairs(const Search& s, const std::int32_t* t, History h, int filters, int n, Coded* top)
{
    int kept = 0;
    for (int f = 0; f < filters; ++f) {
        for (int r = 0; r < kRanges; ++r) {
            Coded c{};
            const std::uint64_t bound = kept == n ? top[n - 1].error - 1 : kNone;
            if (kept > 0 && top[0].error == 0) {
                return kept;  // nothing beats an exact block
            }
            if (!NearestBlock(t, h, f, r, s.rules, bound, c)) {
                continue;
            }
            int i = kept < n ? kept++ : n - 1;
            for (; i > 0 && top[i - 1].error > c.error; --i) {
                top[i] = top[i - 1];
            }
            top[i] = c;
        }
    }
    return kept;
}

int Expand(const Search& s, const std::int32_t* t, int filters, Child* children)
{
    int n = 0;
    const int pairs = s.effort.configs == 0 ? 1 : s.effort.configs;
    for (int b = 0; b < s.live; ++b) {
        const Beam& c = s.beams[b];
        Coded top[kMaxPairs];
        const int found = TopPairs(s, t, c.h, filters, pairs, top);
        for (int i = 0; i < found; ++i) {
            children[n++] = Child{b, top[i], c.error + top[i].error};
            Coded refined[kPaths];
            int paths = kPaths;
            const int filter = (top[i].header >> 2) & 3;
            const int range = top[i].header >> 4;
            if (s.effort.width > 0 && top[i].error > 0 &&
                TrellisBlock(t, c.h, filter, range, s.rules, s.effort.width, s.effort.span, refined, paths)) {
                for (int k = 0; k < paths; ++k) {
                    children[n++] = Child{b, refined[k], c.error + refined[k].error};
                }
            }
        }
    }
    return n;
}

void Survive(Search& s, Child* children, int n, std::uint64_t block)
{
    std::stable_sort(children, children + n,
                     [](const Child& a, const Child& b) { return a.total < b.total; });
    int kept = 0;
    for (int i = 0; i < n && kept < s.effort.beams; ++i) {
        const History h = children[i].coded.end;
        bool seen = false;
        for (int j = 0; j < kept && !seen; ++j) {
            seen = s.spare[j].h.p1 == h.p1 && s.spare[j].h.p2 == h.p2;
        }
        if (seen) {
            continue;
        }
        Beam& next = s.spare[kept++];
        std::memcpy(next.ring, s.beams[children[i].parent].ring, sizeof next.ring);
        next.h = h;
        next.error = children[i].total;
        next.ring[static_cast<std::size_t>(block % static_cast<std::uint64_t>(s.effort.lag))] =
            Block{children[i].coded.header, children[i].coded.codes};
    }
    std::swap(s.beams, s.spare);
    s.live = kept;
}

void Write(const Block& b, std::uint8_t* out)
{
    out[0] = b.header;
    for (int k = 0; k < 8; ++k) {
        const auto hi = static_cast<std::uint32_t>((b.codes >> (8 * k)) & 15u);
        const auto lo = static_cast<std::uint32_t>((b.codes >> (8 * k + 4)) & 15u);
        out[1 + k] = static_cast<std::uint8_t>((hi << 4) | lo);
    }
}

// Writes block j from the best candidate and drops those that differ there.
void Commit(Search& s, std::uint64_t j, std::uint8_t* blocks)
{
    const auto slot = static_cast<std::size_t>(j % static_cast<std::uint64_t>(s.effort.lag));
    const Block chosen = s.beams[0].ring[slot];
    Write(chosen, blocks + static_cast<std::size_t>(j) * BRR_BLOCK_SIZE);
    int kept = 0;
    for (int i = 0; i < s.live; ++i) {
        const Block& b = s.beams[i].ring[slot];
        if (b.header == chosen.header && b.codes == chosen.codes) {
            if (kept != i) {
                s.beams[kept] = s.beams[i];
            }
            ++kept;
        }
    }
    s.live = kept;
}

}  // namespace

std::uint64_t EncodeBlocks(const Job& job, std::uint64_t blockCount, std::uint8_t* blocks)
{
    Search s{};  // about 17 KB, whatever the count
    s.pcm = job.pcm;
    s.count = job.count;
    s.rules = job.rules;
    s.effort = kEfforts[job.effort];
    s.loopBlock = job.loopBlock;
    s.reset = job.reset;
    s.progress = job.progress;
    s.progressContext = job.progressContext;
    s.beams[0].h = History{0, 0};
    s.beams[0].error = 0;
    s.live = 1;
    const auto lag = static_cast<std::uint64_t>(s.effort.lag);
    Child children[kMaxChildren];
    std::int32_t t[kCodesPerBlock];
    for (std::uint64_t b = 0; b < blockCount; ++b) {
        if (s.progress != nullptr && b % kProgressBlocks == 0) {
            s.progress(s.progressContext, b, blockCount);
        }
        Targets(s, b, t);
        const bool start = b == 0 || static_cast<std::int64_t>(b) == s.loopBlock;
        const int n = Expand(s, t, s.reset && start ? 1 : kFilters, children);
        Survive(s, children, n, b);
        if (b + 1 >= lag) {
            Commit(s, b + 1 - lag, blocks);
        }
    }
    for (std::uint64_t j = blockCount >= lag ? blockCount - lag + 1 : 0; j < blockCount; ++j) {
        Commit(s, j, blocks);
    }
    if (s.progress != nullptr) {
        s.progress(s.progressContext, blockCount, blockCount);
    }
    return s.beams[0].error;
}

}  // namespace vornish::encode

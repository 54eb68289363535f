// One sample into one image: both read whole, the library places it, and
// the new image is written whole or not at all (over IMAGE with --in-place,
// as a replacement that takes its place only when complete).
#include <cinttypes>
#include <memory>

#include "brrinsert.h"
#include "host.h"

namespace brrinsert {
namespace {

constexpr std::uint64_t kLargestInput = std::uint64_t{1} << 32;
const StandardInputRules kImageRules = {"image", kLargestInput, "%s: standard input is too large for an image.\n"};

// A file (or standard input) read whole; ok() false after the error line.
struct Read {
    BRRFile file{};
    int spool = -1;
    const char* arg;
    std::unique_ptr<WholeFile> bytes;

    explicit Read(const char* path) : arg(path)
    {
        if (OpenInput(arg, kImageRules, &file, &spool) >= 0) {
            bytes.reset(new WholeFile(IsStandardStream(arg) ? kStandardInput : arg, file));
        }
    }
    ~Read() { CloseInput(arg, &file, spool); }
    bool ok() const { return bytes != nullptr && bytes->ok(); }
};

std::string Where(const Options& options)
{
    char text[64];
    if (options.insert.entry >= 0) {
        std::snprintf(text, sizeof text, "entry %d's place", options.insert.entry);
    } else {
        std::snprintf(text, sizeof text, "the sample at 0x%" PRIx64, static_cast<std::uint64_t>(options.insert.at));
    }
    return text;
}

// The refusal, with what it needed and had, and what to do about it.
void Refuse(const Options& options, int status, const BRRInsertResult& r)
{
    const bool entry = options.insert.entry >= 0;
    std::string why = BRRStatusText(status);
    if (status == BRR_STATUS_NO_ROOM) {
        why = "needs " + std::to_string(r.bytes) + " bytes; " + Where(options) + " holds " + std::to_string(r.room);
        if (entry && r.sharedEntries > 0) {
            why += " (its bytes are shared with " + std::to_string(r.sharedEntries) + " other entries)";
        }
        why += entry ? " (name free space with --free START:END" : " (";
        why += r.room > 0 ? std::string(entry ? ", or " : "") + "encode to fit: brrencode --max-bytes " + std::to_string(r.room) + ")"
                          : ")";
    } else if (status >= BRR_STATUS_OVERLAPS_DIRECTORY && status <= BRR_STATUS_OVERLAPS_ECHO) {
        why += " (the first --free range large enough; nothing written)";
    } else if (status == BRR_STATUS_NO_END_BLOCK && options.insert.at >= 0) {
        why = "the sample's last block has no end flag, or no block from the offset on has one";
    }
    PrintFailure(status == BRR_STATUS_NO_SUCH_ENTRY || status >= BRR_STATUS_OVERLAPS_DIRECTORY ? options.image : options.sample,
                 why.c_str());
}

void Report(const Options& options, const BRRInsertResult& r)
{
    const char* verb = options.dryRun ? "Would place" : "Placed";
    char loop[48] = "no loop";
    if (r.loopBlock >= 0) {
        std::snprintf(loop, sizeof loop, "loop block %" PRId64, r.loopBlock);
    }
    if (options.insert.entry >= 0) {
        PrintTo(options.progress, "%s : entry %d at 0x%04" PRIx64 " (%s), loop address 0x%04" PRIx64 " (%s).\n", verb,
                options.insert.entry, static_cast<std::uint64_t>(r.start),
                r.freeRange < 0 ? "its old place" : "free range", static_cast<std::uint64_t>(r.loopAddress), loop);
    } else {
        PrintTo(options.progress, "%s : at offset 0x%" PRIx64 ", %s.\n", verb, r.offset, loop);
        PrintTo(options.progress, "Note : a loop offset that the image's program keeps elsewhere is not changed.\n");
    }
    PrintTo(options.progress, "Size : %" PRIu64 " bytes; room %" PRIu64 " bytes.\n", r.bytes, r.room);
    if (r.sharedEntries > 0) {
        PrintTo(options.progress, "Note : %d other entries still use the old sample at 0x%" PRIx64 "; it is left as it was.\n",
                r.sharedEntries, r.oldOffset);
    }
}

bool Write(const Options& options, const Read& image, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = options.inPlace ? options.image : options.output;
    const Names names = NamesFor(options.image, path);
    BRRFile output;
    if (options.inPlace) {
        const int error = BRRFileOpenOutput(&output, path.c_str(), host::WidePath(path.c_str()).get(), 0);
        if (error != 0) {
            PrintFailure(path, BRRFileErrorText(error));
            return false;
        }
    } else if (!OpenOutput(options.force, names, image.file, "image", &output)) {
        return false;
    }
    return WriteAndPlace(&output, !names.toStandardOutput, names.output, bytes.data(), bytes.size());
}

}  // namespace

bool InsertOne(const Options& options)
{
    const Read image(options.image);
    if (!image.ok()) {
        return false;
    }
    const Read sample(options.sample);
    if (!sample.ok()) {
        return false;
    }
    std::vector<std::uint8_t> bytes(image.bytes->data(), image.bytes->data() + image.bytes->size());
    BRRInsertOptions o = options.insert;
    o.freeCount = static_cast<std::int32_t>(options.free.size());
    o.free = options.free.data();
    BRRInsertResult r{};
    const int status = BRRInsert(bytes.data(), bytes.size(), sample.bytes->data(),
                                 static_cast<std::size_t>(sample.bytes->size()), &o, &r);
    if (status != BRR_OK) {
        Refuse(options, status, r);
        return false;
    }
    if (r.loopFlagWithoutHeader != 0 && o.entry >= 0) {
        PrintError("%s: %s: warning: the sample loops but has no loop header; entry %d's loop address is its start\n",
                   programName, options.sample, o.entry);
    }
    Report(options, r);
    return options.dryRun || Write(options, image, bytes);
}

}  // namespace brrinsert

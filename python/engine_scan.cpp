// The engine's scan and encode: BRRScan's finds as Found objects, and
// BRREncode and BRRLoopSeam on a native int16 array.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "engine.h"

namespace engine {
namespace {

int Effort(const std::string& name)
{
    const int effort = BRREffortByName(name.c_str());
    if (effort < 0) {
        throw py::value_error("effort must be 'fast', 'default' or 'best'");
    }
    return effort;
}

// pcm: a one-dimensional C-contiguous native int16 array (the package
// turns what it accepts into one).
py::bytes Encode(const py::array_t<std::int16_t, py::array::c_style>& pcm, std::optional<std::int64_t> loopStart,
                 const std::string& effort, const std::string& rules, bool resetFilter, bool safeRange,
                 bool loopHeader)
{
    if (pcm.ndim() != 1) {
        throw py::value_error("pcm must be one-dimensional: mono samples");
    }
    BRREncodeOptions options;
    BRREncodeOptionsInit(&options);
    options.loopStart = loopStart.value_or(BRR_NO_LOOP_START);
    options.effort = Effort(effort);
    options.rules = Rules(rules);
    options.resetFilter = resetFilter ? 1 : 0;
    options.safeRange = safeRange ? 1 : 0;
    options.loopHeader = loopHeader ? 1 : 0;
    const auto count = static_cast<std::size_t>(pcm.size());
    std::vector<std::uint8_t> blocks(
        static_cast<std::size_t>(loopHeader ? BRR_ENCODED_FILE_SIZE(count) : BRR_ENCODED_SIZE(count)));
    int status = BRR_OK;
    {
        py::gil_scoped_release release;
        status = BRREncode(pcm.data(), count, &options, blocks.data(), blocks.size(), nullptr);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    return py::bytes(reinterpret_cast<const char*>(blocks.data()), blocks.size());
}

// A sample found inside an image, as BRRScan reports it.
struct Found {
    std::uint64_t offset;
    std::uint64_t blocks;
    py::object loop;
    double score;
    std::string foundBy;
    py::object directory;
    py::object entry;

    py::object BlocksView(const py::object& data) const
    {
        py::object view = py::module_::import("builtins").attr("memoryview")(data).attr("cast")("B");
        const auto size = py::len(view);
        if (offset + blocks * BRR_BLOCK_SIZE > size) {
            throw py::value_error("data is not the image this sample was found in: it is too short");
        }
        return view[py::slice(static_cast<py::ssize_t>(offset),
                              static_cast<py::ssize_t>(offset + blocks * BRR_BLOCK_SIZE), 1)];
    }
};

int Collect(void* context, const BRRFound* found)
{
    static_cast<std::vector<BRRFound>*>(context)->push_back(*found);
    return 0;
}

std::vector<Found> Scan(const py::object& input, std::uint64_t minBlocks, double minScore,
                        std::optional<std::int64_t> memoryOffset, std::optional<std::int32_t> directory)
{
    const Bytes data(input);
    BRRScanOptions options;
    BRRScanOptionsInit(&options);
    options.minBlocks = minBlocks;
    options.minScore = minScore;
    options.memoryOffset = memoryOffset ? std::max<std::int64_t>(*memoryOffset, -3) : BRR_SCAN_AUTO;
    options.directory = directory ? std::max<std::int32_t>(*directory, -3) : BRR_SCAN_AUTO;
    std::vector<BRRFound> finds;
    int status;
    {
        py::gil_scoped_release release;
        status = BRRScan(data.data(), data.size(), &options, Collect, &finds);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    std::vector<Found> result;
    for (const BRRFound& f : finds) {
        const bool byDirectory = f.foundBy == BRR_FOUND_BY_DIRECTORY;
        result.push_back(Found{f.offset, f.blocks, OrNone(f.loopBlock >= 0, py::int_(f.loopBlock)), f.score,
                               byDirectory ? "directory" : "scan", OrNone(byDirectory, py::int_(f.entry)),
                               OrNone(f.entryNumber >= 0, py::int_(f.entryNumber))});
    }
    return result;
}

}  // namespace

void DefineScanAndEncode(py::module_& m)
{
    py::class_<Found>(m, "Found", "A sample found inside an image.")
        .def_readonly("offset", &Found::offset, "Where its first block starts in the image.")
        .def_readonly("blocks", &Found::blocks, "Its blocks, through the end block.")
        .def_readonly("loop", &Found::loop, "The loop's first block (known from a directory), or None.")
        .def_readonly("score", &Found::score, "0..1: how surely the blocks are audio.")
        .def_readonly("found_by", &Found::foundBy, "'scan' or 'directory'.")
        .def_readonly("directory", &Found::directory, "The directory entry's address, or None.")
        .def_readonly("entry", &Found::entry, "The directory entry's number (0..255), or None.")
        .def("_blocks_view", &Found::BlocksView, py::arg("data"))
        .def("__repr__", [](const Found& f) {
            return py::str("Found(offset={}, blocks={}, loop={}, score={:.2f}, found_by='{}', directory={}, entry={})")
                .format(f.offset, f.blocks, f.loop, f.score, f.foundBy, f.directory, f.entry);
        });
    m.def("encode", &Encode, py::arg("pcm"), py::kw_only(), py::arg("loop_start") = py::none(),
          py::arg("effort") = "default", py::arg("rules") = "hardware", py::arg("reset_filter") = true,
          py::arg("safe_range") = true, py::arg("loop_header") = false);
    m.def("loop_seam", [](const py::array_t<std::int16_t, py::array::c_style>& pcm, std::size_t loopStart) {
        if (pcm.ndim() != 1) {
            throw py::value_error("pcm must be one-dimensional: mono samples");
        }
        return BRRLoopSeam(pcm.data(), static_cast<std::size_t>(pcm.size()), loopStart);
    }, py::arg("pcm"), py::arg("loop_start"));
    m.def("scan", &Scan, py::arg("data"), py::kw_only(), py::arg("min_blocks") = 4,
          py::arg("min_score") = BRR_DEFAULT_MIN_SCORE, py::arg("memory_offset") = py::none(),
          py::arg("directory") = py::none());
}

}  // namespace engine

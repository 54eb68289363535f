// vornish_brr: the BRR engine for Python, on the public C API alone.
//
// Inputs are taken through the buffer protocol (bytes, bytearray,
// memoryview, numpy uint8 arrays) without copying, and the GIL is released
// while the library decodes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"

namespace engine {

PyObject* errorType = nullptr;
PyObject* optionErrorType = nullptr;

[[noreturn]] void Raise(int status)
{
    const char* text = BRRStatusText(status);
    const bool option = status == BRR_STATUS_BAD_OPTION || status == BRR_STATUS_BAD_LOOP_COUNT ||
                        status == BRR_STATUS_BAD_LOOP_START;
    PyObject* type = option ? optionErrorType : errorType;
    py::object error = py::reinterpret_borrow<py::object>(type)(text);
    error.attr("status") = status;
    error.attr("text") = text;
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

int Rules(const std::string& name)
{
    const int rules = BRRRulesByName(name.c_str());
    if (rules < 0) {
        throw py::value_error("rules must be 'hardware' or 'library'");
    }
    return rules;
}

namespace {

// The keyword options of convert and decode, as brrdecode takes them.
struct Keywords {
    std::uint32_t loops;
    std::uint32_t rate;
    std::optional<std::int64_t> loopStart;
    bool noHeader;
    bool stopAtEnd;
    bool smpl;
    std::string rules;
    std::uint32_t play;
    std::optional<std::int32_t> rootNote;
};

BRRConvertOptions Options(const Keywords& k)
{
    BRRConvertOptions options;
    BRRConvertOptionsInitTool(&options);  // samples as they are found, as brrdecode takes them
    options.loopCount = k.loops;
    options.sampleRate = k.rate;
    options.noHeader = k.noHeader ? 1 : 0;
    options.stopAtEnd = k.stopAtEnd ? 1 : 0;
    options.writeSmpl = k.smpl ? 1 : 0;
    options.rules = Rules(k.rules);
    options.play = k.play;
    if (k.loopStart) {
        if (*k.loopStart < 0) {
            Raise(BRR_STATUS_BAD_LOOP_START);
        }
        options.loopStart = *k.loopStart;
    }
    if (k.rootNote) {
        options.rootNote = *k.rootNote < 0 ? 128 : *k.rootNote;  // a negative note is no note
    }
    return options;
}

// Plans the conversion; raises for an input the options rule out.
BRRConvertResult Plan(const Bytes& data, const BRRConvertOptions& options)
{
    BRRConvertResult plan;
    int status;
    {
        py::gil_scoped_release release;
        status = BRRPlanMemory(data.data(), data.size(), &options, &plan);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    // The warnings brrdecode gives for loops that cannot be what was asked.
    const char* warning = plan.unlooped != 0 ? "the sample does not loop (its end block has no loop flag); "
                                               "loops repeats it whole"
                          : options.loopCount > 1 && plan.loopStart < 0
                              ? "the sample loops but holds no loop start; the whole sample repeats "
                                "(give loop_start, or data with a loop header)"
                              : nullptr;
    if (warning != nullptr && PyErr_WarnEx(PyExc_RuntimeWarning, warning, 2) != 0) {
        throw py::error_already_set();
    }
    return plan;
}

// Copies the WAV bytes in [from, from + size) of the stream into `to`.
struct Window {
    std::uint8_t* to;
    std::uint64_t from;
    std::uint64_t size;
    std::uint64_t at = 0;  // bytes of the stream seen so far
};

int CopyWindow(void* context, const void* bytes, std::size_t size)
{
    auto* w = static_cast<Window*>(context);
    const std::uint64_t begin = std::max(w->at, w->from);
    const std::uint64_t end = std::min(w->at + size, w->from + w->size);
    if (begin < end) {
        std::memcpy(w->to + (begin - w->from), static_cast<const std::uint8_t*>(bytes) + (begin - w->at),
                    static_cast<std::size_t>(end - begin));
    }
    w->at += size;
    return 0;
}

void Render(const Bytes& data, const BRRConvertOptions& options, Window& window, BRRConvertResult& result)
{
    int status;
    {
        py::gil_scoped_release release;
        status = BRRConvertMemory(data.data(), data.size(), &options, CopyWindow, &window, &result);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
}

py::bytes Convert(const py::object& input, const Keywords& keywords)
{
    const Bytes data(input);
    const BRRConvertOptions options = Options(keywords);
    BRRConvertResult result = Plan(data, options);
    py::bytes wav(nullptr, static_cast<std::size_t>(result.wavSize));
    Window window{reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(wav.ptr())), 0, result.wavSize};
    Render(data, options, window, result);
    return wav;
}


// A decoded sample: its samples and what the conversion found, as values.
struct Sample {
    py::array samples;
    std::uint32_t rate;
    std::uint64_t blockCount;
    py::object loopStart;
    std::uint64_t trailingBlocks;
    std::uint32_t extraBytes;
    py::object smplLoop;
    py::object stability;
    py::object repeat;
    py::object note;
};

Sample Decode(const py::object& input, const Keywords& keywords)
{
    const Bytes data(input);
    const BRRConvertOptions options = Options(keywords);
    BRRConvertResult r = Plan(data, options);
    // The WAV's samples are little-endian whatever the host: so is the array.
    const std::uint64_t count = r.sampleCount;
    py::array samples(py::dtype("<i2"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(count)});
    Window window{static_cast<std::uint8_t*>(samples.mutable_data()), BRR_WAV_HEADER_SIZE, 2 * count};
    Render(data, options, window, r);
    static const char* const kStability[] = {"", "stable", "repeats", "undecided"};
    std::string name = BRRNoteName(r.noteIndex) != nullptr ? BRRNoteName(r.noteIndex) : "";
    name.erase(name.find_last_not_of(' ') + 1);
    return Sample{samples, r.sampleRate, r.blockCount,
                  OrNone(r.loopStart >= 0, py::int_(r.loopStart)), r.trailingBlocks, r.extraBytes,
                  OrNone(r.smpl != 0, py::make_tuple(r.smplStart, r.smplEnd)),
                  OrNone(r.stability != BRR_STABILITY_NONE, py::str(kStability[r.stability & 3])),
                  OrNone(r.stability == BRR_STABILITY_REPEATS, py::make_tuple(r.repeatLater, r.repeatEarlier)),
                  OrNone(r.note == BRR_NOTE_FOUND, py::make_tuple(name, r.noteOctave, r.noteCents))};
}

py::array_t<std::int16_t> DecodeBlocks(const py::object& input, BRRDecoder* decoder)
{
    const Bytes blocks(input);
    if (blocks.size() % BRR_BLOCK_SIZE != 0) {
        Raise(BRR_STATUS_BAD_SIZE);
    }
    BRRDecoder fresh;
    BRRDecoderInit(&fresh, BRR_RULES_HARDWARE);
    BRRDecoder* used = decoder != nullptr ? decoder : &fresh;
    const std::size_t count = blocks.size() / BRR_BLOCK_SIZE;
    py::array_t<std::int16_t> samples(static_cast<py::ssize_t>(count * BRR_SAMPLES_PER_BLOCK));
    std::int16_t* out = samples.mutable_data();
    {
        py::gil_scoped_release release;
        BRRDecodeBlocks(used, blocks.data(), count, out);
    }
    return samples;
}

// The package's exceptions.
void DefineErrors(py::module_& m)
{
    errorType = PyErr_NewExceptionWithDoc(
        "vornish_brr.Error", "A call failed: .status is the library's status number (or None), .text says why.",
        nullptr, nullptr);
    m.attr("Error") = py::reinterpret_borrow<py::object>(errorType);
    py::tuple optionBases = py::make_tuple(py::reinterpret_borrow<py::object>(errorType),
                                           py::reinterpret_borrow<py::object>(PyExc_ValueError));
    optionErrorType = PyErr_NewExceptionWithDoc("vornish_brr.OptionError",
                                                "An argument outside its range (also a ValueError).",
                                                optionBases.ptr(), nullptr);
    m.attr("OptionError") = py::reinterpret_borrow<py::object>(optionErrorType);

}

// The classes Decoder and Sample.
void DefineClasses(py::module_& m)
{
    py::class_<BRRDecoder>(m, "Decoder", "A decoder's history and rule set, carried between decode_blocks calls.\n"
                                         "Use one Decoder from one thread at a time.")
        .def(py::init([](const std::string& rules) {
                 BRRDecoder decoder;
                 BRRDecoderInit(&decoder, Rules(rules));
                 return decoder;
             }),
             py::arg("rules") = "hardware")
        .def_readwrite("last", &BRRDecoder::last, "The most recently decoded value (15-bit domain).")
        .def_readwrite("older", &BRRDecoder::older, "The value decoded before it.")
        .def_property_readonly("rules", [](const BRRDecoder& d) { return BRRRulesName(d.rules); })
        .def("__repr__", [](const BRRDecoder& d) {
            return py::str("Decoder(rules='{}', last={}, older={})").format(BRRRulesName(d.rules), d.last, d.older);
        });


    py::class_<Sample>(m, "Sample", "A decoded sample and what the conversion found in it.")
        .def_readonly("samples", &Sample::samples, "The samples, numpy int16.")
        .def_readonly("rate", &Sample::rate, "The sample rate in Hz.")
        .def_readonly("block_count", &Sample::blockCount, "Blocks in one play-through.")
        .def_readonly("loop_start", &Sample::loopStart, "The loop's first block, or None.")
        .def_readonly("trailing_blocks", &Sample::trailingBlocks, "Blocks after the end block.")
        .def_readonly("extra_bytes", &Sample::extraBytes,
                      "Bytes after the last block, left out (2 for a 9k+2-byte file with no_header).")
        .def_readonly("smpl_loop", &Sample::smplLoop, "(first, last) sample of the WAV's smpl loop, or None.")
        .def_readonly("stability", &Sample::stability,
                      "'stable', 'repeats' or 'undecided' with two loops or more, else None.")
        .def_readonly("repeat", &Sample::repeat, "(later, earlier): the passes that begin alike, or None.")
        .def_readonly("note", &Sample::note, "(name, octave, cents) of the loop's probable note, or None.")
        .def("__repr__", [](const Sample& s) {
            return py::str("Sample({} samples at {} Hz, block_count={}, loop_start={}, smpl_loop={}, "
                           "stability={}, note={})")
                .format(py::len(s.samples), s.rate, s.blockCount, s.loopStart, s.smplLoop, s.stability, s.note);
        });
}

// convert, decode and decode_blocks, with brrdecode's keywords.
void DefineDecoding(py::module_& m)
{
    const auto keywords = [](auto call) {
        return [call](const py::object& data, std::uint32_t loops, std::uint32_t rate,
                      std::optional<std::int64_t> loopStart, bool noHeader, bool stopAtEnd, bool smpl,
                      const std::string& rules, std::uint32_t play, std::optional<std::int32_t> rootNote) {
            return call(data, Keywords{loops, rate, loopStart, noHeader, stopAtEnd, smpl, rules, play, rootNote});
        };
    };
#define VORNISH_KEYWORDS                                                                                  \
    py::arg("data"), py::kw_only(), py::arg("loops") = 1, py::arg("rate") = BRR_PLAYBACK_RATE,             \
        py::arg("loop_start") = py::none(), py::arg("no_header") = false, py::arg("stop_at_end") = false, \
        py::arg("smpl") = true, py::arg("rules") = "hardware", py::arg("play") = 0,                     \
        py::arg("root_note") = py::none()
    m.def("convert", keywords(Convert), VORNISH_KEYWORDS);
    m.def("decode", keywords(Decode), VORNISH_KEYWORDS);
#undef VORNISH_KEYWORDS
    m.def("decode_blocks", &DecodeBlocks, py::arg("blocks"), py::arg("decoder") = nullptr);
}

}  // namespace
}  // namespace engine

// The engine under the vornish_brr package, which checks every argument
// (types, ranges, paths) before it calls in here.
PYBIND11_MODULE(_engine, m)
{
    m.doc() = "The BRR engine under vornish_brr: call the package's functions, which check their arguments.";
    m.attr("__version__") = BRRVersion();
    engine::py::array_t<std::int16_t> table(512, BRRInterpolationTable());
    table.attr("flags").attr("writeable") = false;
    m.attr("INTERPOLATION_TABLE") = table;
    engine::DefineErrors(m);
    // The classes first, so that the functions' signatures name them.
    engine::DefineClasses(m);
    engine::DefineScanAndEncode(m);
    engine::DefineShape(m);
    engine::DefineMemory(m);
    engine::DefineDecoding(m);
}

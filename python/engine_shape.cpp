// The engine's shaping: frames of any channel count and sample type mixed
// to one channel, a loop found, and the samples shaped, through the
// shaping library's C API.
#include <pybind11/numpy.h>

#include <vector>

#include "VornishAudioBRRShape.h"
#include "engine.h"

namespace engine {
namespace {

// The frames as BRRToMono reads them: one or two dimensions, C order.
std::vector<double> Mono(const py::array& frames, std::uint32_t channel)
{
    if (frames.ndim() != 1 && frames.ndim() != 2) {
        throw py::value_error("audio must be one-dimensional (mono) or (frames, channels)");
    }
    const auto count = static_cast<std::size_t>(frames.shape(0));
    const auto channels = static_cast<std::uint32_t>(frames.ndim() == 2 ? frames.shape(1) : 1);
    // Equivalent types (numpy's own check), in the host's byte order.
    const int sampleType = py::isinstance<py::array_t<std::int16_t>>(frames)   ? BRR_SAMPLE_INT16
                           : py::isinstance<py::array_t<std::int32_t>>(frames) ? BRR_SAMPLE_INT32
                           : py::isinstance<py::array_t<std::uint8_t>>(frames) ? BRR_SAMPLE_UINT8
                           : py::isinstance<py::array_t<float>>(frames)        ? BRR_SAMPLE_FLOAT32
                           : py::isinstance<py::array_t<double>>(frames)       ? BRR_SAMPLE_FLOAT64
                                                                               : -1;
    if (sampleType < 0) {
        // Read as another type, the buffer would be read past its end.
        throw py::type_error("audio must be the host's int16, int32, uint8, float32 or float64");
    }
    const py::array data = py::array::ensure(frames, py::array::c_style);
    std::vector<double> mono(count);
    BRRMonoResult counts{};
    const int status = BRRToMono(data.data(), count, channels, sampleType, channel, mono.data(), &counts);
    if (status == BRR_STATUS_NOT_NUMBERS) {
        throw py::value_error(py::str("the audio holds {} values that are not numbers (NaN)").format(counts.notNumbers));
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    return mono;
}

py::dict Shape(const py::array& frames, double inputRate, double rate, std::int64_t loopStart, std::int64_t loopEnd,
               bool findLoop, int loopFit, bool trebleBoost, bool loopHeader, std::uint32_t channel)
{
    const std::vector<double> mono = Mono(frames, channel);
    py::dict out;
    if (findLoop) {
        BRRFoundLoop found;
        const int status = BRRFindLoop(mono.data(), mono.size(), inputRate, &found);
        if (status != BRR_OK) {
            Raise(status);
        }
        loopStart = found.start;
        loopEnd = found.end;
        out["found"] = found.verdict == BRR_LOOP_FOUND;
    }
    BRRShapeOptions o;
    BRRShapeOptionsInit(&o);
    o.inputRate = inputRate;
    o.rate = rate;
    o.loopStart = loopStart;
    o.loopEnd = loopEnd;
    o.loopFit = loopFit;
    o.trebleBoost = trebleBoost ? 1 : 0;
    o.loopHeader = loopHeader ? 1 : 0;
    BRRShapePlan plan{};
    int status = BRRShapePlanOf(mono.size(), &o, &plan);
    py::array_t<std::int16_t> pcm(static_cast<py::ssize_t>(status == BRR_OK ? plan.sampleCount : 0));
    BRRShapeResult r{};
    if (status == BRR_OK) {
        status = BRRShape(mono.data(), mono.size(), &o, pcm.mutable_data(), static_cast<std::size_t>(pcm.size()), &r);
    }
    if (status != BRR_OK) {
        Raise(status);
    }
    out["pcm"] = pcm;
    out["rate"] = r.plan.rate;
    out["loop_start"] = OrNone(r.plan.loopStart != BRR_NO_LOOP_START, py::int_(r.plan.loopStart));
    out["input_loop"] = OrNone(loopStart >= 0, py::make_tuple(loopStart, loopEnd));
    out["loop_header"] = r.plan.loopHeader != 0;
    out["input_beyond"] = r.inputBeyond;
    out["shaping_beyond"] = r.shapingBeyond;
    out["boost_scale"] = r.boostScale;
    return out;
}

}  // namespace

void DefineShape(py::module_& m)
{
    m.def("shape", &Shape, py::arg("frames"), py::kw_only(), py::arg("input_rate"), py::arg("rate") = 0.0,
          py::arg("loop_start") = -1, py::arg("loop_end") = -1, py::arg("find_loop") = false,
          py::arg("loop_fit") = BRR_LOOP_FIT_AUTO, py::arg("treble_boost") = false, py::arg("loop_header") = true,
          py::arg("channel") = 0);
}

}  // namespace engine

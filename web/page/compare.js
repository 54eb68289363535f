// An encode beside its source: both drawn over each other, their spectra,
// and heard in turn, switching at the same place while it plays.
import { ask } from "./client.js";
import { clear, drawColumns } from "./sample.js";
import { drawSpectra, spectrum } from "./spectrum.js";

let context = null;
let playing = null;  // { node, started, which, buffers }

function overlay(canvas, source, result) {
    clear(canvas);
    drawColumns(canvas, source, "#999");
    drawColumns(canvas, result, "#2a5bd7");
}

// Decodes the encode's blocks and shows them against the shaped source;
// returns what the two sound like.
export async function compare(result) {
    const rate = result.report[0];
    const { samples } = await ask("decode", { bytes: result.blocks.slice(), rate: Math.round(rate) });
    overlay(document.getElementById("compare"), result.shaped, samples);
    drawSpectra(document.getElementById("compare-spectra"),
                [{ values: spectrum(result.shaped), color: "#999", label: "source" },
                 { values: spectrum(samples), color: "#2a5bd7", label: "result" }], Math.round(rate));
    return { rate, source: result.shaped, result: samples };
}

export function stopHearing() {
    if (playing !== null) {
        playing.node.stop();
        playing = null;
    }
}

// Plays `which` ("result" or "source") from `offset` seconds.
export function hear(sounds, which, offset = 0) {
    stopHearing();
    context = context || new AudioContext();
    const make = (samples) => {
        const buffer = context.createBuffer(1, Math.max(1, samples.length), Math.round(sounds.rate));
        buffer.getChannelData(0).set(Float32Array.from(samples, (v) => v / 32768));
        return buffer;
    };
    const node = context.createBufferSource();
    node.buffer = make(sounds[which]);
    node.connect(context.destination);
    node.start(0, offset % node.buffer.duration);
    playing = { node, started: context.currentTime - offset, which };
}

// Switches to the other sound at the same place.
export function switchOver(sounds) {
    if (playing === null) {
        return null;
    }
    const other = playing.which === "result" ? "source" : "result";
    hear(sounds, other, context.currentTime - playing.started);
    return other;
}

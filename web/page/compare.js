// An encode beside its source: both drawn over each other, their spectra,
// and heard in turn, switching at the same place while it plays.
import { ask } from "./client.js";
import { drawSpectra, spectrum } from "./spectrum.js";

let context = null;
let playing = null;  // { node, started, which, buffers }

function overlay(canvas, source, result) {
    const g = canvas.getContext("2d");
    const { width, height } = canvas;
    g.fillStyle = "#fff";
    g.fillRect(0, 0, width, height);
    for (const [samples, color] of [[source, "#999"], [result, "#2a5bd7"]]) {
        g.strokeStyle = color;
        g.beginPath();
        const per = Math.max(1, samples.length / width);
        for (let x = 0; x < width && x * per < samples.length; ++x) {
            let low = 32767;
            let high = -32768;
            for (let i = Math.floor(x * per); i < Math.min(samples.length, Math.floor((x + 1) * per) + 1); ++i) {
                low = Math.min(low, samples[i]);
                high = Math.max(high, samples[i]);
            }
            g.moveTo(x + 0.5, height / 2 - (high / 32768) * (height / 2));
            g.lineTo(x + 0.5, height / 2 - (low / 32768) * (height / 2) + 1);
        }
        g.stroke();
    }
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

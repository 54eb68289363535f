// One find as a sample: its bytes as brrscan extracts them, its waveform,
// and playback as the hardware's voice plays it.
import { ask } from "./client.js";

const kBlock = 9;

// The blocks, behind a loop header when the loop is known (and fits it).
export function sampleBytes(image, find) {
    const blocks = image.subarray(find.offset, find.offset + find.blocks * kBlock);
    const loopOffset = find.loop * kBlock;
    if (find.loop < 0 || loopOffset > 0xffff) {
        return blocks.slice();
    }
    const out = new Uint8Array(2 + blocks.length);
    out[0] = loopOffset & 0xff;
    out[1] = loopOffset >> 8;
    out.set(blocks, 2);
    return out;
}

// Samples drawn on a canvas as columns of their lowest and highest value,
// in `color`; returns the samples per column.
export function drawColumns(canvas, samples, color) {
    const g = canvas.getContext("2d");
    const { width, height } = canvas;
    g.strokeStyle = color;
    g.beginPath();
    // Fewer samples than columns are stretched across the canvas.
    const per = samples.length / width;
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
    return per;
}

export function clear(canvas) {
    const g = canvas.getContext("2d");
    g.fillStyle = "#fff";
    g.fillRect(0, 0, canvas.width, canvas.height);
    return g;
}

// The waveform, with the loop start marked.
export function drawWaveform(canvas, samples, loopStart) {
    const g = clear(canvas);
    const { height } = canvas;
    const per = drawColumns(canvas, samples, "#2a5bd7");
    if (loopStart >= 0) {
        const x = Math.round(loopStart / per) + 0.5;
        g.strokeStyle = "#b00020";
        g.beginPath();
        g.moveTo(x, 0);
        g.lineTo(x, height);
        g.stroke();
    }
}

let context = null;
let source = null;

export function stop() {
    if (source !== null) {
        source.stop();
        source = null;
    }
}

// Plays the sample decoded at `choice.rate`, or the voice's output at
// `choice.pitch`, its loop repeating until stopped. Returns the samples
// played (the first pass and the loop once more).
export async function play(bytes, find, choice) {
    stop();
    const loops = find.loop >= 0 ? 2 : 1;
    const rate = choice.rate || 32000;
    const { samples } = await ask("decode", { bytes, rate, loops, play: choice.pitch || 0 });
    if (context === null || context.sampleRate !== rate) {
        context?.close();
        context = new AudioContext({ sampleRate: rate });
    }
    const buffer = context.createBuffer(1, Math.max(1, samples.length), rate);
    buffer.getChannelData(0).set(Float32Array.from(samples, (v) => v / 32768));
    source = context.createBufferSource();
    source.buffer = buffer;
    if (find.loop >= 0) {
        // The second pass is the loop as it repeats.
        const first = choice.pitch ? (find.blocks * 16 * 4096) / choice.pitch / 32000 : (find.blocks * 16) / rate;
        source.loop = true;
        source.loopStart = Math.min(first, buffer.duration);
        source.loopEnd = buffer.duration;
    }
    source.connect(context.destination);
    source.start();
    return samples;
}

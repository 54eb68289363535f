// The encode section: brrencode's options in a form, the encode in the
// Worker, its report (the lines brrencode prints) and the blocks to save.
import { ask } from "./client.js";

const $ = (id) => document.getElementById(id);

function whole(id, what) {
    const text = $(id).value.trim();
    if (text === "") {
        return 0;
    }
    if (!/^[0-9]+$/.test(text)) {
        throw new Error(`${what} '${text}' is not a whole number`);
    }
    return Number(text);
}

// A loop point: a whole number of samples, or seconds of the input ("1.5s").
function loopPoint(id, what) {
    const text = $(id).value.trim();
    if (/^[0-9.]+s$/.test(text) && Number.isFinite(Number(text.slice(0, -1))) && Number(text.slice(0, -1)) <= 86400) {
        return { seconds: Number(text.slice(0, -1)) };
    }
    return whole(id, what);
}

export function options() {
    const loop = $("loop").value;
    return {
        effort: Number($("effort").value),
        rules: Number($("rules").value),
        rate: whole("rate", "the rate"),
        maxBytes: whole("max-bytes", "the byte budget"),
        loop: loop === "given" ? [loopPoint("loop-start", "the loop start"), loopPoint("loop-end", "the loop end")] : loop,
        loopFit: Number($("loop-fit").value),
        boost: $("boost").checked,
    };
}

// The pitch that plays `rate` Hz at the hardware's 32000 Hz, clamped.
function pitchFor(rate) {
    return Math.min(0x3fff, Math.max(1, Math.round((rate * 4096) / 32000)));
}

export function showReport(result, name) {
    const [rate, snr, seam, loopBlock, blocks] = result.report;
    const lines = [["Blocks", String(blocks)], ["SNR", `${Number.isFinite(snr) ? snr.toFixed(2) : "inf"} dB`]];
    if (loopBlock >= 0) {
        lines.push(["Loop start", `block ${loopBlock}`]);
        lines.push(["Loop seam", `${Number.isFinite(seam) ? seam.toFixed(2) : "-inf"} dB`]);
    }
    const whole = Math.abs(rate - Math.round(rate)) < 0.005;
    lines.push(["Rate", `${whole ? Math.round(rate) : rate.toFixed(2)} Hz`]);
    lines.push(["Pitch", "0x" + pitchFor(rate).toString(16).toUpperCase().padStart(4, "0")]);
    lines.push(["Size", `${result.blocks.length} bytes`]);
    if (result.loop.auto) {
        lines.unshift(["Loop found", result.loop.found
            ? `${result.loop.loop[0]}:${result.loop.loop[1]} (${(result.loop.loop[0] / result.inputRate).toFixed(3)}s:` +
              `${(result.loop.loop[1] / result.inputRate).toFixed(3)}s)`
            : `none; ${name} does not sustain, so it stays one-shot`]);
    }
    const list = $("report");
    list.textContent = "";
    for (const [term, value] of lines) {
        list.append(Object.assign(document.createElement("dt"), { textContent: term }),
                    Object.assign(document.createElement("dd"), { textContent: value }));
    }
}

export async function encode(audio) {
    return ask("encode", { bytes: audio.slice().buffer, options: options() });
}

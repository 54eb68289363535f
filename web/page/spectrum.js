import { clear } from "./sample.js";

// Spectra: the mean power of Hann-windowed 1024-sample frames, in dB,
// drawn as lines over 0..rate/2.
const kSize = 1024;

// In-place radix-2 FFT of re/im (length a power of two).
function fft(re, im) {
    const n = re.length;
    for (let i = 1, j = 0; i < n; ++i) {
        let bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            [re[i], re[j]] = [re[j], re[i]];
            [im[i], im[j]] = [im[j], im[i]];
        }
    }
    for (let length = 2; length <= n; length <<= 1) {
        const angle = (-2 * Math.PI) / length;
        for (let i = 0; i < n; i += length) {
            for (let k = 0; k < length / 2; ++k) {
                const wr = Math.cos(angle * k);
                const wi = Math.sin(angle * k);
                const a = i + k;
                const b = a + length / 2;
                const tr = re[b] * wr - im[b] * wi;
                const ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

// The power spectrum of samples (16-bit values), kSize / 2 bins, in dB.
export function spectrum(samples) {
    const power = new Float64Array(kSize / 2);
    let frames = 0;
    // A sample shorter than a frame is one frame, padded with silence.
    for (let at = 0; (frames === 0 || at + kSize <= samples.length) && frames < 256; at += kSize / 2, ++frames) {
        const re = new Float64Array(kSize);
        const im = new Float64Array(kSize);
        for (let i = 0; i < kSize && at + i < samples.length; ++i) {
            re[i] = (samples[at + i] / 32768) * (0.5 - 0.5 * Math.cos((2 * Math.PI * i) / kSize));
        }
        fft(re, im);
        for (let k = 0; k < kSize / 2; ++k) {
            power[k] += re[k] * re[k] + im[k] * im[k];
        }
    }
    // A full-scale sine peaks at 0 dB (the window's gain is a half).
    const scale = Math.max(1, frames) * (kSize / 4) ** 2;
    return Array.from(power, (p) => 10 * Math.log10(Math.max(p / scale, 1e-12)));
}

// Draws spectra ({ values, color, label }) over 0..rate/2, 0 to -120 dB.
export function drawSpectra(canvas, lines, rate) {
    const g = clear(canvas);
    const { width, height } = canvas;
    g.font = "12px system-ui, sans-serif";
    g.fillStyle = "#555";
    g.fillText(`0 to ${Math.round(rate / 2)} Hz, 0 to -120 dB`, 4, height - 4);
    lines.forEach(({ values, color, label }, n) => {
        g.strokeStyle = color;
        g.beginPath();
        values.forEach((db, k) => {
            const x = (k / values.length) * width;
            const y = Math.min(height, Math.max(0, (-db / 120) * height));
            k === 0 ? g.moveTo(x, y) : g.lineTo(x, y);
        });
        g.stroke();
        g.fillStyle = color;
        g.fillText(label, width - 220, 14 + 14 * n);
    });
}

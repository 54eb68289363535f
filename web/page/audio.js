// Audio files: WAV and AIFF go to the engine as they are (its reader keeps
// their rate and loop); other formats the browser decodes, at the file's own
// rate, into a 32-bit float WAV the engine reads the same way.

const tag = (bytes, at, n = 4) => String.fromCharCode(...bytes.subarray(at, at + n));

// WAV (RIFF/RF64 ... WAVE) and AIFF (FORM ... AIFF/AIFC).
export function isEngineAudio(bytes) {
    return bytes.length >= 12 && ((["RIFF", "RF64"].includes(tag(bytes, 0)) && tag(bytes, 8) === "WAVE") ||
                                  (tag(bytes, 0) === "FORM" && ["AIFF", "AIFC"].includes(tag(bytes, 8))));
}

const kMpegRates = [[11025, 12000, 8000], null, [22050, 24000, 16000], [44100, 48000, 32000]];

// An MPEG audio frame's rate, after any ID3v2 tag; 0 if none starts there.
function mpegRate(bytes) {
    let at = 0;
    if (tag(bytes, 0, 3) === "ID3" && bytes.length > 10) {
        at = 10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f));
    }
    if (at + 3 > bytes.length || bytes[at] !== 0xff || (bytes[at + 1] & 0xe0) !== 0xe0) {
        return 0;
    }
    const rates = kMpegRates[(bytes[at + 1] >> 3) & 3];
    const index = (bytes[at + 2] >> 2) & 3;
    return rates && index < 3 ? rates[index] : 0;
}

// The rate a compressed file holds its audio at, read from its header, as
// the browser would otherwise resample it to its own: 0 if unknown, null if
// the bytes are no audio format the page knows.
export function storedRate(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    if (tag(bytes, 0) === "fLaC" && bytes.length >= 21) {
        return (bytes[18] << 12) | (bytes[19] << 4) | (bytes[20] >> 4);
    }
    if (tag(bytes, 0) === "OggS" && bytes.length >= 28) {
        const packet = 27 + bytes[26];
        if (tag(bytes, packet, 7) === "\x01vorbis" && packet + 16 <= bytes.length) {
            return view.getUint32(packet + 12, true);
        }
        return tag(bytes, packet, 8) === "OpusHead" ? 48000 : 0;
    }
    if (tag(bytes, 4) === "ftyp") {
        const text = new TextDecoder("latin1").decode(bytes);
        const entry = text.indexOf("mp4a");
        return entry >= 0 && entry + 30 <= bytes.length ? view.getUint16(entry + 28) : 0;
    }
    if (view.byteLength >= 4 && view.getUint32(0) === 0x1a45dfa3) {
        return 0;  // Matroska or WebM
    }
    const mpeg = mpegRate(bytes);
    return mpeg > 0 ? mpeg : null;
}

// Channels as a WAV of 32-bit floats (format 3), interleaved.
function floatWav(channels, rate) {
    const frames = channels[0].length;
    const count = channels.length;
    const out = new DataView(new ArrayBuffer(44 + 4 * frames * count));
    const text = (at, s) => [...s].forEach((c, i) => out.setUint8(at + i, c.charCodeAt(0)));
    text(0, "RIFF");
    out.setUint32(4, 36 + 4 * frames * count, true);
    text(8, "WAVEfmt ");
    out.setUint32(16, 16, true);
    out.setUint16(20, 3, true);
    out.setUint16(22, count, true);
    out.setUint32(24, rate, true);
    out.setUint32(28, 4 * rate * count, true);
    out.setUint16(32, 4 * count, true);
    out.setUint16(34, 32, true);
    text(36, "data");
    out.setUint32(40, 4 * frames * count, true);
    for (let i = 0, at = 44; i < frames; ++i) {
        for (let c = 0; c < count; ++c, at += 4) {
            out.setFloat32(at, channels[c][i], true);
        }
    }
    return new Uint8Array(out.buffer);
}

// FLAC of 16 bits or fewer holds whole 16-bit values. The browser scales
// them to floats by 32767 when positive and 32768 when negative; the same
// values as the engine's reader gives (v / 32768) come back when every
// sample sits on that grid, and only then.
function onSixteenBitGrid(channels) {
    const whole = channels.map((c) => Float32Array.from(c, (v) => Math.round(v * (v < 0 ? 32768 : 32767))));
    for (let c = 0; c < channels.length; ++c) {
        for (let i = 0; i < channels[c].length; ++i) {
            if (Math.abs(whole[c][i] - channels[c][i] * (channels[c][i] < 0 ? 32768 : 32767)) > 1e-3) {
                return channels;
            }
        }
    }
    return whole.map((c) => c.map((v) => v / 32768));
}

const flacBits = (bytes) => (tag(bytes, 0) === "fLaC" && bytes.length >= 22
    ? (((bytes[20] & 1) << 4) | (bytes[21] >> 4)) + 1 : 0);

// The browser's decoder, at `rate` (the file's own, else 48000 Hz): the
// audio as a WAV the engine reads, and the rate used.
export async function decodeInBrowser(bytes, rate) {
    const used = rate >= 3000 && rate <= 768000 ? rate : 48000;
    const context = new OfflineAudioContext(1, 1, used);
    let buffer;
    try {
        buffer = await context.decodeAudioData(bytes.slice().buffer);
    } catch (error) {
        throw new Error(`the browser cannot decode it (${error.message || error.name})`);
    }
    let channels = Array.from({ length: buffer.numberOfChannels }, (_, c) => buffer.getChannelData(c));
    const bits = flacBits(bytes);
    if (bits > 0 && bits <= 16) {
        channels = onSixteenBitGrid(channels);
    }
    return { wav: floatWav(channels, used), rate: used, known: used === rate };
}

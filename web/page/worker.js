// The heavy work, off the page's thread: the engine (WebAssembly) loaded
// once, then each request answered with a message. Nothing is fetched but
// the engine beside this file.
import createEngine from "./engine.js";

const enginePromise = createEngine();

// The finds of a scan, read from the engine's array of BRRFound.
function readFinds(engine, at, count) {
    const size = engine._VornishFoundSize();
    const view = new DataView(engine.HEAPU8.buffer);
    const finds = [];
    for (let i = 0; i < count; ++i) {
        const p = at + i * size;
        finds.push({
            offset: Number(view.getBigUint64(p, true)),
            blocks: Number(view.getBigUint64(p + 8, true)),
            loop: Number(view.getBigInt64(p + 16, true)),
            score: view.getFloat64(p + 24, true),
            foundBy: view.getInt32(p + 32, true) === 1 ? "directory" : "scan",
            entry: view.getInt32(p + 36, true),
            loopFlag: view.getInt32(p + 40, true) !== 0,
            entryNumber: view.getInt32(p + 44, true),
        });
    }
    return finds;
}

function scan(engine, bytes) {
    const data = engine._malloc(Math.max(1, bytes.length));
    const out = engine._malloc(16);
    try {
        engine.HEAPU8.set(bytes, data);
        const status = engine.ccall("VornishScanAll", "number", ["number", "number", "number", "number", "number"],
                                    [data, bytes.length, -1, out, out + 8]);
        const view = new DataView(engine.HEAPU8.buffer);
        const array = view.getUint32(out, true);
        const count = view.getUint32(out + 8, true);
        const finds = status === 0 ? readFinds(engine, array, count) : [];
        engine._free(array);
        if (status !== 0) {
            throw new Error(engine.ccall("BRRStatusText", "string", ["number"], [status]));
        }
        return { finds, dump: readDump(engine, data, bytes.length) };
    } finally {
        engine._free(data);
        engine._free(out);
    }
}

// A malloc'd buffer of `type` the engine handed back through `out`, copied
// out and freed.
function takeBuffer(engine, out, type) {
    const view = new DataView(engine.HEAPU8.buffer);
    const at = view.getUint32(out, true);
    const count = view.getUint32(out + 8, true);
    const copy = new type(engine.HEAPU8.buffer, at, count).slice();
    engine._free(at);
    return copy;
}

// VornishConvert or VornishDecode on a sample: its WAV bytes or samples.
function render(engine, name, type, bytes, rate, loops, play) {
    const data = engine._malloc(Math.max(1, bytes.length));
    const out = engine._malloc(16);
    try {
        engine.HEAPU8.set(bytes, data);
        const status = engine.ccall(name, "number", ["number", "number", "number", "number", "number", "number",
                                                     "number"],
                                    [data, bytes.length, rate, loops, play, out, out + 8]);
        if (status !== 0) {
            throw new Error(engine.ccall("BRRStatusText", "string", ["number"], [status]));
        }
        return takeBuffer(engine, out, type);
    } finally {
        engine._free(data);
        engine._free(out);
    }
}

// Audio read as brrencode reads it: one channel of 16-bit units in the
// engine's memory (freed by the caller), its rate and loop.
function readAudio(engine, bytes, channel) {
    const data = engine._malloc(Math.max(1, bytes.length));
    const out = engine._malloc(16 + 6 * 8 + 256);
    try {
        engine.HEAPU8.set(bytes, data);
        const status = engine.ccall("VornishReadAudio", "number",
                                    ["number", "number", "number", "number", "number", "number", "number"],
                                    [data, bytes.length, channel, out, out + 8, out + 16, out + 64]);
        const view = new DataView(engine.HEAPU8.buffer);
        const facts = new Float64Array(engine.HEAPU8.buffer.slice(out + 16, out + 64));
        if (status !== 0) {
            const reason = status === 5 ? engine.UTF8ToString(out + 64) : statusText(engine, status);
            throw new Error(status === 20 ? `has ${facts[4]} samples that are not numbers (NaN)` : reason);
        }
        return { at: view.getUint32(out, true), count: view.getUint32(out + 8, true), rate: facts[0],
                 loop: [facts[1], facts[2]], beyond: facts[3], channels: facts[5] };
    } finally {
        engine._free(data);
        engine._free(out);
    }
}

function statusText(engine, status) {
    return engine.ccall("BRRStatusText", "string", ["number"], [status]);
}

// The loop brrencode would take: given, found (--loop auto), the file's, or none.
function chooseLoop(engine, audio, options) {
    if (options.loop === "none") {
        return { loop: [-1, -1] };
    }
    if (options.loop === "auto") {
        const found = engine._malloc(64);
        try {
            const status = engine.ccall("BRRFindLoop", "number", ["number", "number", "number", "number"],
                                        [audio.at, audio.count, audio.rate, found]);
            if (status !== 0) {
                throw new Error(statusText(engine, status));
            }
            const view = new DataView(engine.HEAPU8.buffer);
            const start = Number(view.getBigInt64(found, true));
            return { loop: [start, Number(view.getBigInt64(found + 8, true))], found: start >= 0, auto: true };
        } finally {
            engine._free(found);
        }
    }
    // Seconds on the input's clock, rounded to its samples as brrencode does.
    const samples = (point) => (typeof point === "object" ? Math.round(point.seconds * audio.rate) : point);
    const loop = Array.isArray(options.loop) ? options.loop.map(samples) : audio.loop;
    const valid = loop[0] >= 0 && loop[0] < loop[1] && loop[1] <= audio.count;
    if (Array.isArray(options.loop) && !valid) {
        throw new Error(`the loop ${loop[0]}:${loop[1]} is ${loop[1] <= loop[0] ? "empty" : "outside the audio"}`);
    }
    return { loop: valid ? loop : [-1, -1], ignored: !valid && loop[0] >= 0 };
}

function encode(engine, bytes, options) {
    const audio = readAudio(engine, bytes, options.channel || 0);
    const settings = engine._malloc(9 * 8);
    const out = engine._malloc(24 + 9 * 8);
    try {
        const chosen = chooseLoop(engine, audio, options);
        const values = [options.rate || 0, chosen.loop[0], chosen.loop[1], options.loopFit, options.boost ? 1 : 0,
                        options.noLoopHeader ? 1 : 0, options.effort, options.rules, options.maxBytes || 0];
        new Float64Array(engine.HEAPU8.buffer, settings, 9).set(values);
        const status = engine.ccall("VornishEncode", "number",
                                    ["number", "number", "number", "number", "number", "number", "number", "number"],
                                    [audio.at, audio.count, audio.rate, settings, out, out + 8, out + 24, out + 16]);
        if (status !== 0) {
            throw new Error(status === 3 ? `does not fit ${options.maxBytes} bytes even at 1000 Hz`
                                         : statusText(engine, status));
        }
        const report = Array.from(new Float64Array(engine.HEAPU8.buffer.slice(out + 24, out + 24 + 72)));
        const blocks = takeBuffer(engine, out, Uint8Array);
        const at = new DataView(engine.HEAPU8.buffer).getUint32(out + 16, true);
        const shaped = new Int16Array(engine.HEAPU8.buffer, at, report[8]).slice();
        engine._free(at);
        return { blocks, shaped, report, inputRate: audio.rate, loop: chosen, beyond: audio.beyond };
    } finally {
        engine._free(audio.at);
        engine._free(settings);
        engine._free(out);
    }
}

// brrinsert --entry: the new image, or the refusal with the room there was.
function insert(engine, image, sample, entry) {
    const data = engine._malloc(Math.max(1, image.length));
    const blocks = engine._malloc(Math.max(1, sample.length));
    const out = engine._malloc(16 + 8 * 8);
    try {
        engine.HEAPU8.set(image, data);
        engine.HEAPU8.set(sample, blocks);
        const status = engine.ccall("VornishInsert", "number",
                                    ["number", "number", "number", "number", "number", "number", "number", "number",
                                     "number"],
                                    [data, image.length, blocks, sample.length, entry, -1, out, out + 8, out + 16]);
        const facts = Array.from(new Float64Array(engine.HEAPU8.buffer.slice(out + 16, out + 80)));
        if (status !== 0) {
            const why = status === 13 ? `needs ${facts[1]} bytes; entry ${entry}'s place holds ${facts[2]}`
                                      : statusText(engine, status);
            throw new Error(why);
        }
        return { image: takeBuffer(engine, out, Uint8Array), facts };
    } finally {
        engine._free(data);
        engine._free(blocks);
        engine._free(out);
    }
}

// A music-state dump's registers and titles (BRRDump, read by its layout:
// fixed-width fields, 8 voices of 20 bytes from byte 16), or null.
function readDump(engine, data, size) {
    const dump = engine._malloc(512);
    try {
        if (engine.ccall("BRRReadDump", "number", ["number", "number", "number"], [data, size, dump]) !== 0) {
            return null;
        }
        const view = new DataView(engine.HEAPU8.buffer, dump, 512);
        const voices = [];
        for (let v = 0; v < 8; ++v) {
            const at = 16 + 20 * v;
            voices.push({ pitch: view.getInt32(at, true), rate: view.getInt32(at + 4, true),
                          source: view.getInt32(at + 8, true), sounding: view.getInt32(at + 12, true) !== 0 });
        }
        const text = (at) => engine.UTF8ToString(dump + at, 33);
        return { directory: view.getInt32(0, true), echo: [view.getInt32(8, true), view.getInt32(12, true)], voices,
                 titles: view.getInt32(176, true) !== 0, song: text(180), game: text(213) };
    } finally {
        engine._free(dump);
    }
}

self.onmessage = async (event) => {
    const { id, kind, bytes } = event.data;
    try {
        const engine = await enginePromise;
        const { rate = 32000, loops = 1, play = 0 } = event.data;
        if (kind === "scan") {
            const started = performance.now();
            const { finds, dump } = scan(engine, new Uint8Array(bytes));
            const milliseconds = performance.now() - started;
            self.postMessage({ id, finds, milliseconds, dump, bytes }, [bytes]);
        } else if (kind === "wav") {
            const wav = render(engine, "VornishConvert", Uint8Array, new Uint8Array(bytes), rate, loops, play);
            self.postMessage({ id, wav }, [wav.buffer]);
        } else if (kind === "encode") {
            const started = performance.now();
            const result = encode(engine, new Uint8Array(bytes), event.data.options);
            result.milliseconds = performance.now() - started;
            self.postMessage({ id, ...result }, [result.blocks.buffer, result.shaped.buffer]);
        } else if (kind === "insert") {
            self.postMessage({ id, ...insert(engine, new Uint8Array(bytes), event.data.sample, event.data.entry) });
        } else if (kind === "decode") {
            const samples = render(engine, "VornishDecode", Int16Array, new Uint8Array(bytes), rate, loops, play);
            self.postMessage({ id, samples }, [samples.buffer]);
        } else {
            throw new Error(`unknown request ${kind}`);
        }
    } catch (error) {
        self.postMessage({ id, error: String(error.message || error) });
    }
};

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
        return finds;
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

self.onmessage = async (event) => {
    const { id, kind, bytes } = event.data;
    try {
        const engine = await enginePromise;
        const { rate = 32000, loops = 1, play = 0 } = event.data;
        if (kind === "scan") {
            self.postMessage({ id, finds: scan(engine, new Uint8Array(bytes)) });
        } else if (kind === "wav") {
            const wav = render(engine, "VornishConvert", Uint8Array, new Uint8Array(bytes), rate, loops, play);
            self.postMessage({ id, wav }, [wav.buffer]);
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

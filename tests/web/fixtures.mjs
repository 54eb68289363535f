// What the page's test and its measurement share: a static server for the
// built page, generated images and recordings, and chromium.
import { chromium } from "playwright-core";
import { createServer } from "node:http";
import { readdir, readFile, writeFile } from "node:fs/promises";
import { extname, join } from "node:path";

const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".css": "text/css" };

export function launch() {
    return chromium.launch({
        executablePath: "/usr/bin/chromium",
        args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required"],
    });
}

export function serve(webDir) {
    const server = createServer(async (request, response) => {
        const path = join(webDir, new URL(request.url, "http://localhost").pathname.replace(/\/$/, "/index.html"));
        try {
            const body = await readFile(path);
            response.writeHead(200, { "Content-Type": types[extname(path)] || "application/octet-stream" });
            response.end(body);
        } catch {
            response.writeHead(404).end();
        }
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// An image: random bytes around the bundled samples, repeated with fresh
// random bytes until it holds `size` bytes (once if 0).
export async function image(examples, workDir, name = "image.bin", size = 0) {
    let seed = 12;
    const random = (n) => Uint8Array.from({ length: n }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24);
    const tone = await readFile(join(examples, "tone.brr"));
    const parts = [];
    let length = 0;
    do {
        for (const part of [random(4000), tone, random(3001), tone.subarray(0, 9 * 40), random(100)]) {
            parts.push(Buffer.from(part));
            length += part.length;
        }
    } while (length < size);
    const path = join(workDir, name);
    await writeFile(path, size ? Buffer.concat(parts).subarray(0, size) : Buffer.concat(parts));
    return path;
}

// `size` bytes of this machine's shared libraries (code and data, as in
// game images), the bundled samples set in every 256 KiB.
export async function mixedImage(examples, path, size) {
    const folder = "/usr/lib/x86_64-linux-gnu";
    const samples = Buffer.concat([await readFile(join(examples, "tone.brr")),
                                   (await readFile(join(examples, "loop.brr"))).subarray(2)]);
    const names = (await readdir(folder).catch(() => [])).filter((n) => /\.so/.test(n)).sort();
    const parts = [];
    let length = 0;
    // The libraries again from the first while they hold too few bytes.
    for (let n = 0; length < size && n < names.length * 64; ++n) {
        const body = await readFile(join(folder, names[n % names.length])).catch(() => Buffer.alloc(0));
        for (let at = 0; at < body.length && length < size; at += 256 << 10) {
            const piece = body.subarray(at, at + (256 << 10));
            parts.push(piece, samples);
            length += piece.length + samples.length;
        }
    }
    await writeFile(path, Buffer.concat([...parts, Buffer.alloc(Math.max(0, size - length))]).subarray(0, size));
    return path;
}

// A 16-bit tone of `seconds` at 44100 Hz: harmonics, a swell over 1.2 s and a
// loop in a 'smpl' chunk (3000 to 9000, end inclusive 8999) unless `loop` is false.
export async function toneWav(path, seconds = 1.2, loop = true) {
    const rate = 44100;
    const n = Math.round(seconds * rate);
    const data = Buffer.alloc(2 * n);
    for (let i = 0; i < n; ++i) {
        const t = i / rate;
        const v = 9000 * Math.sin(2 * Math.PI * 220 * t) + 3000 * Math.sin(2 * Math.PI * 660 * t) * (1 + Math.min(t, 1.2));
        data.writeInt16LE(Math.round(v * Math.min(1, t / 0.02)), 2 * i);
    }
    const smpl = Buffer.alloc(8 + 36 + 24);
    smpl.write("smpl", 0);
    smpl.writeUInt32LE(36 + 24, 4);
    smpl.writeUInt32LE(Math.round(1e9 / rate), 16);
    smpl.writeUInt32LE(60, 20);
    smpl.writeUInt32LE(1, 36);
    smpl.writeUInt32LE(3000, 8 + 36 + 8);
    smpl.writeUInt32LE(8999, 8 + 36 + 12);
    const fmt = Buffer.alloc(24);
    fmt.write("fmt ", 0);
    fmt.writeUInt32LE(16, 4);
    fmt.writeUInt16LE(1, 8);
    fmt.writeUInt16LE(1, 10);
    fmt.writeUInt32LE(rate, 12);
    fmt.writeUInt32LE(2 * rate, 16);
    fmt.writeUInt16LE(2, 20);
    fmt.writeUInt16LE(16, 22);
    const head = Buffer.alloc(8);
    head.write("data", 0);
    head.writeUInt32LE(data.length, 4);
    const riff = Buffer.alloc(12);
    riff.write("RIFF", 0);
    riff.write("WAVE", 8);
    const chunks = loop ? [riff, fmt, head, data, smpl] : [riff, fmt, head, data];
    riff.writeUInt32LE(4 + chunks.slice(1).reduce((n, c) => n + c.length, 0), 4);
    await writeFile(path, Buffer.concat(chunks));
    return path;
}


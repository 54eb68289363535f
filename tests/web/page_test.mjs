// The page in Debian's chromium: served from build/wasm/web by a plain
// static server, it scans a generated image and lists the same finds as
// brrscan --json; it saves the blocks and WAV brrscan -x --wav writes, and
// plays the samples brrdecode --play writes.
//   node page_test.mjs WEB_DIR TOOLS_DIR WORK_DIR
import { chromium } from "playwright-core";
import { createServer } from "node:http";
import { readFile, writeFile, mkdir, rm } from "node:fs/promises";
import { execFileSync } from "node:child_process";
import { extname, join } from "node:path";
import assert from "node:assert/strict";

const [webDir, tools, workDir] = process.argv.slice(2);
const brrscan = join(tools, "brrscan");
const brrdecode = join(tools, "brrdecode");
const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".css": "text/css" };

function serve() {
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

// An image: random bytes around the bundled samples.
async function image(examples) {
    let seed = 12;
    const random = (n) => Uint8Array.from({ length: n }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24);
    const tone = await readFile(join(examples, "tone.brr"));
    const parts = [random(4000), tone, random(3001), tone.subarray(0, 9 * 40), random(100)];
    const path = join(workDir, "image.bin");
    await writeFile(path, Buffer.concat(parts.map((p) => Buffer.from(p))));
    return path;
}

await mkdir(workDir, { recursive: true });
const path = await image(join(webDir, "..", "..", "..", "examples"));
const expected = execFileSync(brrscan, ["--json", path]).toString().trim().split("\n").map((l) => JSON.parse(l));
const server = await serve();
const browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
});
const requests = [];
try {
    const page = await browser.newPage();
    page.on("request", (r) => requests.push(r.url()));
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.setInputFiles("#file", path);
    await page.waitForSelector("#finds:not([hidden]) tbody tr");
    const rows = await page.$$eval("#table tbody tr", (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
    assert.equal(rows.length, expected.length);
    rows.forEach((row, i) => {
        assert.equal(Number(row[0]), expected[i].offset);
        assert.equal(Number(row[1]), expected[i].blocks);
    });
    // Nothing but the page's own files.
    for (const url of requests) {
        assert.ok(url.startsWith(`http://127.0.0.1:${server.address().port}/`), url);
    }
    console.log(`page lists ${rows.length} finds, as brrscan does`);

    // The first find saved, as brrscan -x --wav writes it.
    const extracted = join(workDir, "extracted");
    await rm(extracted, { recursive: true, force: true });
    execFileSync(brrscan, ["-q", "-x", extracted, "--wav", path]);
    await page.click("#table tbody tr");
    await page.waitForSelector("#sample:not([hidden])");
    for (const [button, suffix] of [["#save-brr", ".brr"], ["#save-wav", ".wav"]]) {
        const [download] = await Promise.all([page.waitForEvent("download"), page.click(button)]);
        const name = download.suggestedFilename();
        assert.equal(name, `image.bin.0x${expected[0].offset.toString(16).padStart(6, "0")}${suffix}`);
        const saved = join(workDir, name);
        await download.saveAs(saved);
        assert.deepEqual(await readFile(saved), await readFile(join(extracted, name)), name);
    }

    // Played at a pitch: brrdecode --play's samples.
    await page.fill("#pitch", "0x0800");
    await page.click("#play");
    await page.waitForFunction(() => window.vornishPlayed !== undefined);
    const played = await page.evaluate(() => Array.from(window.vornishPlayed));
    const brr = join(extracted, `image.bin.0x${expected[0].offset.toString(16).padStart(6, "0")}.brr`);
    execFileSync(brrdecode, ["-q", "-f", "--play", "0x0800", brr, "-o", join(workDir, "played.wav")]);
    const wav = await readFile(join(workDir, "played.wav"));
    const data = wav.indexOf("data");
    const samples = new Int16Array(wav.buffer.slice(wav.byteOffset + data + 8, wav.byteOffset + data + 8 + wav.readUInt32LE(data + 4)));
    assert.deepEqual(played, Array.from(samples));
    await page.click("#stop");

    // The waveform is drawn: the canvas holds more than its background.
    const inked = await page.$eval("#waveform", (c) => {
        const pixels = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
        let n = 0;
        for (let i = 0; i < pixels.length; i += 4) n += pixels[i] < 200 ? 1 : 0;
        return n;
    });
    assert.ok(inked > 500, `the waveform has ${inked} dark pixels`);
    await page.screenshot({ path: join(workDir, "page.png") });
    console.log("saved blocks and WAV, played samples and waveform as the tools give them");
} finally {
    await browser.close();
    server.close();
}

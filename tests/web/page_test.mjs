// The page in Debian's chromium: served from build/wasm/web by a plain
// static server, it scans a generated image and lists the same finds as
// brrscan --json; it saves the blocks and WAV brrscan -x --wav writes, and
// plays the samples brrdecode --play writes.
//   node page_test.mjs WEB_DIR TOOLS_DIR WORK_DIR
import { image, launch, mixedImage, serve, toneWav } from "./fixtures.mjs";
import { readFile, writeFile, mkdir, rm, truncate } from "node:fs/promises";
import { execFileSync } from "node:child_process";
import { existsSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import assert from "node:assert/strict";

const [webDir, tools, workDir] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const brrscan = join(tools, "brrscan");
const brrdecode = join(tools, "brrdecode");

await mkdir(workDir, { recursive: true });
const path = await image(join(webDir, "..", "..", "..", "examples"), workDir);
const expected = execFileSync(brrscan, ["--json", path]).toString().trim().split("\n").map((l) => JSON.parse(l));
const server = await serve(webDir);
const browser = await launch();
const requests = [];
try {
    const page = await browser.newPage({ viewport: { width: 1024, height: 768 } });
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

    // Played as chosen: brrdecode's samples for the same pitch or rate.
    const brr = join(extracted, `image.bin.0x${expected[0].offset.toString(16).padStart(6, "0")}.brr`);
    const plays = [  // the form's fields, brrdecode's options
        [{ "play-as": "pitch", pitch: "0x0800" }, ["--play", "0x0800"]],
        [{ "play-as": "note", note: "C5", root: "C4" }, ["--play", "0x2000"]],
        [{ "play-as": "note", note: "A3", root: "69" }, ["--play", "0x0800"]],
        [{ "play-as": "rate", "play-rate": "16000" }, ["--rate", "16000"]],
    ];
    const checkPlay = async (brr, form, flags) => {
        await page.evaluate(() => { window.vornishPlayed = undefined; });
        await page.selectOption("#play-as", form["play-as"]);
        for (const [id, value] of Object.entries(form).slice(1)) {
            await page.fill(`#${id}`, value);
        }
        await page.click("#play");
        await page.waitForFunction(() => window.vornishPlayed !== undefined);
        const played = await page.evaluate(() => Array.from(window.vornishPlayed));
        execFileSync(brrdecode, ["-q", "-f", ...flags, brr, "-o", join(workDir, "played.wav")]);
        const wav = await readFile(join(workDir, "played.wav"));
        const data = wav.indexOf("data");
        const samples = new Int16Array(wav.buffer.slice(wav.byteOffset + data + 8,
                                                        wav.byteOffset + data + 8 + wav.readUInt32LE(data + 4)));
        assert.deepEqual(played, Array.from(samples), JSON.stringify(form));
        await page.click("#stop");
    };
    for (const [form, flags] of plays) {
        await checkPlay(brr, form, flags);
    }
    await page.selectOption("#play-as", "pitch");

    // The waveform is drawn: the canvas holds more than its background.
    const inked = await page.$eval("#waveform", (c) => {
        const pixels = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
        let n = 0;
        for (let i = 0; i < pixels.length; i += 4) n += pixels[i] < 200 ? 1 : 0;
        return n;
    });
    assert.ok(inked > 500, `the waveform has ${inked} dark pixels`);
    console.log("saved blocks and WAV, played samples and waveform as the tools give them");

    // Encodes: the page's blocks are brrencode's for the same options.
    const audio = await toneWav(join(workDir, "tone.wav"));
    await page.setInputFiles("#file", audio);
    await page.waitForSelector("#encode:not([hidden])");
    const cases = [  // brrencode's options, the form's
        [[], {}],
        [["--rate", "16000", "--effort", "fast"], { rate: "16000", effort: "0" }],
        [["--loop", "auto"], { loop: "auto" }],
        [["--loop", "3000:9000", "--loop-fit", "repeat", "--treble-boost"],
         { loop: "given", "loop-start": "3000", "loop-end": "9000", "loop-fit": "2", boost: true }],
        [["--loop", "0.0513s:0.9s"], { loop: "given", "loop-start": "0.0513s", "loop-end": "0.9s" }],
        [["--max-bytes", "4000", "--rules", "library"], { "max-bytes": "4000", rules: "0" }],
    ];
    const encodeWith = async (form) => {
        await page.evaluate(() => { window.vornishEncoded = undefined; });
        await page.selectOption("#effort", form.effort || "1");
        await page.fill("#rate", form.rate || "");
        await page.fill("#max-bytes", form["max-bytes"] || "");
        await page.selectOption("#loop", form.loop || "file");
        await page.fill("#loop-start", form["loop-start"] || "");
        await page.fill("#loop-end", form["loop-end"] || "");
        await page.selectOption("#loop-fit", form["loop-fit"] || "0");
        await page.selectOption("#rules", form.rules || "1");
        await page.setChecked("#boost", Boolean(form.boost));
        await page.click("#encode-button");
        await page.waitForFunction(() => window.vornishEncoded !== undefined);
        return Buffer.from(await page.evaluate(() => Array.from(window.vornishEncoded)));
    };
    for (const [flags, form] of cases) {
        const blocks = await encodeWith(form);
        const out = join(workDir, "tone.brr");
        execFileSync(join(tools, "brrencode"), ["-q", "-f", ...flags, audio, "-o", out]);
        assert.deepEqual(blocks, await readFile(out), `brrencode ${flags.join(" ")}`);
    }
    console.log(`${cases.length} encodes give brrencode's blocks`);

    // Other recordings: AIFF read by the engine, and formats the browser
    // decodes at the file's own rate. AIFF's and FLAC's samples are exact,
    // so their encodes are brrencode's; Ogg Vorbis keeps its rate.
    const sox = ["/usr/bin/sox", "/bin/sox"].find((p) => existsSync(p));
    if (sox === undefined) {
        console.log("skipped the other recordings: no sox (apt-get install sox)");
    }
    const opened = [  // name, sox's options, the page's words, exact
        ["tone.aiff", [], "audio, ready to encode", true],
        ["tone.flac", [], "decoded by the browser at 44100 Hz, ", true],
        ["tone.ogg", ["-r", "22050"], "decoded by the browser at 22050 Hz, ", false],
    ];
    for (const [name, options, words, exact] of sox ? opened : []) {
        const encoded = join(workDir, name);
        execFileSync(sox, [audio, ...options, encoded]);
        await page.setInputFiles("#file", encoded);
        await page.waitForFunction((f) => document.querySelector("#status").textContent.startsWith(`${f}:`), name);
        assert.ok((await page.textContent("#status")).includes(words), name);
        // Resampled, as values off the 16-bit grid would show.
        const blocks = await encodeWith({ rate: "16000" });
        if (exact) {
            execFileSync(join(tools, "brrencode"), ["-q", "-f", "--rate", "16000", encoded, "-o", join(workDir, "other.brr")]);
            assert.deepEqual(blocks, await readFile(join(workDir, "other.brr")), name);
        }
    }

    // A memory image and a dump: the table is brrscan's, and an encode put
    // into an entry gives brrinsert's image.
    execFileSync("/usr/bin/python3", [join(here, "make_images.py"), workDir],
                 { env: { ...process.env, PYTHONPATH: join(tools, "..", "python") } });
    for (const name of ["memory.bin", "state-dump.bin"]) {
        const image = join(workDir, name);
        const listed = execFileSync(brrscan, ["--json", image]).toString().trim().split("\n").map((l) => JSON.parse(l))
            .filter((f) => f.offset !== undefined);
        await page.setInputFiles("#file", image);
        await page.waitForFunction((n) => document.querySelector("#caption").textContent.endsWith(n), name);
        const table = await page.$$eval("#table tbody tr", (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
        // Every find at once: brrscan -x --wav's files.
        const all = join(workDir, `all-${name}`);
        await rm(all, { recursive: true, force: true });
        execFileSync(brrscan, ["-q", "-x", all, "--wav", image]);
        const [zipped] = await Promise.all([page.waitForEvent("download"), page.click("#save-all")]);
        await zipped.saveAs(join(workDir, `${name}.zip`));
        execFileSync("/usr/bin/python3", ["-c", `import sys, zipfile, pathlib
z = zipfile.ZipFile(sys.argv[1])
names = sorted(z.namelist())
want = sorted(p.name for p in pathlib.Path(sys.argv[2]).iterdir())
assert names == want, (names, want)
for n in names:
    assert z.read(n) == (pathlib.Path(sys.argv[2]) / n).read_bytes(), n`, join(workDir, `${name}.zip`), all]);
        const cell = (text) => (text === "" ? null : Number(text));
        assert.deepEqual(table.map((r) => [Number(r[0]), Number(r[1]), cell(r[5]), cell(r[6]), cell(r[7])]),
                         listed.map((f) => [f.offset, f.blocks, f.entry, f.voice ?? null, f.pitch ?? null]), name);
        // Sorted by a column, each way, then back by offset.
        for (const [key, way] of [["blocks", "ascending"], ["blocks", "descending"], ["offset", "ascending"]]) {
            await page.click(`th button[data-key="${key}"]`);
            const column = await page.$$eval(`#table tbody tr td:nth-child(${key === "blocks" ? 2 : 1})`,
                                             (tds) => tds.map((td) => Number(td.textContent)));
            const order = [...column].sort((a, b) => (way === "ascending" ? a - b : b - a));
            assert.deepEqual(column, order, `${key} ${way}`);
            assert.equal(await page.getAttribute(`th:has(button[data-key="${key}"])`, "aria-sort"), way);
        }
        // An entry whose sample no other entry shares: its old place is its room.
        const row = listed.findIndex((f) => f.entry !== null && listed.filter((g) => g.offset === f.offset).length === 1);
        await page.click(`#table tbody tr:nth-child(${row + 1})`);
        await page.setInputFiles("#file", audio);
        await page.fill("#max-bytes", String(9 * listed[row].blocks));
        await page.selectOption("#loop", "file");
        await page.evaluate(() => { window.vornishEncoded = undefined; });
        await page.click("#encode-button");
        await page.waitForFunction(() => window.vornishEncoded !== undefined);
        const sample = join(workDir, "entry.brr");
        await writeFile(sample, Buffer.from(await page.evaluate(() => Array.from(window.vornishEncoded))));
        const [download] = await Promise.all([page.waitForEvent("download"), page.click("#replace")]).catch(async (e) => {
            throw new Error(`${e.message}; the page said: ${await page.textContent("#status")}`);
        });
        const saved = join(workDir, `saved-${name}`);
        await download.saveAs(saved);
        const expected = join(workDir, `expected-${name}`);
        execFileSync(join(tools, "brrinsert"), ["-q", "-f", "--entry", String(listed[row].entry), image, sample, "-o", expected]);
        assert.deepEqual(await readFile(saved), await readFile(expected), `${name} with entry ${listed[row].entry}`);
    }
    // The page as the README shows it: a dump's entry selected and an encode.
    await page.click(`#table tbody tr:nth-child(${1 + (await page.$$eval("#table tbody tr", (trs) => trs.findIndex(
        (tr) => tr.cells[2].textContent !== "")))})`);
    await page.waitForFunction(() => document.querySelector("#status").textContent.includes("looping"));
    await page.$eval("#sample", (section) => section.scrollIntoView({ block: "end" }));
    await page.screenshot({ path: join(workDir, "page.png") });
    console.log("memory image and dump: brrscan's table, brrinsert's image");

    // A block file with its loop header is one sample: its WAV is brrdecode's.
    const looped = join(webDir, "..", "..", "..", "examples", "loop.brr");
    await page.setInputFiles("#file", looped);
    await page.waitForFunction(() => document.querySelector("#caption").textContent === "1 sample in loop.brr");
    const [wavDownload] = await Promise.all([page.waitForEvent("download"), page.click("#save-wav")]);
    await wavDownload.saveAs(join(workDir, "loop-page.wav"));
    execFileSync(brrdecode, ["-q", "-f", looped, "-o", join(workDir, "loop-tool.wav")]);
    assert.deepEqual(await readFile(join(workDir, "loop-page.wav")), await readFile(join(workDir, "loop-tool.wav")));
    // It plays once and then its loop, repeated.
    await checkPlay(looped, { "play-as": "pitch", pitch: "0x0800" }, ["--play", "0x0800", "--loops", "2"]);
    console.log("a block file: brrdecode's WAV, and its loop played");

    // Bad input: a message each, and the page still scans afterwards.
    const huge = join(workDir, "huge.bin");
    await writeFile(huge, "");
    await truncate(huge, 769 * 1024 * 1024);  // sparse: nothing is read before the refusal
    const bad = [
        ["empty.bin", Buffer.alloc(0), /is empty/],
        ["huge.bin", null, /is 806354944 bytes; the page takes files up to/],
        ["notes.txt", Buffer.from("These are not samples.\n".repeat(200)), /no sample found/],
        ["cut.wav", (await readFile(audio)).subarray(0, 30), /.+/],
    ];
    for (const [file, bytes, message] of bad) {
        if (bytes !== null) {
            await writeFile(join(workDir, file), bytes);
        }
        await page.setInputFiles("#file", join(workDir, file));
        await page.waitForFunction((f) => document.querySelector("#status").textContent.includes(f), file);
        assert.match(await page.textContent("#status"), message, file);
        if (file === "cut.wav") {
            await page.click("#encode-button");
            await page.waitForFunction(() => document.querySelector("#status").classList.contains("error"));
        }
    }
    await rm(huge);
    // A long scan cancelled: it says so, and the next scan runs.
    // Libraries' bytes scan slower than random ones: time enough to cancel.
    const long = await mixedImage(join(webDir, "..", "..", "..", "examples"), join(workDir, "long.bin"), 192 << 20);
    await page.setInputFiles("#file", long);
    await page.waitForSelector("#work:not([hidden])");
    await page.click("#cancel");
    await page.waitForFunction(() => document.querySelector("#status").textContent === "long.bin: cancelled.");
    await rm(long);
    await page.setInputFiles("#file", path);
    await page.waitForFunction(() => document.querySelector("#caption").textContent.endsWith("image.bin"));
    console.log("bad input and a cancelled scan: a message each, and the page goes on");
} finally {
    await browser.close();
    server.close();
}

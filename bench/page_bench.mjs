// The page against the tools on this machine, in one run: the scan of a
// 16 MiB image (the page's whole open, from the file chosen to its finds
// listed, and the engine's part of it, against brrscan's process), an encode of ten seconds of audio at each effort
// (against brrencode's process), and what the page downloads. Medians.
//   node bench/page_bench.mjs [WEB_DIR] [TOOLS_DIR] [WORK_DIR]
// (after `cmake --workflow --preset default` and `--preset wasm`, and
// `npm ci` in tests/web for playwright-core)
import { image, launch, mixedImage, serve, toneWav } from "../tests/web/fixtures.mjs";
import { execFileSync } from "node:child_process";
import { mkdir, readdir, readFile } from "node:fs/promises";
import { basename, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { gzipSync } from "node:zlib";

const root = join(dirname(fileURLToPath(import.meta.url)), "..");
const [webDir = join(root, "build/wasm/web"), tools = join(root, "build/default/bin"),
       workDir = join(root, "build/wasm/page_bench")] = process.argv.slice(2);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ms = (value) => `${value.toFixed(0)} ms`;

function timed(program, args) {
    const started = performance.now();
    execFileSync(program, args, { stdio: "ignore" });
    return performance.now() - started;
}

async function scans(page, path, runs) {
    const rows = { page: [], engine: [], tool: [] };
    for (let run = 0; run < runs; ++run) {
        await page.evaluate(() => { document.querySelector("#caption").textContent = ""; });
        await page.setInputFiles("#file", path);
        await page.waitForFunction((name) => document.querySelector("#caption").textContent.endsWith(name),
                                   basename(path));
        rows.page.push(await page.evaluate(() => window.vornishOpenMilliseconds));
        rows.engine.push(await page.evaluate(() => window.vornishScanMilliseconds));
        rows.tool.push(timed(join(tools, "brrscan"), ["-q", path]));
    }
    return rows;
}

async function encodes(page, wav, effort, runs) {
    const rows = { page: [], engine: [], tool: [] };
    await page.selectOption("#effort", { label: effort });
    for (let run = 0; run < runs; ++run) {
        await page.evaluate(() => { window.vornishEncoded = undefined; });
        const started = performance.now();
        await page.click("#encode-button");
        await page.waitForFunction(() => window.vornishEncoded !== undefined, null, { timeout: 0 });
        rows.page.push(performance.now() - started);
        rows.engine.push(await page.evaluate(() => window.vornishEncodeMilliseconds));
        rows.tool.push(timed(join(tools, "brrencode"), ["-q", "-f", "--effort", effort, wav, "-o",
                                                        join(workDir, "ten.brr")]));
    }
    return rows;
}

await mkdir(workDir, { recursive: true });
let bytes = 0;
let zipped = 0;
for (const name of await readdir(webDir)) {
    const body = await readFile(join(webDir, name));
    bytes += body.length;
    zipped += gzipSync(body, { level: 9 }).length;
}
console.log(`download: ${(bytes / 1024).toFixed(0)} KiB (${(zipped / 1024).toFixed(0)} KiB gzipped), ` +
            `engine.wasm ${((await readFile(join(webDir, "engine.wasm"))).length / 1024).toFixed(0)} KiB`);
const server = await serve(webDir);
const browser = await launch();
try {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    for (const path of [await image(join(root, "examples"), workDir, "random16.bin", 16 << 20),
                        await mixedImage(join(root, "examples"), join(workDir, "mixed16.bin"), 16 << 20)]) {
        const scan = await scans(page, path, 7);
        console.log(`scan of ${basename(path)}: page ${ms(median(scan.page))} (engine ${ms(median(scan.engine))}), ` +
                    `brrscan ${ms(median(scan.tool))}`);
    }
    const wav = await toneWav(join(workDir, "ten.wav"), 10, false);
    await page.setInputFiles("#file", wav);
    await page.waitForSelector("#encode:not([hidden])");
    for (const [effort, runs] of [["fast", 5], ["default", 5], ["best", 3]]) {
        const rows = await encodes(page, wav, effort, runs);
        console.log(`encode of 10 s at 44100 Hz, effort ${effort}: page ${ms(median(rows.page))} ` +
                    `(engine ${ms(median(rows.engine))}), brrencode ${ms(median(rows.tool))}`);
    }
} finally {
    await browser.close();
    server.close();
}

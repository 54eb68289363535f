// The page: opening a file, the finds in a table, the selected sample seen,
// heard and saved. The engine runs in a Worker (client.js).
import { ask, cancel, whenProgress } from "./client.js";
import { drawWaveform, play, sampleBytes, stop } from "./sample.js";
import { encode, showReport } from "./encode.js";
import { drawSpectra, spectrum } from "./spectrum.js";
import { compare, hear, stopHearing, switchOver } from "./compare.js";
import { zip } from "./zip.js";

const $ = (id) => document.getElementById(id);
// The engine's memory holds 2 GiB: an image and its copy in it.
const kLargest = 768 * 1024 * 1024;
const state = { name: "", image: null, finds: [], selected: null, sortKey: "offset", sortUp: true, audio: null,
                encoded: null };

// WAV (RIFF/RF64 ... WAVE) and AIFF (FORM ... AIFF/AIFC): audio the engine reads.
function isAudio(bytes) {
    const tag = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
    return bytes.length >= 12 && ((["RIFF", "RF64"].includes(tag(0)) && tag(8) === "WAVE") ||
                                  (tag(0) === "FORM" && ["AIFF", "AIFC"].includes(tag(8))));
}

function say(text, error = false) {
    $("status").textContent = text;
    $("status").classList.toggle("error", error);
}

const hex = (n, digits = 1) => "0x" + n.toString(16).toUpperCase().padStart(digits, "0");

function download(bytes, name, type) {
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    const a = document.createElement("a");
    a.href = url;
    a.download = name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// Work that shows the progress bar and may be cancelled.
async function working(text, job) {
    $("work").hidden = false;
    $("progress").value = 0;
    say(text);
    try {
        return await job();
    } finally {
        $("work").hidden = true;
    }
}

function renderTable() {
    const body = $("table").tBodies[0];
    body.textContent = "";
    const k = state.sortKey;
    const sorted = [...state.finds].sort((a, b) => (a[k] < b[k] ? -1 : a[k] > b[k] ? 1 : 0) * (state.sortUp ? 1 : -1));
    for (const f of sorted) {
        const row = body.insertRow();
        row.tabIndex = 0;
        row.setAttribute("aria-selected", String(f === state.selected));
        for (const cell of [hex(f.offset), f.blocks, f.loop >= 0 ? f.loop : "", f.score.toFixed(2), f.foundBy,
                            f.entryNumber >= 0 ? f.entryNumber : "", f.voice >= 0 ? f.voice : "",
                            f.voice >= 0 ? hex(f.pitch, 4) : ""]) {
            row.insertCell().textContent = String(cell);
        }
        const choose = () => select(f);
        row.addEventListener("click", choose);
        row.addEventListener("keydown", (e) => (e.key === "Enter" || e.key === " ") && (e.preventDefault(), choose()));
    }
}

// The encode goes into the selected sample's directory entry, if it has one.
function updateReplace() {
    $("replace").disabled = !(state.encoded && state.selected && state.selected.entryNumber >= 0);
}

// The voice that plays a directory entry, as brrscan names it: a sounding
// one before a silent one, the lowest of equals.
function voiceOf(dump, find) {
    let voice = -1;
    for (let v = 7; dump && find.foundBy === "directory" && v >= 0; --v) {
        const x = dump.voices[v];
        const better = voice < 0 || x.sounding || !dump.voices[voice].sounding;
        if (x.source === find.entryNumber && x.pitch > 0 && better) {
            voice = v;
        }
    }
    return voice;
}

// brrscan -x --wav's rate: in a dump, that of the voice that plays it.
function wavRate(find) {
    return find.voice >= 0 ? state.dump.voices[find.voice].rate : 32000;
}

// Each block's range (the bar's height) and filter (its colour).
function drawBlocks(canvas, blocks) {
    const g = canvas.getContext("2d");
    const colors = ["#2a5bd7", "#1b9e77", "#d95f02", "#7570b3"];
    g.fillStyle = "#fff";
    g.fillRect(0, 0, canvas.width, canvas.height);
    const count = blocks.length / 9;
    for (let b = 0; b < count; ++b) {
        const header = blocks[9 * b];
        const x = Math.floor((b / count) * canvas.width);
        const h = Math.round(((header >> 4) / 15) * canvas.height);
        g.fillStyle = colors[(header >> 2) & 3];
        g.fillRect(x, canvas.height - h, Math.max(1, Math.ceil(canvas.width / count)), h);
    }
}

// Where the finds sit along the image, one mark each.
function drawStrip(size, finds) {
    const canvas = $("strip");
    const g = canvas.getContext("2d");
    g.fillStyle = "#eee";
    g.fillRect(0, 0, canvas.width, canvas.height);
    g.fillStyle = "#2a5bd7";
    for (const f of finds) {
        const x = Math.floor((f.offset / size) * canvas.width);
        const w = Math.max(1, Math.ceil(((f.blocks * 9) / size) * canvas.width));
        g.fillRect(x, 0, w, canvas.height);
    }
}

async function select(find) {
    state.selected = find;
    updateReplace();
    renderTable();
    $("sample").hidden = false;
    try {
        const bytes = sampleBytes(state.image, find);
        const { samples } = await ask("decode", { bytes });
        drawWaveform($("waveform"), samples, find.loop >= 0 ? find.loop * 16 : -1);
        drawBlocks($("ranges"), state.image.subarray(find.offset, find.offset + 9 * find.blocks));
        const played = await ask("decode", { bytes, play: 0x1000 });
        drawSpectra($("spectra"), [{ values: spectrum(samples), color: "#2a5bd7", label: "decoded" },
                                   { values: spectrum(played.samples), color: "#b00020", label: "as the hardware plays it" }],
                    32000);
        say(`${hex(find.offset)}: ${find.blocks} blocks${find.loop >= 0 ? `, looping from block ${find.loop}` : ""}.`);
    } catch (error) {
        say(`${hex(find.offset)}: ${error.message}.`, true);
    }
}

// brrscan -x's names: IMAGE.0xOFFSET, and .entry0xADDRESS for a second
// directory entry of the same start.
function stem(find = state.selected, taken = new Set()) {
    let name = `${state.name}.0x${find.offset.toString(16).padStart(6, "0")}`;
    if (find.foundBy === "directory" && taken.has(`${name}.brr`)) {
        name += `.entry0x${find.entry.toString(16).padStart(4, "0")}`;
    }
    return name;
}

function pitch() {
    const text = $("pitch").value.trim();
    const value = /^0x[0-9a-f]+$/i.test(text) ? parseInt(text, 16) : /^[0-9]+$/.test(text) ? Number(text) : NaN;
    if (!(value >= 1 && value <= 0x3fff)) {
        throw new Error(`the pitch '${text}' is not 1 to 0x3FFF`);
    }
    return value;
}

async function open(file) {
    if (file.size === 0) {
        say(`${file.name} is empty.`, true);
        return;
    }
    if (file.size > kLargest) {
        say(`${file.name} is ${file.size} bytes; the page takes files up to ${kLargest} bytes (brrscan takes any size).`,
            true);
        return;
    }
    const head = new Uint8Array(await file.slice(0, 12).arrayBuffer());
    if (isAudio(head)) {
        // The image stays open: an encode may go into one of its entries.
        state.audio = new Uint8Array(await file.arrayBuffer());
        state.audioName = file.name;
        $("encode").hidden = false;
        say(`${file.name}: audio, ready to encode.`);
        return;
    }
    if (/\.brr$/i.test(file.name) && (file.size % 9 === 0 || file.size % 9 === 2)) {
        openBlockFile(file.name, new Uint8Array(await file.arrayBuffer()));
        return;
    }
    try {
        const finds = await working(`Scanning ${file.name}…`, async () => {
            const bytes = new Uint8Array(await file.arrayBuffer());
            const copy = bytes.slice();
            const result = await ask("scan", { bytes: copy.buffer }, [copy.buffer]);
            state.image = bytes;
            state.dump = result.dump;
            for (const f of result.finds) {
                f.voice = voiceOf(result.dump, f);
                f.pitch = f.voice >= 0 ? result.dump.voices[f.voice].pitch : -1;
            }
            // How long the engine took stays readable to the page's measurements.
            window.vornishScanMilliseconds = result.milliseconds;
            return result.finds;
        });
        Object.assign(state, { name: file.name, finds, selected: null });
        $("caption").textContent = `${finds.length} samples in ${file.name}`;
        const dump = state.dump;
        $("titles").textContent = dump === null ? "" : dump.titles
            ? `A music-state dump: “${dump.song}” from “${dump.game}”.` : "A music-state dump without titles.";
        drawStrip(state.image.length, finds);
        $("finds").hidden = false;
        $("sample").hidden = true;
        $("encode").hidden = true;
        renderTable();
        say(finds.length ? `${file.name}: ${finds.length} samples found.` : `${file.name}: no sample found.`);
    } catch (error) {
        say(`${file.name}: ${error.message}.`, true);
    }
}

// A block file is one sample: its blocks, behind a loop header when its
// size is 2 more than a multiple of 9, as brrdecode reads it.
function openBlockFile(name, bytes) {
    const header = bytes.length % 9 === 2 ? 2 : 0;
    const loopOffset = header ? bytes[0] | (bytes[1] << 8) : -1;
    const blocks = (bytes.length - header) / 9;
    const loop = header && loopOffset % 9 === 0 && loopOffset / 9 < blocks ? loopOffset / 9 : -1;
    Object.assign(state, { name, image: bytes, dump: null, selected: null,
                           finds: [{ offset: header, blocks, loop, score: 1, foundBy: "file", entry: -1,
                                     entryNumber: -1, voice: -1, pitch: -1 }] });
    $("caption").textContent = `1 sample in ${name}`;
    $("titles").textContent = "A block file.";
    $("finds").hidden = false;
    drawStrip(bytes.length, state.finds);
    renderTable();
    select(state.finds[0]);
}

async function guarded(job) {
    try {
        await job();
    } catch (error) {
        say(`${error.message}.`, true);
    }
}

$("file").addEventListener("change", () => $("file").files[0] && open($("file").files[0]));
const drop = $("drop");
drop.addEventListener("dragover", (e) => { e.preventDefault(); drop.classList.add("over"); });
drop.addEventListener("dragleave", () => drop.classList.remove("over"));
drop.addEventListener("drop", (e) => {
    e.preventDefault();
    drop.classList.remove("over");
    if (e.dataTransfer.files[0]) {
        open(e.dataTransfer.files[0]);
    }
});
$("cancel").addEventListener("click", cancel);
whenProgress((fraction) => { $("progress").value = fraction; });
for (const button of document.querySelectorAll("th button")) {
    button.addEventListener("click", () => {
        state.sortUp = state.sortKey === button.dataset.key ? !state.sortUp : true;
        state.sortKey = button.dataset.key;
        renderTable();
    });
}
$("save-brr").addEventListener("click", () => download(sampleBytes(state.image, state.selected), `${stem()}.brr`,
                                                       "application/octet-stream"));
$("save-wav").addEventListener("click", () => guarded(async () => {
    const { wav } = await ask("wav", { bytes: sampleBytes(state.image, state.selected), rate: wavRate(state.selected) });
    download(wav, `${stem()}.wav`, "audio/wav");
}));
$("play").addEventListener("click", () => guarded(async () => {
    // What was played stays readable to the page's tests.
    window.vornishPlayed = await play(sampleBytes(state.image, state.selected), state.selected, pitch());
}));
$("stop").addEventListener("click", stop);
$("encode-form").addEventListener("submit", (event) => {
    event.preventDefault();
    guarded(async () => {
        const result = await working(`Encoding ${state.audioName}…`, () => encode(state.audio));
        state.encoded = result.blocks;
        // What was encoded stays readable to the page's tests.
        window.vornishEncoded = result.blocks;
        showReport(result, state.audioName);
        state.sounds = await compare(result);
        for (const id of ["save-encode", "hear", "hear-other", "hear-stop"]) {
            $(id).disabled = false;
        }
        updateReplace();
        say(`${state.audioName}: encoded, ${result.blocks.length} bytes.`);
    });
});
$("save-encode").addEventListener("click", () => download(state.encoded,
                                                          state.audioName.replace(/\.[^.]*$/, "") + ".brr",
                                                          "application/octet-stream"));
$("replace").addEventListener("click", () => guarded(async () => {
    const entry = state.selected.entryNumber;
    const result = await working(`Putting the encode into entry ${entry}…`,
                                 () => ask("insert", { bytes: state.image.slice().buffer, sample: state.encoded, entry }));
    download(result.image, state.name, "application/octet-stream");
    const [, bytes, room, start] = result.facts;
    say(`Entry ${entry}: ${bytes} bytes placed at ${hex(start, 4)} (room ${room}); the image is saved.`);
}));
$("hear").addEventListener("click", () => hear(state.sounds, "result"));
$("hear-other").addEventListener("click", () => {
    const now = switchOver(state.sounds);
    if (now !== null) {
        $("hear-other").textContent = now === "result" ? "Switch to the source" : "Switch to the result";
    }
});
$("hear-stop").addEventListener("click", stopHearing);
$("save-all").addEventListener("click", () => guarded(async () => {
    const files = [];
    const taken = new Set();
    await working(`Saving ${state.finds.length} finds…`, async () => {
        for (const find of state.finds) {
            const name = stem(find, taken);
            const bytes = sampleBytes(state.image, find);
            const { wav } = await ask("wav", { bytes, rate: wavRate(find) });
            files.push({ name: `${name}.brr`, bytes }, { name: `${name}.wav`, bytes: wav });
            taken.add(`${name}.brr`);
        }
    });
    download(zip(files), `${state.name}.zip`, "application/zip");
}));

// The page: opening a file, the finds in a table, the selected sample seen,
// heard and saved. The engine runs in a Worker (client.js).
import { ask, cancel, whenProgress } from "./client.js";
import { drawWaveform, play, sampleBytes, stop } from "./sample.js";
import { encode, showReport } from "./encode.js";
import { drawSpectra, spectrum } from "./spectrum.js";
import { compare, hear, stopHearing, switchOver } from "./compare.js";
import { zip } from "./zip.js";
import { drawBlocks, drawStrip, hex, renderTable as render, voiceOf } from "./finds.js";
import { playChoice, showPlayFields } from "./playing.js";
import { decodeInBrowser, isEngineAudio, storedRate } from "./audio.js";

const $ = (id) => document.getElementById(id);
// The engine's memory holds 2 GiB: an image and its copy in it.
const kLargest = 768 * 1024 * 1024;
const state = { name: "", image: null, finds: [], selected: null, sortKey: "offset", sortUp: true, audio: null,
                encoded: null };

function say(text, error = false) {
    $("status").textContent = text;
    $("status").classList.toggle("error", error);
}

function download(bytes, name, type) {
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    const a = document.createElement("a");
    a.href = url;
    a.download = name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// Work that shows the progress bar and, in the Worker, may be cancelled.
async function working(text, job, inWorker = true) {
    $("work").hidden = false;
    $("cancel").hidden = !inWorker;
    $("progress").value = 0;
    say(text);
    try {
        return await job();
    } finally {
        $("work").hidden = true;
    }
}

// The encode goes into the selected sample's directory entry, if it has one.
function updateReplace() {
    $("replace").disabled = !(state.encoded && state.selected && state.selected.entryNumber >= 0);
}

// brrscan -x --wav's rate: in a dump, that of the voice that plays it.
function wavRate(find) {
    return find.voice >= 0 ? state.dump.voices[find.voice].rate : 32000;
}

const renderTable = () => render(state, select);

async function select(find) {
    state.selected = find;
    if (find.voice >= 0) {
        // A dump's entry plays at its voice's pitch.
        $("pitch").value = hex(find.pitch, 4);
        $("play-rate").value = String(wavRate(find));
    }
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

async function open(file) {
    const started = performance.now();
    if (file.size === 0) {
        say(`${file.name} is empty.`, true);
        return;
    }
    if (file.size > kLargest) {
        say(`${file.name} is ${file.size} bytes; the page takes files up to ${kLargest} bytes (brrscan takes any size).`,
            true);
        return;
    }
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (isEngineAudio(bytes)) {
        openAudio(file.name, bytes, `${file.name}: audio, ready to encode.`);
        return;
    }
    const rate = storedRate(bytes);
    if (rate !== null) {
        try {
            const decoded = await working(`Decoding ${file.name}…`, () => decodeInBrowser(bytes, rate), false);
            openAudio(file.name, decoded.wav, `${file.name}: audio decoded by the browser at ${decoded.rate} Hz` +
                      `${decoded.known ? "" : " (the file does not say its rate)"}, ready to encode.`);
            return;
        } catch (error) {
            // Bytes that merely begin as a frame of MPEG audio are scanned as an image.
            if (bytes[0] !== 0xff) {
                say(`${file.name}: ${error.message}.`, true);
                return;
            }
        }
    }
    if (/\.brr$/i.test(file.name) && (file.size % 9 === 0 || file.size % 9 === 2)) {
        openBlockFile(file.name, bytes);
        return;
    }
    try {
        const finds = await working(`Scanning ${file.name}…`, async () => {
            // Lent to the Worker, which hands the bytes back with the finds.
            const result = await ask("scan", { bytes: bytes.buffer }, [bytes.buffer]);
            state.image = new Uint8Array(result.bytes);
            state.dump = result.dump;
            for (const f of result.finds) {
                f.voice = voiceOf(result.dump, f);
                f.pitch = f.voice >= 0 ? result.dump.voices[f.voice].pitch : -1;
            }
            window.vornishScanMilliseconds = result.milliseconds;
            return result.finds;
        });
        Object.assign(state, { name: file.name, finds, selected: null });
        $("caption").textContent = `${finds.length} sample${finds.length === 1 ? "" : "s"} in ${file.name}`;
        const dump = state.dump;
        $("titles").textContent = dump === null ? "" : dump.titles
            ? `A music-state dump: “${dump.song}” from “${dump.game}”.` : "A music-state dump without titles.";
        drawStrip($("strip"), state.image.length, finds);
        $("finds").hidden = false;
        $("sample").hidden = true;
        $("encode").hidden = true;
        renderTable();
        say(finds.length ? `${file.name}: ${finds.length} samples found.` : `${file.name}: no sample found.`);
        // From the file chosen to its finds listed, for the page's measurements.
        window.vornishOpenMilliseconds = performance.now() - started;
    } catch (error) {
        say(`${file.name}: ${error.message}.`, true);
    }
}

// Audio to encode; the image stays open, as an encode may go into one of
// its entries.
function openAudio(name, bytes, text) {
    state.audio = bytes;
    state.audioName = name;
    $("encode").hidden = false;
    say(text);
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
    drawStrip($("strip"), bytes.length, state.finds);
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

$("file").addEventListener("change", () => {
    const file = $("file").files[0];
    // Emptied, so that choosing the same file again opens it again.
    $("file").value = "";
    if (file) {
        open(file);
    }
});
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
    window.vornishPlayed = await play(sampleBytes(state.image, state.selected), state.selected, playChoice());
}));
$("stop").addEventListener("click", stop);
$("play-as").addEventListener("change", showPlayFields);
$("encode-form").addEventListener("submit", (event) => {
    event.preventDefault();
    guarded(async () => {
        const result = await working(`Encoding ${state.audioName}…`, () => encode(state.audio));
        state.encoded = result.blocks;
        // What was encoded, and how long the engine took, stay readable to
        // the page's tests and measurements.
        window.vornishEncodeMilliseconds = result.milliseconds;
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

// The page: opening a file, the work in a Worker, the table of finds.
const $ = (id) => document.getElementById(id);
let worker = null;
let nextId = 1;
let finds = [];
let sortKey = "offset";
let sortUp = true;

function startWorker() {
    worker = new Worker(new URL("./worker.js", import.meta.url), { type: "module" });
}

// One request to the worker; rejects when it fails or is cancelled.
function ask(kind, payload, transfer = []) {
    return new Promise((resolve, reject) => {
        const id = nextId++;
        const cancel = () => {
            worker.terminate();
            startWorker();
            reject(new Error("cancelled"));
        };
        $("cancel").onclick = cancel;
        worker.onmessage = (event) => {
            if (event.data.id !== id) {
                return;
            }
            event.data.error ? reject(new Error(event.data.error)) : resolve(event.data);
        };
        worker.postMessage({ id, kind, ...payload }, transfer);
    });
}

function say(text, error = false) {
    $("status").textContent = text;
    $("status").classList.toggle("error", error);
}

function hex(n) {
    return "0x" + n.toString(16).toUpperCase();
}

function render() {
    const body = $("table").tBodies[0];
    body.textContent = "";
    const sorted = [...finds].sort((a, b) => (a[sortKey] < b[sortKey] ? -1 : a[sortKey] > b[sortKey] ? 1 : 0) *
                                              (sortUp ? 1 : -1));
    for (const f of sorted) {
        const row = body.insertRow();
        row.tabIndex = 0;
        for (const cell of [hex(f.offset), f.blocks, f.loop >= 0 ? f.loop : "", f.score.toFixed(2), f.foundBy,
                            f.entryNumber >= 0 ? f.entryNumber : ""]) {
            row.insertCell().textContent = String(cell);
        }
    }
}

async function open(file) {
    if (file.size === 0) {
        say(`${file.name} is empty.`, true);
        return;
    }
    $("work").hidden = false;
    say(`Scanning ${file.name}…`);
    try {
        const bytes = await file.arrayBuffer();
        const result = await ask("scan", { bytes }, [bytes]);
        finds = result.finds;
        $("caption").textContent = `${finds.length} samples in ${file.name}`;
        $("finds").hidden = false;
        render();
        say(finds.length ? `${file.name}: ${finds.length} samples found.` : `${file.name}: no sample found.`);
    } catch (error) {
        say(`${file.name}: ${error.message}.`, true);
    } finally {
        $("work").hidden = true;
    }
}

startWorker();
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
for (const button of document.querySelectorAll("th button")) {
    button.addEventListener("click", () => {
        sortUp = sortKey === button.dataset.key ? !sortUp : true;
        sortKey = button.dataset.key;
        render();
    });
}

// The finds of an image: the sortable table, the strip of where they sit,
// each block's range and filter, and the voice that plays a dump's entry.
export const hex = (n, digits = 1) => "0x" + n.toString(16).toUpperCase().padStart(digits, "0");

// The voice that plays a directory entry, as brrscan names it: a sounding
// one before a silent one, the lowest of equals.
export function voiceOf(dump, find) {
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

// Each block's range (the bar's height) and filter (its colour).
export function drawBlocks(canvas, blocks) {
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
export function drawStrip(canvas, size, finds) {
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

// The table of finds, sorted by the chosen column; `select` opens a row
// (one listener for the table: images hold thousands of finds).
export function renderTable(state, select) {
    const body = document.getElementById("table").tBodies[0];
    const k = state.sortKey;
    const sorted = [...state.finds].sort((a, b) => (a[k] < b[k] ? -1 : a[k] > b[k] ? 1 : 0) * (state.sortUp ? 1 : -1));
    const rows = document.createDocumentFragment();
    sorted.forEach((f, n) => {
        const row = document.createElement("tr");
        row.tabIndex = 0;
        row.dataset.row = String(n);
        row.setAttribute("aria-selected", String(f === state.selected));
        for (const cell of [hex(f.offset), f.blocks, f.loop >= 0 ? f.loop : "", f.score.toFixed(2), f.foundBy,
                            f.entryNumber >= 0 ? f.entryNumber : "", f.voice >= 0 ? f.voice : "",
                            f.voice >= 0 ? hex(f.pitch, 4) : ""]) {
            row.appendChild(document.createElement("td")).textContent = String(cell);
        }
        rows.appendChild(row);
    });
    body.replaceChildren(rows);
    for (const button of document.querySelectorAll("#table th button")) {
        const active = button.dataset.key === k;
        button.parentElement.setAttribute("aria-sort", active ? (state.sortUp ? "ascending" : "descending") : "none");
    }
    const choose = (event) => {
        const row = event.target.closest("tr[data-row]");
        if (row !== null && (event.type === "click" || event.key === "Enter" || event.key === " ")) {
            event.preventDefault();
            select(sorted[Number(row.dataset.row)]);
        }
    };
    body.onclick = choose;
    body.onkeydown = choose;
}

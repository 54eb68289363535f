// How the selected sample is heard: decoded at a rate, or as the hardware's
// voice plays it at a pitch, or at a note against the sample's root note.

const $ = (id) => document.getElementById(id);
const kSemitone = { c: 0, d: 2, e: 4, f: 5, g: 7, a: 9, b: 11 };

// C4, A#3, Eb5 (C4 is 60, as MIDI numbers it), or a MIDI number 0-127 when
// `numbers` allows it; NaN otherwise.
export function noteNumber(text, numbers = false) {
    const t = text.trim();
    if (numbers && /^[0-9]+$/.test(t)) {
        return Number(t) <= 127 ? Number(t) : NaN;
    }
    const m = /^([a-g])([#b]?)(-?[0-9])$/i.exec(t);
    if (m === null) {
        return NaN;
    }
    const n = 12 * (Number(m[3]) + 1) + kSemitone[m[1].toLowerCase()] + (m[2] === "#" ? 1 : m[2] === "b" ? -1 : 0);
    return n >= 0 && n <= 127 ? n : NaN;
}

function pitchValue(text) {
    return /^0x[0-9a-f]+$/i.test(text) ? parseInt(text, 16) : /^[0-9]+$/.test(text) ? Number(text) : NaN;
}

// The pitch that plays `note` when pitch 0x1000 plays `root`.
export function pitchOfNote(note, root) {
    return Math.round(4096 * 2 ** ((note - root) / 12));
}

// The form's choice: { rate } to decode at a rate, or { pitch } for the voice.
export function playChoice() {
    const as = $("play-as").value;
    if (as === "rate") {
        const text = $("play-rate").value.trim();
        const rate = /^[0-9]+$/.test(text) ? Number(text) : NaN;
        if (!(rate >= 3000 && rate <= 384000)) {
            throw new Error(`the rate '${text}' is not 3000 to 384000 Hz`);
        }
        return { rate };
    }
    if (as === "note") {
        const note = noteNumber($("note").value);
        const root = noteNumber($("root").value, true);
        if (Number.isNaN(note) || Number.isNaN(root)) {
            throw new Error(`'${Number.isNaN(note) ? $("note").value : $("root").value}' is not a note (C4, A#3, Eb5)`);
        }
        const pitch = pitchOfNote(note, root);
        if (pitch < 1 || pitch > 0x3fff) {
            throw new Error(`${$("note").value} needs pitch ${pitch}, past the hardware's 1 to 0x3FFF`);
        }
        return { pitch };
    }
    const text = $("pitch").value.trim();
    const pitch = pitchValue(text);
    if (!(pitch >= 1 && pitch <= 0x3fff)) {
        throw new Error(`the pitch '${text}' is not 1 to 0x3FFF`);
    }
    return { pitch };
}

// Only the fields of the chosen way are shown.
export function showPlayFields() {
    for (const field of document.querySelectorAll("[data-play-as]")) {
        field.hidden = field.dataset.playAs !== $("play-as").value;
    }
}

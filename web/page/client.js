// Requests to the engine's Worker: each answered by its id; a cancel ends
// the Worker (and whatever it was doing) and starts a fresh one.
let worker = null;
let onProgress = () => {};
let nextId = 1;
const pending = new Map();

function start() {
    worker = new Worker(new URL("./worker.js", import.meta.url), { type: "module" });
    worker.onmessage = (event) => {
        if (event.data.progress !== undefined) {
            onProgress(event.data.progress);
            return;
        }
        const request = pending.get(event.data.id);
        if (request) {
            pending.delete(event.data.id);
            event.data.error ? request.reject(new Error(event.data.error)) : request.resolve(event.data);
        }
    };
}

export function ask(kind, payload = {}, transfer = []) {
    if (worker === null) {
        start();
    }
    return new Promise((resolve, reject) => {
        const id = nextId++;
        pending.set(id, { resolve, reject });
        worker.postMessage({ id, kind, ...payload }, transfer);
    });
}

export function cancel() {
    if (worker !== null) {
        worker.terminate();
        worker = null;
    }
    for (const request of pending.values()) {
        request.reject(new Error("cancelled"));
    }
    pending.clear();
}

// Told how far the current work has come, 0..1.
export function whenProgress(report) {
    onProgress = report;
}

// The page's script: it starts the program (lu14.js, the core in
// WebAssembly) with the page's choices, puts what the program shows into
// the elements it names, and hands the user's clicks to it. The texts and
// every decision are the program's.
"use strict";

const Command = { Update: 0, Stop: 1, SetOption: 2, Backup: 3, Checksum: 4, RestoreFile: 6, RestoreWrite: 7 };

function byTestId(name) {
  return document.querySelector(`[data-testid="${name}"]`);
}

// The export itself, not ccall: while the program waits (most of the time)
// ccall would wait for a return that its endless loop never makes.
function send(command, argument = 0, text = null) {
  const owned = text === null ? 0 : Module.allocateUTF8(text);
  Module._lu14_page_command(command, argument, owned);
  if (owned) Module._free(owned);
}

// What the program asked for in the address: ?simulate[=FAULT], ?latency-us=N, ?allow-placeholder.
function programArguments() {
  const query = new URLSearchParams(location.search);
  const args = [`--language=${navigator.language || ""}`];
  if (query.has("simulate")) args.push(query.get("simulate") ? `--simulate=${query.get("simulate")}` : "--simulate");
  if (query.has("latency-us")) args.push(`--latency-us=${query.get("latency-us")}`);
  if (query.has("allow-placeholder")) args.push("--allow-placeholder");
  return args;
}

let leaveWarning = "";
let wakeLock = null;

const page = {
  showText(name, text) {
    for (const element of document.querySelectorAll(`[data-text="${name}"], [data-testid="${name}"]`)) {
      element.textContent = text;
      if (text) element.hidden = false;
      else if (element.hasAttribute("data-hide-empty")) element.hidden = true;
    }
    if (name === "title") document.title = text;
  },
  setEnabled(name, enabled) {
    byTestId(name).disabled = !enabled;
  },
  showOption(index, on, changeable) {
    const box = byTestId(`option-${index}`);
    box.indeterminate = on === null;
    box.checked = on === true;
    box.disabled = !changeable;
  },
  appendLog(line) {
    const log = byTestId("log");
    const item = document.createElement("li");
    item.textContent = line;
    log.append(item);
    log.scrollTop = log.scrollHeight;
  },
  showProgress(done, total, text) {
    const bar = byTestId("progress");
    bar.max = total;
    bar.value = done;
    byTestId("progress-text").textContent = text;
  },
  showLines(name, lines) {
    const list = byTestId(name);
    list.replaceChildren(...lines.map((line) => Object.assign(document.createElement("li"), { textContent: line })));
  },
  showCheckbox(name, label) {
    const box = byTestId(name);
    box.checked = false;
    box.closest("label").hidden = !label;
    document.querySelector(`[data-text="${name}-label"]`).textContent = label;
  },
  showResult(name, success, text) {
    const result = byTestId(name);
    result.textContent = text;
    if (text) result.dataset.outcome = success ? "success" : "failure";
    else delete result.dataset.outcome;
  },
  offerDownload(bytes, name, label) {
    const link = byTestId("backup-download");
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([bytes], { type: "text/plain" }));
    link.download = name;
    link.textContent = label;
    link.hidden = false;
  },
  async setUpdating(updating, warning) {
    leaveWarning = updating ? warning : "";
    // The screen stays on while the firmware is written, where the browser allows it.
    if (updating && "wakeLock" in navigator) {
      wakeLock = await navigator.wakeLock.request("screen").catch(() => null);
    } else if (!updating && wakeLock) {
      wakeLock.release().catch(() => {});
      wakeLock = null;
    }
  },
};

window.addEventListener("beforeunload", (event) => {
  if (!leaveWarning) return;
  event.preventDefault();
  event.returnValue = leaveWarning;
});

// The chooser opens from the click itself: the browser asks for the user's gesture.
byTestId("connect").addEventListener("click", () => Module.hid?.choose());
byTestId("update").addEventListener("click", () => send(Command.Update));
byTestId("stop").addEventListener("click", () => send(Command.Stop));
byTestId("backup").addEventListener("click", () => send(Command.Backup));
byTestId("checksum").addEventListener("click", () => send(Command.Checksum));
byTestId("restore-write").addEventListener("click", () =>
  send(Command.RestoreWrite, byTestId("restore-anyway").checked ? 1 : 0));
// The picked file goes into the program's file system, where the program
// reads and checks it. A backup is 4352 bytes: more than that is never copied.
const kLongestCopied = 1 << 20;
byTestId("restore-file").addEventListener("change", async (event) => {
  const file = event.target.files[0];
  event.target.value = "";
  if (!file) return;
  const bytes = new Uint8Array(await file.slice(0, kLongestCopied).arrayBuffer());
  const path = `/restore/${file.name.replaceAll("/", "_")}`;
  Module.FS.mkdirTree("/restore");
  Module.FS.writeFile(path, bytes);
  send(Command.RestoreFile, 0, path);
});
for (let index = 0; index < 4; ++index) {
  const box = byTestId(`option-${index}`);
  box.addEventListener("click", () => {
    send(Command.SetOption, index * 2 + (box.checked ? 1 : 0));
    // The switch shows what the meter holds once it has been read back.
    box.disabled = true;
  });
}

var Module = { arguments: programArguments(), page };
const program = document.createElement("script");
program.src = "lu14.js";
document.body.append(program);

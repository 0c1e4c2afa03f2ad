// The page's script: it starts the program (lu14.js, the core in
// WebAssembly) with the page's choices, puts what the program shows into
// the elements it names, and hands the user's clicks to it. The texts and
// every decision are the program's.
"use strict";

const Command = { Update: 0, Stop: 1, SetOption: 2, Backup: 3, Checksum: 4 };

function byTestId(name) {
  return document.querySelector(`[data-testid="${name}"]`);
}

// The export itself, not ccall: while the program waits (most of the time)
// ccall would wait for a return that its endless loop never makes.
function send(command, argument = 0) {
  Module._lu14_page_command(command, argument, 0);
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
  showResult(success, text) {
    const result = byTestId("result");
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

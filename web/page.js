// The page: the parts, the library and the options are chosen here, weldrix runs in a worker
// (weldrix-worker.js) on a working folder in memory, and the change report and the cleaned files
// are shown and offered for download. Every run starts from runTool(): the Clean button, the demo
// and the self-test (index.html#selftest) alike.
//
// The working folder of a run:
//   input/...        the parts (one file, several files or a folder's contents)
//   <library>/...    the LDraw library folder picked for -s, under its own name
//   cleaned/...      what the run writes: one file, or the folder a batch run writes
//   report.html      the change report (-r report.html)
// One file runs as "weldrix [options] input/NAME cleaned/NAME"; several files or a folder run as
// the tool's batch mode, "weldrix [options] input cleaned". Files are read only when the run opens
// them: a library folder of 25,000 files costs its file names, and the files a part refers to.
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  const LDRAW_NAME = /\.(dat|ldr|mpd)$/i;
  const RESERVED = new Set(["input", "cleaned", "report.html"]);

  const state = {
    inputs: [], // [{path, file}]: path relative to input/
    folder: false, // the parts came as a folder: cleaned as a folder even when it holds one file
    library: null, // {name, files: [{path, file}]}: paths relative to the library folder
    worker: null,
    workerUrl: null,
    urls: [], // object URLs of the shown result, released by the next run
    onFinished: null, // called with the result or an error, for the self-test
  };

  // --- choosing files ---------------------------------------------------------------------------

  const formatSize = (n) =>
    n < 1024 ? n + " B" : n < 1048576 ? (n / 1024).toFixed(1) + " KB" : (n / 1048576).toFixed(1) + " MB";
  const withoutFirstFolder = (path) => path.slice(path.indexOf("/") + 1);

  function setInputs(inputs, folder, note) {
    state.inputs = inputs.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
    state.folder = folder;
    const parts = inputs.filter((f) => LDRAW_NAME.test(f.path)).length;
    const list = $("file-list");
    list.textContent = "";
    for (const input of inputs.slice(0, 200)) {
      const item = document.createElement("li");
      const name = document.createElement("span");
      name.textContent = input.path;
      name.title = input.path;
      const size = document.createElement("span");
      size.textContent = formatSize(input.file.size);
      item.append(name, size);
      list.append(item);
    }
    let text = "No part chosen yet.";
    if (inputs.length === 1 && !folder) text = "One part.";
    else if (inputs.length > 0) {
      text = (folder ? "A folder: " : "") + parts + (parts === 1 ? " LDraw file" : " LDraw files");
      if (inputs.length > parts) text += ", " + (inputs.length - parts) + " other";
      text += ", cleaned as a folder.";
      if (inputs.length > 200) text += " The first 200 are listed.";
    }
    if (note) text += " " + note;
    $("chosen").textContent = text;
    $("clear").disabled = inputs.length === 0;
    update();
  }

  // Loose files: LDraw names only. A folder's files: all of them, as the batch finds its parts
  // itself and the other files may be subfiles.
  function chooseFiles(files) {
    const parts = files.filter((f) => LDRAW_NAME.test(f.name));
    const skipped = files.length - parts.length;
    const note = skipped ? skipped + (skipped === 1 ? " file was" : " files were") + " left out: not .dat, .ldr or .mpd." : "";
    setInputs(parts.map((file) => ({ path: file.name, file })), false, note);
  }

  function chooseFolder(files) {
    setInputs(files.map((file) => ({ path: withoutFirstFolder(file.webkitRelativePath || file.name), file })), true);
  }

  function setLibrary(files) {
    if (files.length === 0) return;
    const first = files[0].webkitRelativePath || files[0].name;
    const name = first.includes("/") ? first.slice(0, first.indexOf("/")) : "library";
    state.library = { name, files: files.map((file) => ({ path: withoutFirstFolder(file.webkitRelativePath || file.name), file })) };
    $("library").textContent =
      "Library: " + name + " (" + files.length.toLocaleString("en") + " files; only those a part refers to are read).";
    update();
  }

  // Everything below a dropped folder, with paths from the drop ("folder/sub/a.dat").
  async function droppedFiles(items) {
    const found = [];
    const readAll = (reader) =>
      new Promise((resolve, reject) => {
        const entries = [];
        const next = () => reader.readEntries((batch) => (batch.length ? (entries.push(...batch), next()) : resolve(entries)), reject);
        next();
      });
    async function walk(entry) {
      if (entry.isFile) {
        const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
        found.push({ path: entry.fullPath.replace(/^\//, ""), file });
      } else if (entry.isDirectory) {
        for (const child of await readAll(entry.createReader())) await walk(child);
      }
    }
    const entries = [];
    for (const item of items) {
      const entry = item.webkitGetAsEntry && item.webkitGetAsEntry();
      if (entry) entries.push(entry);
    }
    for (const entry of entries) await walk(entry);
    return { found, entries };
  }

  async function onDrop(event) {
    event.preventDefault();
    $("drop").classList.remove("over");
    if (isRunning()) return;
    const { found, entries } = await droppedFiles(Array.from(event.dataTransfer.items || []));
    if (entries.length === 1 && entries[0].isDirectory) {
      setInputs(found.map((f) => ({ path: withoutFirstFolder(f.path), file: f.file })), true);
    } else if (entries.some((e) => e.isDirectory)) {
      setInputs(found, true);
    } else {
      chooseFiles(found.length ? found.map((f) => f.file) : Array.from(event.dataTransfer.files));
    }
  }

  // --- the command line -------------------------------------------------------------------------

  function libraryFolder() {
    if (!state.library) return null;
    const name = state.library.name;
    return RESERVED.has(name.toLowerCase()) || name === "" || name.startsWith(".") ? "library" : name;
  }

  function plan() {
    const snap = $("snap").checked;
    const batch = state.folder || state.inputs.length > 1;
    const args = [];
    if (snap) args.push("-s");
    const library = snap ? libraryFolder() : null;
    if (library) args.push("-l", library);
    const ut = $("ut").value.trim();
    const us = $("us").value.trim();
    if (ut) args.push("-ut", ut);
    if (snap && us) args.push("-us", us);
    if ($("minimal").checked) args.push("--minimal");
    if ($("fix").checked) args.push("--fix");
    args.push("-r", "report.html");
    if (batch) args.push("input", "cleaned");
    else if (state.inputs.length === 1) args.push("input/" + state.inputs[0].path, "cleaned/" + state.inputs[0].path);
    return { args, batch, library };
  }

  const quote = (arg) => (/^[\w.,\/+-]+$/.test(arg) ? arg : '"' + arg.replace(/(["\\$`])/g, "\\$1") + '"');

  function update() {
    const snap = $("snap").checked;
    $("choose-library").disabled = !snap || isRunning();
    $("us").disabled = !snap || isRunning();
    const running = isRunning();
    $("run").disabled = running || state.inputs.length === 0;
    for (const id of ["choose-files", "choose-folder", "demo", "snap", "ut", "minimal", "fix"]) $(id).disabled = running;
    $("clear").disabled = running || state.inputs.length === 0;
    $("drop").setAttribute("aria-disabled", String(running));
    const { args } = plan();
    $("command").textContent = "weldrix " + (state.inputs.length ? args : args.concat(["IN", "OUT"])).map(quote).join(" ");
  }

  // --- running ----------------------------------------------------------------------------------

  const isRunning = () => state.worker !== null;

  function newWorker() {
    if (!state.workerUrl) {
      // Pages opened from disk may not start a worker from a file; a blob works everywhere.
      const source = new Blob([window.weldrixWorkerSource], { type: "text/javascript" });
      state.workerUrl = URL.createObjectURL(source);
    }
    return new Worker(state.workerUrl);
  }

  function runTool() {
    if (isRunning() || state.inputs.length === 0) return;
    const { args, batch, library } = plan();
    for (const url of state.urls) URL.revokeObjectURL(url);
    state.urls = [];
    $("results").hidden = true;
    $("report").removeAttribute("src");
    const lazyFiles = state.inputs.map((f) => ({ path: "input/" + f.path, file: f.file }));
    if (library) for (const f of state.library.files) lazyFiles.push({ path: library + "/" + f.path, file: f.file });

    const consoleBox = $("console");
    consoleBox.textContent = "";
    consoleBox.hidden = false;
    const total = batch ? state.inputs.filter((f) => LDRAW_NAME.test(f.path)).length : 1;
    const seen = new Set();
    const started = performance.now();
    let pending = "";
    let phase = "Starting";
    let flushQueued = false;
    const bar = $("progress-bar");
    if (batch) {
      bar.max = Math.max(total, 1);
      bar.value = 0;
    } else bar.removeAttribute("value");
    const show = () => {
      flushQueued = false;
      if (pending) {
        consoleBox.append(pending);
        pending = "";
        consoleBox.scrollTop = consoleBox.scrollHeight;
      }
      const seconds = ((performance.now() - started) / 1000).toFixed(1);
      $("progress-text").textContent = (batch ? seen.size + " of " + total + " files: " : "") + phase + " (" + seconds + " s)";
      if (batch) bar.value = seen.size;
    };
    const queue = () => {
      if (!flushQueued) (flushQueued = true), requestAnimationFrame(show);
    };
    const ticker = setInterval(queue, 250);

    const worker = newWorker();
    state.worker = worker;
    $("progress").hidden = false;
    $("cancel").hidden = false;
    $("run").hidden = true;
    update();
    show();

    const finish = (outcome) => {
      clearInterval(ticker);
      worker.terminate();
      state.worker = null;
      $("progress").hidden = true;
      $("cancel").hidden = true;
      $("run").hidden = false;
      show();
      update();
      if (outcome.cancelled) {
        $("progress-text").textContent = "";
        consoleBox.append("\n[cancelled]\n");
      }
      if (outcome.result) showResult(outcome.result, outcome.zip, args);
      else if (outcome.error) showFailure(outcome.error);
      if (state.onFinished) state.onFinished(outcome);
    };
    state.cancel = () => finish({ cancelled: true });
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.type === "output") {
        if (message.stream === "stdout") {
          pending += message.text;
          const lines = message.text.split("\n").filter((l) => l.trim());
          if (lines.length) phase = lines[lines.length - 1];
        } else pending += message.text;
        queue();
      } else if (message.type === "opened") {
        if (batch && message.path.startsWith("/input/") && LDRAW_NAME.test(message.path)) seen.add(message.path);
        queue();
      } else if (message.type === "done") {
        finish({ result: message.result, zip: message.zip });
      } else if (message.type === "failed") {
        finish({ error: message.message });
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      finish({ error: event.message || "the worker stopped" });
    };
    worker.postMessage({ args, files: [{ path: "cleaned/" }], lazyFiles, zipFolder: "cleaned/" });
  }

  // --- results ----------------------------------------------------------------------------------

  const MEANING = {
    0: "done",
    1: "usage error",
    2: "a file could not be read or written",
    3: "the geometry would change",
    4: "a warning was made an error (--strict)",
    130: "interrupted",
  };

  function objectUrl(blob) {
    const url = URL.createObjectURL(blob);
    state.urls.push(url);
    return url;
  }

  function link(text, url, name, className) {
    const a = document.createElement("a");
    a.href = url;
    a.className = className;
    a.textContent = text;
    if (name) a.download = name;
    else (a.target = "_blank"), (a.rel = "noopener");
    return a;
  }

  // Lines of standard output in which the tool says a file failed; standard error holds its warnings.
  const FAILURE = /^(failed: |Out of memory$)| (not found|is not a text file|can't be read)$|Can't create/;

  function showResult(result, zip, args) {
    const status = $("status");
    status.textContent = "Exit code " + result.status + ": " + (MEANING[result.status] || "see the console output");
    status.className = result.status === 0 ? "ok" : result.status === 3 ? "changed" : "failed";
    const downloads = $("downloads");
    downloads.textContent = "";
    const cleaned = Object.keys(result.files).filter((p) => p.startsWith("cleaned/")).sort();
    if (cleaned.length === 1) {
      const name = cleaned[0].slice(cleaned[0].lastIndexOf("/") + 1);
      downloads.append(link("Download " + name, objectUrl(new Blob([result.files[cleaned[0]]])), name, "download"));
    } else if (cleaned.length > 1 && zip) {
      const text = "Download " + cleaned.length + " cleaned files (zip)";
      downloads.append(link(text, objectUrl(zip), "weldrix-cleaned.zip", "download"));
    }
    const report = result.files["report.html"];
    if (report) {
      const page = objectUrl(new Blob([report], { type: "text/html" }));
      downloads.append(link("Open the report in a new tab", page, null, "secondary"));
      downloads.append(link("Download the report", page, "report.html", "secondary"));
      $("report").src = page;
      $("report").hidden = false;
    } else $("report").hidden = true;

    const warnings = $("warnings");
    warnings.textContent = "";
    const add = (text, className) => {
      const item = document.createElement("li");
      item.textContent = text;
      if (className) item.className = className;
      warnings.append(item);
    };
    for (const line of result.stdout.split("\n")) if (FAILURE.test(line)) add(line, "error");
    for (const line of result.stderr.split("\n")) if (line.trim()) add(line);
    $("output").textContent = "$ weldrix " + args.map(quote).join(" ") + "\n" + result.stdout;
    $("output-box").open = result.status !== 0 && result.status !== 3;
    $("results").hidden = false;
    $("results-title").focus({ preventScroll: true });
    $("results").scrollIntoView({ behavior: "smooth", block: "start" });
  }

  function showFailure(error) {
    $("status").textContent = "The run could not finish: " + error.split("\n")[0];
    $("status").className = "failed";
    $("downloads").textContent = "";
    $("warnings").textContent = "";
    $("output").textContent = error;
    $("report").hidden = true;
    $("results").hidden = false;
    $("results-title").focus();
  }

  // --- the demo and the self-test ---------------------------------------------------------------

  const latin1File = (text, name) => new File([Uint8Array.from(text, (c) => c.charCodeAt(0))], name);

  function loadDemo() {
    const demo = window.weldrixDemo;
    setInputs([{ path: demo.part.name, file: latin1File(demo.part.text, demo.part.name) }], false, "(the demo part)");
    state.library = {
      name: "ldraw",
      files: demo.library.map((f) => ({ path: withoutFirstFolder(f.path), file: latin1File(f.text, f.path) })),
    };
    $("library").textContent = "Library: ldraw (the demo's one primitive).";
    $("snap").checked = true;
    update();
  }

  // SHA-256 of bytes as hexadecimal (FIPS 180-4). Written out because the browser's own digest is
  // missing on pages served over plain HTTP.
  function sha256(bytes) {
    const k = new Uint32Array(64);
    const h = new Uint32Array(8);
    const firstBits = (root) => (((root - Math.floor(root)) * 4294967296) >>> 0);
    for (let n = 2, i = 0, j = 0; i < 64; n++) {
      let prime = true;
      for (let d = 2; d * d <= n; d++) if (n % d === 0) prime = false;
      if (!prime) continue;
      if (j < 8) h[j++] = firstBits(Math.sqrt(n));
      k[i++] = firstBits(Math.cbrt(n));
    }
    const length = bytes.length;
    const padded = new Uint8Array(((length + 9 + 63) >> 6) << 6);
    padded.set(bytes);
    padded[length] = 0x80;
    const view = new DataView(padded.buffer);
    view.setUint32(padded.length - 8, Math.floor(length / 536870912));
    view.setUint32(padded.length - 4, (length * 8) >>> 0);
    const w = new Uint32Array(64);
    const rotr = (x, n) => (x >>> n) | (x << (32 - n));
    for (let block = 0; block < padded.length; block += 64) {
      for (let t = 0; t < 16; t++) w[t] = view.getUint32(block + 4 * t);
      for (let t = 16; t < 64; t++) {
        const s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >>> 3);
        const s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >>> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
      }
      let [a, b, c, d, e, f, g, hh] = h;
      for (let t = 0; t < 64; t++) {
        const t1 = (hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[t] + w[t]) >>> 0;
        const t2 = ((rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) >>> 0;
        hh = g;
        g = f;
        f = e;
        e = (d + t1) >>> 0;
        d = c;
        c = b;
        b = a;
        a = (t1 + t2) >>> 0;
      }
      h[0] += a;
      h[1] += b;
      h[2] += c;
      h[3] += d;
      h[4] += e;
      h[5] += f;
      h[6] += g;
      h[7] += hh;
    }
    return Array.from(h, (x) => x.toString(16).padStart(8, "0")).join("");
  }

  // Loads the demo as the demo button does and cleans it as the Clean button does.
  function selfTest() {
    const line = $("selftest");
    line.hidden = false;
    line.textContent = "selftest: running";
    state.onFinished = (outcome) => {
      state.onFinished = null;
      const result = outcome.result;
      const cleaned = result && result.files["cleaned/demo.dat"];
      if (!result) line.textContent = "selftest: failed " + (outcome.error || "cancelled").split("\n")[0];
      else if (result.status !== 0) line.textContent = "selftest: failed exit code " + result.status;
      else if (!cleaned) line.textContent = "selftest: failed no cleaned file";
      else if (!result.files["report.html"]) line.textContent = "selftest: failed no report";
      else line.textContent = "selftest: ok " + sha256(cleaned);
    };
    loadDemo();
    runTool();
  }

  // --- wiring -----------------------------------------------------------------------------------

  const drop = $("drop");
  drop.addEventListener("click", () => isRunning() || $("file-input").click());
  drop.addEventListener("keydown", (event) => {
    if (event.key === "Enter" || event.key === " ") {
      event.preventDefault();
      if (!isRunning()) $("file-input").click();
    }
  });
  drop.addEventListener("dragover", (event) => {
    event.preventDefault();
    drop.classList.add("over");
  });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", onDrop);
  // A file dropped beside the drop zone is not opened by the browser in place of the page.
  window.addEventListener("dragover", (event) => event.preventDefault());
  window.addEventListener("drop", (event) => event.target === drop || drop.contains(event.target) || event.preventDefault());

  $("choose-files").addEventListener("click", () => $("file-input").click());
  $("choose-folder").addEventListener("click", () => $("folder-input").click());
  $("choose-library").addEventListener("click", () => $("library-input").click());
  $("file-input").addEventListener("change", (event) => {
    chooseFiles(Array.from(event.target.files));
    event.target.value = "";
  });
  $("folder-input").addEventListener("change", (event) => {
    chooseFolder(Array.from(event.target.files));
    event.target.value = "";
  });
  $("library-input").addEventListener("change", (event) => {
    setLibrary(Array.from(event.target.files));
    event.target.value = "";
  });
  $("demo").addEventListener("click", loadDemo);
  $("clear").addEventListener("click", () => setInputs([], false));
  $("run").addEventListener("click", runTool);
  $("cancel").addEventListener("click", () => state.cancel && state.cancel());
  for (const id of ["snap", "minimal", "fix"]) $(id).addEventListener("change", update);
  for (const id of ["ut", "us"]) $(id).addEventListener("input", update);
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape" && isRunning()) state.cancel();
  });

  update();
  if (location.hash === "#selftest") selfTest();
})();

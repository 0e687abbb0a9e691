// The module (weldrix.mjs) against the native program: for the same arguments and files, the same
// exit code, standard output, standard error and output bytes.
//
//   node web/test/module.test.mjs BUILD_WEB NATIVE_WELDRIX
//
// Every part of the bundled library (tests/data/ldraw) and the demo part is cleaned without
// options, with -s and with other thresholds; the library is given to the module as lazy files, as
// the page gives it. Then the other ways a run ends (batch, -c, reports, usage errors, a file that
// is not text, a file that cannot be read) and what the module API itself promises.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { cpSync, lstatSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, symlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, relative, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const [buildWeb, nativeArg] = process.argv.slice(2);
if (!buildWeb || !nativeArg) {
  console.error("usage: module.test.mjs BUILD_WEB NATIVE_WELDRIX");
  process.exit(2);
}
const native = resolve(nativeArg);
const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const { run } = await import(pathToFileURL(resolve(buildWeb, "weldrix.mjs")).href);

const work = mkdtempSync(join(tmpdir(), "weldrix-web-"));
process.on("exit", () => rmSync(work, { recursive: true, force: true }));

// Every file below folder, by "/"-separated path relative to it.
// Links (the native run's library) are not followed.
function walk(folder, base = folder, found = {}) {
  for (const name of readdirSync(folder)) {
    const path = join(folder, name);
    const kind = lstatSync(path);
    if (kind.isSymbolicLink()) continue;
    if (kind.isDirectory()) walk(path, base, found);
    else found[relative(base, path).split("\\").join("/")] = path;
  }
  return found;
}

// The library as the page hands it over: names and sizes now, bytes when the run opens a file.
const libraryFolder = join(root, "tests/data/ldraw");
function lazyLibrary(reads) {
  const lazy = {};
  for (const [path, file] of Object.entries(walk(libraryFolder))) {
    lazy["ldraw/" + path] = { size: statSync(file).size, read: () => (reads.push(path), readFileSync(file)) };
  }
  return lazy;
}

// Runs the native program in a folder holding files (and the library as "ldraw" when asked),
// standard input at its end; returns what the module returns, files being those that changed. The
// folder is emptied after each run but for the library, copied once.
const nativeFolder = mkdtempSync(join(work, "native-"));
const nativeLibrary = join(work, "ldraw");
cpSync(libraryFolder, nativeLibrary, { recursive: true });
function runNative(args, files, withLibrary) {
  if (withLibrary) symlinkSync(nativeLibrary, join(nativeFolder, "ldraw"));
  for (const [path, bytes] of Object.entries(files)) {
    mkdirSync(dirname(join(nativeFolder, path)), { recursive: true });
    if (!path.endsWith("/")) writeFileSync(join(nativeFolder, path), bytes);
  }
  const ran = spawnSync(native, args, { cwd: nativeFolder, input: "", maxBuffer: 1 << 30 });
  const written = {};
  for (const [path, file] of Object.entries(walk(nativeFolder))) {
    const bytes = readFileSync(file);
    if (!(path in files) || !Buffer.from(files[path]).equals(bytes)) written[path] = bytes;
  }
  for (const name of readdirSync(nativeFolder)) rmSync(join(nativeFolder, name), { recursive: true, force: true });
  return { status: ran.status, stdout: ran.stdout, stderr: ran.stderr, files: written };
}

// The batch summary ends with the time the run took, which no two runs share.
const timeless = (text) => Buffer.from(text).toString("latin1").replace(/^Elapsed time: .*$/m, "Elapsed time: -");

let passed = 0;
const failures = [];
async function check(name, body) {
  try {
    await body();
    passed++;
  } catch (error) {
    failures.push(name);
    console.error(`FAILED: ${name}\n${error.message.split("\n").slice(0, 30).join("\n")}`);
  }
}

// The module and the native program on the same arguments and files: everything equal. Files the
// run wrote with unchanged bytes are only in the module's list (it reports every file written).
async function same(args, files, { withLibrary = false, timed = false } = {}) {
  const reads = [];
  const module = await run(args, files, withLibrary ? { lazyFiles: lazyLibrary(reads) } : {});
  const expected = runNative(args, files, withLibrary);
  const text = timed ? timeless : (bytes) => Buffer.from(bytes).toString("latin1");
  assert.equal(module.status, expected.status, "exit code");
  assert.equal(text(module.stdoutBytes), text(expected.stdout), "standard output");
  assert.equal(text(module.stderrBytes), text(expected.stderr), "standard error");
  const changed = Object.keys(module.files).filter((p) => !(p in files) || !Buffer.from(files[p]).equals(module.files[p]));
  assert.deepEqual(changed.sort(), Object.keys(expected.files).sort(), "files written");
  for (const path of changed) assert.ok(Buffer.from(module.files[path]).equals(expected.files[path]), `bytes of ${path}`);
  return { module, reads };
}

// --- every bundled part, three ways ---------------------------------------------------------------
const parts = Object.entries(walk(join(libraryFolder, "parts")))
  .filter(([path]) => !path.includes("/"))
  .map(([path, file]) => [path, readFileSync(file)]);
parts.push(["demo.dat", readFileSync(join(root, "examples/demo.dat"))]);
const ways = [
  { name: "plain", args: [] },
  { name: "-s", args: ["-s", "-l", "ldraw"], withLibrary: true },
  { name: "thresholds", args: ["-ut", "0.05", "-s", "-us", "0.02", "-l", "ldraw"], withLibrary: true },
];
let mostRead = 0;
for (const [name, bytes] of parts) {
  for (const way of ways) {
    await check(`${name} ${way.name}`, async () => {
      const { reads } = await same([...way.args, name, "out.dat"], { [name]: bytes }, way);
      mostRead = Math.max(mostRead, reads.length);
    });
  }
}

// --- the other ways a run ends --------------------------------------------------------------------
const demo = readFileSync(join(root, "examples/demo.dat"));
const part = (name) => readFileSync(join(libraryFolder, "parts", name));
// Two edge lines that the cleaning makes identical: a geometry warning, and with --fix one edge.
const twin = "0 t\n2 24 -8.40331 4.5 -3 -9 4.5 0\n2 24 -9 4.5 0 -8.403 4.5 -3\n";
const cases = [
  ["report page", ["-s", "-l", "ldraw", "-r", "report.html", "demo.dat", "out.dat"], { "demo.dat": demo }, true],
  ["report JSON", ["-s", "-l", "ldraw", "-r", "report.json", "demo.dat", "out.dat"], { "demo.dat": demo }, true],
  ["report text on standard output", ["-r", "-", "demo.dat", "out.dat"], { "demo.dat": demo }],
  ["check only, would change", ["-c", "demo.dat", "out.dat"], { "demo.dat": demo }],
  ["in place", ["-s", "-l", "ldraw", "demo.dat", "demo.dat"], { "demo.dat": demo }, true],
  ["missing input", ["nothing.dat", "out.dat"], {}],
  ["not a text file", ["utf16.dat", "out.dat"], { "utf16.dat": Buffer.from([0xff, 0xfe, 0x31, 0, 0x0a, 0]) }],
  ["output folder missing", ["demo.dat", "no/out.dat"], { "demo.dat": demo }],
  ["usage error", ["-x", "demo.dat", "out.dat"], { "demo.dat": demo }],
  ["warnings", ["-us", "0.1", "-ut", "0,01", "demo.dat", "out.dat"], { "demo.dat": demo }],
  ["missing subfiles", ["-s", "3001.dat", "out.dat"], { "3001.dat": part("3001.dat") }],
  ["help", ["--help"], {}],
  ["version", ["--version"], {}],
  ["no arguments", [], {}],
];
for (const [name, args, files, withLibrary] of cases) await check(name, () => same(args, files, { withLibrary }));

await check("a geometry fault the cleaning made: warned, and with --fix --minimal repaired", async () => {
  const warned = (await same(["twin.dat", "out.dat"], { "twin.dat": twin })).module;
  assert.match(warned.stderr, /twin\.dat line 3: the cleaning made this edge line identical to line 2 \(--fix removes it\)/);
  const fixed = (await same(["--fix", "--minimal", "twin.dat", "out.dat"], { "twin.dat": twin })).module;
  const edges = Buffer.from(fixed.files["out.dat"]).toString().split("\n").filter((l) => l.startsWith("2 "));
  assert.equal(edges.length, 1, "one edge line written");
  assert.equal(fixed.stderr, "", "a repaired fault is no warning");
});
await check("batch: a folder in, a folder out, with a page report", async () => {
  const files = { "in/demo.dat": demo, "in/3001.dat": part("3001.dat"), "in/s/x.ldr": part("3024.dat"), "in/notes.txt": "x" };
  await same(["-s", "-l", "ldraw", "-r", "report.html", "in", "out"], files, { withLibrary: true, timed: true });
});
await check("batch: check only", async () => {
  const files = { "in/demo.dat": demo, "in/3001.dat": part("3001.dat") };
  await same(["-c", "in", "out"], files, { timed: true });
});

// --- what the module API promises -------------------------------------------------------------------
await check("a -s run reads only the library files it uses", () => {
  // 22678.dat inlines the most of all bundled parts; the library holds about 200 files.
  assert.ok(mostRead > 0 && mostRead < Object.keys(walk(libraryFolder)).length / 2, `read ${mostRead} files`);
});

await check("a library file that cannot be read fails the run as the tool words it", async () => {
  const lazyFiles = lazyLibrary([]);
  lazyFiles["ldraw/p/4-4edge.dat"].read = () => {
    throw new Error("NotReadableError");
  };
  const result = await run(["-s", "-l", "ldraw", "demo.dat", "out.dat"], { "demo.dat": demo }, { lazyFiles });
  assert.equal(result.status, 2);
  assert.match(result.stdout, /^ldraw\\p\\4-4edge\.dat can't be read$|ldraw.p.4-4edge\.dat can't be read\n/m);
  assert.deepEqual(Object.keys(result.files), []);
});

await check("each run starts from a clean state; folders, strings and live output", async () => {
  const seen = [];
  const opened = [];
  const first = await run(["demo.dat", "cleaned/demo.dat"], { "demo.dat": "0 x\n2 24 0 0 0 1 1 1\n", "cleaned/": null }, {
    onOutput: (stream, text) => seen.push(stream + ":" + text),
    onOpen: (path) => opened.push(path),
  });
  assert.equal(first.status, 0);
  assert.equal(Buffer.from(first.files["cleaned/demo.dat"]).toString(), "0 x\n2 24 0 0 0 1 1 1\n");
  assert.equal(seen.filter((s) => s.startsWith("stdout:")).map((s) => s.slice(7)).join(""), first.stdout);
  assert.deepEqual(opened, ["/demo.dat"]);
  const second = await run(["cleaned/demo.dat", "out.dat"], {});
  assert.equal(second.status, 2, "the first run's files are gone");
  assert.deepEqual(Object.keys(second.files), []);
});

console.log(`${passed} passed, ${failures.length} failed (module against ${relative(process.cwd(), native) || native})`);
process.exit(failures.length ? 1 : 0);

// The module in Node against the native program on a generated 300,000-quad part: wall-clock time
// of a whole run from the start of the process to its end (start-up, reading the part, cleaning,
// writing the output), alternating the two, and the output bytes compared. Goal: the module takes
// at most 2.5 times as long as the native program.
//
//   node web/bench/bench.mjs BUILD_WEB NATIVE_WELDRIX [RUNS] [QUADS]
//
// The part is a wavy sheet of quads on a grid whose shared corners each quad writes with its own
// jitter of up to 0.002, so that the copies merge: the cleaning's real work, at every vertex.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const [buildWeb, nativeArg, runsArg = "5", quadsArg = "300000"] = process.argv.slice(2);
if (!buildWeb || !nativeArg) {
  console.error("usage: bench.mjs BUILD_WEB NATIVE_WELDRIX [RUNS] [QUADS]");
  process.exit(2);
}
const native = resolve(nativeArg);
const runner = join(dirname(fileURLToPath(import.meta.url)), "run-module.mjs");
const module = resolve(buildWeb, "weldrix.mjs");
const runs = Number(runsArg);
const quads = Number(quadsArg);

// A seeded generator (xorshift), so that every run of the benchmark cleans the same part.
let seed = 0x9e3779b9;
function random() {
  seed ^= seed << 13;
  seed ^= seed >>> 17;
  seed ^= seed << 5;
  return (seed >>> 0) / 4294967296;
}
function part(count) {
  const cols = Math.ceil(Math.sqrt(count));
  const corner = (i, j) => {
    const y = 4 * Math.sin(i / 7) * Math.cos(j / 5);
    return [10 * i, y, 10 * j].map((c) => (c + (random() - 0.5) * 0.004).toFixed(4)).join(" ");
  };
  const lines = ["0 Generated sheet of quads", "0 Name: sheet.dat", "0 BFC CERTIFY CCW"];
  for (let k = 0; k < count; k++) {
    const i = k % cols, j = Math.floor(k / cols);
    lines.push(`4 16 ${corner(i, j)} ${corner(i + 1, j)} ${corner(i + 1, j + 1)} ${corner(i, j + 1)}`);
  }
  return lines.join("\r\n") + "\r\n";
}

const work = mkdtempSync(join(tmpdir(), "weldrix-bench-"));
try {
  const input = join(work, "sheet.dat");
  writeFileSync(input, part(quads));
  const size = readFileSync(input).length;
  // bash's time keyword gives the wall clock and the CPU time (user and system) of the process; on
  // a machine shared with other work the CPU time varies less.
  const time = (command, args, output) => {
    const quoted = [command, ...args].map((a) => "'" + a.replace(/'/g, "'\\''") + "'").join(" ");
    const ran = spawnSync("bash", ["-c", `TIMEFORMAT='%R %U %S'; time ${quoted} 2>/dev/null`], { input: "", maxBuffer: 1 << 28 });
    assert.equal(ran.status, 0, String(ran.stderr));
    const [real, user, system] = String(ran.stderr).trim().split("\n").at(-1).split(" ").map(Number);
    return { seconds: real, cpu: user + system, output: readFileSync(output), stdout: ran.stdout };
  };
  const nativeTimes = [];
  const moduleTimes = [];
  const nativeCpu = [];
  const moduleCpu = [];
  let reference = null;
  for (let i = 0; i < runs; i++) {
    const output = join(work, "clean.dat");
    const n = time(native, [input, output], output);
    rmSync(output);
    const m = time(process.execPath, [runner, module, input, output], output);
    rmSync(output);
    assert.ok(n.output.equals(m.output), "the module writes the native program's bytes");
    assert.ok(n.stdout.equals(m.stdout), "the module prints the native program's text");
    reference = n.output;
    nativeTimes.push(n.seconds);
    moduleTimes.push(m.seconds);
    nativeCpu.push(n.cpu);
    moduleCpu.push(m.cpu);
  }
  const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
  const show = (list) => `median ${median(list).toFixed(2)} s (${Math.min(...list).toFixed(2)} to ${Math.max(...list).toFixed(2)})`;
  console.log(`${quads.toLocaleString("en")} quads, ${(size / 1e6).toFixed(1)} MB in, ${(reference.length / 1e6).toFixed(1)} MB out, ${runs} runs each, alternating`);
  console.log(`native program: wall clock ${show(nativeTimes)}, CPU ${show(nativeCpu)}`);
  console.log(`module in Node: wall clock ${show(moduleTimes)}, CPU ${show(moduleCpu)} (a new node process per run)`);
  const ratio = (a, b) => (median(a) / median(b)).toFixed(2);
  console.log(`module / native, medians: wall clock ${ratio(moduleTimes, nativeTimes)}, CPU ${ratio(moduleCpu, nativeCpu)} (goal: at most 2.5); outputs equal`);
} finally {
  rmSync(work, { recursive: true, force: true });
}

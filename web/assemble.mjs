// Assembles the page's files from the Emscripten output (`make web` runs it):
//
//   node assemble.mjs CORE_JS CORE_WASM SOURCE_FOLDER EXAMPLES_FOLDER OUTPUT_FOLDER
//
// weldrix.mjs      the module (ES module): the core, the run API (glue.js) and the WebAssembly
//                  binary in base64, so that it loads from anywhere without a fetch;
// weldrix-worker.js the same in a classic script for the page's worker. Loaded by a <script>
//                  element it only hands its own source to the page, which starts the worker from a
//                  blob: pages opened from disk may not start workers from files, nor load modules;
// demo-files.js    the demo part and its primitive, for the self-test and the demo button;
// index.html, page.js, page.css, copied.
import { readFileSync, writeFileSync, mkdirSync } from "node:fs";
import { join } from "node:path";

const [coreJs, coreWasm, source, examples, output] = process.argv.slice(2);
mkdirSync(output, { recursive: true });
const core = readFileSync(coreJs, "utf8");
const wasm = readFileSync(coreWasm).toString("base64");
const glue = readFileSync(join(source, "glue.js"), "utf8");
const worker = readFileSync(join(source, "worker.js"), "utf8");
const banner = "// weldrix for browsers and Node, built from the weldrix sources by Emscripten (web/assemble.mjs).\n";

writeFileSync(
  join(output, "weldrix.mjs"),
  banner +
    core +
    "\n" +
    glue +
    "\n/** @type {(args: string[], files: Object, options?: Object) => Promise<Object>} */\n" +
    `export const run = weldrixRunner(createWeldrixCore, ${JSON.stringify(wasm)});\n`,
);

writeFileSync(
  join(output, "weldrix-worker.js"),
  banner +
    "function weldrixWorker() {\n" +
    core +
    "\n" +
    glue +
    `\nconst run = weldrixRunner(createWeldrixCore, ${JSON.stringify(wasm)});\n` +
    worker +
    "\n}\n" +
    'if (typeof document === "undefined") weldrixWorker();\n' +
    'else window.weldrixWorkerSource = "(" + weldrixWorker.toString() + ")();";\n',
);

const text = (path) => readFileSync(path, "latin1");
const demo = {
  part: { name: "demo.dat", text: text(join(examples, "demo.dat")) },
  library: [{ path: "ldraw/p/4-4edge.dat", text: text(join(examples, "ldraw", "p", "4-4edge.dat")) }],
};
writeFileSync(
  join(output, "demo-files.js"),
  "// The demo part (examples/demo.dat) and the primitive it snaps onto (examples/ldraw), for the\n" +
    "// page's demo and self-test. Latin-1 text: one character per byte.\n" +
    `window.weldrixDemo = ${JSON.stringify(demo, null, 1)};\n`,
);

for (const name of ["index.html", "page.js", "page.css"]) {
  writeFileSync(join(output, name), readFileSync(join(source, name)));
}

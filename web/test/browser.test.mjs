// The page in headless Chromium (Debian's /usr/bin/chromium, driven by puppeteer-core), opened from
// disk (file://) and from a local web server on 127.0.0.1:
//   - the self-test (index.html#selftest) gives the SHA-256 of the native program's cleaned demo;
//   - the page driven as a user drives it: a part chosen from the keyboard, the library folder
//     picked, Clean, the report read in its frame and the cleaned file downloaded, equal to the
//     native program's; several files cleaned as a folder and downloaded as a zip; a long run
//     cancelled while the page stays responsive; the layout at 1280x800 and in a narrow window;
//   - the module, weldrix.mjs, imported by a page;
//   - nothing is requested from anywhere but the page's own folder.
//
//   node web/test/browser.test.mjs BUILD_WEB NATIVE_WELDRIX
// WELDRIX_SCREENSHOT=file.png also saves the page after a run at 1280x800.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { createHash } from "node:crypto";
import { createServer } from "node:http";
import { cpSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, extname, join, normalize, resolve, sep } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

const [buildWebArg, nativeArg] = process.argv.slice(2);
if (!buildWebArg || !nativeArg) {
  console.error("usage: browser.test.mjs BUILD_WEB NATIVE_WELDRIX");
  process.exit(2);
}
const buildWeb = resolve(buildWebArg);
const native = resolve(nativeArg);
const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";

// The whole test is bounded: whatever hangs, the process ends.
setTimeout(() => {
  console.error("FAILED: the browser tests took more than 4 minutes");
  process.exit(1);
}, 240_000).unref();

const work = mkdtempSync(join(tmpdir(), "weldrix-web-browser-"));
let browser = null;
let server = null;
async function cleanUp() {
  if (browser) await browser.close().catch(() => {});
  if (server) server.close();
  rmSync(work, { recursive: true, force: true });
}

// The native program in a folder laid out as the page lays out its working folder.
function runNative(args, files) {
  const folder = mkdtempSync(join(work, "native-"));
  for (const [path, bytes] of Object.entries(files)) {
    if (path.endsWith("/")) mkdirSync(join(folder, path), { recursive: true });
    else mkdirSync(dirname(join(folder, path)), { recursive: true }), writeFileSync(join(folder, path), bytes);
  }
  const ran = spawnSync(native, args, { cwd: folder, input: "" });
  assert.ok(ran.status === 0, `the native run failed: ${ran.stdout}`);
  return folder;
}
const sha256 = (bytes) => createHash("sha256").update(bytes).digest("hex");

// The entries of a zip that stores its files (as the page's does).
function unzip(bytes) {
  const entries = {};
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  for (let at = 0; view.getUint32(at, true) === 0x04034b50; ) {
    assert.equal(view.getUint16(at + 8, true), 0, "stored, not compressed");
    const size = view.getUint32(at + 18, true);
    const nameLength = view.getUint16(at + 26, true);
    const start = at + 30 + nameLength + view.getUint16(at + 28, true);
    entries[Buffer.from(bytes.subarray(at + 30, at + 30 + nameLength)).toString()] = Buffer.from(bytes.subarray(start, start + size));
    at = start + size;
  }
  return entries;
}

function serve(folder) {
  const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".mjs": "text/javascript", ".css": "text/css" };
  return new Promise((resolveServer) => {
    const http = createServer((request, response) => {
      let path = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
      if (path.endsWith("/")) path += "index.html";
      const file = normalize(join(folder, path));
      if (!file.startsWith(folder + sep) || !existsSync(file)) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { "content-type": types[extname(file)] || "application/octet-stream" });
      response.end(readFileSync(file));
    });
    http.listen(0, "127.0.0.1", () => resolveServer(http));
  });
}

let passed = 0;
const failures = [];
async function check(name, body) {
  const started = Date.now();
  try {
    await body();
    passed++;
    console.log(`ok: ${name} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  } catch (error) {
    failures.push(name);
    console.error(`FAILED: ${name}\n${String(error.stack || error).split("\n").slice(0, 12).join("\n")}`);
  }
}

// A page that records every request that does not stay in the page's own folder.
async function openPage(base, hash = "") {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  page.strays = [];
  page.errors = [];
  page.on("request", (request) => {
    const url = request.url();
    if (!url.startsWith(base) && !url.startsWith("blob:") && !url.startsWith("data:")) page.strays.push(url);
  });
  page.on("pageerror", (error) => page.errors.push(String(error)));
  await page.goto(base + "index.html" + hash);
  await page.bringToFront();
  return page;
}

async function downloads(page) {
  const folder = mkdtempSync(join(work, "downloads-"));
  const session = await page.createCDPSession();
  await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: folder });
  return async function downloaded(name) {
    const path = join(folder, name);
    for (let i = 0; i < 100 && !(existsSync(path) && !readdirSync(folder).some((f) => f.endsWith(".crdownload"))); i++) {
      await new Promise((r) => setTimeout(r, 100));
    }
    return readFileSync(path);
  };
}

// Opens a file chooser by action and picks paths in it. Puppeteer turns on the catching of file
// choosers asynchronously: a chooser opened at once can come before that is in effect (and then
// never reaches the test), so the action waits a moment.
async function choose(page, action, paths) {
  const chooser = page.waitForFileChooser({ timeout: 10_000 });
  await new Promise((r) => setTimeout(r, 250));
  await action();
  await (await chooser).accept(paths);
}

async function finished(page) {
  await page.waitForSelector("#results:not([hidden])", { timeout: 60_000 });
  return page.$eval("#status", (e) => e.textContent);
}

async function reportSummary(page) {
  const frame = await (await page.waitForSelector("#report:not([hidden])")).contentFrame();
  await frame.waitForFunction(() => document.documentElement.dataset.state === "ready", { timeout: 20_000 });
  return frame.$eval("#summary", (e) => e.innerText);
}

// The native reference: the demo with its primitive, as the page lays it out.
const demo = readFileSync(join(root, "examples/demo.dat"));
const primitive = readFileSync(join(root, "examples/ldraw/p/4-4edge.dat"));
const reference = runNative(["-s", "-l", "ldraw", "-r", "report.html", "input/demo.dat", "cleaned/demo.dat"], {
  "input/demo.dat": demo,
  "ldraw/p/4-4edge.dat": primitive,
  "cleaned/": null,
});
const cleanedDemo = readFileSync(join(reference, "cleaned/demo.dat"));

try {
  server = await serve(buildWeb);
  const userData = join(work, "profile");
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: userData,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  const origins = [
    ["file://", pathToFileURL(buildWeb).href + "/"],
    ["http://127.0.0.1", `http://127.0.0.1:${server.address().port}/`],
  ];

  for (const [where, base] of origins) {
    await check(`self-test from ${where}`, async () => {
      const page = await openPage(base, "#selftest");
      await page.waitForFunction(() => !document.getElementById("selftest").textContent.endsWith("running"), { timeout: 60_000 });
      assert.equal(await page.$eval("#selftest", (e) => e.textContent), `selftest: ok ${sha256(cleanedDemo)}`);
      assert.deepEqual(page.strays, []);
      assert.deepEqual(page.errors, []);
      await page.close();
    });

    await check(`a part chosen from the keyboard, with the library, from ${where}`, async () => {
      const page = await openPage(base);
      const downloaded = await downloads(page);
      // Tab to the drop zone, Enter opens the file chooser.
      for (let i = 0; i < 10 && (await page.evaluate(() => document.activeElement.id)) !== "drop"; i++) await page.keyboard.press("Tab");
      await choose(page, () => page.keyboard.press("Enter"), [join(root, "examples/demo.dat")]);
      await page.click("#snap");
      const library = join(work, "ldraw");
      cpSync(join(root, "examples/ldraw"), library, { recursive: true, force: true });
      await choose(page, () => page.click("#choose-library"), [library]);
      await page.waitForFunction(() => document.getElementById("library").textContent.startsWith("Library: ldraw"));
      assert.equal(await page.$eval("#command", (e) => e.textContent), "weldrix -s -l ldraw -r report.html input/demo.dat cleaned/demo.dat");
      await page.click("#run");
      assert.equal(await finished(page), "Exit code 0: done");
      assert.match(await reportSummary(page), /input\/demo\.dat → cleaned\/demo\.dat/);
      assert.equal(await page.$eval("#output", (e) => e.textContent.split("\n").at(-2)), "Press <Enter> to quit");
      await page.click("a.download");
      assert.ok((await downloaded("demo.dat")).equals(cleanedDemo), "the download is the native program's output");
      if (where === "file://" && process.env.WELDRIX_SCREENSHOT) {
        await page.evaluate(() => window.scrollTo(0, 0));
        await new Promise((r) => setTimeout(r, 500));
        await page.screenshot({ path: process.env.WELDRIX_SCREENSHOT });
      }
      assert.deepEqual(page.strays, []);
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }

  const base = origins[1][1];
  await check("several files are cleaned as a folder and downloaded as a zip", async () => {
    const page = await openPage(base);
    const downloaded = await downloads(page);
    const input = await page.$("#file-input");
    await input.uploadFile(join(root, "examples/demo.dat"), join(root, "tests/data/ldraw/parts/3001.dat"));
    await page.$eval("#ut", (e) => e.focus());
    await page.keyboard.type("0.01");
    assert.equal(await page.$eval("#command", (e) => e.textContent), "weldrix -ut 0.01 -r report.html input cleaned");
    await page.click("#run");
    assert.equal(await finished(page), "Exit code 0: done");
    await reportSummary(page);
    const frame = await (await page.$("#report")).contentFrame();
    // The page lists the changed files first: demo.dat changes, 3001.dat does not.
    assert.deepEqual(await frame.$$eval(".fitem .fn", (items) => items.map((e) => e.textContent)), ["input/demo.dat", "input/3001.dat"]);
    await page.click("a.download");
    const entries = unzip(await downloaded("weldrix-cleaned.zip"));
    const expected = runNative(["-ut", "0.01", "-r", "report.html", "input", "cleaned"], {
      "input/demo.dat": demo,
      "input/3001.dat": readFileSync(join(root, "tests/data/ldraw/parts/3001.dat")),
    });
    assert.deepEqual(Object.keys(entries).sort(), ["3001.dat", "demo.dat"]);
    for (const [name, bytes] of Object.entries(entries)) assert.ok(bytes.equals(readFileSync(join(expected, "cleaned", name))), name);
    await page.close();
  });

  await check("a long run is cancelled, and the page answers while it runs", async () => {
    const page = await openPage(base);
    // 200,000 quads: long enough to catch the run in progress.
    const lines = ["0 Generated"];
    for (let i = 0; i < 200_000; i++) {
      const x = i % 400, z = Math.floor(i / 400);
      lines.push(`4 16 ${x} 0 ${z} ${x + 1} 0.001 ${z} ${x + 1} 0 ${z + 1} ${x} 0 ${z + 1}`);
    }
    const big = join(work, "big.dat");
    writeFileSync(big, lines.join("\n") + "\n");
    await (await page.$("#file-input")).uploadFile(big);
    await page.click("#run");
    await page.waitForSelector("#progress:not([hidden])");
    const started = Date.now();
    await page.evaluate(() => document.getElementById("progress-text").textContent);
    assert.ok(Date.now() - started < 1000, "the page answers during the run");
    await page.keyboard.press("Escape");
    await page.waitForSelector("#run:not([hidden])");
    assert.match(await page.$eval("#console", (e) => e.textContent), /\[cancelled\]\n$/);
    assert.equal(await page.$eval("#results", (e) => e.hidden), true);
    assert.equal(await page.$eval("#run", (e) => e.disabled), false);
    await page.close();
  });

  await check("weldrix.mjs runs in a page served over HTTP", async () => {
    const page = await openPage(base);
    const files = { "demo.dat": Array.from(demo), "ldraw/p/4-4edge.dat": Array.from(primitive) };
    const result = await page.evaluate(async (url, files) => {
      const { run } = await import(url);
      const bytes = Object.fromEntries(Object.entries(files).map(([path, list]) => [path, new Uint8Array(list)]));
      const ran = await run(["-s", "-l", "ldraw", "demo.dat", "out.dat"], bytes);
      return { status: ran.status, out: Array.from(ran.files["out.dat"]) };
    }, base + "weldrix.mjs", files);
    assert.equal(result.status, 0);
    assert.ok(Buffer.from(result.out).equals(cleanedDemo));
    await page.close();
  });

  await check("the layout fits 1280x800 and a narrow window", async () => {
    const page = await openPage(base, "#selftest");
    await page.waitForFunction(() => document.getElementById("selftest").textContent.startsWith("selftest: ok"), { timeout: 60_000 });
    for (const [width, height] of [[1280, 800], [390, 800]]) {
      await page.setViewport({ width, height });
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      assert.ok(overflow <= 0, `${width}px wide: ${overflow}px too wide`);
      const run = await page.$eval("#run", (e) => e.getBoundingClientRect().toJSON());
      assert.ok(run.width > 0 && run.right <= width, `the Clean button is in the window at ${width}px`);
    }
    await page.close();
  });
} finally {
  await cleanUp();
}
console.log(`${passed} passed, ${failures.length} failed (the page in ${chromium})`);
process.exit(failures.length ? 1 : 0);

// The page's worker: runs weldrix on the files the page sends and sends back the console text as it
// is written, the files read so far, and at the end the result (with a zip when there are several
// cleaned files). The page terminates the worker to cancel a run, and starts a new one per run.
//
// From the page: {args, files: [{path, file}], lazyFiles: [{path, file}], zipFolder}
//   file is a File (read here, synchronously) or bytes; lazyFiles are read only when the run opens
//   them; zipFolder names the folder whose files go into the zip ("cleaned/").
// To the page: {type: "output", stream, text}, {type: "opened", path},
//   {type: "done", result, zip}, {type: "failed", message}.
function bytesOf(file) {
  if (typeof Blob !== "undefined" && file instanceof Blob) return new Uint8Array(new FileReaderSync().readAsArrayBuffer(file));
  return file instanceof Uint8Array ? file : new Uint8Array(file);
}

// CRC-32 (IEEE, as zip files use), a table built once.
const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// A zip archive of the entries [{name, bytes}], stored without compression: small code, and LDraw
// files are downloaded from memory, not sent anywhere. Names are UTF-8 (flag bit 11). Dated
// 1980-01-01, so that the same files give the same archive.
function zip(entries) {
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  for (const entry of entries) {
    const name = encoder.encode(entry.name);
    const crc = crc32(entry.bytes);
    const local = new DataView(new ArrayBuffer(30));
    local.setUint32(0, 0x04034b50, true);
    local.setUint16(4, 20, true);
    local.setUint16(6, 0x0800, true);
    local.setUint16(8, 0, true);
    local.setUint16(10, 0, true);
    local.setUint16(12, 0x21, true);
    local.setUint32(14, crc, true);
    local.setUint32(18, entry.bytes.length, true);
    local.setUint32(22, entry.bytes.length, true);
    local.setUint16(26, name.length, true);
    local.setUint16(28, 0, true);
    parts.push(new Uint8Array(local.buffer), name, entry.bytes);
    const record = new DataView(new ArrayBuffer(46));
    record.setUint32(0, 0x02014b50, true);
    record.setUint16(4, 20, true);
    record.setUint16(6, 20, true);
    record.setUint16(8, 0x0800, true);
    record.setUint16(10, 0, true);
    record.setUint16(12, 0, true);
    record.setUint16(14, 0x21, true);
    record.setUint32(16, crc, true);
    record.setUint32(20, entry.bytes.length, true);
    record.setUint32(24, entry.bytes.length, true);
    record.setUint16(28, name.length, true);
    record.setUint32(42, offset, true);
    central.push(new Uint8Array(record.buffer), name);
    offset += 30 + name.length + entry.bytes.length;
  }
  let size = 0;
  for (const part of central) size += part.length;
  const end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054b50, true);
  end.setUint16(8, entries.length, true);
  end.setUint16(10, entries.length, true);
  end.setUint32(12, size, true);
  end.setUint32(16, offset, true);
  return new Blob([...parts, ...central, new Uint8Array(end.buffer)], { type: "application/zip" });
}

self.onmessage = async (event) => {
  const request = event.data;
  try {
    const files = {};
    for (const { path, file } of request.files) files[path] = path.endsWith("/") ? null : bytesOf(file);
    const lazyFiles = {};
    for (const { path, file } of request.lazyFiles || []) lazyFiles[path] = { size: file.size, read: () => bytesOf(file) };
    const result = await run(request.args, files, {
      lazyFiles,
      onOutput: (stream, text) => self.postMessage({ type: "output", stream, text }),
      onOpen: (path) => self.postMessage({ type: "opened", path }),
    });
    let archive = null;
    const folder = request.zipFolder;
    if (folder) {
      const entries = Object.keys(result.files)
        .filter((path) => path.startsWith(folder))
        .sort()
        .map((path) => ({ name: path.slice(folder.length), bytes: result.files[path] }));
      if (entries.length > 1) archive = zip(entries);
    }
    delete result.stdoutBytes;
    delete result.stderrBytes;
    self.postMessage({ type: "done", result, zip: archive }, Object.values(result.files).map((bytes) => bytes.buffer));
  } catch (error) {
    self.postMessage({ type: "failed", message: String((error && error.stack) || error) });
  }
};

// The module API of weldrix, shared by weldrix.mjs and the page's worker:
//
//   run(args, files, options) -> Promise of {status, stdout, stderr, stdoutBytes, stderrBytes, files}
//
// args are the command-line arguments after the program name. files maps paths relative to the
// working folder ("/"-separated) to Uint8Array (or string) contents; a path that ends in "/" makes
// a folder. The result's files map the path of every file the run wrote to its bytes. status,
// stdout and stderr are the native program's exit code and console text for the same arguments and
// files, run with its standard input at its end.
//
// options (all optional):
//   lazyFiles: {path: {size, read() -> Uint8Array}}: files that are read only when the run opens
//              them (a library folder picked in a browser); read() may throw, which the run reports
//              as the native program reports a file it cannot read.
//   onOutput(stream, text): console text as it is written, stream "stdout" or "stderr".
//   onOpen(path): every file opened for reading, as the run opens it ("/input/a.dat": "/" and its
//              path in the working folder).
//
// Every run has a fresh instance of the WebAssembly module, so no state passes from one run to the
// next; the compiled module is shared, because compiling it is what takes time.
function weldrixRunner(createCore, wasmBase64) {
  let compiled = null;

  function decodeBase64(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  function concat(chunks) {
    let size = 0;
    for (const chunk of chunks) size += chunk.length;
    const all = new Uint8Array(size);
    let at = 0;
    for (const chunk of chunks) {
      all.set(chunk, at);
      at += chunk.length;
    }
    return all;
  }

  const encoder = new TextEncoder();
  const asBytes = (value) => (typeof value === "string" ? encoder.encode(value) : new Uint8Array(value.buffer ? value.buffer : value, value.byteOffset || 0, value.byteLength));

  return async function run(args, files, options) {
    options = options || {};
    if (!compiled) compiled = WebAssembly.compile(decodeBase64(wasmBase64));
    const wasmModule = await compiled;
    const output = { 1: [], 2: [] };
    const live = { 1: new TextDecoder(), 2: new TextDecoder() };
    const written = {};
    const lazy = [];
    let loaded = null;
    const host = {
      write(stream, bytes) {
        output[stream].push(bytes);
        if (options.onOutput) options.onOutput(stream === 1 ? "stdout" : "stderr", live[stream].decode(bytes, { stream: true }));
      },
      load(id) {
        try {
          loaded = asBytes(lazy[id].read());
        } catch (e) {
          loaded = null;
        }
        return loaded && loaded.length < 2147483648 ? loaded.length : -1;
      },
      take() {
        const bytes = loaded;
        loaded = null;
        return bytes;
      },
      opened(path) {
        if (options.onOpen) options.onOpen(path);
      },
      result(path, bytes) {
        written[path] = bytes;
      },
    };
    const core = await createCore({
      weldrixHost: host,
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(wasmModule, imports).then((instance) => done(instance, wasmModule));
        return {};
      },
      print() {},
      printErr() {},
    });

    // Copies bytes into the module's memory; the caller frees them.
    function put(bytes) {
      const pointer = core._malloc(Math.max(bytes.length, 1)) >>> 0;
      if (pointer === 0) throw new RangeError("weldrix: out of memory for the input files");
      core.HEAPU8.set(bytes, pointer);
      return pointer;
    }
    function call(name, text, ...rest) {
      const bytes = encoder.encode(text);
      const pointer = put(bytes);
      try {
        core[name](session, pointer, bytes.length, ...rest);
      } finally {
        core._free(pointer);
      }
    }

    const session = core._weldrix_session_new();
    for (const arg of args) call("_weldrix_add_argument", String(arg));
    for (const [path, value] of Object.entries(files || {})) {
      if (path.endsWith("/")) {
        call("_weldrix_add_folder", path);
        continue;
      }
      const bytes = asBytes(value);
      const pointer = put(bytes);
      try {
        call("_weldrix_add_file", path, pointer, bytes.length);
      } finally {
        core._free(pointer);
      }
    }
    for (const [path, file] of Object.entries(options.lazyFiles || {})) {
      lazy.push(file);
      call("_weldrix_add_lazy_file", path, Number(file.size) || 0, lazy.length - 1);
    }
    const status = core._weldrix_run(session);
    const stdoutBytes = concat(output[1]);
    const stderrBytes = concat(output[2]);
    return {
      status,
      stdout: new TextDecoder().decode(stdoutBytes),
      stderr: new TextDecoder().decode(stderrBytes),
      stdoutBytes,
      stderrBytes,
      files: written,
    };
  };
}

// One run of the module as a program: node run-module.mjs WELDRIX_MJS INPUT OUTPUT [OPTIONS...]
// cleans INPUT into OUTPUT as "weldrix [OPTIONS] INPUT OUTPUT" does, under the same names, prints
// the console text and ends with the tool's exit code. The benchmark times it from process start
// to end.
import { readFileSync, writeFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [module, input, output, ...options] = process.argv.slice(2);
const { run } = await import(pathToFileURL(module).href);
const result = await run([...options, input, output], { [input]: readFileSync(input) });
const written = result.files[output.replace(/^\/+/, "")];
if (written) writeFileSync(output, written);
process.stdout.write(result.stdoutBytes);
process.stderr.write(result.stderrBytes);
process.exitCode = result.status;

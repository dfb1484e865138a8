// Prints one line per WAV file named on the command line: the path, then Essentia's KeyExtractor
// key under each profile ("C major", "F# minor"), tab-separated. 16-bit PCM WAV only, mixed to mono.
"use strict";
const { EssentiaWASM, Essentia } = require("essentia.js");
const { readWav } = require("./wav.js");

const PROFILES = ["temperley", "krumhansl", "edma", "bgate"];

const essentia = new Essentia(EssentiaWASM);
for (const path of process.argv.slice(2)) {
  const fields = [path];
  try {
    const { mono, rate } = readWav(path);
    const signal = essentia.arrayToVector(mono);
    for (const profile of PROFILES) {
      const r = essentia.KeyExtractor(signal, true, 4096, 4096, 12, 3500, 60, 25, 0.2, profile, rate);
      fields.push(`${r.key} ${r.scale}`);
    }
    signal.delete();
  } catch (e) {
    fields.push(`error ${e.message}`);
  }
  console.log(fields.join("\t"));
}

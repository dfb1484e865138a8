// Prints one line per WAV file named on the command line: the path, Essentia's
// RhythmExtractor2013 (multifeature) tempo and its beat times in seconds, tab-separated.
"use strict";
const { EssentiaWASM, Essentia } = require("essentia.js");
const { readWav } = require("./wav.js");

const essentia = new Essentia(EssentiaWASM);
for (const path of process.argv.slice(2)) {
  const fields = [path];
  try {
    const { mono, rate } = readWav(path);
    if (rate !== 44100) throw new Error("44.1 kHz only");
    const signal = essentia.arrayToVector(mono);
    const r = essentia.RhythmExtractor2013(signal, 208, "multifeature", 40);
    fields.push(r.bpm.toFixed(3), Array.from(essentia.vectorToArray(r.ticks)).map((t) => t.toFixed(4)).join(" "));
    signal.delete();
  } catch (e) {
    fields.push(`error ${e.message}`);
  }
  console.log(fields.join("\t"));
}

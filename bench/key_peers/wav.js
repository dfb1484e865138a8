// 16-bit PCM WAV files read into mono floats for the Essentia scripts.
"use strict";
const fs = require("fs");

function readWav(path) {
  const b = fs.readFileSync(path);
  if (b.toString("ascii", 0, 4) !== "RIFF" || b.toString("ascii", 8, 12) !== "WAVE") throw new Error("not a WAV");
  let pos = 12, channels = 0, rate = 0, bits = 0;
  while (pos + 8 <= b.length) {
    const id = b.toString("ascii", pos, pos + 4), size = b.readUInt32LE(pos + 4);
    if (id === "fmt ") {
      channels = b.readUInt16LE(pos + 10), rate = b.readUInt32LE(pos + 12), bits = b.readUInt16LE(pos + 22);
    } else if (id === "data") {
      if (bits !== 16 || channels < 1) throw new Error("16-bit PCM only");
      const frames = Math.floor(Math.min(size, b.length - pos - 8) / (2 * channels));
      const mono = new Float32Array(frames);
      for (let f = 0; f < frames; ++f) {
        let s = 0;
        for (let c = 0; c < channels; ++c) s += b.readInt16LE(pos + 8 + 2 * (f * channels + c));
        mono[f] = s / (32768 * channels);
      }
      return { mono, rate };
    }
    pos += 8 + size + (size & 1);
  }
  throw new Error("no data chunk");
}

module.exports = { readWav };

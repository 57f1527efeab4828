// busboy on the same body as bench_multipart, for run_multipart_bench.sh.
//   node multipart_busboy.js FILE CONTENT_TYPE CHUNK ROUNDS
// Feeds FILE to busboy CHUNK bytes at a time (0: whole), ROUNDS times,
// reading every file stream, and prints: median MB/s, best MB/s, parts, peak
// resident MiB, body MiB.
'use strict';
const fs = require('fs');
let busboy;
try {
  busboy = require('busboy');
} catch (e) {
  busboy = require('/usr/share/nodejs/busboy');
}

const [file, contentType, chunkArg, roundsArg] = process.argv.slice(2);
const body = fs.readFileSync(file);
const chunk = Number(chunkArg) || body.length;
const rounds = Number(roundsArg);

function once() {
  return new Promise((resolve, reject) => {
    let parts = 0;
    const bb = busboy({
      headers: { 'content-type': contentType },
      limits: { fieldSize: 1 << 20, parts: 1000 },
    });
    bb.on('file', (name, stream) => {
      ++parts;
      stream.resume();
    });
    bb.on('field', () => ++parts);
    bb.on('error', reject);
    const t0 = process.hrtime.bigint();
    let pos = 0;
    const pump = () => {
      while (pos < body.length) {
        const piece = body.subarray(pos, pos + chunk);
        pos += piece.length;
        if (!bb.write(piece)) return bb.once('drain', pump);
      }
      bb.end();
    };
    pump();
    bb.on('close', () => {
      const s = Number(process.hrtime.bigint() - t0) / 1e9;
      resolve({ parts, mbps: body.length / s / 1e6 });
    });
  });
}

(async () => {
  const mbps = [];
  let parts = 0;
  for (let r = 0; r < rounds; ++r) {
    const res = await once();
    mbps.push(res.mbps);
    parts = res.parts;
  }
  mbps.sort((a, b) => a - b);
  const peak = process.resourceUsage().maxRSS / 1024;
  console.log(`${mbps[mbps.length >> 1].toFixed(0)} ${mbps[mbps.length - 1].toFixed(0)} ${parts} ` +
              `${peak.toFixed(1)} ${(body.length / 1048576).toFixed(1)}`);
})().catch((e) => {
  console.error(String(e));
  process.exit(1);
});

'use strict';
// The shortest of `runs` timings of `fn`, in milliseconds. Results are dropped as soon as they
// are made: a caller holding earlier large reports would make every later one dearer to
// collect.
function bestMs(runs, fn) {
  let min = Infinity;
  for (let i = 0; i < runs; i++) {
    const t = process.hrtime.bigint();
    fn();
    min = Math.min(min, Number(process.hrtime.bigint() - t) / 1e6);
  }
  return min;
}

module.exports = { bestMs };

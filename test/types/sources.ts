// Compile-only check of the sources and streams.
import { createReadStream } from 'node:fs';
import { parseSource, parseStream, httpSource, RandomAccessSource, Report } from '../../lib';

async function use(signal: AbortSignal, bytes: Uint8Array): Promise<void> {
  const memory: RandomAccessSource = { size: bytes.length, read: (o, l) => bytes.subarray(Number(o), Number(o) + l) };
  const full: Report = await parseSource(memory, { signal });
  const big: Report = await parseSource({ size: 2n ** 40n, blockSize: 1 << 20, read: async () => bytes });
  const remote = await httpSource(new URL('https://example.com/a.mp4'), { headers: { authorization: 'x' }, signal });
  const mp4: Report['mp4'] = (await parseSource(remote, { extractors: ['mp4'], hashes: false })).mp4;
  const fromFile: Report = await parseStream(createReadStream('a.jpg'));
  const fromWeb: Report = await parseStream(new Blob(['text']).stream(), { hashes: false });
  async function* chunks() { yield bytes; }
  const fromIterable: Report = await parseStream(chunks(), { signal });

  // @ts-expect-error: read is required
  void parseSource({ size: 1 });
  // @ts-expect-error: "exif" was not chosen
  void (await parseStream(chunks(), { extractors: ['file'] })).exif;
  void [full, big, mp4, fromFile, fromWeb, fromIterable];
}
export { use };

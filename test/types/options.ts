// Compile-only check of the options, the asynchronous calls and the selection overloads.
import {
  parse,
  parseBytes,
  parseAsync,
  parseBytesAsync,
  extractors,
  ExtractorName,
  Report,
  SelectedReport,
} from '../../lib';

async function use(signal: AbortSignal): Promise<void> {
  const full: Report = await parseAsync('a.jpg', { signal, hashes: false });
  const bytes: Report = await parseBytesAsync(new Uint8Array(4), { signal });
  // A chosen set narrows the report to those namespaces.
  const only = parse('a.jpg', { extractors: ['exif', 'file'] });
  const exif: Report['exif'] = only.exif;
  const sel: SelectedReport<'jpeg'> = await parseAsync('a.jpg', { extractors: ['jpeg'] as const });
  const names: readonly ExtractorName[] = extractors;
  const all: Report = parseBytes(Buffer.from('x'), { extractors: names });

  // @ts-expect-error: "jpeg" was not chosen
  void only.jpeg;
  // @ts-expect-error: not an extractor
  parse('a.jpg', { extractors: ['tiff'] });
  // @ts-expect-error: the synchronous calls take no signal
  parse('a.jpg', { signal });
  // @ts-expect-error: hashes is a boolean
  parseBytes(Buffer.alloc(1), { hashes: 'no' });
  void [full, bytes, exif, sel, all];
}
export { use };

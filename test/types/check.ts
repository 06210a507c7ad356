// Compile-only check that the declarations describe how the API is used.
import { parse, parseAsync, parseBytes, Report, Integer } from '../../lib';

const r: Report = parse('photo.jpg');
const size: Integer | undefined = r.file?.size_bytes;
const sha: string | undefined = parseBytes(Buffer.from('x')).file?.sha256;
const first: string | undefined = r.errors?.[0]?.message;
// Paths as Node's fs takes them: name bytes and file: URLs too.
const named: Report[] = [
  parse(Buffer.from([0x63, 0xe9])),
  parse(new Uint8Array([0x61])),
  parse(new URL('file:///tmp/caf%E9.jpg'), { hashes: false }),
];
async function later(): Promise<Report> {
  return parseAsync(new URL('file:///a.jpg'), { extractors: ['file'] as const });
}
// @ts-expect-error: a number is no path
parse(42);
export { size, sha, first, named, later };

// Compile-only check that the declarations describe how the API is used.
import { parse, parseBytes, Report, Integer } from '../../lib';

const r: Report = parse('photo.jpg');
const size: Integer | undefined = r.file?.size_bytes;
const sha: string | undefined = parseBytes(Buffer.from('x')).file?.sha256;
const first: string | undefined = r.errors?.[0]?.message;
export { size, sha, first };

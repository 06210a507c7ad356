// Types of the vorlix report. Integers are numbers up to 2^53 - 1 and BigInts beyond; floats
// that are NaN or infinite arrive as null.

/** An integer field: a number while exactly representable, a BigInt beyond 2^53 - 1. */
export type Integer = number | bigint;

/** Format-independent facts, present for every input. */
export interface FileNamespace {
  /** Stated size: the file size for `parse`, the byte length for `parseBytes`. */
  size_bytes?: Integer;
  /** Sniffed MIME type, e.g. "image/png"; absent when no detection rule matched. */
  mime_detected?: string;
  /** Canonical extension of the sniffed type, without a dot, e.g. "jpg". */
  extension_canonical?: string;
  /** Shannon entropy of the byte histogram in bits per byte (0 to 8, three decimals). */
  entropy_bits_per_byte?: number;
  /** SHA-256 of the content, 64 lowercase hex digits. */
  sha256?: string;
  /** CRC-32 (zlib polynomial) of the content, 8 lowercase hex digits. */
  crc32?: string;
  /** `parse` only: last component of the path as passed ("" for a root or final ".."); bytes that are not UTF-8 become U+FFFD. */
  name?: string;
  /** `parse` only: text after the name's last dot (not a leading dot), case kept. */
  extension_claimed?: string;
  /** `parse` only: modification time, whole seconds since the Unix epoch. */
  modified_unix?: Integer;
  /** `parse` only: birth time where the filesystem reports one. */
  created_unix?: Integer;
}

/** One extractor that failed; the others still ran. */
export interface ReportError {
  /** The extractor's name, e.g. "file", "png", "exif". */
  extractor: string;
  /** Short lower-case text, e.g. "malformed gif: header too short" or "I/O error: ...". */
  message: string;
}

/** One marker segment passed before the first scan, in file order. */
export interface JpegSegment {
  /** "FF" and the marker code as two upper-case hex digits, e.g. "FFE1". */
  marker: string;
  /** "SOF0 (baseline)", "SOF2 (progressive)", "DHT (huffman)", "SOS (scan start)", "DQT (quantization)", "DRI (restart interval)", "APP0", "APP1", "APP2", "APP13", "APP14", "COM (comment)", or "other". */
  name: string;
  /** Byte position of the segment's 0xFF (reduced modulo 2^32). */
  offset: number;
  /** The length field as stored (counts itself, not the marker), also when invalid. */
  length: number;
  /** APP0 JFIF only: version such as "1.02". */
  jfif_version?: string;
  /** APP0 JFIF only: "<x>x<y> <unit>", unit "dpi", "dpcm", "aspect-ratio" or "?", e.g. "72x72 dpi". */
  density?: string;
  /** APP1/APP2/APP13 with a recognised signature: what the segment carries. */
  payload?: 'EXIF' | 'XMP' | 'ICC profile' | 'Photoshop IRB (IPTC likely)';
  /** COM only, when the text is valid UTF-8: the comment without trailing NULs (may be ""). */
  comment?: string;
}

/** JPEG marker walk up to the first scan. */
export interface JpegNamespace {
  /** Every segment passed, in file order (empty for a file too short to walk). */
  segments: JpegSegment[];
  /** Present (true) only when `segments` stopped at 65,536 records. */
  segments_truncated?: true;
  /** Sample precision from the last SOF0-SOF3 frame header. */
  bit_depth?: number;
  /** Frame height in pixels (SOF0-SOF3). */
  height?: number;
  /** Frame width in pixels (SOF0-SOF3). */
  width?: number;
  /** Number of colour components (SOF0-SOF3). */
  components?: number;
  /** True for a progressive (SOF2) frame. */
  progressive?: boolean;
  /** From the component count: "grayscale", "YCbCr/RGB", "CMYK/YCCK" or "unknown". */
  color_space_guess?: string;
  /** IJG quality (1-100) closest to the first 8-bit table-0 quantisation table. */
  quality_estimate?: number;
  /** Byte length of the last XMP packet, when it is valid UTF-8. */
  xmp_packet_chars?: Integer;
  /** Position just past the first SOS header, where entropy-coded data begins. */
  scan_data_offset?: Integer;
}

/** One chunk walked, in file order. */
export interface PngChunk {
  /** The four type bytes read as ISO-8859-1, e.g. "IHDR". */
  type: string;
  /** Position of the chunk's length field. */
  offset: Integer;
  /** Data length as stored, also when it runs past the end. */
  length: number;
}

/** PNG chunk walk: header, gamma, resolution, time and uncompressed text. */
export interface PngNamespace {
  /** Every chunk up to and including IEND (empty for a file under 16 bytes). */
  chunks: PngChunk[];
  /** Present (true) only when `chunks` stopped at 65,536 records. */
  chunks_truncated?: true;
  /** IHDR width in pixels. */
  width?: number;
  /** IHDR height in pixels. */
  height?: number;
  /** IHDR bit depth per sample (or palette index). */
  bit_depth?: number;
  /** "grayscale", "RGB", "palette", "grayscale+alpha", "RGBA" or "unknown". */
  color_type?: string;
  /** True when IHDR's interlace method is 1 (Adam7). */
  interlaced?: boolean;
  /** gAMA value divided by 100000, e.g. 0.45455. */
  gamma?: number;
  /** pHYs pixels per metre on the X axis as whole dots per inch (unit "metre" only). */
  dpi?: number;
  /** tIME as "YYYY-MM-DDTHH:MM:SSZ", values as stored. */
  last_modified?: string;
  /** tEXt keyword to text, decoded as UTF-8 with U+FFFD for invalid bytes; the last of a repeated keyword wins. */
  text?: Record<string, string>;
}

/** GIF header and block-walk facts. */
export interface GifNamespace {
  /** Header version, "87a" or "89a". */
  version?: string;
  /** Logical screen width in pixels. */
  width?: number;
  /** Logical screen height in pixels. */
  height?: number;
  /** Colour resolution in bits (1 to 8). */
  color_resolution_bits?: number;
  /** Whether a global colour table is present. */
  global_color_table?: boolean;
  /** Entries in the global colour table (2 to 256); only when it is present. */
  global_color_table_size?: number;
  /** Image descriptors counted before the trailer or the end of the data. */
  frames?: number;
  /** True when there are 2 or more frames. */
  animated?: boolean;
  /** Loop count of the last NETSCAPE2.0 extension, as stored: 0 = forever, n = n repeats after the first play. */
  loop_count?: number;
}

/** Windows bitmap file and DIB header facts. */
export interface BmpNamespace {
  /** File size stored in the file header (not checked against the real size). */
  file_size_header?: number;
  /** DIB header size in bytes (12 core, 40 info, 108 V4, 124 V5...). */
  dib_header_size?: number;
  /** Image width in pixels (magnitude); only for DIB headers of 40 bytes or more. */
  width?: number;
  /** Image height in pixels (magnitude); only for DIB headers of 40 bytes or more. */
  height?: number;
  /** True when rows are stored top-down (negative stored height). */
  top_down?: boolean;
  /** Bits per pixel as stored. */
  bit_depth?: number;
  /** "none (BI_RGB)", "RLE8", "RLE4", "bitfields", "JPEG", "PNG" or "other". */
  compression?: string;
}

/** RIFF container facts, with WebP, WAVE and AVI details. */
export interface RiffNamespace {
  /** The four-character form type, e.g. "WEBP", "WAVE", "AVI " (trailing space kept). */
  form_type?: string;
  /** "image (WebP)", "audio (WAV)" or "video (AVI)" for those three form types. */
  media_kind?: string;
  /** WebP bitstream of the first chunk: "lossy", "lossless" or "extended". */
  webp_format?: 'lossy' | 'lossless' | 'extended';
  /** WebP image (or extended canvas) width in pixels. */
  width?: number;
  /** WebP image (or extended canvas) height in pixels. */
  height?: number;
  /** Extended WebP: alpha flag. */
  has_alpha?: boolean;
  /** Extended WebP: animation flag. */
  has_animation?: boolean;
  /** Extended WebP: Exif flag. */
  has_exif?: boolean;
  /** WAVE: format tag as stored (1 = PCM, 3 = float, 65534 = extensible...). */
  audio_format_tag?: number;
  /** WAVE: channel count. */
  channels?: number;
  /** WAVE: samples per second. */
  sample_rate?: number;
  /** WAVE: bits per sample (absent when the "fmt " chunk is shorter than 16 bytes). */
  bits_per_sample?: number;
}

/** PDF summary found by byte search (no object parsing). */
export interface PdfNamespace {
  /** Text after "%PDF-" on the first line, e.g. "1.7"; absent when that line does not end within 16 bytes. */
  version?: string;
  /** Count of " obj" occurrences (approximate number of indirect objects). */
  object_count: number;
  /** Count of "/Type/Page" and "/Type /Page" not followed by "s" (approximate). */
  page_count: number;
  /** "/Linearized" occurs anywhere in the file. */
  linearized: boolean;
  /** "/Encrypt" occurs anywhere in the file (also set by /EncryptMetadata). */
  encrypted: boolean;
  /** Document-information entries stored as literal strings; escapes are not translated, UTF-16 is not decoded. Absent when none was found. */
  info?: {
    title?: string;
    author?: string;
    subject?: string;
    creator?: string;
    producer?: string;
    keywords?: string;
    /** As stored, e.g. "D:20240309070502+01'00'". */
    creation_date?: string;
    /** As stored. */
    modification_date?: string;
  };
}

/** The first gzip member's header (nothing is decompressed). */
export interface GzipNamespace {
  /** "deflate" for method 8, otherwise "unknown". */
  compression_method: 'deflate' | 'unknown';
  /** MTIME of the first member, seconds since 1970 (UTC); absent when 0. */
  modification_time_unix?: number;
  /** Operating system that wrote the file. */
  os: 'FAT (Windows/DOS)' | 'Unix' | 'macOS' | 'NTFS' | 'unknown' | 'other';
  /** Original file name (FNAME), when present and zero-terminated. */
  original_filename?: string;
}

/** ZIP-based containers: the central directory and the kind of document. */
export interface ZipNamespace {
  /** Total entries declared by the end-of-central-directory record (0 to 65535). */
  entry_count: number;
  /** Sum of compressed over sum of uncompressed sizes, 3 decimals; absent when nothing is uncompressed. */
  compression_ratio?: number;
  /** Kind of ZIP-based document, decided from the entry names. */
  container_kind:
    | 'Word document (docx)'
    | 'Excel workbook (xlsx)'
    | 'PowerPoint (pptx)'
    | 'Java archive (jar)'
    | 'Android package (apk)'
    | 'EPUB/OpenDocument'
    | 'plain zip';
  /** One record per central-directory entry, in directory order. */
  entries: Array<{
    /** Entry name (invalid UTF-8 replaced by U+FFFD). */
    name: string;
    method: 'stored' | 'deflate' | 'deflate64' | 'lzma' | 'zstd' | 'AES encrypted' | 'other';
    /** Compressed size as stored (32-bit). */
    compressed: number;
    /** Uncompressed size as stored (32-bit). */
    uncompressed: number;
    /** MS-DOS timestamp as "YYYY-MM-DDTHH:MM:SS", fields not range-checked. */
    modified: string;
  }>;
  /** Present (true) only when `entries` stopped at 262,144 records. */
  entries_truncated?: true;
}

/** A leading ID3v2 tag. */
export interface Id3Namespace {
  /** "2.<major>.<revision>", e.g. "2.3.0", "2.4.0". */
  version: string;
  /** Header flag bit 7 (unsynchronisation is not undone). */
  unsynchronisation: boolean;
  /** Header flag bit 6; for 2.3 and 2.4 the extended header is skipped before the frames. */
  extended_header: boolean;
  /** Tag size declared by the header, excluding its 10 bytes. */
  tag_size: number;
  /** Well-known text frames; present only when at least one was read. Later frames win. */
  frames?: {
    /** TIT2 / TT2 */
    title?: string;
    /** TPE1 / TP1 */
    artist?: string;
    /** TALB / TAL */
    album?: string;
    /** TPE2 */
    album_artist?: string;
    /** TYER or TDRC (whichever comes last) / TYE */
    year?: string;
    /** TCON / TCO, raw text such as "(12)" or "Jazz" */
    genre?: string;
    /** TRCK / TRK, raw text such as "3/12" */
    track?: string;
    /** TCOM */
    composer?: string;
  };
}

/** ISO base media files (MP4, M4A, MOV with ftyp, 3GP, HEIF). */
export interface Mp4Namespace {
  /** Outermost boxes in file order; size includes the header. */
  top_level_boxes: Array<{ size: Integer; type: string }>;
  /** Present (true) only when `top_level_boxes` stopped at 65,536 records. */
  top_level_boxes_truncated?: true;
  /** "ftyp" major brand, e.g. "isom", "mp42", "M4A ". */
  major_brand?: string;
  /** "ftyp" minor version. */
  minor_version?: number;
  /** Brands listed in "ftyp" after the minor version. */
  compatible_brands?: string[];
  /** Present (true) only when `compatible_brands` stopped at 262,144 records. */
  compatible_brands_truncated?: true;
  /** Units per second of the movie header. */
  timescale?: number;
  /** Movie duration in timescale units (from "mvhd"). */
  duration_units?: Integer;
  /** Movie duration in seconds, 3 decimals; absent when no movie header had a non-zero timescale. */
  duration_seconds?: number;
}

/** The ELF identification and header words. */
export interface ElfNamespace {
  /** "64-bit" for ELFCLASS64, otherwise "32-bit". */
  class: '32-bit' | '64-bit';
  /** "little" when EI_DATA is 1, otherwise "big". */
  endianness: 'little' | 'big';
  /** EI_OSABI name. */
  abi: 'System V' | 'Linux' | 'Solaris' | 'FreeBSD' | 'other';
  /** e_type name; position-independent executables are "shared object". */
  type: 'relocatable' | 'executable' | 'shared object' | 'core dump' | 'other';
  /** e_machine name. */
  machine: 'x86' | 'ARM' | 'x86-64' | 'AArch64' | 'RISC-V' | 'other';
}

/** One EXIF group: tag name ("Make", "DateTimeOriginal", "Tag(Exif, 59932)" for unnamed tags) to display text ("1/125 s", "f/2.8", "72 pixels per inch"). */
export type ExifGroup = Record<string, string>;

/** EXIF fields grouped by IFD, every value as display text. */
export interface ExifNamespace {
  /** IFD 0 (main image) with its Exif, GPS and Interoperability sub-IFDs. */
  primary?: ExifGroup;
  /** IFD 1 (the thumbnail) and its sub-IFDs. */
  thumbnail?: ExifGroup;
  /** Further IFDs of the chain (at most IFDs 0 to 7 are read). */
  ifd2?: ExifGroup;
  ifd3?: ExifGroup;
  ifd4?: ExifGroup;
  ifd5?: ExifGroup;
  ifd6?: ExifGroup;
  ifd7?: ExifGroup;
  /** Primary image position in signed decimal degrees (south and west negative), when both coordinates are readable; null for a coordinate that is not finite. */
  gps_decimal?: { latitude: number | null; longitude: number | null };
  /** Present (true) only when a crafted block held more than 65,536 fields, 16 MiB of text plus its own size, or more IFD structure than the walk reads: the fields past that point are not reported. */
  fields_truncated?: true;
}

/** One property per format that recognised the input, plus "errors" when something failed. */
export interface Report {
  bmp?: BmpNamespace;
  elf?: ElfNamespace;
  exif?: ExifNamespace;
  file?: FileNamespace;
  gif?: GifNamespace;
  gzip?: GzipNamespace;
  id3?: Id3Namespace;
  jpeg?: JpegNamespace;
  mp4?: Mp4Namespace;
  pdf?: PdfNamespace;
  png?: PngNamespace;
  riff?: RiffNamespace;
  zip?: ZipNamespace;
  /** Present only when at least one extractor failed, in extractor order. */
  errors?: ReportError[];
}

/** The extractors, by name; also the namespace each one reports. */
export type ExtractorName =
  | 'file' | 'jpeg' | 'png' | 'gif' | 'bmp' | 'riff' | 'exif' | 'id3' | 'mp4' | 'elf' | 'pdf' | 'gzip' | 'zip';

/** Every extractor name, in the order the extractors run. */
export const extractors: readonly ExtractorName[];

/** What a call should do; without options, everything. Bad options throw (or reject with) a TypeError. */
export interface ParseOptions {
  /**
   * Only these extractors run (the content type is still sniffed). The path facts (`name`,
   * `extension_claimed`, timestamps) belong to "file". An empty array gives an empty report.
   */
  extractors?: readonly ExtractorName[];
  /** false: no `sha256`, `crc32` or `entropy_bits_per_byte`, and the content is not read for them. */
  hashes?: boolean;
}

/** Options of the asynchronous calls. */
export interface AsyncParseOptions extends ParseOptions {
  /** Aborting rejects the call with an AbortError (`code` "ABORT_ERR") and stops the work at its next read. */
  signal?: AbortSignal;
}

/**
 * A path as Node's fs takes one: a string, the name's raw bytes (a Buffer or Uint8Array, for
 * names that are not UTF-8), or a `file:` URL object, whose percent-encoded bytes are the name's
 * bytes.
 */
export type PathArgument = string | Buffer | Uint8Array | URL;

/** The report of a call that chose its extractors: only their namespaces can appear. */
export type SelectedReport<E extends ExtractorName> = Pick<Report, E | 'errors'>;

/**
 * Reads the file at `path` (regular files and directories; pipes, sockets and devices are
 * refused) and returns its metadata report. Throws an Error with `code` "StringExpected" when
 * `path` is none of the PathArgument kinds, a TypeError for a URL that names no local file, and
 * an Error with `code` "GenericFailure" when the file cannot be opened.
 */
export function parse<E extends ExtractorName>(
  path: PathArgument,
  options: ParseOptions & { extractors: readonly E[] },
): SelectedReport<E>;
export function parse(path: PathArgument, options?: ParseOptions): Report;

/** Returns the metadata report of the bytes of `buffer` (no path facts). */
export function parseBytes<E extends ExtractorName>(
  buffer: Buffer | Uint8Array,
  options: ParseOptions & { extractors: readonly E[] },
): SelectedReport<E>;
export function parseBytes(buffer: Buffer | Uint8Array, options?: ParseOptions): Report;

/**
 * `parse` on the libuv thread pool. Resolves to the same report; rejects with the Error
 * `parse` would throw (argument and option errors included) or an AbortError.
 */
export function parseAsync<E extends ExtractorName>(
  path: PathArgument,
  options: AsyncParseOptions & { extractors: readonly E[] },
): Promise<SelectedReport<E>>;
export function parseAsync(path: PathArgument, options?: AsyncParseOptions): Promise<Report>;

/**
 * `parseBytes` on the libuv thread pool. The bytes are read in place, not copied: changing
 * them before the promise settles is the caller's race.
 */
export function parseBytesAsync<E extends ExtractorName>(
  buffer: Buffer | Uint8Array,
  options: AsyncParseOptions & { extractors: readonly E[] },
): Promise<SelectedReport<E>>;
export function parseBytesAsync(buffer: Buffer | Uint8Array, options?: AsyncParseOptions): Promise<Report>;

/** A random-access source for `parseSource`: its size and a way to read any range of it. */
export interface RandomAccessSource {
  /** The content's length in bytes: a non-negative integer, as a number or a BigInt. */
  readonly size: number | bigint;
  /**
   * The smallest read worth making, in bytes (1 to 2^24). Reads are whole blocks of this size and
   * at least 64 KiB; without it, 64 KiB.
   */
  readonly blockSize?: number;
  /**
   * Exactly `length` bytes from `offset`; requests never pass `size`. `offset` is a number, a
   * BigInt only beyond 2^53 - 1. A rejection, a throw, or any other length becomes an
   * `I/O error` entry in the report's `errors` for the extractor that was reading.
   */
  read(offset: number | bigint, length: number): Uint8Array | PromiseLike<Uint8Array>;
}

/**
 * The report `parseBytes` would give for the source's bytes. The core runs on a thread of its
 * own (not the libuv pool) and waits for each read; reads are windows of 64 KiB or more, so a
 * format walk costs a few of them. Rejects on bad arguments (TypeError) and with an AbortError.
 */
export function parseSource<E extends ExtractorName>(
  source: RandomAccessSource,
  options: AsyncParseOptions & { extractors: readonly E[] },
): Promise<SelectedReport<E>>;
export function parseSource(source: RandomAccessSource, options?: AsyncParseOptions): Promise<Report>;

export interface HttpSourceOptions {
  /** Sent with every request (authorization, for example). */
  headers?: Record<string, string> | Headers | [string, string][];
  /** Aborts the requests in flight and every later one. */
  signal?: AbortSignal;
}

/** A source over HTTP(S) Range requests. */
export interface HttpSource extends RandomAccessSource {
  readonly size: number;
  readonly url: string;
  read(offset: number | bigint, length: number): Promise<Uint8Array>;
}

/**
 * A source reading `url` with ranged GETs. The first GET (the first 128 KiB) gives the size and
 * serves the parse's first reads. Rejects when the server ignores Range (status 200; the body is
 * not downloaded), on any other status but 206, and when Content-Range gives no size.
 */
export function httpSource(url: string | URL, options?: HttpSourceOptions): Promise<HttpSource>;

/** A stream of bytes: a Node Readable, a web ReadableStream or any async iterable of Uint8Array. */
export type ByteStream =
  | NodeJS.ReadableStream
  | ReadableStream<Uint8Array>
  | AsyncIterable<Uint8Array>;

/** parseStream's options: parseAsync's, and the stream's length when the caller knows it. */
export interface StreamParseOptions extends AsyncParseOptions {
  /**
   * The stream's length in bytes (an HTTP request states its own Content-Length). A stream of
   * another length is rejected. Lets a long stream whose formats read front to back be parsed as
   * it arrives, without a temporary file.
   */
  size?: number | bigint;
}

/**
 * The report `parseBytes` would give for the stream's bytes, reading the stream once and
 * hashing as the bytes pass. Up to 16 MiB stays in memory. A longer stream of known length whose
 * formats read front to back (JPEG, PNG, WebP, GIF, BMP, WAVE, AVI, MP3, gzip, ELF, MP4)
 * is parsed as it arrives, holding 16 MiB at most; any other is kept in a private temporary file
 * (mode 0600), removed however the call ends. Rejects with the stream's own error, a TypeError
 * for chunks that are not Uint8Array, an Error when the stream's length is not its stated size,
 * or an AbortError (the stream is then left to the caller, not destroyed).
 */
export function parseStream<E extends ExtractorName>(
  input: ByteStream,
  options: StreamParseOptions & { extractors: readonly E[] },
): Promise<SelectedReport<E>>;
export function parseStream(input: ByteStream, options?: StreamParseOptions): Promise<Report>;

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
  /** `parse` only: last component of the path as passed ("" for a root or final ".."). */
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

//@@NAMESPACES@@

/** One property per format that recognised the input, plus "errors" when something failed. */
export interface Report {
  file?: FileNamespace;
//@@REPORT_KEYS@@
  /** Present only when at least one extractor failed, in extractor order. */
  errors?: ReportError[];
}

/**
 * Reads the file at `path` (regular files and directories; pipes, sockets and devices are
 * refused) and returns its metadata report. Throws an Error with `code` "StringExpected" when
 * `path` is not a string and "GenericFailure" when the file cannot be opened.
 */
export function parse(path: string): Report;

/** Returns the metadata report of the bytes of `buffer` (no path facts). */
export function parseBytes(buffer: Buffer | Uint8Array): Report;

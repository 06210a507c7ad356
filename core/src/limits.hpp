#pragma once
// Every bound on work driven by untrusted input, with why it is safe. Walks that could recurse
// or loop on attacker-controlled structure consult these.
#include <cstddef>
#include <cstdint>

namespace vorlix_core::limits {

// The driver sniffs from at most this many leading bytes, read with one call.
inline constexpr uint64_t kHeaderBytes = 8192;
// The file extractor streams in chunks of this size: constant memory whatever the input.
inline constexpr uint64_t kStreamChunk = 65536;
// From this size on, the file extractor reads a file on a second thread, ahead of the hashing
// (two 4 MiB buffers); below it, the thread and its buffers cost more than the overlap saves.
inline constexpr uint64_t kReadAheadBytes = 16 << 20;

// MP4 box walks recurse once per nested "moov"; real files nest it once. A "moov" found at this
// depth is skipped like any uninterpreted box, so the walk uses a few KiB of stack whatever the
// input (an 800 KB file can nest 100000 boxes).
inline constexpr uint32_t kMaxBoxDepth = 32;

// EXIF: the chain of main IFDs is read as IFD 0 to 7 and no further (later IFDs are never
// reported); a chain that loops yields the same IFDs again under the later numbers.
inline constexpr uint32_t kExifMaxIfds = 8;
// EXIF sub-IFDs: only three pointer tags lead to them (Exif and GPS from IFD 0..7, Interop from
// the Exif IFD), so they nest two deep and no deeper. Each distinct sub-IFD is read once per IFD
// number however many pointers lead to it; real blocks have one Exif, GPS and Interop IFD each,
// so pointers to more distinct sub-IFDs of one IFD number than this stop the walk
// (IfdError::WorkLimit, and the namespace says "fields_truncated"). This keeps the walk's
// bookkeeping constant.
inline constexpr size_t kExifMaxSubIfds = 64;
// EXIF problems inside IFDs are collected but never reported; a crafted block could produce one
// per entry, so only this many are kept.
inline constexpr size_t kExifMaxKeptErrors = 256;
// EXIF pointers and value offsets may lead anywhere: distinct IFDs may overlap and many entries
// may share one value. The walk reads each chain IFD once however often the chain returns to it,
// each sub-IFD once per IFD number, and each entry position once per IFD number and context
// (overlapping sub-IFDs share theirs); it never reads values (rendering reads only the value
// bytes a text shows, and the texts are capped below). Entries visited are then capped in
// proportion to the work the result stands for: one full IFD, plus kExifEntryVisitsPerByte per
// byte of the block (structures whose IFDs do not overlap visit fewer than 32 / 12 entries per
// byte: 8 IFD numbers times 4 contexts), plus kExifEntryVisitsPerField per field kept. Only a
// fan-out to dozens of large overlapping sub-IFDs under many IFD numbers that yields few fields
// reaches the cap; then the walk stops (IfdError::WorkLimit, "fields_truncated").
inline constexpr uint64_t kExifEntryVisitsBase = 65536;
inline constexpr uint64_t kExifEntryVisitsPerByte = 3;
inline constexpr uint64_t kExifEntryVisitsPerField = 256;

// EXIF display text: the text of one field (its value with its unit) stops after this many
// bytes and then ends with "..." (so it is at most 3 bytes longer). No camera field comes near
// it: a JPEG or HEIF block holds at most 64 KiB, whose largest rendering (a maker note in hex, a
// BYTE array in decimal) stays below 400 KiB. Rendering reads only the value bytes that the
// text shows, so a 100 MB value costs this bound, not 100 MB.
inline constexpr size_t kExifMaxFieldText = size_t{1} << 20;
// EXIF fields reported per block, and their texts together: kExifMaxTotalText plus the block's
// size. Real blocks hold a few hundred fields and a few KiB of text. A crafted TIFF can name a
// distinct tag in every 12-byte entry and make each render far more text than its value holds,
// or point many fields at one large value, so past either bound the namespace stops adding
// fields (in file order, so the main image's come first) and says so with "fields_truncated";
// the report, and the value bytes rendering reads, then stay within these bounds. Fields that
// share a value share its rendering, and the text cap holds a 1 MiB text under each of the 8 IFD
// numbers of a looping chain and of their GPS IFDs (a 1 MiB text needs a value of 200 KiB or
// more). A report adds about twice its texts' size to the peak memory while JavaScript takes
// them. The walk stops at the first field of an IFD number that follows kExifMaxFields fields,
// as none of it could be reported, which bounds the fields it keeps.
inline constexpr size_t kExifMaxFields = size_t{1} << 16;
inline constexpr size_t kExifMaxTotalText = size_t{16} << 20;

// HEIF: an Exif item larger than this is refused ("Exif data too large"), so gathering its
// extents never holds more, whatever sizes the extents declare.
inline constexpr uint64_t kHeifExifItemMax = 65535;

// PDF information strings end at their closing parenthesis or, unterminated, at the end of the
// file; up to eight of them could each copy (and expand) a hostile file whole. Real titles and
// dates are far below this, so capping the kept bytes loses nothing a reader would want.
inline constexpr uint64_t kMaxPdfInfoBytes = uint64_t{1} << 20;

// Lists of records (JPEG segments, PNG chunks, ZIP entries, MP4 boxes and brands) grow with the
// input: a crafted file can make one record per 4 bytes, and every record becomes a JS object, so
// a large hostile upload could exhaust the JS heap and abort the caller's process. Real files
// stay orders of magnitude below this; a walk that reaches it stops and keeps what it listed.
inline constexpr size_t kMaxListedRecords = size_t{1} << 18;

// MP4 top-level boxes: real files have a handful (ftyp, moov, mdat, free, a few more in
// fragmented files, one moof/mdat pair per fragment, a few thousand at most). A crafted file of
// 8-byte boxes would list one record per 8 bytes, each costing several hundred bytes of report,
// so this lower cap keeps the report's memory within a small multiple of the input's size.
inline constexpr size_t kMaxMp4TopLevelBoxes = size_t{1} << 16;

// JPEG segments up to the first scan: real files have a few dozen (a few hundred with many
// application segments). A crafted file of 4-byte segments would list one record per 4 bytes,
// so this cap keeps the report within a small multiple of the input's size.
inline constexpr size_t kMaxJpegSegments = size_t{1} << 16;
// PNG chunks: most files have tens; very large images written in 8 KiB IDAT chunks reach tens of
// thousands. A crafted file of 12-byte empty chunks would list one record per 12 bytes; past this
// cap the list is cut (and says so), and the walk still reads the chunks it reports on.
inline constexpr size_t kMaxPngChunks = size_t{1} << 16;

// Texts taken from content whose format does not bound them (PNG tEXt keywords and texts, ID3
// text frames) follow the EXIF rule: past this many bytes a text is cut and ends with "...".
// Real texts are titles and comments; a hostile 100 MB value would otherwise grow several-fold
// on its way to JS (0xFF becomes U+FFFD: three bytes in UTF-8, two in a JS string), and only
// the bytes the cut text shows are decoded.
inline constexpr size_t kMaxTextBytes = size_t{1} << 20;
// PNG text: distinct keywords kept. A crafted file of 14-byte tEXt chunks would make one key per
// 14 bytes, each costing far more than that as a JS property; past this many the new keywords
// are dropped (a later chunk still replaces the text of a kept one) and the namespace says so
// with "text_truncated".
inline constexpr size_t kMaxPngTexts = size_t{1} << 16;

// gzip: the original file name runs to its zero byte. Names are file names (at most a few KiB on
// any file system); a zero byte not found within this many bytes means there is no name, so a
// crafted header cannot make the walk read, or the report hold, a whole large file.
inline constexpr uint64_t kMaxGzipNameBytes = uint64_t{1} << 20;

// PDF: the scan reads the file in windows of this size (plus a few bytes of overlap), so its
// memory stays constant whatever the file's size.
inline constexpr uint64_t kPdfScanWindow = uint64_t{1} << 20;

}  // namespace vorlix_core::limits

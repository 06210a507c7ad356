#pragma once
// The leading bytes that identify each format: written once here and used by the content sniffer
// (sniff.cpp), the extractors' supports() tests and their walks. Constants only; no walker.
#include <cstdint>
#include <string_view>

namespace vorlix_core::formats {

// JPEG: the SOI marker and the 0xFF that starts the marker after it.
inline constexpr std::string_view kJpegStart{"\xFF\xD8\xFF", 3};
// PNG: the eight-byte file signature. Its first four bytes already tell the format apart.
inline constexpr std::string_view kPngSignature{"\x89PNG\r\n\x1A\n", 8};
inline constexpr std::string_view kPngMagic = kPngSignature.substr(0, 4);
// GIF: "GIF", then the version "87a" or "89a".
inline constexpr std::string_view kGifMagic{"GIF"};
inline constexpr std::string_view kGif87a{"GIF87a"};
inline constexpr std::string_view kGif89a{"GIF89a"};
// BMP: the file header's type field.
inline constexpr std::string_view kBmpMagic{"BM"};
// RIFF: the container's id; the form type follows the size, at offset 8.
inline constexpr std::string_view kRiffMagic{"RIFF"};
inline constexpr uint64_t kRiffFormOffset = 8;
inline constexpr std::string_view kRiffFormWebp{"WEBP"};
inline constexpr std::string_view kRiffFormWave{"WAVE"};
inline constexpr std::string_view kRiffFormAvi{"AVI "};
// ISO base media (MP4, HEIF): the first box is the file-type box, its type after the size.
inline constexpr std::string_view kIsoFileType{"ftyp"};
inline constexpr uint64_t kIsoFileTypeOffset = 4;
// TIFF: the byte-order mark and the number 42 in that order.
inline constexpr std::string_view kTiffLittleEndian{"II*\0", 4};
inline constexpr std::string_view kTiffBigEndian{"MM\0*", 4};
// Exif: the identifier before the TIFF block in a JPEG APP1 segment.
inline constexpr std::string_view kExifHeader{"Exif\0\0", 6};
// ID3v2: the tag header's identifier.
inline constexpr std::string_view kId3Magic{"ID3"};
// ELF: the identification's magic number, 0x7F then "ELF".
inline constexpr std::string_view kElfMagic{"\177ELF", 4};
// PDF: the header line's start; the version follows. The sniffer accepts "%PDF" alone.
inline constexpr std::string_view kPdfHeader{"%PDF-"};
// gzip: ID1 and ID2, then the compression method; 8, deflate, is the only one defined.
inline constexpr std::string_view kGzipMagic{"\x1F\x8B", 2};
inline constexpr uint8_t kGzipDeflate = 8;
// ZIP record signatures: "PK" and two bytes naming the record.
inline constexpr std::string_view kZipLocalHeader{"PK\x03\x04", 4};
inline constexpr std::string_view kZipCentralHeader{"PK\x01\x02", 4};
inline constexpr std::string_view kZipEndOfCentralDirectory{"PK\x05\x06", 4};
inline constexpr std::string_view kZipSpanned{"PK\x07\x08", 4};
// OLE compound files (legacy Office documents, MSI).
inline constexpr std::string_view kOleMagic{"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8};

}  // namespace vorlix_core::formats

#pragma once
// JPEG marker codes (the byte after 0xFF) and the identifiers that open application segments.
// Constants only; the segment walk is in extractors/jpeg.cpp.
#include <cstdint>
#include <string_view>

namespace vorlix_core::formats::jpeg {

inline constexpr uint8_t kMarkerPrefix = 0xFF;
// TEM: a marker that stands alone, as RST0 to RST7 do.
inline constexpr uint8_t kTem = 0x01;
inline constexpr uint8_t kSof0 = 0xC0;  // baseline frame
inline constexpr uint8_t kSof2 = 0xC2;  // progressive frame
inline constexpr uint8_t kDht = 0xC4;
// RST0 to RST7, then SOI: markers that stand alone, without a length field.
inline constexpr uint8_t kRst0 = 0xD0;
inline constexpr uint8_t kSoi = 0xD8;
inline constexpr uint8_t kEoi = 0xD9;
inline constexpr uint8_t kSos = 0xDA;
inline constexpr uint8_t kDqt = 0xDB;
inline constexpr uint8_t kDri = 0xDD;
inline constexpr uint8_t kApp0 = 0xE0;
inline constexpr uint8_t kApp1 = 0xE1;
inline constexpr uint8_t kApp2 = 0xE2;
inline constexpr uint8_t kApp13 = 0xED;
inline constexpr uint8_t kApp14 = 0xEE;
inline constexpr uint8_t kCom = 0xFE;

// How far one look for the next FF reaches between segments: a small step stays inside the read
// window that holds the segment just read.
inline constexpr uint64_t kMarkerScanStep = 4096;

// Application segment identifiers; the NUL terminators are part of each. The Exif one is
// formats::kExifHeader.
inline constexpr std::string_view kJfifSignature{"JFIF\0", 5};
inline constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
inline constexpr std::string_view kIccSignature{"ICC_PROFILE\0", 12};
inline constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};

}  // namespace vorlix_core::formats::jpeg

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::ExifExtractor;
using ByteVec = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// A JSON tree just large enough for the expected files: objects keep their member order, so
// comparing trees also compares key order.

struct Json {
  enum class Kind { Null, Number, String, Object } kind = Kind::Null;
  double number = 0;
  std::string text;
  std::vector<std::pair<std::string, Json>> members;

  friend bool operator==(const Json&, const Json&) = default;
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view s) : s_(s) {}

  std::optional<Json> parse() {
    auto v = value();
    skip_ws();
    if (!v || pos_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void skip_ws() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool eat(char c) {
    skip_ws();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::optional<std::string> string() {
    if (!eat('"')) return std::nullopt;
    std::string out;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return std::nullopt;
      char e = s_[pos_++];
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'u': {
          // Rendered EXIF text is printable ASCII; only control characters would be escaped.
          if (pos_ + 4 > s_.size()) return std::nullopt;
          out.push_back(static_cast<char>(
              std::strtoul(std::string(s_.substr(pos_, 4)).c_str(), nullptr, 16)));
          pos_ += 4;
          break;
        }
        default:
          out.push_back(e);
          break;
      }
    }
    if (pos_ >= s_.size()) return std::nullopt;
    ++pos_;
    return out;
  }

  std::optional<Json> value() {
    skip_ws();
    if (pos_ >= s_.size()) return std::nullopt;
    Json j;
    char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      j.kind = Json::Kind::Object;
      if (eat('}')) return j;
      do {
        auto key = string();
        if (!key || !eat(':')) return std::nullopt;
        auto member = value();
        if (!member) return std::nullopt;
        j.members.emplace_back(std::move(*key), std::move(*member));
      } while (eat(','));
      if (!eat('}')) return std::nullopt;
    } else if (c == '"') {
      auto s = string();
      if (!s) return std::nullopt;
      j.kind = Json::Kind::String;
      j.text = std::move(*s);
    } else if (s_.substr(pos_, 4) == "null") {
      pos_ += 4;
    } else {
      std::string rest(s_.substr(pos_, 64));
      char* end = nullptr;
      j.kind = Json::Kind::Number;
      j.number = std::strtod(rest.c_str(), &end);
      if (end == rest.c_str()) return std::nullopt;
      pos_ += static_cast<size_t>(end - rest.c_str());
    }
    return j;
  }

  std::string_view s_;
  size_t pos_ = 0;
};

// The serialised form the report shows (floats: null when not finite).
Json to_json(const Value& v) {
  Json j;
  if (auto s = v.get_if<std::string>()) {
    j.kind = Json::Kind::String;
    j.text = *s;
  } else if (auto d = v.get_if<double>()) {
    if (std::isfinite(*d)) {
      j.kind = Json::Kind::Number;
      j.number = *d;
    }
  } else if (auto m = v.get_if<Map>()) {
    j.kind = Json::Kind::Object;
    for (const auto& [key, member] : *m)
      j.members.emplace_back(key, to_json(member));
  } else {
    j.kind = Json::Kind::String;
    j.text = "<unexpected value kind>";
  }
  return j;
}

std::string dump(const Json& j, int indent = 0) {
  switch (j.kind) {
    case Json::Kind::Null:
      return "null";
    case Json::Kind::Number: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", j.number);
      return buf;
    }
    case Json::Kind::String:
      return '"' + j.text + '"';
    case Json::Kind::Object: {
      std::string out = "{\n";
      for (const auto& [key, member] : j.members) {
        out += std::string(indent + 2, ' ') + '"' + key + "\": " + dump(member, indent + 2) + "\n";
      }
      return out + std::string(indent, ' ') + "}";
    }
  }
  return "";
}

ByteVec read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return ByteVec(std::istreambuf_iterator<char>(in), {});
}

ExtractResult extract(const ByteVec& bytes) {
  MemorySource src(bytes);
  ProbeContext ctx;
  ctx.header = bytes;
  ctx.length = bytes.size();
  return ExifExtractor().extract(src, ctx);
}

// What the expected files hold for one extraction.
Json outcome(const ExtractResult& r) {
  if (!r) {
    Json err;
    err.kind = Json::Kind::Object;
    Json message;
    message.kind = Json::Kind::String;
    message.text = r.error().display();
    err.members.emplace_back("error", std::move(message));
    return err;
  }
  Json ns;
  ns.kind = Json::Kind::Object;
  for (const auto& [key, value] : r.value().fields())
    ns.members.emplace_back(key, to_json(value));
  return ns;
}

// ---------------------------------------------------------------------------------------------
// Every sample file with an expected result: the exact namespace, error message or nothing.

std::vector<std::string> fixture_names() {
  std::vector<std::string> names;
  const std::string suffix = ".expected.json";
  // Runs during test registration, where an exception would abort the binary: a missing folder
  // yields no names, and AreThere reports it.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(VORLIX_TEST_FIXTURES "/exif/", ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      names.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ExifFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(ExifFixture, MatchesExpectedNamespace) {
  const std::filesystem::path dir = VORLIX_TEST_FIXTURES "/exif/";
  ByteVec expected_text = read_file(dir / (GetParam() + ".expected.json"));
  auto expected = JsonParser(std::string_view(reinterpret_cast<const char*>(expected_text.data()),
                                              expected_text.size()))
                      .parse();
  ASSERT_TRUE(expected) << "unreadable expected file";
  ByteVec input = read_file(dir / GetParam());
  ASSERT_FALSE(input.empty());
  Json actual = outcome(extract(input));
  EXPECT_TRUE(actual == *expected) << "actual:\n"
                                   << dump(actual) << "\nexpected:\n"
                                   << dump(*expected);
}

std::string case_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  for (char& c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(Samples, ExifFixture, ::testing::ValuesIn(fixture_names()), case_name);

TEST(ExifFixtures, AreThere) {
  EXPECT_GE(fixture_names().size(), 70u) << "EXIF fixtures missing from " VORLIX_TEST_FIXTURES;
}

// ---------------------------------------------------------------------------------------------

TEST(ExifSupports, ExactlyTheSixImageTypes) {
  struct Case {
    std::optional<std::string_view> mime;
    bool expected;
  };
  const Case cases[] = {
      {"image/jpeg", true},  {"image/tiff", true},   {"image/heif", true},
      {"image/heic", true},  {"image/webp", true},   {"image/png", true},
      {"image/avif", false}, {"image/gif", false},   {"image/x-canon-cr2", false},
      {"IMAGE/JPEG", false}, {"image/jpeg ", false}, {std::nullopt, false},
  };
  for (const Case& c : cases) {
    ProbeContext ctx;
    ctx.mime = c.mime;
    // The header alone never decides: a TIFF header with no sniffed type is not claimed.
    static const uint8_t kTiff[] = {'I', 'I', 42, 0};
    ctx.header = kTiff;
    EXPECT_EQ(ExifExtractor().supports(ctx), c.expected) << c.mime.value_or("<none>");
  }
  EXPECT_STREQ(ExifExtractor().name(), "exif");
}

// A little-endian bare TIFF holding IFD 0 with one GPS pointer to a GPS IFD of the given
// entries. Each entry: tag, type, count and its out-of-line value (or inline when 4 bytes or
// fewer).
struct GpsEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  ByteVec value;
};

void put16(ByteVec& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(ByteVec& b, uint32_t v) {
  put16(b, static_cast<uint16_t>(v));
  put16(b, static_cast<uint16_t>(v >> 16));
}
ByteVec rationals(std::initializer_list<std::pair<uint32_t, uint32_t>> parts) {
  ByteVec out;
  for (auto [n, d] : parts) {
    put32(out, n);
    put32(out, d);
  }
  return out;
}
ByteVec ascii(std::string_view s) {
  return ByteVec(s.begin(), s.end());
}

ByteVec gps_tiff(const std::vector<GpsEntry>& entries) {
  ByteVec b = {'I', 'I', 42, 0};
  put32(b, 8);                                      // IFD 0 at 8
  put16(b, 1);                                      // IFD 0: one entry
  put16(b, 0x8825);                                 // GPSInfoIFDPointer
  put16(b, 4);                                      //   LONG
  put32(b, 1);                                      //   count 1
  put32(b, 26);                                     //   GPS IFD at 26
  put32(b, 0);                                      // no next IFD
  put16(b, static_cast<uint16_t>(entries.size()));  // GPS IFD at 26
  uint32_t data = 26 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  ByteVec values;
  for (const GpsEntry& e : entries) {
    put16(b, e.tag);
    put16(b, e.type);
    put32(b, e.count);
    if (e.value.size() <= 4) {
      ByteVec inline_value = e.value;
      inline_value.resize(4);
      b.insert(b.end(), inline_value.begin(), inline_value.end());
    } else {
      put32(b, data + static_cast<uint32_t>(values.size()));
      values.insert(values.end(), e.value.begin(), e.value.end());
    }
  }
  put32(b, 0);  // GPS IFD: no next IFD
  b.insert(b.end(), values.begin(), values.end());
  return b;
}

constexpr uint16_t kRational = 5;
constexpr uint16_t kSRational = 10;
constexpr uint16_t kAscii = 2;

struct GpsOutcome {
  std::optional<double> latitude;
  std::optional<double> longitude;
  bool present = false;
};

GpsOutcome gps_of(const ByteVec& tiff) {
  auto r = extract(tiff);
  EXPECT_TRUE(r) << (r ? "" : r.error().display());
  GpsOutcome out;
  if (!r) return out;
  auto it = r.value().fields().find("gps_decimal");
  if (it == r.value().fields().end()) return out;
  out.present = true;
  const Map& m = *it->second.get_if<Map>();
  out.latitude = *m.at("latitude").get_if<double>();
  out.longitude = *m.at("longitude").get_if<double>();
  return out;
}

const GpsEntry kLat{2, kRational, 3, rationals({{48, 1}, {51, 1}, {294, 10}})};
const GpsEntry kLatRefS{1, kAscii, 2, ascii({"S\0", 2})};
const GpsEntry kLon{4, kRational, 3, rationals({{2, 1}, {21, 1}, {0, 1}})};
const GpsEntry kLonRefE{3, kAscii, 2, ascii({"E\0", 2})};

TEST(ExifGps, SignedDecimalDegrees) {
  GpsOutcome g = gps_of(gps_tiff({kLatRefS, kLat, kLonRefE, kLon}));
  ASSERT_TRUE(g.present);
  EXPECT_EQ(*g.latitude, -48.85816666666667);
  EXPECT_EQ(*g.longitude, 2.35);
}

TEST(ExifGps, NeedsBothCoordinatesAsThreeUnsignedRationals) {
  const GpsEntry two_parts{2, kRational, 2, rationals({{48, 1}, {51, 1}})};
  const GpsEntry signed_lat{2, kSRational, 3, rationals({{48, 1}, {51, 1}, {294, 10}})};
  EXPECT_FALSE(gps_of(gps_tiff({kLatRefS, kLat})).present);
  EXPECT_FALSE(gps_of(gps_tiff({two_parts, kLon})).present);
  EXPECT_FALSE(gps_of(gps_tiff({signed_lat, kLon})).present);
}

TEST(ExifGps, ReferenceDecidesTheSignOnlyAsABareLetter) {
  // No reference: positive. "W": negative. Lower-case "s" renders quoted: positive.
  GpsOutcome no_ref = gps_of(gps_tiff({kLat, kLon}));
  ASSERT_TRUE(no_ref.present);
  EXPECT_GT(*no_ref.latitude, 48.0);
  const GpsEntry lon_w{3, kAscii, 2, ascii({"W\0", 2})};
  EXPECT_LT(*gps_of(gps_tiff({kLat, lon_w, kLon})).longitude, 0.0);
  const GpsEntry lat_s_lower{1, kAscii, 2, ascii({"s\0", 2})};
  EXPECT_GT(*gps_of(gps_tiff({lat_s_lower, kLat, kLon})).latitude, 0.0);
  // A BYTE reference 0x53 ('S') renders as the number 83: positive.
  const GpsEntry lat_byte_s{1, 1, 1, {0x53}};
  EXPECT_GT(*gps_of(gps_tiff({lat_byte_s, kLat, kLon})).latitude, 0.0);
}

TEST(ExifGps, ZeroDenominatorGivesNonFiniteDegrees) {
  const GpsEntry lat{2, kRational, 3, rationals({{1, 0}, {51, 1}, {0, 1}})};
  GpsOutcome g = gps_of(gps_tiff({lat, kLon}));
  ASSERT_TRUE(g.present);
  EXPECT_TRUE(std::isinf(*g.latitude));
  EXPECT_EQ(*g.longitude, 2.35);
}

TEST(ExifExtract, GroupsAndTextsOfABareTiff) {
  auto r = extract(gps_tiff({kLatRefS, kLat}));
  ASSERT_TRUE(r);
  const Map& primary = *r.value().fields().at("primary").get_if<Map>();
  EXPECT_EQ(*primary.at("GPSLatitude").get_if<std::string>(), "48 deg 51 min 29.4 sec S");
  EXPECT_EQ(*primary.at("GPSLatitudeRef").get_if<std::string>(), "S");
  EXPECT_EQ(primary.size(), 2u);  // the pointer tag is not a field
  EXPECT_EQ(r.value().fields().size(), 1u);
}

// A little-endian TIFF whose IFD 0 holds `ifd0` SHORT fields with distinct tags and whose IFD 1
// holds `ifd1` more: more distinct fields than any camera writes.
ByteVec many_fields_tiff(uint32_t ifd0, uint32_t ifd1) {
  ByteVec b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto le16 = [&](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto le32 = [&](uint32_t v) {
    le16(v & 0xFFFF);
    le16(v >> 16);
  };
  auto ifd = [&](uint32_t count, uint32_t next) {
    le16(count);
    for (uint32_t tag = 1, n = 0; n < count; ++tag) {
      if (tag == 0x8769 || tag == 0x8825) continue;  // pointers, not fields
      le16(tag);
      le16(3);  // SHORT
      le32(1);
      le32(7);
      ++n;
    }
    le32(next);
  };
  ifd(ifd0, 8 + 2 + 12 * ifd0 + 4);
  ifd(ifd1, 0);
  return b;
}

TEST(ExifExtract, FieldsPastTheCapAreCutAndFlagged) {
  constexpr uint32_t kCap = limits::kExifMaxFields;
  struct Case {
    uint32_t ifd0, ifd1;
    bool cut;
  } cases[] = {{kCap - 10, 10, false}, {kCap - 10, 11, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ifd1);
    auto r = extract(many_fields_tiff(c.ifd0, c.ifd1));
    ASSERT_TRUE(r);
    const Map& fields = r.value().fields();
    EXPECT_EQ(fields.at("primary").get_if<Map>()->size(), c.ifd0);
    // File order decides what is kept: the main image's fields come first.
    EXPECT_EQ(fields.at("thumbnail").get_if<Map>()->size(), 10u);
    EXPECT_EQ(testing::field<bool>(fields, "fields_truncated"),
              c.cut ? std::optional<bool>(true) : std::nullopt);
  }
}

TEST(ExifExtract, ContainerAndHeaderErrorsAreOtherWithTheTextAlone) {
  struct Case {
    ByteVec bytes;
    const char* message;
  };
  const Case cases[] = {
      {{'G', 'I', 'F', '8', '9', 'a'}, "Unknown image format"},
      {{'I', 'I', 42, 0, 8, 0}, "Truncated TIFF header"},
  };
  for (const Case& c : cases) {
    auto r = extract(c.bytes);
    ASSERT_FALSE(r);
    ASSERT_TRUE(std::holds_alternative<ExtractError::Other>(r.error().variant()));
    EXPECT_EQ(r.error().display(), c.message);
  }
}

TEST(ExifExtract, BlockWithoutFieldsIsAnEmptyNamespace) {
  // II, 42, first IFD offset 0: no IFD at all.
  auto r = extract({'I', 'I', 42, 0, 0, 0, 0, 0});
  ASSERT_TRUE(r);
  EXPECT_TRUE(r.value().empty());
  EXPECT_STREQ(r.value().name(), "exif");
}

// ---------------------------------------------------------------------------------------------
// Reading: only what the walk looks at, whatever the file's size; cut and failing files.

constexpr uint64_t kGiB = uint64_t{1} << 30;
// A handful of read windows, against the gigabyte the sources below hold.
constexpr uint64_t kFewWindows = 4 * RandomAccess::kWindowBytes;

ExtractResult extract_from(ByteSource& src, uint64_t length, std::span<const uint8_t> header) {
  ProbeContext ctx;
  ctx.header = header;
  ctx.length = length;
  return ExifExtractor().extract(src, ctx);
}

std::string primary_text(const ExtractResult& r, std::string_view name) {
  EXPECT_TRUE(r) << (r ? "" : r.error().display());
  if (!r) return "<error>";
  const Value* group = testing::find(r.value().fields(), "primary");
  if (!group || !group->get_if<Map>()) return "<no primary group>";
  return testing::field<std::string>(*group->get_if<Map>(), name).value_or("<missing>");
}

// II, 42, IFD 0 at 8 with the given entries (12 bytes each) and no next IFD.
ByteVec tiff_with(const std::vector<ByteVec>& entries) {
  ByteVec b = {'I', 'I', 42, 0};
  put32(b, 8);
  put16(b, static_cast<uint16_t>(entries.size()));
  for (const ByteVec& e : entries)
    b.insert(b.end(), e.begin(), e.end());
  put32(b, 0);
  return b;
}
ByteVec entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  ByteVec e;
  put16(e, tag);
  put16(e, type);
  put32(e, count);
  put32(e, value);
  return e;
}

TEST(ExifReading, TiffValueBeyondAGigabyteHole) {
  // Make's six bytes lie after the hole, at the very end of the file.
  const uint32_t far = 8 + 2 + 12 + 4 + static_cast<uint32_t>(kGiB);
  const ByteVec head = tiff_with({entry(271, kAscii, 6, far)});
  testing::HoleSource src(head, kGiB, ascii({"Canon\0", 6}));
  auto r = extract_from(src, src.size(), head);
  EXPECT_EQ(primary_text(r, "Make"), "\"Canon\"");
  EXPECT_LT(src.bytes_read(), kFewWindows);
}

TEST(ExifReading, TiffIfdBeyondAGigabyteHole) {
  ByteVec head = {'I', 'I', 42, 0};
  put32(head, 8 + static_cast<uint32_t>(kGiB));  // IFD 0 after the hole
  ByteVec ifd;
  put16(ifd, 1);
  const ByteVec width = entry(256, 3, 1, 640);  // ImageWidth 640, inline
  ifd.insert(ifd.end(), width.begin(), width.end());
  put32(ifd, 0);
  testing::HoleSource src(head, kGiB, ifd);
  auto r = extract_from(src, src.size(), head);
  EXPECT_EQ(primary_text(r, "ImageWidth"), "640 pixels");
  EXPECT_LT(src.bytes_read(), kFewWindows);
}

TEST(ExifReading, JpegStopsAtItsExifSegment) {
  const ByteVec tiff = tiff_with({entry(256, 3, 1, 320)});
  ByteVec head = {0xFF, 0xD8, 0xFF, 0xE1};
  const size_t length = 2 + 6 + tiff.size();
  head.push_back(static_cast<uint8_t>(length >> 8));
  head.push_back(static_cast<uint8_t>(length));
  const ByteVec id = ascii({"Exif\0\0", 6});
  head.insert(head.end(), id.begin(), id.end());
  head.insert(head.end(), tiff.begin(), tiff.end());
  testing::HoleSource src(head, kGiB, {0xFF, 0xD9});
  auto r = extract_from(src, src.size(), head);
  EXPECT_EQ(primary_text(r, "ImageWidth"), "320 pixels");
  EXPECT_LT(src.bytes_read(), kFewWindows);
}

// A gigabyte of NUL bytes as one ASCII and one BYTE value: each text stops at the bound, and
// only the bytes that the texts show are read.
TEST(ExifReading, HugeValuesRenderABoundedText) {
  const uint32_t n = static_cast<uint32_t>(kGiB);
  const uint32_t at = 8 + 2 + 24 + 4;  // right after IFD 0: the hole
  const ByteVec head = tiff_with({entry(61441, kAscii, n, at), entry(61442, 1, n, at)});
  testing::HoleSource src(head, kGiB, {});
  auto r = extract_from(src, src.size(), head);
  const std::string ascii_text = primary_text(r, "Tag(Tiff, 61441)");
  const std::string byte_text = primary_text(r, "Tag(Tiff, 61442)");
  const size_t bound = limits::kExifMaxFieldText;
  ASSERT_EQ(ascii_text.size(), bound + 3);
  EXPECT_EQ(ascii_text.substr(0, 10), "\"\", \"\", \"\"");
  EXPECT_EQ(ascii_text.substr(bound), "...");
  ASSERT_EQ(byte_text.size(), bound + 3);
  EXPECT_EQ(byte_text.substr(0, 9), "0, 0, 0, ");
  EXPECT_EQ(byte_text.substr(bound), "...");
  EXPECT_LT(src.bytes_read(), 2 * bound + kFewWindows);
}

// A file cut after its length was taken: what lies before the cut is reported, nothing crashes.
TEST(ExifReading, FileShorterThanStated) {
  const uint32_t value_at = 8 + 2 + 36 + 4;
  const ByteVec whole = [&] {
    ByteVec b =
        tiff_with({entry(256, 3, 1, 640), entry(271, kAscii, 6, value_at), entry(257, 3, 1, 480)});
    const ByteVec make = ascii({"Canon\0", 6});
    b.insert(b.end(), make.begin(), make.end());
    return b;
  }();
  struct Case {
    const char* what;
    size_t kept;
    const char* expected;  // the primary group as name=text pairs, or the error
  };
  const Case cases[] = {
      {"whole", whole.size(), "ImageLength=480 pixels ImageWidth=640 pixels Make=\"Canon\""},
      {"value cut", whole.size() - 1, "ImageLength=480 pixels ImageWidth=640 pixels"},
      {"IFD cut after its first entry", 8 + 2 + 12 + 5, "ImageWidth=640 pixels"},
      {"IFD count cut", 9, "{}"},
      {"header cut", 5, "error: Truncated TIFF header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(whole.data(), 1, whole.size(), f), whole.size());
    std::fflush(f);
    ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(c.kept)), 0);
    FileSource src(fileno(f));
    auto r = extract_from(src, whole.size(), whole);
    std::string got;
    if (!r) {
      got = "error: " + r.error().display();
    } else if (r.value().empty()) {
      got = "{}";
    } else {
      const Value* group = testing::find(r.value().fields(), "primary");
      ASSERT_TRUE(group && group->get_if<Map>());
      for (const auto& [key, value] : *group->get_if<Map>()) {
        if (!got.empty()) got += ' ';
        got += key + "=" + *value.get_if<std::string>();
      }
    }
    EXPECT_EQ(got, c.expected);
    std::fclose(f);
  }
}

TEST(ExifReading, ReadFailureIsTheIoText) {
  // The IFD lies past the first window; the source serves that window and fails afterwards.
  ByteVec tiff = {'I', 'I', 42, 0};
  put32(tiff, 100000);
  tiff.resize(100000);
  put16(tiff, 0);
  put32(tiff, 0);
  testing::FailingSource src(tiff, 1);
  auto r = extract_from(src, tiff.size(), tiff);
  ASSERT_FALSE(r);
  ASSERT_TRUE(std::holds_alternative<ExtractError::Other>(r.error().variant()));
  EXPECT_EQ(r.error().display(), IoError::os(EIO).display());
}

}  // namespace
}  // namespace vorlix_core

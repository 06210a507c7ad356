#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "exif/number_text.hpp"
#include "exif/reader.hpp"
#include "exif/render.hpp"
#include "exif/tag_table.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::exif {
namespace {

using ByteVec = std::vector<uint8_t>;

// A TIFF block written field by field in either byte order. The constructor writes the byte-order
// mark and 42; everything after is appended by the test, which keeps track of the offsets.
class Tiff {
 public:
  explicit Tiff(Endian e = Endian::Little) : e_(e) {
    if (e == Endian::Little) {
      b_ = {'I', 'I'};
    } else {
      b_ = {'M', 'M'};
    }
    u16(42);
  }
  Tiff& u8(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  Tiff& u16(uint16_t v) { return put(v, 2); }
  Tiff& u32(uint32_t v) { return put(v, 4); }
  Tiff& bytes(const ByteVec& v) {
    b_.insert(b_.end(), v.begin(), v.end());
    return *this;
  }
  Tiff& text(std::string_view s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  // One 12-byte entry whose value field holds `value` as a 32-bit number (an offset, or a LONG).
  Tiff& entry(uint16_t tag, uint16_t type_code, uint32_t count, uint32_t value) {
    return u16(tag).u16(type_code).u32(count).u32(value);
  }
  // One entry with one SHORT stored inline (first two bytes of the value field).
  Tiff& short_entry(uint16_t tag, uint16_t v) {
    return u16(tag).u16(type::kShort).u32(1).u16(v).u16(0);
  }
  uint32_t size() const { return static_cast<uint32_t>(b_.size()); }
  ByteVec block() const { return b_; }

 private:
  Tiff& put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
      int shift = e_ == Endian::Little ? 8 * i : 8 * (n - 1 - i);
      b_.push_back(static_cast<uint8_t>(v >> shift));
    }
    return *this;
  }
  Endian e_;
  ByteVec b_;
};

Exif parse_ok(const ByteVec& block) {
  auto r = parse_tiff(block);
  EXPECT_TRUE(r) << (r ? "" : r.error().message);
  return std::move(r.value());
}

// "ifd:name=text" for every field in list order.
std::vector<std::string> listing(const Exif& exif) {
  std::vector<std::string> out;
  for (const Field& f : exif.fields()) {
    out.push_back(std::to_string(f.ifd) + ":" + tag_name(f.tag) + "=" + display_with_unit(exif, f));
  }
  return out;
}

std::vector<std::string> error_texts(const Exif& exif) {
  std::vector<std::string> out;
  for (IfdError e : exif.errors())
    out.emplace_back(message(e));
  return out;
}

using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------

TEST(ExifTiffHeader, FatalErrors) {
  struct Case {
    ByteVec block;
    const char* message;  // null: parses
  };
  const Case cases[] = {
      {{}, "Truncated TIFF header"},
      {{'I', 'I', 42, 0, 8, 0, 0}, "Truncated TIFF header"},  // 7 bytes
      {{'I', 'M', 42, 0, 0, 0, 0, 0}, "Invalid TIFF byte order"},
      {{'E', 'x', 'i', 'f', 0, 0, 'I', 'I'}, "Invalid TIFF byte order"},
      {{'I', 'I', 0, 42, 0, 0, 0, 0}, "Invalid forty two"},  // big-endian 42 in a II block
      {{'M', 'M', 0, 43, 0, 0, 0, 0}, "Invalid forty two"},
      {{'M', 'M', 0, 42, 0, 0, 0, 0}, nullptr},  // first IFD offset 0: nothing to read
      {{'I', 'I', 42, 0, 0, 0, 0, 0}, nullptr},
  };
  for (const Case& c : cases) {
    auto r = parse_tiff(c.block);
    if (c.message) {
      ASSERT_FALSE(r);
      EXPECT_STREQ(r.error().message, c.message);
    } else {
      ASSERT_TRUE(r);
      EXPECT_TRUE(r.value().fields().empty());
      EXPECT_TRUE(r.value().errors().empty());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Default rendering of every field type, read from a one-entry block in both byte orders.

struct TypeCase {
  uint16_t type;
  uint32_t count;
  ByteVec le_value;  // the value bytes as a little-endian file stores them
  const char* expected;
};

template <class T>
ByteVec little_endian(std::initializer_list<T> vs) {
  ByteVec out;
  for (T v : vs) {
    for (size_t i = 0; i < sizeof(T); ++i)
      out.push_back(static_cast<uint8_t>(uint64_t{v} >> (8 * i)));
  }
  return out;
}
ByteVec le16(std::initializer_list<uint16_t> vs) {
  return little_endian(vs);
}
ByteVec le32(std::initializer_list<uint32_t> vs) {
  return little_endian(vs);
}
ByteVec le64(std::initializer_list<uint64_t> vs) {
  return little_endian(vs);
}
ByteVec bytes_of(std::string_view s) {
  return ByteVec(s.begin(), s.end());
}
// Every byte of a literal, embedded NULs included, without its terminator.
template <size_t N>
ByteVec lit(const char (&s)[N]) {
  return ByteVec(s, s + N - 1);
}
uint32_t f32(float f) {
  return std::bit_cast<uint32_t>(f);
}
uint64_t f64(double d) {
  return std::bit_cast<uint64_t>(d);
}

// Byte-swaps each element of a little-endian value for a big-endian block.
ByteVec to_big_endian(uint16_t type_code, ByteVec v) {
  size_t width = unit_size(type_code);
  if (type_code == type::kRational || type_code == type::kSRational) width = 4;
  for (size_t i = 0; width > 1 && i + width <= v.size(); i += width) {
    std::reverse(v.begin() + static_cast<long>(i), v.begin() + static_cast<long>(i + width));
  }
  return v;
}

// IFD 0 at 8 with the single entry (unknown tag 61441, so the default rendering applies) and
// the value at 26 when it does not fit the entry.
ByteVec one_entry_block(Endian e, uint16_t type_code, uint32_t count, ByteVec value) {
  if (e == Endian::Big) value = to_big_endian(type_code, std::move(value));
  Tiff t(e);
  t.u32(8);                                // IFD 0 at 8
  t.u16(1);                                // one entry
  t.u16(61441).u16(type_code).u32(count);  // tag, type, count
  if (value.size() <= 4) {
    ByteVec inline_value = value;
    inline_value.resize(4);
    t.bytes(inline_value);  // value field holds the value
    t.u32(0);               // no next IFD
  } else {
    t.u32(26);       // value at 26
    t.u32(0);        // no next IFD
    t.bytes(value);  // 26: value
  }
  return t.block();
}

TEST(ExifRender, DefaultRenderingOfEachType) {
  const TypeCase cases[] = {
      {type::kByte, 5, {1, 255, 7, 8, 9}, "1, 255, 7, 8, 9"},
      {type::kByte, 0, {}, ""},
      {type::kAscii, 6, lit("plain\0"), "\"plain\""},
      {type::kAscii, 6, lit("q\"b\\s\0"), "\"q\\\"b\\\\s\""},
      {type::kAscii, 15, lit("tab\tnl\ncr\rdel\x7f\0"), "\"tab\\x09nl\\x0acr\\x0ddel\\x7f\""},
      {type::kAscii, 7, lit("caf\xc3\xa9\xff\0"), "\"caf\\xc3\\xa9\\xff\""},
      {type::kAscii, 14, lit("one\0two\0three\0"), "\"one\", \"two\", \"three\""},
      {type::kAscii, 6, bytes_of("no-nul"), "\"no-nul\""},
      {type::kAscii, 0, {}, ""},
      {type::kAscii, 1, {0}, "\"\""},
      {type::kAscii, 2, {0, 0}, "\"\", \"\""},
      {type::kAscii, 3, {'A', 0, 0}, "\"A\", \"\""},
      {type::kAscii, 3, {'A', 0, 'B'}, "\"A\", \"B\""},
      {type::kShort, 3, le16({1, 65535, 3}), "1, 65535, 3"},
      {type::kLong, 1, le32({4294967295u}), "4294967295"},
      {type::kRational, 3, le32({0, 0, 1, 0, 4, 2}), "0/0, 1/0, 4/2"},
      {type::kRational, 1, le32({4294967295u, 4294967295u}), "4294967295/4294967295"},
      {type::kSByte, 4, {0x80, 0xff, 0, 0x7f}, "-128, -1, 0, 127"},
      {type::kUndefined, 4, {0x00, 0xff, 0x41, 0x62}, "0x00ff4162"},
      {type::kUndefined, 0, {}, "0x"},
      {type::kSShort, 4, le16({0x8000, 0xffff, 0, 0x7fff}), "-32768, -1, 0, 32767"},
      {type::kSLong, 2, le32({0x80000000u, 0x7fffffffu}), "-2147483648, 2147483647"},
      {type::kSRational, 4,
       le32({0xffffffffu, 2, 1, 0xfffffffeu, 0xffffffffu, 0xfffffffeu, 0x80000000u, 0x80000000u}),
       "-1/2, 1/-2, -1/-2, -2147483648/-2147483648"},
      {type::kSRational, 1, le32({0xffffffffu, 0}), "-1/0"},
      {type::kFloat, 3, le32({f32(1.5f), f32(-0.0f), f32(0.1f)}), "1.5, -0, 0.1"},
      {type::kDouble, 2, le64({f64(0.1), f64(1e21)}), "0.1, 1000000000000000000000"},
  };
  for (Endian e : {Endian::Little, Endian::Big}) {
    for (const TypeCase& c : cases) {
      ASSERT_EQ(c.le_value.size(), uint64_t{c.count} * unit_size(c.type)) << c.expected;
      Exif exif = parse_ok(one_entry_block(e, c.type, c.count, c.le_value));
      ASSERT_EQ(exif.fields().size(), 1u);
      EXPECT_EQ(tag_name(exif.fields()[0].tag), "Tag(Tiff, 61441)");
      EXPECT_EQ(display_with_unit(exif, exif.fields()[0]), c.expected)
          << "type " << c.type << (e == Endian::Big ? " big-endian" : " little-endian");
    }
  }
}

TEST(ExifRender, UnknownTypeNamesItsValueFieldPosition) {
  // The entry starts at 10, so its value field is at 18 (0x12); the count is never checked.
  Exif exif = parse_ok(one_entry_block(Endian::Little, 13, 3, {}));
  ASSERT_EQ(exif.fields().size(), 1u);
  EXPECT_EQ(display_with_unit(exif, exif.fields()[0]),
            "unknown value (type=13, count=3, offset=0x12)");
  Exif huge = parse_ok(one_entry_block(Endian::Big, 65535, 0xffffffffu, {}));
  EXPECT_EQ(display_with_unit(huge, huge.fields()[0]),
            "unknown value (type=65535, count=4294967295, offset=0x12)");
}

// A text of exactly the bound is whole; one byte more is cut at the bound and marked.
TEST(ExifRender, TextStopsAtTheBound) {
  const size_t bound = limits::kExifMaxFieldText;
  const uint32_t fits = static_cast<uint32_t>((bound - 2) / 2);  // "0x" and two digits a byte
  Exif exact =
      parse_ok(one_entry_block(Endian::Little, type::kUndefined, fits, ByteVec(fits, 0xab)));
  const std::string whole = display_with_unit(exact, exact.fields()[0]);
  EXPECT_EQ(whole.size(), bound);
  EXPECT_EQ(whole.substr(bound - 4), "abab");
  Exif over = parse_ok(
      one_entry_block(Endian::Little, type::kUndefined, fits + 1, ByteVec(fits + 1, 0xab)));
  const std::string cut = display_with_unit(over, over.fields()[0]);
  EXPECT_EQ(cut, whole + "...");
  // NULs of an ASCII value cost four bytes of text each.
  Exif nuls = parse_ok(one_entry_block(Endian::Big, type::kAscii, 600000, ByteVec(600000, 0)));
  const std::string quoted = display_with_unit(nuls, nuls.fields()[0]);
  EXPECT_EQ(quoted.size(), bound + 3);
  EXPECT_EQ(quoted.substr(0, 8), "\"\", \"\", ");
}

// ---------------------------------------------------------------------------------------------

TEST(ExifNumberText, ShortestDigitsLaidOutPositionally) {
  struct Case {
    double v;
    const char* expected;
  };
  const Case doubles[] = {
      {72, "72"},
      {0.5, "0.5"},
      {1e-7, "0.0000001"},
      {1e21, "1000000000000000000000"},
      {1e16, "10000000000000000"},
      {1e23, "100000000000000000000000"},  // not the exact binary value 99999999999999991611392
      {0.1 + 0.2, "0.30000000000000004"},
      {1.0 / 3.0, "0.3333333333333333"},
      {9007199254740993.0, "9007199254740992"},
      {-0.0, "-0"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      // Exact ties go to the larger magnitude, whatever the parity of the last digit.
      {1125899906842624.25, "1125899906842624.3"},
      {-1125899906842624.25, "-1125899906842624.3"},
      {70368744177664.125, "70368744177664.13"},
      {1268006475185092.75, "1268006475185092.8"},
      {2147483649.0 / 2048.0, "1048576.0004882813"},
  };
  for (const Case& c : doubles) {
    EXPECT_EQ(number_text(c.v), c.expected);
  }
  EXPECT_EQ(number_text(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(number_text(1.5e300), "15" + std::string(299, '0'));

  struct FloatCase {
    float v;
    const char* expected;
  };
  const FloatCase floats[] = {
      {0.1f, "0.1"},
      {3e38f, "300000000000000000000000000000000000000"},
      {std::numeric_limits<float>::max(), "340282350000000000000000000000000000000"},
      {16777217.0f, "16777216"},
      {2097152.25f, "2097152.3"},
      {262144.125f, "262144.13"},
      {std::bit_cast<float>(uint32_t{1}), "0.000000000000000000000000000000000000000000001"},
      {std::bit_cast<float>(uint32_t{4}), "0.000000000000000000000000000000000000000000006"},
  };
  for (const FloatCase& c : floats) {
    std::string s;
    append_number(s, c.v);
    EXPECT_EQ(s, c.expected);
  }
}

// Values at exact ties between two shortest candidates, their neighbours, and the edges of the
// range where a tie can occur at all (the smallest fractional bit 2^-25, integers near 2^133).
// The expected texts were recorded from the exhaustive exact-expansion implementation.
TEST(ExifNumberText, TiesNeighboursAndTieRangeEdges) {
  struct DoubleCase {
    uint64_t bits;
    const char* expected;
  };
  const DoubleCase doubles[] = {
      {0x427a231acffce680ull, "1796129750990.4063"},
      {0x427a231acffce67full, "1796129750990.406"},
      {0x427a231acffce681ull, "1796129750990.4065"},
      {0x428d282e7cda2a40ull, "4007301978949.2813"},
      {0x428d282e7cda2a3full, "4007301978949.281"},
      {0x428d282e7cda2a41ull, "4007301978949.2817"},
      {0x42a8041ad90a99a0ull, "13202954683724.813"},
      {0x42a8041ad90a999full, "13202954683724.81"},
      {0x42a8041ad90a99a1ull, "13202954683724.814"},
      {0x42bb324c06a41850ull, "29902837818392.313"},
      {0x42bb324c06a4184full, "29902837818392.31"},
      {0x42bb324c06a41851ull, "29902837818392.316"},
      {0x42dd8d572a82cc88ull, "129971559992114.13"},
      {0x42dd8d572a82cc87ull, "129971559992114.11"},
      {0x42dd8d572a82cc89ull, "129971559992114.14"},
      {0x42ead38cf79fab04ull, "235967243681112.13"},
      {0x42ead38cf79fab03ull, "235967243681112.1"},
      {0x42ead38cf79fab05ull, "235967243681112.16"},
      {0x430440d2c47dc72aull, "712596689762533.3"},
      {0x430440d2c47dc729ull, "712596689762533.1"},
      {0x430440d2c47dc72bull, "712596689762533.4"},
      {0x4318cb69694e0b0dull, "1744763259945667.3"},
      {0x4318cb69694e0b0cull, "1744763259945667"},
      {0x4318cb69694e0b0eull, "1744763259945667.5"},
      {0x3eb0000000000000ull, "0.00000095367431640625"},
      {0x3ec8000000000000ull, "0.00000286102294921875"},
      {0x3ea0000000000000ull, "0.000000476837158203125"},
      {0x3eb8000000000000ull, "0.000001430511474609375"},
      {0x3e90000000000000ull, "0.0000002384185791015625"},
      {0x3ea8000000000000ull, "0.0000007152557373046875"},
      {0x3e80000000000000ull, "0.00000011920928955078125"},
      {0x3e98000000000000ull, "0.00000035762786865234375"},
      {0x3e70000000000000ull, "0.00000005960464477539063"},
      {0x3e88000000000000ull, "0.00000017881393432617188"},
      {0x3e60000000000000ull, "0.000000029802322387695313"},
      {0x3e78000000000000ull, "0.00000008940696716308594"},
      {0x3e50000000000000ull, "0.000000014901161193847656"},
      {0x3e68000000000000ull, "0.00000004470348358154297"},
      {0x3e40000000000000ull, "0.000000007450580596923828"},
      {0x3e58000000000000ull, "0.000000022351741790771484"},
      {0x3e30000000000000ull, "0.000000003725290298461914"},
      {0x3e48000000000000ull, "0.000000011175870895385742"},
      {0x3e20000000000000ull, "0.000000001862645149230957"},
      {0x3e38000000000000ull, "0.000000005587935447692871"},
      {0x3e10000000000000ull, "0.0000000009313225746154785"},
      {0x3e28000000000000ull, "0.0000000027939677238464355"},
      {0x47c0000000000000ull, "42535295865117310000000000000000000000"},
      {0x47e4000000000000ull, "212676479325586540000000000000000000000"},
      {0x47d0000000000000ull, "85070591730234620000000000000000000000"},
      {0x47f4000000000000ull, "425352958651173100000000000000000000000"},
      {0x47e0000000000000ull, "170141183460469230000000000000000000000"},
      {0x4804000000000000ull, "850705917302346200000000000000000000000"},
      {0x47f0000000000000ull, "340282366920938500000000000000000000000"},
      {0x4814000000000000ull, "1701411834604692300000000000000000000000"},
      {0x4800000000000000ull, "680564733841877000000000000000000000000"},
      {0x4824000000000000ull, "3402823669209384600000000000000000000000"},
      {0x4810000000000000ull, "1361129467683754000000000000000000000000"},
      {0x4834000000000000ull, "6805647338418769000000000000000000000000"},
      {0x4820000000000000ull, "2722258935367508000000000000000000000000"},
      {0x4844000000000000ull, "13611294676837539000000000000000000000000"},
      {0x4830000000000000ull, "5444517870735016000000000000000000000000"},
      {0x4854000000000000ull, "27222589353675077000000000000000000000000"},
      {0x4840000000000000ull, "10889035741470031000000000000000000000000"},
      {0x4864000000000000ull, "54445178707350150000000000000000000000000"},
      {0x4850000000000000ull, "21778071482940062000000000000000000000000"},
      {0x4874000000000000ull, "108890357414700300000000000000000000000000"},
      {0x4860000000000000ull, "43556142965880123000000000000000000000000"},
      {0x4884000000000000ull, "217780714829400600000000000000000000000000"},
      {0x4870000000000000ull, "87112285931760250000000000000000000000000"},
      {0x4894000000000000ull, "435561429658801200000000000000000000000000"},
  };
  for (const DoubleCase& c : doubles) {
    EXPECT_EQ(number_text(std::bit_cast<double>(c.bits)), c.expected) << std::hex << c.bits;
  }
  struct FloatCase {
    uint32_t bits;
    const char* expected;
  };
  const FloatCase floats[] = {
      {0x45589880u, "3465.5313"},
      {0x4558987fu, "3465.531"},
      {0x45589881u, "3465.5315"},
      {0x45b3a840u, "5749.0313"},
      {0x45b3a83fu, "5749.031"},
      {0x45b3a841u, "5749.0317"},
      {0x46cabaa0u, "25949.313"},
      {0x46caba9fu, "25949.31"},
      {0x46cabaa1u, "25949.314"},
      {0x4732a7d0u, "45735.813"},
      {0x4732a7cfu, "45735.81"},
      {0x4732a7d1u, "45735.816"},
      {0x48139c88u, "151154.13"},
      {0x48139c87u, "151154.11"},
      {0x48139c89u, "151154.14"},
      {0x48d99c54u, "445666.63"},
      {0x48d99c53u, "445666.6"},
      {0x48d99c55u, "445666.66"},
      {0x49d7c46au, "1767565.3"},
      {0x49d7c469u, "1767565.1"},
      {0x49d7c46bu, "1767565.4"},
      {0x4a45282du, "3230219.3"},
      {0x4a45282cu, "3230219"},
      {0x4a45282eu, "3230219.5"},
      {0x35800000u, "0.0000009536743"},
      {0x36400000u, "0.000002861023"},
      {0x35000000u, "0.00000047683716"},
      {0x35c00000u, "0.0000014305115"},
      {0x34800000u, "0.00000023841858"},
      {0x35400000u, "0.00000071525574"},
      {0x34000000u, "0.00000011920929"},
      {0x34c00000u, "0.00000035762787"},
      {0x33800000u, "0.000000059604645"},
      {0x34400000u, "0.00000017881393"},
      {0x33000000u, "0.000000029802322"},
      {0x33c00000u, "0.00000008940697"},
      {0x32800000u, "0.000000014901161"},
      {0x33400000u, "0.000000044703484"},
      {0x32000000u, "0.000000007450581"},
      {0x32c00000u, "0.000000022351742"},
      {0x31800000u, "0.0000000037252903"},
      {0x32400000u, "0.000000011175871"},
      {0x31000000u, "0.0000000018626451"},
      {0x31c00000u, "0.0000000055879354"},
      {0x30800000u, "0.0000000009313226"},
      {0x31400000u, "0.0000000027939677"},
      {0x7e000000u, "42535296000000000000000000000000000000"},
      {0x7f200000u, "212676480000000000000000000000000000000"},
      {0x7e800000u, "85070590000000000000000000000000000000"},
      {0x7f800000u, "inf"},
      {0x7f000000u, "170141180000000000000000000000000000000"},
  };
  for (const FloatCase& c : floats) {
    std::string s;
    append_number(s, std::bit_cast<float>(c.bits));
    EXPECT_EQ(s, c.expected) << std::hex << c.bits;
  }
}

// The tie rule by brute force: the exact binary value in full, compared with the shortest
// digits plus a single 5. Slow but obviously right; the implementation must agree everywhere.
template <class T>
std::string reference_text(T v, int exact_precision) {
  auto split = [](std::string_view s, int& exponent) {
    std::string digits;
    const size_t e = s.find('e');
    for (char c : s.substr(0, e)) {
      if (c != '.') digits.push_back(c);
    }
    std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0')
      digits.pop_back();
    return digits;
  };
  std::string out;
  if (std::signbit(v)) out = "-";
  const T m = std::fabs(v);
  std::vector<char> buf(1024);
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), m, std::chars_format::scientific);
  int exp = 0;
  std::string digits = split(std::string_view(buf.data(), r.ptr), exp);
  r = std::to_chars(buf.data(), buf.data() + buf.size(), m, std::chars_format::scientific,
                    exact_precision);
  int exact_exp = 0;
  const std::string exact = split(std::string_view(buf.data(), r.ptr), exact_exp);
  if (m != 0 && exact_exp == exp && exact == digits + "5") {
    // Round the decimal digits up by one unit in the last place.
    std::string up = digits;
    size_t i = up.size();
    while (i > 0 && up[i - 1] == '9')
      up[--i] = '0';
    if (i > 0) {
      ++up[i - 1];
    } else {
      up.insert(up.begin(), '1');
      up.pop_back();
      ++exp;
    }
    while (up.size() > 1 && up.back() == '0')
      up.pop_back();
    digits = up;
  }
  if (exp < 0) return out + "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  const size_t int_len = static_cast<size_t>(exp) + 1;
  if (digits.size() <= int_len) return out + digits + std::string(int_len - digits.size(), '0');
  return out + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

TEST(ExifNumberText, AgreesWithTheExhaustiveRuleOnRandomValues) {
  std::mt19937_64 rng(2024);
  for (int i = 0; i < 200000; ++i) {
    double d;
    switch (i % 4) {
      case 0:  // any finite bit pattern
        do {
          d = std::bit_cast<double>(rng());
        } while (!std::isfinite(d));
        break;
      case 1:  // EXIF rationals
        d = static_cast<double>(static_cast<uint32_t>(rng())) /
            static_cast<double>(static_cast<uint32_t>(rng() | 1));
        break;
      case 2:  // full mantissas with few fractional bits, where ties live
        d = std::ldexp(static_cast<double>((rng() >> 11) | (uint64_t{1} << 52)),
                       static_cast<int>(rng() % 100) - 30);
        break;
      default:  // short mantissas over the whole range where ties can occur
        d = std::ldexp(static_cast<double>(rng() >> (11 + rng() % 50)),
                       static_cast<int>(rng() % 170) - 35);
        break;
    }
    ASSERT_EQ(number_text(d), reference_text(d, 800)) << std::hexfloat << d;
    const float f = static_cast<float>(d);
    if (std::isfinite(f)) {
      std::string s;
      append_number(s, f);
      ASSERT_EQ(s, reference_text(f, 120)) << std::hexfloat << f;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Per-tag display rules, rendered straight from little-endian value bytes.

struct RuleCase {
  Tag tag;
  uint16_t type;
  uint32_t count;
  ByteVec value;
  const char* expected;
};

constexpr Tag kOrientation{Context::Tiff, 274};
constexpr Tag kPlanarConfiguration{Context::Tiff, 284};
constexpr Tag kYCbCrSubSampling{Context::Tiff, 530};
constexpr Tag kDateTime{Context::Tiff, 306};
constexpr Tag kExposureTime{Context::Exif, 33434};
constexpr Tag kBrightness{Context::Exif, 37379};
constexpr Tag kTemperature{Context::Exif, 37888};
constexpr Tag kSubjectDistance{Context::Exif, 37382};
constexpr Tag kFlash{Context::Exif, 37385};
constexpr Tag kSubjectArea{Context::Exif, 37396};
constexpr Tag kExifVersion{Context::Exif, 36864};
constexpr Tag kComponents{Context::Exif, 37121};
constexpr Tag kFileSource{Context::Exif, 41728};
constexpr Tag kDigitalZoom{Context::Exif, 41988};
constexpr Tag kFocal35{Context::Exif, 41989};
constexpr Tag kLensSpec{Context::Exif, 42034};
constexpr Tag kCompositeCount{Context::Exif, 42081};
constexpr Tag kGpsVersion{Context::Gps, 0};
constexpr Tag kGpsLatRef{Context::Gps, 1};
constexpr Tag kGpsLat{Context::Gps, 2};
constexpr Tag kGpsTime{Context::Gps, 7};
constexpr Tag kGpsSpeedRef{Context::Gps, 12};
constexpr Tag kGpsMethod{Context::Gps, 27};
constexpr Tag kGpsDate{Context::Gps, 29};
constexpr Tag kInteropVersion{Context::Interop, 2};

TEST(ExifRender, DisplayRules) {
  const RuleCase cases[] = {
      // enum: first uint looked up; otherwise the whole value in a "reserved" note
      {kOrientation, type::kShort, 1, le16({6}), "row 0 at right and column 0 at top"},
      {kOrientation, type::kShort, 1, le16({9}), "[reserved orientation 9]"},
      {kOrientation, type::kAscii, 2, {'1', 0}, "[reserved orientation \"1\"]"},
      {kOrientation, type::kLong, 2, le32({1, 5}), "row 0 at top and column 0 at left"},
      {kPlanarConfiguration, type::kShort, 0, {}, "[reserved planar configuration ]"},
      {kFileSource, type::kUndefined, 1, {3}, "digital still camera"},
      {kFileSource, type::kUndefined, 1, {4}, "[reserved file source 0x04]"},
      {kFileSource, type::kByte, 1, {3}, "[reserved file source 3]"},
      {kGpsSpeedRef, type::kAscii, 2, {'N', 0}, "knots"},
      {kGpsSpeedRef, type::kAscii, 2, {'k', 0}, "[reserved GPS speed ref \"k\"]"},
      {kYCbCrSubSampling, type::kShort, 2, le16({2, 1}),
       "half horizontally, full vertically (4:2:2)"},
      {kYCbCrSubSampling, type::kShort, 2, le16({3, 3}), "3, 3"},
      // flash bits
      {kFlash, type::kShort, 1, le16({0}),
       "not fired, no return light detection function, auto mode 0 (unknown)"},
      {kFlash, type::kShort, 1, le16({0x19}), "fired, no return light detection function, auto"},
      {kFlash, type::kShort, 1, le16({0xff}),
       "fired, return light detected, auto, no function present, red-eye reduction, unknown MSB "
       "bits"},
      {kFlash, type::kAscii, 2, {'x', 0}, "\"x\""},
      // date and time
      {kDateTime, type::kAscii, 20, lit("2016:05:04 03:02:01\0"), "2016-05-04 03:02:01"},
      {kDateTime, type::kAscii, 24, lit("2016:05:04 03:02:01.5+09"), "2016-05-04 03:02:01"},
      {kDateTime, type::kAscii, 20, lit("    :  :     :  :  \0"), "unknown"},
      {kDateTime, type::kAscii, 19, bytes_of("                   "), "unknown"},
      {kDateTime, type::kAscii, 20, lit("2016:0a:04 03:02:01\0"), "\"2016:0a:04 03:02:01\""},
      {kDateTime, type::kAscii, 11, lit("2016:05:04\0"), "\"2016:05:04\""},
      {kGpsDate, type::kAscii, 17, lit("2016:05:04 extra\0"), "2016-05-04"},
      {kGpsDate, type::kAscii, 9, lit("2016:5:4\0"), "\"2016:5:4\""},
      // exposure time
      {kExposureTime, type::kRational, 1, le32({10, 1250}), "1/125"},
      {kExposureTime, type::kRational, 1, le32({3, 1000}), "1/333.3333333333333"},
      {kExposureTime, type::kRational, 1, le32({3, 2}), "1.5"},
      {kExposureTime, type::kRational, 1, le32({0, 0}), "NaN"},
      {kExposureTime, type::kRational, 1, le32({1, 0}), "inf"},
      {kExposureTime, type::kRational, 1, le32({0, 5}), "0/5"},
      {kExposureTime, type::kRational, 0, {}, ""},
      // optional decimals, distances, zoom
      {kBrightness, type::kRational, 1, le32({5, 0xffffffffu}), "unknown"},
      {kTemperature, type::kSRational, 2, le32({0xffffffc9u, 10, 1, 1}), "-5.5"},
      {kTemperature, type::kSRational, 1, le32({5, 0xffffffffu}), "unknown"},
      {kSubjectDistance, type::kRational, 1, le32({0xffffffffu, 1}), "infinity"},
      {kSubjectDistance, type::kRational, 2, le32({0, 1, 3, 1}), "unknown"},
      {kSubjectDistance, type::kRational, 2, le32({3, 1, 4, 1}), "3, 4"},
      {kDigitalZoom, type::kRational, 1, le32({0, 1}), "unused"},
      {kDigitalZoom, type::kRational, 1, le32({3, 2}), "1.5"},
      {kFocal35, type::kShort, 1, le16({0}), "unknown"},
      {kFocal35, type::kRational, 1, le32({0, 1}), "0/1"},
      // versions and component layout
      {kExifVersion, type::kUndefined, 4, bytes_of("0231"), "2.31"},
      {kExifVersion, type::kUndefined, 4, bytes_of("0220"), "2.2"},
      {kExifVersion, type::kUndefined, 4, bytes_of("0100"), "1.0"},
      {kExifVersion, type::kUndefined, 4, bytes_of("0101"), "1.01"},
      {kExifVersion, type::kUndefined, 4, bytes_of("02a1"), "0x30326131"},
      {kInteropVersion, type::kUndefined, 4, bytes_of("0100"), "1.00"},
      {kComponents, type::kUndefined, 4, {1, 2, 3, 0}, "YCbCr_"},
      {kComponents, type::kUndefined, 2, {4, 9}, "R?"},
      // areas, lens, composite images
      {kSubjectArea, type::kShort, 5, le16({1, 2, 3, 4, 5}), "rectangle (x=1, y=2, w=3, h=4)"},
      {kSubjectArea, type::kShort, 3, le16({1, 2, 3}), "circle (x=1, y=2, d=3)"},
      {kSubjectArea, type::kShort, 2, le16({7, 8}), "point (x=7, y=8)"},
      {kSubjectArea, type::kShort, 1, le16({10}), "10"},
      {kLensSpec, type::kRational, 4, le32({24, 1, 70, 1, 28, 10, 28, 10}), "24-70 mm, f/2.8-2.8"},
      {kLensSpec, type::kRational, 3, le32({24, 1, 70, 1, 28, 10}), "24/1, 70/1, 28/10"},
      {kCompositeCount, type::kShort, 2, le16({10, 9}), "total 10, used 9"},
      // GPS
      {kGpsVersion, type::kByte, 4, {2, 3, 0, 0}, "2.3.0.0"},
      {kGpsVersion, type::kShort, 4, le16({2, 3, 0, 0}), "2, 3, 0, 0"},
      {kGpsLatRef, type::kAscii, 2, {'S', 0}, "S"},
      {kGpsLatRef, type::kAscii, 2, {'X', 0}, "X"},
      {kGpsLatRef, type::kAscii, 2, {'s', 0}, "\"s\""},
      {kGpsLatRef, type::kAscii, 6, lit("SOUTH\0"), "\"SOUTH\""},
      {kGpsLatRef, type::kAscii, 4, {'N', 0, 'S', 0}, "N"},  // only the first string counts
      {kGpsLatRef, type::kByte, 1, {0x53}, "83"},
      {kGpsLat, type::kRational, 3, le32({48, 1, 51, 1, 294, 10}), "48 deg 51 min 29.4 sec"},
      {kGpsLat, type::kRational, 3, le32({1, 0, 0, 0, 3, 2}), "inf deg NaN min 1.5 sec"},
      {kGpsLat, type::kRational, 2, le32({48, 1, 51, 1}), "48/1, 51/1"},
      {kGpsTime, type::kRational, 3, le32({3, 1, 2, 1, 1, 1}), "03:02:01"},
      {kGpsTime, type::kRational, 3, le32({13, 1, 59, 1, 119, 2}), "13:59:59.5"},
      {kGpsTime, type::kRational, 3, le32({0, 1, 0, 1, 0, 0}), "00:00:NaN"},
      {kGpsMethod, type::kUndefined, 11, lit("ASCII\0\0\0GPS"), "\"ASCII\\x00\\x00\\x00GPS\""},
  };
  for (const RuleCase& c : cases) {
    ASSERT_EQ(c.value.size(), uint64_t{c.count} * unit_size(c.type)) << tag_name(c.tag);
    ValueView v(c.type, c.count, c.value, Endian::Little, 0);
    EXPECT_EQ(display(c.tag, v), c.expected) << tag_name(c.tag);
  }
}

TEST(ExifTagNames, KnownByContextAndNumberElseGeneric) {
  struct Case {
    Tag tag;
    const char* name;
  };
  const Case cases[] = {
      {{Context::Tiff, 271}, "Make"},
      {{Context::Exif, 36867}, "DateTimeOriginal"},
      {{Context::Gps, 2}, "GPSLatitude"},
      {{Context::Interop, 1}, "InteroperabilityIndex"},
      {{Context::Exif, 59932}, "Tag(Exif, 59932)"},
      {{Context::Tiff, 254}, "Tag(Tiff, 254)"},
      {{Context::Gps, 32}, "Tag(Gps, 32)"},
      {{Context::Interop, 36864}, "Tag(Interop, 36864)"},
      // A known number in another context is unknown there.
      {{Context::Tiff, 33434}, "Tag(Tiff, 33434)"},
      {{Context::Exif, 1}, "Tag(Exif, 1)"},
      {{Context::Tiff, 0}, "Tag(Tiff, 0)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tag_name(c.tag), c.name);
}

// ---------------------------------------------------------------------------------------------
// The tag table against the tag reference file, column by column.

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string item;
  while (std::getline(ss, item, sep))
    out.push_back(item);
  if (!line.empty() && line.back() == sep) out.emplace_back();
  return out;
}

std::string default_text(const DefaultValue& d) {
  if (d.type == 0) return "";
  ValueView v(d.type, d.count, as_bytes(d.bytes), Endian::Big, 0);
  static const std::pair<uint16_t, const char*> kTypeNames[] = {{type::kByte, "BYTE"},
                                                                {type::kAscii, "ASCII"},
                                                                {type::kShort, "SHORT"},
                                                                {type::kRational, "RATIONAL"},
                                                                {type::kUndefined, "UNDEFINED"}};
  std::string out = "?";
  for (auto [code, name] : kTypeNames) {
    if (code == d.type) out = name;
  }
  out += '[';
  if (d.type == type::kUndefined) {
    for (size_t i = 0; i < d.bytes.size(); ++i) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%02x", static_cast<uint8_t>(d.bytes[i]));
      out += (i ? " " : "") + std::string(buf);
    }
  } else {
    // Tag(Tiff, 0) is unknown, so this is the default rendering.
    out += display(Tag{Context::Tiff, 0}, v);
  }
  return out + ']';
}

std::string unit_text(const TagInfo& t) {
  std::string out;
  for (const UnitPiece& p : t.unit) {
    if (p.kind == UnitPiece::Kind::None) continue;
    if (!out.empty()) out += ' ';
    if (p.kind == UnitPiece::Kind::Value) out += "value";
    if (p.kind == UnitPiece::Kind::Text) out += '"' + std::string(p.text) + '"';
    if (p.kind == UnitPiece::Kind::Ref) out += "ref(" + tag_name(p.ref) + ")";
  }
  return out;
}

std::string enum_text(const TagInfo& t) {
  std::string out;
  for (const EnumPair& p : t.pairs) {
    if (!out.empty()) out += ';';
    out += std::string(p.key) + '=' + std::string(p.text);
  }
  return out;
}

TEST(ExifTagTable, MatchesTheReferenceFileRowForRow) {
  std::ifstream in(VORLIX_TEST_FIXTURES "/reference/exif-tags.tsv");
  ASSERT_TRUE(in) << "tag reference file missing";
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(
      line,
      "context\tnumber\thex\tname\tdefault\tunit\tdisplay\tenum\treserved_label\tdefault_note");
  std::span<const TagInfo> table = tag_table();
  size_t row = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto cols = split(line, '\t');
    ASSERT_EQ(cols.size(), 10u) << line;
    ASSERT_LT(row, table.size()) << "row missing from the table: " << line;
    const TagInfo& t = table[row++];
    SCOPED_TRACE(line);
    EXPECT_EQ(context_name(t.tag.context), cols[0]);
    EXPECT_EQ(std::to_string(t.tag.number), cols[1]);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04x", t.tag.number);
    EXPECT_EQ(hex, cols[2]);
    EXPECT_EQ(t.name, cols[3]);
    // "ContextDependent" / "Unspecified" defaults are no values.
    EXPECT_EQ(default_text(t.default_value), cols[9].empty() ? cols[4] : "");
    EXPECT_EQ(unit_text(t), cols[5]);
    EXPECT_EQ(display_name(t.display), cols[6]);
    EXPECT_EQ(enum_text(t), cols[7]);
    EXPECT_EQ(t.reserved_label, cols[8]);
    EXPECT_EQ(find_tag(t.tag), &t);
  }
  EXPECT_EQ(row, table.size());
  EXPECT_EQ(row, 153u);
}

TEST(ExifTagTable, NamesAreUniqueAndNeverLookGeneric) {
  // Group maps are keyed by name, so two tags must never share one.
  std::set<std::string_view> names;
  for (const TagInfo& t : tag_table()) {
    EXPECT_TRUE(names.insert(t.name).second) << t.name;
    EXPECT_FALSE(t.name.starts_with("Tag(")) << t.name;
  }
}

TEST(ExifTagNames, OrderNumbersFollowTheByteOrderOfNames) {
  std::vector<Tag> tags;
  for (const TagInfo& t : tag_table())
    tags.push_back(t.tag);
  // Generic names: numbers whose digits are prefixes of others, of every length, in each context.
  for (Context c : {Context::Tiff, Context::Exif, Context::Gps, Context::Interop}) {
    for (uint16_t n : {0, 1, 2, 9, 10, 11, 19, 100, 101, 999, 1000, 12345, 59932, 65535})
      tags.push_back(Tag{c, n});
  }
  std::vector<std::pair<std::string, uint64_t>> named;
  for (Tag t : tags)
    named.emplace_back(tag_name(t), name_order(t));
  for (const auto& [a, order_a] : named) {
    for (const auto& [b, order_b] : named)
      ASSERT_EQ(order_a < order_b, a < b) << a << " / " << b;
  }
}

// ---------------------------------------------------------------------------------------------
// Units: the value with fixed texts and other tags of the same IFD.

TEST(ExifUnits, ReferencedTagFromSameIfdElseDefaultElseMissing) {
  Tiff t;
  t.u32(8);                               // IFD 0 at 8
  t.u16(3);                               // IFD 0: three entries
  t.entry(282, type::kRational, 1, 220);  //   XResolution at 220
  t.short_entry(296, 3);                  //   ResolutionUnit 3 (cm)
  t.entry(34853, type::kLong, 1, 100);    //   GPS IFD at 100
  t.u32(50);                              // IFD 1 at 50
  t.u16(3);                               // 50: IFD 1, three entries
  t.entry(282, type::kRational, 1, 228);  //   XResolution at 228, no unit in IFD 1
  t.entry(34665, type::kLong, 1, 160);    //   Exif IFD at 160
  t.entry(34853, type::kLong, 1, 180);    //   GPS IFD at 180
  t.u32(0);                               // no IFD 2
  t.bytes(ByteVec(100 - t.size(), 0));
  t.u16(4);                              // 100: GPS IFD of IFD 0, four entries
  t.entry(2, type::kRational, 3, 236);   //   GPSLatitude at 236, no GPSLatitudeRef
  t.entry(5, type::kByte, 1, 1);         //   GPSAltitudeRef 1 (below sea level)
  t.entry(6, type::kRational, 1, 260);   //   GPSAltitude at 260
  t.entry(13, type::kRational, 1, 268);  //   GPSSpeed at 268, no GPSSpeedRef
  t.u32(0);
  t.bytes(ByteVec(160 - t.size(), 0));
  t.u16(1);                                 // 160: Exif IFD of IFD 1, one entry
  t.entry(33437, type::kRational, 1, 276);  //   FNumber at 276
  t.u32(0);
  t.bytes(ByteVec(180 - t.size(), 0));
  t.u16(2);                             // 180: GPS IFD of IFD 1, two entries
  t.entry(5, type::kByte, 1, 9);        //   GPSAltitudeRef 9 (reserved)
  t.entry(6, type::kRational, 1, 260);  //   GPSAltitude at 260
  t.u32(0);
  t.bytes(ByteVec(220 - t.size(), 0));
  t.u32(300).u32(1);                                 // 220: 300/1
  t.u32(72).u32(1);                                  // 228: 72/1
  t.u32(48).u32(1).u32(51).u32(1).u32(294).u32(10);  // 236: 48 51 29.4
  t.u32(5).u32(1);                                   // 260: 5/1
  t.u32(60).u32(1);                                  // 268: 60/1
  t.u32(28).u32(10);                                 // 276: 28/10
  ASSERT_EQ(t.size(), 284u);

  Exif exif = parse_ok(t.block());
  EXPECT_EQ(listing(exif), (Strings{
                               "0:XResolution=300 pixels per cm",
                               "0:ResolutionUnit=cm",
                               "0:GPSLatitude=48 deg 51 min 29.4 sec [GPSLatitudeRef missing]",
                               "0:GPSAltitudeRef=below sea level",
                               "0:GPSAltitude=5 meters below sea level",
                               "0:GPSSpeed=60 km/h",
                               "1:XResolution=72 pixels per inch",
                               "1:FNumber=f/2.8",
                               "1:GPSAltitudeRef=[reserved GPS altitude ref 9]",
                               "1:GPSAltitude=5 meters [reserved GPS altitude ref 9]",
                           }));
  EXPECT_TRUE(exif.errors().empty());
}

// ---------------------------------------------------------------------------------------------
// The IFD chain.

TEST(ExifChain, ReadsAtMostEightIfds) {
  // Nine IFDs, each with one ImageWidth entry holding its index; IFD i at 8 + 18 * i.
  Tiff t;
  t.u32(8);
  for (uint16_t i = 0; i < 9; ++i) {
    t.u16(1);                              // one entry
    t.short_entry(256, i);                 // ImageWidth i
    t.u32(i < 8 ? 8 + 18 * (i + 1u) : 0);  // next IFD
  }
  Exif exif = parse_ok(t.block());
  Strings expected;
  for (int i = 0; i < 8; ++i) {
    expected.push_back(std::to_string(i) + ":ImageWidth=" + std::to_string(i) + " pixels");
  }
  EXPECT_EQ(listing(exif), expected);
  EXPECT_EQ(error_texts(exif), Strings{"Limit the IFD count to 8"});
}

TEST(ExifChain, LoopIsReadUnderEightNumbers) {
  Tiff t;
  t.u32(8);               // IFD 0 at 8
  t.u16(1);               // one entry
  t.short_entry(256, 5);  //   ImageWidth 5
  t.u32(8);               // next IFD: itself
  Exif exif = parse_ok(t.block());
  ASSERT_EQ(exif.fields().size(), 8u);
  for (uint8_t i = 0; i < 8; ++i)
    EXPECT_EQ(exif.fields()[i].ifd, i);
  EXPECT_EQ(error_texts(exif), Strings{"Limit the IFD count to 8"});
}

// ---------------------------------------------------------------------------------------------
// Problems inside IFDs are collected; every field readable before and after them is kept.

struct WalkCase {
  const char* what;
  ByteVec block;
  Strings fields;
  Strings errors;
};

std::vector<WalkCase> walk_cases() {
  std::vector<WalkCase> cases;
  {
    Tiff t;
    t.u32(0xfffffff0u);  // IFD 0 far outside the block
    cases.push_back({"first IFD outside", t.block(), {}, {"Truncated IFD count"}});
  }
  {
    Tiff t;
    t.u32(8);  // IFD 0 at 8
    t.u8(1);   // one byte of the count
    cases.push_back({"one byte of count", t.block(), {}, {"Truncated IFD count"}});
  }
  {
    Tiff t;
    t.u32(8);               // IFD 0 at 8
    t.u16(3);               // three entries, but only one present
    t.short_entry(256, 1);  //   ImageWidth 1
    t.u16(257);             //   half an entry
    cases.push_back({"entries cut short", t.block(), {"0:ImageWidth=1 pixels"}, {"Truncated IFD"}});
  }
  {
    Tiff t;
    t.u32(8);                                       // IFD 0 at 8
    t.u16(4);                                       // four entries
    t.entry(271, type::kAscii, 20, 0xfffffff0u);    //   Make: value outside the block
    t.entry(272, type::kAscii, 6, 62);              //   Model: 6 bytes at 62, one past the end
    t.entry(61441, type::kDouble, 0x80000000u, 8);  // 16 GiB value: its size needs 64 bits
    t.short_entry(256, 7);                          //   ImageWidth 7
    t.u32(0);
    t.text("Canon");  // 62: five bytes, then the block ends
    cases.push_back({"values outside the block",
                     t.block(),
                     {"0:ImageWidth=7 pixels"},
                     {"Truncated field value", "Truncated field value", "Truncated field value"}});
  }
  {
    Tiff t;
    t.u32(8);               // IFD 0 at 8
    t.u16(1);               // one entry
    t.short_entry(256, 7);  //   ImageWidth 7
    t.u16(0);               // half of the next-IFD offset
    cases.push_back(
        {"next offset cut", t.block(), {"0:ImageWidth=7 pixels"}, {"Truncated next IFD offset"}});
  }
  {
    Tiff t;
    t.u32(8);                                     // IFD 0 at 8
    t.u16(5);                                     // five entries
    t.entry(34665, type::kAscii, 2, 0x4f);        //   Exif pointer as ASCII: invalid
    t.entry(34665, type::kLong, 0, 0);            //   Exif pointer without value: invalid
    t.entry(34853, type::kLong, 1, 0xffffff00u);  //   GPS IFD outside: its count is truncated
    t.entry(34665, type::kShort, 1, 74);          //   Exif IFD at 74 as a SHORT
    t.short_entry(257, 9);                        //   ImageLength 9
    t.u32(0);
    t.u16(1);                                // 74: Exif IFD, one entry
    t.entry(33434, type::kRational, 1, 92);  //   ExposureTime at 92
    t.u32(8);                                //   a next IFD in a sub-IFD
    t.u32(1).u32(60);                        // 92: 1/60
    cases.push_back(
        {"pointer problems",
         t.block(),
         {"0:ExposureTime=1/60 s", "0:ImageLength=9 pixels"},
         {"Invalid pointer", "Invalid pointer", "Truncated IFD count", "Unexpected next IFD"}});
  }
  {
    Tiff t;
    t.u32(8);                           // IFD 0 at 8
    t.u16(2);                           // two entries
    t.entry(40965, type::kLong, 1, 8);  //   Interop pointer outside Exif: a plain field
    t.entry(34665, type::kByte, 1, 8);  //   Exif IFD = IFD 0 itself, as a BYTE
    t.u32(0);
    cases.push_back({"pointers by context",
                     t.block(),
                     // IFD 0 read again as Exif: 40965 is the Interop pointer there, leading
                     // back to IFD 0 read as Interop.
                     {"0:Tag(Tiff, 40965)=8", "0:Tag(Interop, 40965)=8", "0:Tag(Interop, 34665)=8",
                      "0:Tag(Exif, 34665)=8"},
                     {}});
  }
  {
    Tiff t;
    t.u32(0);  // IFD 0 at offset 0 would be the header itself; 0 ends the chain at once
    cases.push_back({"offset zero", t.block(), {}, {}});
  }
  {
    Tiff t;
    t.u32(2);  // IFD 0 at 2: count 42, entries run off the block
    cases.push_back({"IFD inside the header", t.block(), {}, {"Truncated IFD"}});
  }
  return cases;
}

TEST(ExifWalk, RecoverableErrors) {
  for (const WalkCase& c : walk_cases()) {
    SCOPED_TRACE(c.what);
    Exif exif = parse_ok(c.block);
    EXPECT_EQ(listing(exif), c.fields);
    EXPECT_EQ(error_texts(exif), c.errors);
  }
}

TEST(ExifWalk, SubIfdFieldsStandAtTheirPointerAndShareItsIfdNumber) {
  Tiff t(Endian::Big);
  t.u32(8);                            // IFD 0 at 8
  t.u16(1);                            // one entry
  t.short_entry(256, 1);               //   ImageWidth 1
  t.u32(26);                           // IFD 1 at 26
  t.u16(3);                            // 26: IFD 1, three entries
  t.short_entry(256, 2);               //   ImageWidth 2
  t.entry(34665, type::kLong, 1, 68);  //   Exif IFD at 68
  t.short_entry(257, 3);               //   ImageLength 3
  t.u32(0);
  t.u16(2);                            // 68: Exif IFD, two entries
  t.entry(40965, type::kLong, 1, 98);  //   Interop IFD at 98
  t.entry(41989, type::kShort, 1, 0);  //   FocalLengthIn35mmFilm 0
  t.u32(0);
  t.u16(1);                                 // 98: Interop IFD, one entry
  t.entry(1, type::kAscii, 4, 0x52393800);  //   InteroperabilityIndex "R98"
  t.u32(0);
  Exif exif = parse_ok(t.block());
  EXPECT_EQ(
      listing(exif),
      (Strings{"0:ImageWidth=1 pixels", "1:ImageWidth=2 pixels", "1:InteroperabilityIndex=\"R98\"",
               "1:FocalLengthIn35mmFilm=unknown mm", "1:ImageLength=3 pixels"}));
  EXPECT_TRUE(exif.errors().empty());
}

TEST(ExifLookup, LastFieldOfTagInIfd) {
  Tiff t;
  t.u32(8);                              // IFD 0 at 8
  t.u16(3);                              // three entries
  t.short_entry(296, 3);                 //   ResolutionUnit 3
  t.short_entry(296, 1);                 //   ResolutionUnit 1 again: the later one counts
  t.entry(282, type::kRational, 1, 50);  // XResolution at 50
  t.u32(0);
  t.u32(72).u32(1);  // 50: 72/1
  Exif exif = parse_ok(t.block());
  // Only the field that counts is kept, where its last occurrence stood.
  EXPECT_EQ(listing(exif), (Strings{"0:ResolutionUnit=no absolute unit",
                                    "0:XResolution=72 pixels per no absolute unit"}));
  const Field* unit = exif.get_field({Context::Tiff, 296}, 0);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit, &exif.fields()[0]);
  EXPECT_EQ(exif.get_field({Context::Tiff, 296}, 1), nullptr);
  EXPECT_EQ(exif.get_field({Context::Exif, 296}, 0), nullptr);
}

// However many distinct tags come first, a repeated tag keeps its last occurrence: small sets of
// fields are kept one way and larger ones another, and a set may grow from one into the other
// part way through an IFD.
TEST(ExifLookup, LastOccurrenceWinsAcrossManyDistinctTags) {
  struct Case {
    uint16_t distinct;
    std::vector<uint16_t> repeated;  // tags written again after all of them, by index
  };
  const Case cases[] = {
      {3, {0, 2, 0}},       {63, {0, 62, 5}},        {64, {63, 0}},
      {65, {64, 0, 64, 1}}, {200, {0, 150, 199, 0}},
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> tags;  // in entry order
    for (uint16_t i = 0; i < c.distinct; ++i)
      tags.push_back(static_cast<uint16_t>(1000 + i));
    for (uint16_t r : c.repeated)
      tags.push_back(static_cast<uint16_t>(1000 + r));
    Tiff t;
    t.u32(8).u16(static_cast<uint16_t>(tags.size()));
    for (size_t k = 0; k < tags.size(); ++k)
      t.short_entry(tags[k], static_cast<uint16_t>(k));  // each value is its entry's index
    t.u32(0);
    Exif exif = parse_ok(t.block());

    std::vector<std::pair<uint16_t, uint32_t>> want;
    for (size_t k = 0; k < tags.size(); ++k) {
      if (std::find(tags.begin() + static_cast<ptrdiff_t>(k) + 1, tags.end(), tags[k]) ==
          tags.end()) {
        want.emplace_back(tags[k], static_cast<uint32_t>(k));
      }
    }
    std::vector<std::pair<uint16_t, uint32_t>> got;
    for (const Field& f : exif.fields())
      got.emplace_back(f.tag.number, exif.value(f).uint_at(0));
    EXPECT_EQ(got, want) << c.distinct << " distinct tags";
    for (const auto& [tag, value] : want) {
      const Field* f = exif.get_field({Context::Tiff, tag}, 0);
      ASSERT_NE(f, nullptr) << tag;
      EXPECT_EQ(exif.value(*f).uint_at(0), value) << tag;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hostile blocks: work stays linear in the block size.

TEST(ExifWalk, PointerFanOutReadsEachIfdOnce) {
  // IFD 0, an Exif IFD and an Interop IFD, each of K entries. Every IFD 0 entry points at the
  // Exif IFD, every Exif entry at the Interop IFD: K^3 entry reads if each pointer were followed.
  constexpr uint32_t K = 300;
  constexpr uint32_t kIfdSize = 2 + 12 * K + 4;
  const uint32_t exif_at = 8 + kIfdSize;
  const uint32_t interop_at = exif_at + kIfdSize;
  Tiff t;
  t.u32(8);
  t.u16(K);
  for (uint32_t i = 0; i < K; ++i)
    t.entry(34665, type::kLong, 1, exif_at);
  t.u32(0);
  t.u16(K);
  for (uint32_t i = 0; i < K; ++i)
    t.entry(40965, type::kLong, 1, interop_at);
  t.u32(0);
  t.u16(K);
  for (uint32_t i = 0; i < K; ++i)
    t.short_entry(1, static_cast<uint16_t>(i));
  t.u32(0);
  Exif exif = parse_ok(t.block());
  EXPECT_EQ(exif.entries_read(), 3 * K);
  EXPECT_EQ(listing(exif), Strings{"0:InteroperabilityIndex=299"});
  EXPECT_TRUE(exif.errors().empty());
}

// An IFD reached again counts from its last pointer on, exactly as if it were read again there.
TEST(ExifWalk, LastPointerToAnIfdDecidesItsFields) {
  Tiff t(Endian::Big);
  t.u32(8);                            // IFD 0 at 8
  t.u16(4);                            // four entries
  t.entry(34665, type::kLong, 1, 62);  //   Exif IFD X at 62
  t.entry(34665, type::kLong, 1, 92);  //   Exif IFD Y at 92
  t.short_entry(256, 5);               //   ImageWidth 5
  t.entry(34665, type::kLong, 1, 62);  //   X again: its fields win over Y's
  t.u32(0);
  t.u16(2);                                 // 62: X, two entries
  t.entry(33434, type::kRational, 1, 140);  //   ExposureTime 1/60
  t.short_entry(37385, 1);                  //   Flash 1
  t.u32(0);
  t.u16(3);                                 // 92: Y, three entries
  t.entry(33434, type::kRational, 1, 148);  //   ExposureTime 1/100
  t.short_entry(41989, 35);                 //   FocalLengthIn35mmFilm 35
  t.entry(40965, type::kLong, 1, 134);      //   Interop IFD at 134
  t.u32(0);
  t.u16(0);  // 134: Interop IFD, no entries
  t.u32(7);  //   but a next IFD
  t.bytes(ByteVec(140 - t.size(), 0));
  t.u32(1).u32(60);   // 140: 1/60
  t.u32(1).u32(100);  // 148: 1/100
  Exif exif = parse_ok(t.block());
  EXPECT_EQ(
      listing(exif),
      (Strings{"0:FocalLengthIn35mmFilm=35 mm", "0:ImageWidth=5 pixels", "0:ExposureTime=1/60 s",
               "0:Flash=fired, no return light detection function, auto mode 0 (unknown)"}));
  // Each IFD's problems once, in walk order.
  EXPECT_EQ(error_texts(exif), Strings{"Unexpected next IFD"});
  EXPECT_EQ(exif.entries_read(), 4u + 2u + 3u);
}

// Pointers to ever new sub-IFDs stop at a fixed number of them.
TEST(ExifWalk, DistinctSubIfdsAreLimited) {
  const uint32_t k = limits::kExifMaxSubIfds + 1;
  Tiff t;
  t.u32(8);
  t.u16(static_cast<uint16_t>(k));
  const uint32_t first = 8 + 2 + 12 * k + 4;
  for (uint32_t i = 0; i < k; ++i)
    t.entry(34665, type::kLong, 1, first + 2 * i);  // overlapping IFDs, each a count of 0
  t.u32(0);
  t.bytes(ByteVec(2 * k + 4, 0));
  Exif exif = parse_ok(t.block());
  EXPECT_EQ(error_texts(exif), Strings{"Work limit reached"});
  EXPECT_TRUE(field_texts(exif).truncated);
}

// Two chain IFDs, each pointing (in a different order) at the same 64 Exif IFDs that overlap in
// one region of 65,599 entries: sub-IFD j starts at entry j, its count lying in the previous
// entry's last two bytes. Entry i is tag 1 + i % 1000 holding SHORT i, so tags repeat within and
// across sub-IFDs. Every field is kept, each entry position is read once per IFD number, and the
// fields equal a plain replay of the walk in which the last field of a tag wins.
TEST(ExifWalk, OverlappingSubIfdFanOutsKeepEveryField) {
  constexpr uint32_t kSubs = limits::kExifMaxSubIfds;
  constexpr uint32_t kEntries = 65535 + kSubs;
  constexpr uint32_t kChain = 2 + 12 * kSubs + 4;
  constexpr uint32_t kRegion = 8 + 2 * kChain;
  std::mt19937 rng(7);
  std::vector<uint32_t> counts(kSubs);
  for (uint32_t j = 0; j < kSubs; ++j)
    counts[j] = std::min<uint32_t>(65535, kEntries - j - rng() % 5000);
  std::vector<uint32_t> order(kSubs);
  for (uint32_t j = 0; j < kSubs; ++j)
    order[j] = j;
  std::vector<std::vector<uint32_t>> orders = {order, order};
  std::shuffle(orders[1].begin(), orders[1].end(), rng);

  Tiff t;
  t.u32(8);
  for (uint32_t k = 0; k < 2; ++k) {
    t.u16(kSubs);
    for (uint32_t j : orders[k])
      t.entry(34665, type::kLong, 1, kRegion + 12 * j);
    t.u32(k == 0 ? 8 + kChain : 0);
  }
  t.u16(static_cast<uint16_t>(counts[0]));
  for (uint32_t i = 0; i < kEntries; ++i) {
    t.u16(static_cast<uint16_t>(1 + i % 1000)).u16(type::kShort).u32(1);
    t.u16(static_cast<uint16_t>(i)).u16(static_cast<uint16_t>(i + 1 < kSubs ? counts[i + 1] : 0));
  }
  t.u32(0);
  Exif exif = parse_ok(t.block());

  Strings want;
  for (uint32_t k = 0; k < 2; ++k) {
    std::vector<std::pair<uint32_t, uint32_t>> read;  // (tag, value) in walk order
    for (uint32_t j : orders[k]) {
      for (uint32_t i = j; i < j + counts[j]; ++i)
        read.emplace_back(1 + i % 1000, i & 0xFFFF);
    }
    std::vector<bool> later(1001);
    Strings ifd;
    for (size_t n = read.size(); n-- > 0;) {
      if (later[read[n].first]) continue;
      later[read[n].first] = true;
      ifd.push_back(std::to_string(k) + ":Tag(Exif, " + std::to_string(read[n].first) +
                    ")=" + std::to_string(read[n].second));
    }
    want.insert(want.end(), ifd.rbegin(), ifd.rend());
  }
  EXPECT_EQ(listing(exif), want);
  EXPECT_FALSE(exif.truncated());
  EXPECT_LE(exif.entries_read(), 2 * (kSubs + kEntries));
  const FieldTexts texts = field_texts(exif);
  EXPECT_FALSE(texts.truncated);
  EXPECT_EQ(texts.fields.size(), want.size());
}

// Eight chain IFDs that each point at the same 12 overlapping Exif IFDs, one per phase of a
// region of 0xFF bytes where every offset reads as 65,535 entries of one unknown tag: each IFD
// number reads about one entry per byte of the region and yields one field, so the allowance of
// visits for the block's size and fields runs out after a few of them.
TEST(ExifWalk, EntryVisitsAreCappedByBlockSizeAndFields) {
  constexpr uint32_t kSubs = 12;
  constexpr uint32_t kChain = 2 + 12 * kSubs + 4;
  constexpr uint32_t kRegion = 8 + 8 * kChain;
  Tiff t;
  t.u32(8);
  for (uint32_t k = 0; k < 8; ++k) {
    t.u16(kSubs);
    for (uint32_t j = 0; j < kSubs; ++j)
      t.entry(34665, type::kLong, 1, kRegion + j);
    t.u32(k < 7 ? 8 + (k + 1) * kChain : 0);
  }
  t.bytes(ByteVec(kSubs + 2 + 12 * 65535 + 4, 0xff));
  Exif exif = parse_ok(t.block());
  EXPECT_EQ(exif.entries_read(), limits::kExifEntryVisitsBase +
                                     limits::kExifEntryVisitsPerByte * t.size() +
                                     limits::kExifEntryVisitsPerField * exif.fields().size());
  EXPECT_GE(exif.fields().size(), 2u);
  EXPECT_LT(exif.fields().size(), 8u);
  EXPECT_TRUE(exif.truncated());
  EXPECT_TRUE(field_texts(exif).truncated);
}

// A cycle of n chain IFDs that all name one ASCII ImageDescription of `len` bytes ("AAA..."),
// then Make "x" and, with `gps`, a GPS pointer to their own IFD, so that each is read again as a
// GPS IFD (whose next IFD is then unexpected).
ByteVec ifd_cycle(uint32_t n, uint32_t len, bool gps) {
  const uint32_t entries = gps ? 3 : 2;
  const uint32_t ifd_size = 2 + 12 * entries + 4;
  const uint32_t value_at = 8 + n * ifd_size;
  Tiff t;
  t.u32(8);
  for (uint32_t i = 0; i < n; ++i) {
    t.u16(static_cast<uint16_t>(entries));
    t.entry(270, type::kAscii, len, len > 4 ? value_at : 0x41414141);
    t.entry(271, type::kAscii, 2, 'x');
    if (gps) t.entry(34853, type::kLong, 1, 8 + i * ifd_size);
    t.u32(8 + (i + 1) % n * ifd_size);
  }
  return t.bytes(ByteVec(len > 4 ? len : 0, 'A')).block();
}

// Every IFD number of a looping chain holds what the IFD it stands for holds, whatever the size
// of the values they share; each distinct IFD is read once, and rendering reads no more of a
// value than its text shows.
TEST(ExifWalk, LoopingChainsKeepEveryFieldOfSharedValues) {
  const uint32_t lengths[] = {1, 4, 5, 10933, 65727, 1 << 20};
  for (uint32_t n = 2; n <= 8; ++n) {
    for (uint32_t len : lengths) {
      for (bool gps : {false, true}) {
        SCOPED_TRACE(std::to_string(n) + " IFDs, " + std::to_string(len) + " bytes" +
                     (gps ? ", GPS" : ""));
        const ByteVec block = ifd_cycle(n, len, gps);
        Exif exif = parse_ok(block);
        std::string description = "\"" + std::string(len, 'A') + "\"";
        if (description.size() > limits::kExifMaxFieldText) {
          description.resize(limits::kExifMaxFieldText);
          description += "...";
        }
        Strings want;
        Strings want_errors;
        for (uint32_t k = 0; k < 8; ++k) {
          const std::string ifd = std::to_string(k) + ":";
          want.push_back(ifd + "ImageDescription=" + description);
          want.push_back(ifd + "Make=\"x\"");
          if (!gps) continue;
          want.push_back(ifd + "Tag(Gps, 270)=" + description);
          want.push_back(ifd + "Tag(Gps, 271)=\"x\"");
          want.push_back(ifd + "Tag(Gps, 34853)=" + std::to_string(8 + k % n * 42));
          want_errors.push_back("Unexpected next IFD");
        }
        want_errors.push_back("Limit the IFD count to 8");
        EXPECT_EQ(error_texts(exif), want_errors);
        EXPECT_EQ(exif.entries_read(), n * (gps ? 6u : 2u));

        const FieldTexts texts = field_texts(exif);
        EXPECT_FALSE(texts.truncated);
        ASSERT_EQ(texts.fields.size(), want.size());
        uint64_t text_bytes = 0;
        std::set<const char*> long_texts;
        for (size_t i = 0; i < want.size(); ++i) {
          const FieldText& f = texts.fields[i];
          const std::string& text = *f.text.get_if<std::string>();
          EXPECT_TRUE(want[i] == std::to_string(f.ifd) + ":" + f.name + "=" + text) << i;
          text_bytes += text.size();
          if (text.size() > 256) long_texts.insert(text.data());
        }
        // The report holds one copy of the shared text, whatever the fields that show it.
        EXPECT_LE(long_texts.size(), 1u);
        EXPECT_LE(exif.value_bytes_read(),
                  text_bytes + texts.fields.size() * ValueView::kChunkBytes);
        // One rendering serves every field of the shared value.
        EXPECT_LE(exif.value_bytes_read(), len + ValueView::kChunkBytes + 8 * want.size());
      }
    }
  }
}

// Thousands of fields, each naming a value of 2 MiB at one offset or at overlapping ones: the
// walk keeps them all, and the report's text cap bounds the bytes rendering reads.
TEST(ExifWalk, ManyFieldsOnLargeValuesCostTheTextCaps) {
  constexpr uint32_t K = 4096;
  constexpr uint32_t kValueSize = 2 << 20;
  for (uint16_t type_code : {type::kAscii, type::kUndefined}) {
    for (bool shared : {true, false}) {
      SCOPED_TRACE(std::to_string(type_code) + (shared ? " shared" : " overlapping"));
      Tiff t;
      t.u32(8);
      t.u16(K);
      const uint32_t value_at = 8 + 2 + 12 * K + 4;
      for (uint32_t i = 0; i < K; ++i) {
        t.entry(static_cast<uint16_t>(50000 + i), type_code, kValueSize,
                value_at + (shared ? 0 : i));
      }
      t.u32(0);
      t.bytes(ByteVec(kValueSize + K, 'a'));
      Exif exif = parse_ok(t.block());
      EXPECT_EQ(exif.fields().size(), K);
      EXPECT_TRUE(exif.errors().empty());
      const FieldTexts texts = field_texts(exif);
      EXPECT_TRUE(texts.truncated);
      EXPECT_LT(texts.fields.size(), K);
      EXPECT_LE(exif.value_bytes_read(), limits::kExifMaxTotalText + exif.size() +
                                             limits::kExifMaxFieldText +
                                             texts.fields.size() * ValueView::kChunkBytes);
    }
  }
}

// The walk keeps no field that could not be reported: it stops at the first field after
// limits::kExifMaxFields of them, and says so.
TEST(ExifWalk, StopsAtTheFirstFieldPastTheFieldCap) {
  constexpr uint32_t kCap = limits::kExifMaxFields;
  for (uint16_t next_fields : {0, 1}) {
    SCOPED_TRACE(next_fields);
    // IFD 0: kCap - 2 fields and a GPS pointer; the GPS IFD: 2 fields; IFD 1: next_fields.
    const uint32_t ifd0_count = kCap - 1;
    const uint32_t gps_at = 8 + 2 + 12 * ifd0_count + 4;
    const uint32_t ifd1_at = gps_at + 2 + 12 * 2 + 4;
    Tiff t;
    t.u32(8);
    t.u16(static_cast<uint16_t>(ifd0_count));
    t.entry(34853, type::kLong, 1, gps_at);
    for (uint32_t tag = 1, n = 1; n < ifd0_count; ++tag) {
      if (tag == 34665 || tag == 34853) continue;
      t.short_entry(static_cast<uint16_t>(tag), 1);
      ++n;
    }
    t.u32(ifd1_at);
    t.u16(2).short_entry(1, 1).short_entry(2, 1).u32(0);
    t.u16(next_fields);
    if (next_fields) t.short_entry(256, 1);
    t.u32(0);
    Exif exif = parse_ok(t.block());
    EXPECT_EQ(exif.fields().size(), kCap);
    EXPECT_EQ(exif.truncated(), next_fields != 0);
    EXPECT_EQ(field_texts(exif).truncated, next_fields != 0);
  }
}

TEST(ExifErrors, MessagesAreExact) {
  const std::pair<IfdError, const char*> cases[] = {
      {IfdError::TruncatedIfdCount, "Truncated IFD count"},
      {IfdError::TruncatedIfd, "Truncated IFD"},
      {IfdError::TruncatedFieldValue, "Truncated field value"},
      {IfdError::InvalidPointer, "Invalid pointer"},
      {IfdError::UnexpectedNextIfd, "Unexpected next IFD"},
      {IfdError::TruncatedNextIfdOffset, "Truncated next IFD offset"},
      {IfdError::IfdCountLimit, "Limit the IFD count to 8"},
  };
  for (auto [e, text] : cases)
    EXPECT_EQ(message(e), text);
}

}  // namespace
}  // namespace vorlix_core::exif

// MP4 box walk over hand-built bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::Mp4Extractor;
using ByteVec = std::vector<uint8_t>;
using Boxes = std::vector<std::pair<std::string, uint64_t>>;

using testing::context_for;
using testing::HoleSource;

ExtractResult extract(const Extractor& e, const ByteVec& bytes) {
  MemorySource src(bytes);
  return e.extract(src, context_for(bytes));
}

// Element-wise appends (range inserts trip a false GCC 12 overflow warning here).
void append(ByteVec& v, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes)
    v.push_back(b);
}
void append(ByteVec& v, const ByteVec& bytes) {
  for (uint8_t b : bytes)
    v.push_back(b);
}
void append_be32(ByteVec& v, uint32_t x) {
  append(v, {static_cast<uint8_t>(x >> 24), static_cast<uint8_t>(x >> 16),
             static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x)});
}

ByteVec cat(std::initializer_list<ByteVec> parts) {
  ByteVec out;
  for (const auto& p : parts)
    append(out, p);
  return out;
}

// A box with a plain 32-bit size covering its 8-byte header and the payload.
ByteVec box(std::string_view type, const ByteVec& payload) {
  ByteVec b;
  append_be32(b, static_cast<uint32_t>(8 + payload.size()));
  for (char c : type)
    b.push_back(static_cast<uint8_t>(c));
  append(b, payload);
  return b;
}

// A version-0 movie header payload: 20 bytes up to the duration.
ByteVec mvhd0(uint32_t timescale, uint32_t duration) {
  ByteVec p = {0, 0, 0, 0};  // version 0, flags
  append_be32(p, 1);         // creation time
  append_be32(p, 2);         // modification time
  append_be32(p, timescale);
  append_be32(p, duration);
  return p;
}

Boxes top_boxes(const Namespace& ns) {
  Boxes out;
  for (const auto& v : testing::as_list(&ns.fields().at("top_level_boxes"))) {
    const Map& m = *v.get_if<Map>();
    out.emplace_back(*m.at("type").get_if<std::string>(), *m.at("size").get_if<uint64_t>());
  }
  return out;
}

std::string text(const Namespace& ns, const char* key) {
  return *ns.fields().at(key).get_if<std::string>();
}
uint64_t uint(const Namespace& ns, const char* key) {
  return *ns.fields().at(key).get_if<uint64_t>();
}
double seconds(const Namespace& ns) {
  return *ns.fields().at("duration_seconds").get_if<double>();
}
bool has(const Namespace& ns, const char* key) {
  return ns.fields().count(key) != 0;
}
std::vector<std::string> brands(const Namespace& ns) {
  std::vector<std::string> out;
  for (const auto& v : *ns.fields().at("compatible_brands").get_if<List>()) {
    out.push_back(*v.get_if<std::string>());
  }
  return out;
}

TEST(Mp4, SupportsNeedsFtypAtOffsetFour) {
  const Mp4Extractor mp4;
  EXPECT_STREQ(mp4.name(), "mp4");
  EXPECT_FALSE(mp4.supports(ProbeContext{}));
  const ByteVec ftyp = {0, 0, 0, 8, 'f', 't', 'y', 'p'};
  EXPECT_TRUE(mp4.supports(context_for(ftyp)));
  const ByteVec seven = {0, 0, 0, 8, 'f', 't', 'y'};
  EXPECT_FALSE(mp4.supports(context_for(seven)));
  const ByteVec moov = {0, 0, 0, 8, 'm', 'o', 'o', 'v'};
  EXPECT_FALSE(mp4.supports(context_for(moov)));
}

TEST(Mp4, FileTypeBox) {
  const ByteVec one_brand = {
      0,   0,   0,   20,   // size 20
      'f', 't', 'y', 'p',  // type
      'i', 's', 'o', 'm',  // major brand
      0,   0,   2,   0,    // minor version 512
      'm', 'p', '4', '1',  // compatible brand
  };
  auto r = extract(Mp4Extractor(), one_brand);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"ftyp", 20}}));
  EXPECT_EQ(text(*r, "major_brand"), "isom");
  EXPECT_EQ(uint(*r, "minor_version"), 512u);
  EXPECT_EQ(brands(*r), std::vector<std::string>{"mp41"});
  EXPECT_EQ(r->fields().size(), 4u);

  // Payload of 8 bytes: brand and version, no compatible brands.
  r = extract(Mp4Extractor(), box("ftyp", {'m', 'p', '4', '2', 0, 0, 0, 1}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text(*r, "major_brand"), "mp42");
  EXPECT_EQ(uint(*r, "minor_version"), 1u);
  EXPECT_FALSE(has(*r, "compatible_brands"));

  // A final brand shorter than four bytes is dropped.
  r = extract(Mp4Extractor(), box("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0,   // brand, version
                                           'M', '4', 'A', ' ', 'i', 's'}));  // 1.5 brands
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(brands(*r), std::vector<std::string>{"M4A "});

  // Payload of 5 bytes: only the major brand.
  r = extract(Mp4Extractor(), box("ftyp", {'q', 't', ' ', ' ', 0}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text(*r, "major_brand"), "qt  ");
  EXPECT_FALSE(has(*r, "minor_version"));

  // Payload of 3 bytes: nothing but the box record.
  r = extract(Mp4Extractor(), box("ftyp", {'a', 'b', 'c'}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"ftyp", 11}}));
  EXPECT_EQ(r->fields().size(), 1u);
}

TEST(Mp4, MovieHeaderDurations) {
  struct Case {
    const char* what;
    ByteVec mvhd_payload;
    uint64_t timescale, units;
    double seconds;
  };
  ByteVec v1 = {1, 0, 0, 0};             // version 1, flags
  append(v1, {0, 0, 0, 0, 0, 0, 0, 1});  // creation time (64-bit)
  append(v1, {0, 0, 0, 0, 0, 0, 0, 2});  // modification time (64-bit)
  append_be32(v1, 1000);                 // timescale at payload byte 20
  append(v1, {0, 0, 0, 1, 0, 0, 0, 0});  // duration 2^32 at payload byte 24
  // A version-1 payload of 28 bytes is read with the version-0 layout.
  ByteVec v1_short = {1, 0, 0, 0};  // version 1, flags
  append_be32(v1_short, 0);         // creation
  append_be32(v1_short, 0);         // modification
  append_be32(v1_short, 90000);     // timescale at payload byte 12
  append_be32(v1_short, 45000);     // duration at payload byte 16
  append(v1_short, {0, 0, 0, 0, 0, 0, 0, 0});
  // Any version other than 1 uses the version-0 layout.
  ByteVec v7 = mvhd0(2, 3);
  v7[0] = 7;
  const Case cases[] = {
      {"v0 12.345", mvhd0(1000, 12345), 1000, 12345, 12.345},
      {"v0 rounds 1.66833", mvhd0(600, 1001), 600, 1001, 1.668},
      {"v0 rounds half away from zero", mvhd0(16, 1), 16, 1, 0.063},  // 62.5 ms
      {"v1 64-bit", v1, 1000, uint64_t{1} << 32, 4294967.296},
      {"v1 too short for its layout", v1_short, 90000, 45000, 0.5},
      {"unknown version", v7, 2, 3, 1.5},
  };
  for (const auto& c : cases) {
    auto r = extract(Mp4Extractor(), box("moov", box("mvhd", c.mvhd_payload)));
    ASSERT_TRUE(r.ok()) << c.what;
    EXPECT_EQ(uint(*r, "timescale"), c.timescale) << c.what;
    EXPECT_EQ(uint(*r, "duration_units"), c.units) << c.what;
    EXPECT_DOUBLE_EQ(seconds(*r), c.seconds) << c.what;
  }
}

TEST(Mp4, MovieHeaderShortOrWithoutTimescale) {
  ByteVec short_payload = mvhd0(1000, 5);
  short_payload.pop_back();  // 19 bytes
  auto r = extract(Mp4Extractor(), box("moov", box("mvhd", short_payload)));
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(has(*r, "timescale"));
  EXPECT_FALSE(has(*r, "duration_seconds"));

  r = extract(Mp4Extractor(), box("moov", box("mvhd", mvhd0(0, 5))));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(uint(*r, "timescale"), 0u);
  EXPECT_EQ(uint(*r, "duration_units"), 5u);
  EXPECT_FALSE(has(*r, "duration_seconds"));
}

TEST(Mp4, LaterHeaderOverwritesOnlyTheKeysItSets) {
  // A second movie header with timescale 0 sets timescale and units; the first one's seconds stay.
  auto r = extract(Mp4Extractor(),
                   box("moov", cat({box("mvhd", mvhd0(10, 20)), box("mvhd", mvhd0(0, 7))})));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(uint(*r, "timescale"), 0u);
  EXPECT_EQ(uint(*r, "duration_units"), 7u);
  EXPECT_DOUBLE_EQ(seconds(*r), 2.0);

  // A movie header too short to read leaves the earlier one in place.
  r = extract(Mp4Extractor(),
              box("moov", cat({box("mvhd", mvhd0(10, 20)), box("mvhd", ByteVec(19, 0))})));
  ASSERT_TRUE(r.ok());
  EXPECT_DOUBLE_EQ(seconds(*r), 2.0);

  // A second file-type box with only a brand keeps the first one's version and brands.
  r = extract(Mp4Extractor(),
              cat({box("ftyp", {'i', 's', 'o', 'm', 0, 0, 0, 1, 'a', 'v', 'c', '1'}),
                   box("ftyp", {'m', 'p', '4', '2'})}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text(*r, "major_brand"), "mp42");
  EXPECT_EQ(uint(*r, "minor_version"), 1u);
  EXPECT_TRUE(has(*r, "compatible_brands"));
  EXPECT_EQ(top_boxes(*r), (Boxes{{"ftyp", 20}, {"ftyp", 12}}));
}

TEST(Mp4, BoxSizeForms) {
  struct Case {
    const char* what;
    ByteVec bytes;
    Boxes want;
  };
  const ByteVec ftyp = box("ftyp", {'i', 's', 'o', 'm'});  // 12 bytes
  const Case cases[] = {
      {"size 0 runs to the end of the file",
       cat({ftyp, {0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3}}),  // size 0, type, 3 bytes
       {{"ftyp", 12}, {"mdat", 11}}},
      {"size 1 with a 64-bit largesize",
       cat({ftyp,
            {0, 0, 0, 1, 'm', 'd', 'a', 't',  // size 1, type
             0, 0, 0, 0, 0, 0, 0, 18,         // largesize 18
             0xAA, 0xBB},                     // payload
            box("free", {})}),
       {{"ftyp", 12}, {"mdat", 18}, {"free", 8}}},
      {"size 1 without room for the largesize is a size of 1",
       cat({ftyp, {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0}}),  // 15 bytes left
       {{"ftyp", 12}}},
      {"largesize below 16",
       cat({ftyp, {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 15}, box("free", {})}),
       {{"ftyp", 12}}},
      {"largesize past the end",
       cat({ftyp,
            {0, 0, 0, 1, 'm', 'd', 'a', 't', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}),
       {{"ftyp", 12}}},
      {"size 7", cat({ftyp, {0, 0, 0, 7, 'f', 'r', 'e', 'e'}, box("free", {})}), {{"ftyp", 12}}},
      {"size 2", cat({ftyp, {0, 0, 0, 2, 'f', 'r', 'e', 'e'}}), {{"ftyp", 12}}},
      {"size 8 is an empty box",
       cat({ftyp, box("free", {}), box("skip", {})}),
       {{"ftyp", 12}, {"free", 8}, {"skip", 8}}},
      {"moov larger than the file is neither listed nor read",
       cat({ftyp, {0, 0, 1, 0, 'm', 'o', 'o', 'v'}, box("mvhd", mvhd0(1, 1))}),
       {{"ftyp", 12}}},
      {"1 to 7 stray bytes after the last box", cat({ftyp, {1, 2, 3, 4, 5, 6, 7}}), {{"ftyp", 12}}},
      {"file shorter than a box header", {0, 0, 0, 8, 'f', 't', 'y'}, {}},
      {"empty file", {}, {}},
  };
  for (const auto& c : cases) {
    auto r = extract(Mp4Extractor(), c.bytes);
    ASSERT_TRUE(r.ok()) << c.what;
    EXPECT_EQ(top_boxes(*r), c.want) << c.what;
  }
  // A too-large moov is not descended into.
  auto r = extract(Mp4Extractor(), cases[8].bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(has(*r, "timescale"));
}

TEST(Mp4, MovieBoxIsWalkedButNotListed) {
  const ByteVec bytes = cat({
      box("ftyp", {'i', 's', 'o', 'm', 0, 0, 2, 0}),
      box("moov", cat({box("mvhd", mvhd0(1000, 2500)), box("trak", box("tkhd", ByteVec(84, 0)))})),
      box("mdat", {1, 2, 3, 4}),
  });
  auto r = extract(Mp4Extractor(), bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"ftyp", 16}, {"moov", 8 + 28 + 100}, {"mdat", 12}}));
  EXPECT_DOUBLE_EQ(seconds(*r), 2.5);
}

TEST(Mp4, BrokenBoxInsideMoovEndsOnlyThatRange) {
  const ByteVec bytes = cat({
      box("moov", cat({
                      box("mvhd", mvhd0(4, 2)),          // read
                      {0, 0, 0, 3, 'b', 'a', 'd', '!'},  // size 3 ends the moov walk
                      box("mvhd", mvhd0(1, 99)),         // never reached
                  })),
      box("free", {}),  // the top level goes on after the moov
  });
  auto r = extract(Mp4Extractor(), bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_DOUBLE_EQ(seconds(*r), 0.5);
  EXPECT_EQ(top_boxes(*r).size(), 2u);
  EXPECT_EQ(top_boxes(*r)[1], (std::pair<std::string, uint64_t>{"free", 8}));

  // A moov child with size 0 runs to the end of the moov, not of the file.
  const ByteVec zero = cat({
      box("moov", cat({{0, 0, 0, 0, 'm', 'v', 'h', 'd'}, mvhd0(8, 4)})),
      box("free", {}),
  });
  r = extract(Mp4Extractor(), zero);
  ASSERT_TRUE(r.ok());
  EXPECT_DOUBLE_EQ(seconds(*r), 0.5);
  EXPECT_EQ(top_boxes(*r).size(), 2u);
}

TEST(Mp4, TypesAreMatchedExactly) {
  const ByteVec bytes = cat({
      box("FTYP", {'i', 's', 'o', 'm'}),                       // wrong case
      {0, 0, 0, 12, 'f', 0xFF, 'y', 'p', 'i', 's', 'o', 'm'},  // invalid UTF-8
      box("ftyp", {'m', 'p', '4', '1'}),
  });
  auto r = extract(Mp4Extractor(), bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"FTYP", 12}, {"f\xEF\xBF\xBDyp", 12}, {"ftyp", 12}}));
  EXPECT_EQ(text(*r, "major_brand"), "mp41");

  // Interpreted at any level; mvhd at top level and ftyp inside moov count as well.
  r = extract(Mp4Extractor(),
              cat({box("mvhd", mvhd0(1, 3)), box("moov", box("ftyp", {'a', 'b', 'c', 'd'}))}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(uint(*r, "duration_units"), 3u);
  EXPECT_EQ(text(*r, "major_brand"), "abcd");
}

// `inner` wrapped in `levels` moov boxes.
ByteVec nest(size_t levels, ByteVec inner) {
  for (size_t i = 0; i < levels; ++i)
    inner = box("moov", inner);
  return inner;
}

TEST(Mp4, NestedMoviesStopAtTheDepthBound) {
  constexpr size_t kBound = limits::kMaxBoxDepth;
  // An mvhd inside kBound moov boxes sits in a range of depth kBound: still read.
  auto r = extract(Mp4Extractor(), nest(kBound, box("mvhd", mvhd0(1, 7))));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(uint(*r, "duration_units"), 7u);

  // One level deeper the innermost moov is skipped whole, and its next sibling is still read.
  const ByteVec deepest =
      cat({box("moov", box("mvhd", mvhd0(1, 1))), box("ftyp", {'a', 'b', 'c', 'd'})});
  r = extract(Mp4Extractor(), nest(kBound, deepest));
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(has(*r, "duration_units"));
  EXPECT_EQ(text(*r, "major_brand"), "abcd");
  EXPECT_EQ(top_boxes(*r).size(), 1u);
}

TEST(Mp4, HundredThousandNestedBoxesDoNotExhaustTheStack) {
  // Every level is a size-0 moov: each runs to the end of its parent.
  ByteVec zero_sized;
  for (int i = 0; i < 100000; ++i)
    append(zero_sized, {0, 0, 0, 0, 'm', 'o', 'o', 'v'});
  append(zero_sized, box("mvhd", mvhd0(1, 1)));
  auto r = extract(Mp4Extractor(), zero_sized);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"moov", zero_sized.size()}}));
  EXPECT_FALSE(has(*r, "timescale"));

  // The same with explicit sizes, written outside-in.
  constexpr uint32_t kLevels = 100000;
  ByteVec sized;
  sized.reserve(kLevels * 8);
  for (uint32_t i = 0; i < kLevels; ++i) {
    append_be32(sized, (kLevels - i) * 8);
    append(sized, {'m', 'o', 'o', 'v'});
  }
  r = extract(Mp4Extractor(), sized);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(top_boxes(*r), (Boxes{{"moov", kLevels * 8}}));
}

TEST(Mp4, ManyBoxesAreListedInOrder) {
  ByteVec bytes;
  for (size_t i = 0; i < limits::kMaxMp4TopLevelBoxes; ++i)
    append(bytes, box("free", {}));
  auto r = extract(Mp4Extractor(), bytes);
  ASSERT_TRUE(r.ok());
  const auto boxes = top_boxes(*r);
  ASSERT_EQ(boxes.size(), limits::kMaxMp4TopLevelBoxes);
  EXPECT_FALSE(has(*r, "top_level_boxes_truncated"));
  EXPECT_EQ(boxes.back(), (std::pair<std::string, uint64_t>{"free", 8}));
}

ByteVec minimal_mp4() {
  return cat({
      box("ftyp", {'i', 's', 'o', 'm', 0, 0, 2, 0, 'm', 'p', '4', '1'}),  // 20 bytes
      box("moov", box("mvhd", mvhd0(1000, 1500))),                        // 36 bytes
      box("mdat", {9, 9, 9, 9}),                                          // 12 bytes
  });
}

TEST(Mp4, TruncationAtEveryPositionKeepsTheBoxesBeforeIt) {
  const ByteVec full = minimal_mp4();
  const Boxes all = {{"ftyp", 20}, {"moov", 36}, {"mdat", 12}};
  for (size_t n = 0; n <= full.size(); ++n) {
    const ByteVec cut(full.begin(), full.begin() + static_cast<long>(n));
    auto r = extract(Mp4Extractor(), cut);
    ASSERT_TRUE(r.ok()) << n;
    const size_t whole = n >= 68 ? 3 : n >= 56 ? 2 : n >= 20 ? 1 : 0;
    EXPECT_EQ(top_boxes(*r), Boxes(all.begin(), all.begin() + static_cast<long>(whole))) << n;
    EXPECT_EQ(has(*r, "major_brand"), n >= 20) << n;
    EXPECT_EQ(has(*r, "duration_seconds"), n >= 56) << n;
  }
}

TEST(Mp4, OneByteCorruptionsNeverFail) {
  const ByteVec good = minimal_mp4();
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t v : {0x00, 0x01, 0x07, 0x08, 0x10, 0x7F, 0xFF}) {
      ByteVec bad = good;
      bad[i] = v;
      auto r = extract(Mp4Extractor(), bad);
      ASSERT_TRUE(r.ok()) << i << " " << int{v};
      uint64_t listed = 0;
      for (const auto& [type, size] : top_boxes(*r))
        listed += size;
      EXPECT_LE(listed, bad.size()) << i << " " << int{v};
    }
  }
}

ByteVec ftyp_with_brands(size_t count) {
  ByteVec payload = {'i', 's', 'o', 'm', 0, 0, 0, 1};
  for (size_t i = 0; i < count; ++i)
    append(payload, {'m', 'p', '4', '1'});
  return box("ftyp", payload);
}

TEST(Mp4, CutListsSaySo) {
  const size_t cap = limits::kMaxListedRecords;
  ByteVec many_boxes;
  for (size_t i = 0; i <= limits::kMaxMp4TopLevelBoxes; ++i)
    append(many_boxes, box("free", {}));
  const struct {
    const char* what;
    ByteVec bytes;
    const char* list;
    size_t listed;
    bool cut;
  } cases[] = {
      {"brands at the cap", ftyp_with_brands(cap), "compatible_brands", cap, false},
      {"one brand more", ftyp_with_brands(cap + 1), "compatible_brands", cap, true},
      {"a cut list replaced by a later whole one",
       cat({ftyp_with_brands(cap + 1), ftyp_with_brands(2)}), "compatible_brands", 2, false},
      {"one box more than the cap", many_boxes, "top_level_boxes", limits::kMaxMp4TopLevelBoxes,
       true},
  };
  for (const auto& c : cases) {
    auto r = extract(Mp4Extractor(), c.bytes);
    ASSERT_TRUE(r.ok()) << c.what;
    ASSERT_TRUE(testing::is_list(&r->fields().at(c.list))) << c.what;
    const List list = testing::as_list(&r->fields().at(c.list));
    EXPECT_EQ(list.size(), c.listed) << c.what;
    const std::string flag = std::string(c.list) + "_truncated";
    EXPECT_EQ(has(*r, flag.c_str()), c.cut) << c.what;
    if (c.cut) {
      ASSERT_NE(r->fields().at(flag).get_if<bool>(), nullptr) << c.what;
      EXPECT_TRUE(*r->fields().at(flag).get_if<bool>()) << c.what;
    }
  }
  // Neither list is flagged in an ordinary file.
  auto r = extract(Mp4Extractor(), minimal_mp4());
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(has(*r, "top_level_boxes_truncated"));
  EXPECT_FALSE(has(*r, "compatible_brands_truncated"));
}

TEST(Mp4, MovieAfterAGigabyteOfMediaReadsOnlyTheHeaders) {
  // ftyp, then an mdat with a 64-bit size covering 1 GiB of data, then the moov.
  constexpr uint64_t kMedia = uint64_t{1} << 30;
  ByteVec head = box("ftyp", {'i', 's', 'o', 'm', 0, 0, 0, 1});
  append_be32(head, 1);  // size 1: a 64-bit size follows the type
  append(head, {'m', 'd', 'a', 't'});
  append_be32(head, static_cast<uint32_t>((16 + kMedia) >> 32));
  append_be32(head, static_cast<uint32_t>(16 + kMedia));
  const ByteVec tail = box("moov", box("mvhd", mvhd0(1000, 90000)));
  HoleSource src(head, kMedia, tail);
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = Mp4Extractor().extract(src, ctx);
  ASSERT_TRUE(r.ok()) << r.error().display();
  EXPECT_EQ(top_boxes(*r), (Boxes{{"ftyp", 16}, {"mdat", 16 + kMedia}, {"moov", 8 + 8 + 20}}));
  EXPECT_EQ(seconds(*r), 90.0);
  EXPECT_LE(src.bytes_read(), 4 * RandomAccess::kWindowBytes);
}

// A file shorter than the length it was stated to have (cut while it was read): the boxes that
// are there, and no error.
TEST(Mp4, DeclaredLengthBeyondTheFile) {
  const ByteVec bytes = minimal_mp4();
  for (size_t n : {bytes.size(), size_t{60}, size_t{30}, size_t{4}}) {
    auto r = testing::extract_from_file(Mp4Extractor(), bytes, 4096, n);
    ASSERT_TRUE(r.ok()) << n;
    const size_t whole = n >= 56 ? 2 : n >= 20 ? 1 : 0;
    const Boxes all = {{"ftyp", 20}, {"moov", 36}};
    // The last box's size reaches past the real end, as a size of 0 ("to the end") would.
    const Boxes listed = top_boxes(*r);
    ASSERT_GE(listed.size(), whole) << n;
    EXPECT_EQ(Boxes(listed.begin(), listed.begin() + static_cast<long>(whole)),
              Boxes(all.begin(), all.begin() + static_cast<long>(whole)))
        << n;
    EXPECT_EQ(has(*r, "duration_seconds"), n >= 56) << n;
  }
}

}  // namespace
}  // namespace vorlix_core

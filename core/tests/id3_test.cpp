// ID3v2 tag header and text frames, over hand-built tags.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::Id3Extractor;
using ByteVec = std::vector<uint8_t>;
using Frames = std::vector<std::pair<std::string, std::string>>;

using testing::context_for;
using testing::HoleSource;

ExtractResult extract(const ByteVec& bytes) {
  MemorySource src(bytes);
  return Id3Extractor().extract(src, context_for(bytes));
}

// The "frames" map as key/text pairs in key order; empty when the key is absent.
Frames frames_of(const Namespace& ns) {
  Frames out;
  const auto it = ns.fields().find("frames");
  if (it == ns.fields().end()) return out;
  for (const auto& [key, value] : *it->second.get_if<Map>()) {
    out.emplace_back(key, *value.get_if<std::string>());
  }
  return out;
}

const std::string& text_field(const Namespace& ns, const char* key) {
  return *ns.fields().at(key).get_if<std::string>();
}

// Element-wise appends (range inserts trip a false GCC 12 overflow warning here).
void append(ByteVec& v, std::string_view s) {
  for (char c : s)
    v.push_back(static_cast<uint8_t>(c));
}
void append(ByteVec& v, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes)
    v.push_back(b);
}

// "ID3", major, revision 0, the flags byte, then the four tag-size bytes as given.
ByteVec header(uint8_t major, uint8_t flags, uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) {
  return {'I', 'D', '3', major, 0, flags, s0, s1, s2, s3};
}

// A 2.3/2.4 frame with a size below 128 (the same in either size encoding).
ByteVec frame(const char* id, const ByteVec& body) {
  ByteVec f(id, id + 4);
  f.insert(f.end(), {0, 0, 0, static_cast<uint8_t>(body.size()), 0, 0});  // size, flags
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

// Header with a correct small tag size, followed by the given frames.
ByteVec tag(uint8_t major, std::initializer_list<ByteVec> frames, uint8_t flags = 0) {
  ByteVec body;
  for (const auto& f : frames)
    body.insert(body.end(), f.begin(), f.end());
  const auto n = static_cast<uint32_t>(body.size());
  ByteVec t = header(major, flags, 0, static_cast<uint8_t>(n >> 14 & 0x7F),
                     static_cast<uint8_t>(n >> 7 & 0x7F), static_cast<uint8_t>(n & 0x7F));
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

TEST(Id3, SupportsNeedsTheMagicInTheHeader) {
  const ProbeContext none;
  EXPECT_FALSE(Id3Extractor().supports(none));
  const ByteVec short_header = {'I', 'D'};
  EXPECT_FALSE(Id3Extractor().supports(context_for(short_header)));
  const ByteVec magic = {'I', 'D', '3'};
  EXPECT_TRUE(Id3Extractor().supports(context_for(magic)));
  const ByteVec shifted = {'x', 'I', 'D', '3'};
  EXPECT_FALSE(Id3Extractor().supports(context_for(shifted)));
  EXPECT_STREQ(Id3Extractor().name(), "id3");
}

TEST(Id3, EmptyTagReportsTheHeaderOnly) {
  const ByteVec bytes = {
      'I',  'D', '3',    // magic
      4,    0,           // version 2.4.0
      0x00,              // flags: none
      0,    0,   0,   0  // tag size 0
  };
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text_field(*r, "version"), "2.4.0");
  EXPECT_EQ(*r->fields().at("unsynchronisation").get_if<bool>(), false);
  EXPECT_EQ(*r->fields().at("extended_header").get_if<bool>(), false);
  EXPECT_EQ(*r->fields().at("tag_size").get_if<uint64_t>(), 0u);
  EXPECT_EQ(r->fields().count("frames"), 0u);
  EXPECT_EQ(r->fields().size(), 4u);
}

TEST(Id3, HeaderFlagsAndUnmaskedTagSize) {
  struct Case {
    ByteVec header;
    bool unsync, extended;
    uint64_t tag_size;
    const char* version;
  };
  const Case cases[] = {
      // flags 0x80 (unsynchronisation); synchsafe 00 00 02 01 = 257
      {header(3, 0x80, 0, 0, 2, 1), true, false, 257, "2.3.0"},
      // flags 0x40 (extended header) and unknown low bits; size 7F 7F 7F 7F = 2^28 - 1
      {header(4, 0x4F, 0x7F, 0x7F, 0x7F, 0x7F), false, true, (1u << 28) - 1, "2.4.0"},
      // the high bit of the last size byte lands on bit 7, which the byte before also owns
      {header(3, 0, 0, 0, 0, 0x80), false, false, 0x80, "2.3.0"},
      {header(3, 0, 0, 0, 0x01, 0x80), false, false, 0x80, "2.3.0"},
      // 80 in the third byte gives bit 14 (the second byte's lowest bit)
      {header(3, 0, 0, 0, 0x80, 0), false, false, 1u << 14, "2.3.0"},
      // every byte FF: the groups overlap instead of being masked
      {header(9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), true, true, 0x1FFFFFFF, "2.9.0"},
  };
  for (const auto& c : cases) {
    auto r = extract(c.header);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(text_field(*r, "version"), c.version);
    EXPECT_EQ(*r->fields().at("unsynchronisation").get_if<bool>(), c.unsync);
    EXPECT_EQ(*r->fields().at("extended_header").get_if<bool>(), c.extended);
    EXPECT_EQ(*r->fields().at("tag_size").get_if<uint64_t>(), c.tag_size);
  }
}

TEST(Id3, VersionShowsMajorAndRevisionInDecimal) {
  const ByteVec bytes = {'I', 'D', '3', 255, 17, 0, 0, 0, 0, 0};  // major 255, revision 17
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text_field(*r, "version"), "2.255.17");
}

TEST(Id3, ShortSourcesFailWithHeaderTooShort) {
  const ByteVec full = header(3, 0, 0, 0, 0, 0);
  for (size_t n = 0; n < full.size(); ++n) {
    const ByteVec cut(full.begin(), full.begin() + static_cast<long>(n));
    auto r = extract(cut);
    ASSERT_FALSE(r.ok()) << n;
    EXPECT_EQ(r.error().display(), "malformed id3: header too short");
  }
}

// Each frame id of the table, for its layout, with a UTF-8 body.
TEST(Id3, TagBeforeAGigabyteOfAudioReadsOnlyTheTag) {
  const ByteVec t = tag(3, {frame("TIT2", {0, 'S', 'o', 'n', 'g'}), frame("TPE1", {0, 'A'})});
  constexpr uint64_t kAudio = uint64_t{1} << 30;
  for (const auto& [what, bytes] : std::vector<std::pair<const char*, ByteVec>>{
           {"tag size as written", t},
           // A tag size far beyond its frames: the zero bytes after them read as padding.
           {"tag size 0x0FFFFFFF", [&] {
              ByteVec big = t;
              for (size_t i = 6; i < 10; ++i)
                big[i] = 0x7F;
              return big;
            }()}}) {
    HoleSource src(bytes, kAudio, {});
    ProbeContext ctx;
    ctx.length = src.size();
    auto r = Id3Extractor().extract(src, ctx);
    ASSERT_TRUE(r.ok()) << what;
    EXPECT_EQ(frames_of(*r), (Frames{{"artist", "A"}, {"title", "Song"}})) << what;
    EXPECT_LE(src.bytes_read(), 2 * RandomAccess::kWindowBytes) << what;
  }
}

// A file shorter than the length it was stated to have (cut while it was read): the frames that
// are whole, and no error.
TEST(Id3, DeclaredLengthBeyondTheFile) {
  const ByteVec t = tag(4, {frame("TIT2", {3, 'O', 'n', 'e'}), frame("TALB", {3, 'T', 'w', 'o'})});
  for (size_t n : {t.size(), t.size() - 2, size_t{12}, size_t{4}}) {
    auto r = testing::extract_from_file(Id3Extractor(), t, 100000, n);
    if (n < 10) {
      ASSERT_FALSE(r.ok()) << n;
      EXPECT_EQ(r.error().display(), "malformed id3: header too short");
      continue;
    }
    ASSERT_TRUE(r.ok()) << n;
    const Frames want = n == t.size()       ? Frames{{"album", "Two"}, {"title", "One"}}
                        : n == t.size() - 2 ? Frames{{"title", "One"}}
                                            : Frames{};
    EXPECT_EQ(frames_of(*r), want) << n;
  }
}

TEST(Id3, EveryListedFrameMapsToItsKey) {
  struct Case {
    uint8_t major;
    const char* id;
    const char* key;
  };
  const Case cases[] = {
      {3, "TIT2", "title"}, {3, "TPE1", "artist"},       {3, "TALB", "album"},
      {4, "TYER", "year"},  {4, "TDRC", "year"},         {4, "TCON", "genre"},
      {4, "TRCK", "track"}, {4, "TPE2", "album_artist"}, {4, "TCOM", "composer"},
      {2, "TT2", "title"},  {2, "TP1", "artist"},        {2, "TAL", "album"},
      {2, "TYE", "year"},   {2, "TCO", "genre"},         {2, "TRK", "track"},
  };
  for (const auto& c : cases) {
    ByteVec f;
    append(f, c.id);
    if (c.major == 2) {
      append(f, {0, 0, 3});  // 24-bit size 3
    } else {
      append(f, {0, 0, 0, 3, 0, 0});  // size 3, flags
    }
    append(f, {3, 'o', 'k'});  // UTF-8 "ok"
    auto r = extract(tag(c.major, {f}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(frames_of(*r), (Frames{{c.key, "ok"}})) << c.id;
  }
}

TEST(Id3, UnlistedFramesAreSkippedBySize) {
  const ByteVec bytes = tag(3, {
                                   frame("TXXX", {3, 'x', 0, 'y'}),  // user text: not listed
                                   frame("APIC", {0, 1, 2, 3, 4}),   // picture: not listed
                                   frame("TIT1", {3, 'g'}),          // content group: not listed
                                   frame("TIT2", {3, 'T'}),          // title
                               });
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "T"}}));
}

TEST(Id3, TextEncodings) {
  struct Case {
    const char* what;
    ByteVec body;  // encoding byte, then the text bytes
    std::string want;
  };
  const Case cases[] = {
      {"latin-1", {0, 'A', 0xE9, 0xFF}, "A\xC3\xA9\xC3\xBF"},
      {"latin-1 trailing NULs", {0, 'A', 0, 0}, "A"},
      {"utf-8 trailing NULs", {3, 'A', 'B', 0, 0}, "AB"},
      {"utf-8 inner NUL kept", {3, 'A', 0, 'B'}, std::string("A\0B", 3)},
      {"utf-8 invalid byte",
       {3, 'A', 0xFF, 'B'},
       "A\xEF\xBF\xBD"
       "B"},
      {"utf-16 LE mark", {1, 0xFF, 0xFE, 'A', 0, 'B', 0}, "AB"},
      {"utf-16 LE mark, encoding 2", {2, 0xFF, 0xFE, 'A', 0, 'B', 0}, "AB"},
      {"utf-16 BE mark", {1, 0xFE, 0xFF, 0, 'A', 0, 'B'}, "AB"},
      {"utf-16 no mark is little-endian", {1, 'A', 0, 'B', 0}, "AB"},
      {"utf-16BE without mark (encoding 2)", {2, 0, 'A', 0, 'B'}, "AB"},
      {"utf-16 repeated marks", {1, 0xFF, 0xFE, 0xFF, 0xFE, 'A', 0}, "A"},
      {"utf-16 odd byte dropped", {1, 0xFF, 0xFE, 'A', 0, 'B'}, "A"},
      {"utf-16 NUL terminator", {1, 0xFF, 0xFE, 'A', 0, 0, 0}, "A"},
      {"utf-16 unpaired surrogate",
       {1, 0xFF, 0xFE, 0x00, 0xD8, 'A', 0},
       "\xEF\xBF\xBD"
       "A"},
      {"utf-16 pair", {1, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {"encoding byte only", {3}, ""},
      {"only NULs", {0, 0, 0}, ""},
      {"mark only", {1, 0xFF, 0xFE}, ""},
  };
  for (const auto& c : cases) {
    auto r = extract(tag(3, {frame("TPE1", c.body)}));
    ASSERT_TRUE(r.ok()) << c.what;
    EXPECT_EQ(frames_of(*r), (Frames{{"artist", c.want}})) << c.what;
  }
}

TEST(Id3, UnknownEncodingSkipsOnlyThatFrame) {
  const ByteVec bytes = tag(3, {
                                   frame("TIT2", {4, 'x'}),  // encoding 4: unknown
                                   frame("TPE1", {0, 'a'}),  // latin-1 "a"
                               });
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "a"}}));
}

TEST(Id3, LaterFrameWithTheSameKeyWins) {
  auto r = extract(tag(4, {frame("TYER", {0, '1', '9'}), frame("TDRC", {0, '2', '0'})}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"year", "20"}}));
  r = extract(tag(4, {frame("TDRC", {0, '2', '0'}), frame("TYER", {0, '1', '9'})}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"year", "19"}}));
  // A second title replaces the first even when the second is unreadable text.
  r = extract(tag(3, {frame("TIT2", {0, 'a'}), frame("TIT2", {3, 0xC0})}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "\xEF\xBF\xBD"}}));
}

TEST(Id3, EmptyFrameIsSkipped) {
  auto r = extract(tag(3, {frame("TIT2", {}), frame("TPE1", {0, 'a'})}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "a"}}));
}

TEST(Id3, Version22UsesShortIdsAndSixByteHeaders) {
  const ByteVec v22 = {
      'I', 'D', '3', 2, 0, 0, 0, 0, 0, 20,  // ID3 2.2.0, no flags, tag size 20
      'T', 'T', '2',                        // id
      0,   0,   3,                          // 24-bit size 3
      0,   'h', 'i',                        // latin-1 "hi"
      'T', 'A', 'L',                        // id
      0,   0,   2,                          // 24-bit size 2
      0,   'x',                             // latin-1 "x"
  };
  auto r = extract(v22);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"album", "x"}, {"title", "hi"}}));

  // A 2.3-style frame in a 2.2 tag: the id reads as "TIT", which is not listed.
  ByteVec wrong = tag(2, {frame("TIT2", {3, 'T'})});
  r = extract(wrong);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), Frames{});
}

TEST(Id3, FrameSizeEncodingFollowsTheMajorVersion) {
  // First frame: size bytes 00 00 01 00 = 256 as plain 32-bit, 128 as synchsafe. Its body is
  // 128 bytes, followed by a TPE1 frame that only a synchsafe reading reaches.
  auto build = [](uint8_t major, uint8_t size_hi) {
    ByteVec body = {'T', 'I', 'T', '2', 0, 0, 1, 0, 0, 0};  // id, size 00 00 01 00, flags
    body.push_back(0);                                      // latin-1
    body.insert(body.end(), 127, 'x');                      // 127 characters
    const ByteVec next = frame("TPE1", {0, 'a'});
    body.insert(body.end(), next.begin(), next.end());
    body.insert(body.end(), 200, 0);  // padding
    ByteVec t = header(major, 0, 0, 0, size_hi, 0);
    t.insert(t.end(), body.begin(), body.end());
    return t;
  };
  auto r = extract(build(4, 3));  // tag size 3 << 7 = 384
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "a"}, {"title", std::string(127, 'x')}}));
  r = extract(build(3, 3));
  ASSERT_TRUE(r.ok());
  // 2.3 reads 256 bytes: the body swallows the TPE1 frame and the start of the padding.
  const auto frames = frames_of(*r);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].first, "title");
  EXPECT_EQ(frames[0].second.rfind(std::string(127, 'x') + "TPE1", 0), 0u);
  // Unknown major versions use the synchsafe layout.
  r = extract(build(5, 3));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r).size(), 2u);
}

TEST(Id3, ExtendedHeaderIsSkippedBeforeTheFrames) {
  const ByteVec v23 = {
      'I',  'D',  '3',  3,    0, 0x40, 0, 0, 0, 27,  // 2.3.0, extended header flag, tag size 27
      0,    0,    0,    10,                          // extended header size 10 (CRC present)
      0x80, 0,                                       // extended flags: CRC
      0,    0,    0,    0,                           // padding size
      0xDE, 0xAD, 0xBE, 0xEF,                        // CRC-32
      'T',  'I',  'T',  '2',  0, 0,    0, 2, 0, 0,   // frame header, size 2
      0,    'a',                                     // latin-1 "a"
      0,                                             // padding
  };
  auto r = extract(v23);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(*r->fields().at("extended_header").get_if<bool>());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "a"}}));

  const ByteVec v24 = {
      'I', 'D', '3', 4,   0, 0x40, 0, 0, 0, 18,  // 2.4.0, extended header flag, tag size 18
      0,   0,   0,   6,                          // extended header size 6, itself included
      1,   0,                                    // one flag byte, no flags
      'T', 'P', 'E', '1', 0, 0,    0, 2, 0, 0,   // frame header, size 2
      3,   'b',                                  // UTF-8 "b"
  };
  r = extract(v24);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "b"}}));

  // An extended header claiming more than the tag leaves no frames, and no error.
  ByteVec huge = v24;
  huge[13] = 0x7F;  // extended header size 127
  r = extract(huge);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), Frames{});

  // In 2.2 the same flag bit means compression: frames are walked from offset 10.
  ByteVec v22 = {'I', 'D', '3', 2, 0, 0x40, 0, 0, 0, 8, 'T', 'T', '2', 0, 0, 2, 0, 'c'};
  r = extract(v22);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "c"}}));
}

TEST(Id3, PaddingEndsTheWalk) {
  ByteVec bytes = header(3, 0, 0, 0, 0, 40);
  const ByteVec title = frame("TIT2", {0, 'a'});
  bytes.insert(bytes.end(), title.begin(), title.end());
  bytes.insert(bytes.end(), 10, 0);  // padding
  const ByteVec artist = frame("TPE1", {0, 'b'});
  bytes.insert(bytes.end(), artist.begin(), artist.end());
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "a"}}));

  // Three zero bytes and a non-zero fourth are an id, not padding, in 2.3.
  const ByteVec odd_id = {
      'I', 'D', '3', 3,   0, 0, 0, 0, 0, 24,  // 2.3.0, tag size 24
      0,   0,   0,   1,   0, 0, 0, 0, 0, 0,   // id 00 00 00 01, size 0
      'T', 'I', 'T', '2', 0, 0, 0, 2, 0, 0,   // frame header, size 2
      0,   'z',                               // latin-1 "z"
      0,   0,                                 // padding
  };
  r = extract(odd_id);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "z"}}));
}

TEST(Id3, WalkStaysInsideTheDeclaredTagAndTheData) {
  // Tag size 14 covers the frame header and 4 of the 6 body bytes.
  const ByteVec cut_by_tag = {
      'I', 'D', '3', 3,   0,   0,   0, 0, 0, 14,  // 2.3.0, tag size 14
      'T', 'I', 'T', '2', 0,   0,   0, 6, 0, 0,   // frame header, size 6
      0,   'a', 'b', 'c', 'd', 'e',               // latin-1 "abcde"
  };
  auto r = extract(cut_by_tag);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "abc"}}));

  // A frame declaring 0xFFFFFFFF bytes is read to the end of the data and ends the walk.
  const ByteVec huge_frame = {
      'I', 'D', '3', 3,   0,    0,    0x7F, 0x7F, 0x7F, 0x7F,  // 2.3.0, tag size 2^28 - 1
      'T', 'P', 'E', '1', 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,     // frame header, size 2^32 - 1
      0,   'a', 'b',                                           // latin-1 "ab"
  };
  r = extract(huge_frame);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "ab"}}));

  // Frames after the declared tag end (in the audio) are not read.
  ByteVec after = tag(3, {frame("TIT2", {0, 'a'})});
  const ByteVec extra = frame("TPE1", {0, 'b'});
  after.insert(after.end(), extra.begin(), extra.end());
  r = extract(after);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "a"}}));

  // A frame header that does not fit in what is left ends the walk.
  ByteVec partial = header(3, 0, 0, 0, 0, 15);
  const ByteVec one = frame("TIT2", {0, 'a'});
  partial.insert(partial.end(), one.begin(), one.end());
  partial.insert(partial.end(), {'T', 'P', 'E'});  // three bytes of a header
  r = extract(partial);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", "a"}}));
}

// A minimal tag with two frames, used for corruption sweeps.
ByteVec minimal_tag() {
  return {
      'I', 'D', '3', 3,   0,   0,   0, 0, 0, 30,  // 2.3.0, tag size 30
      'T', 'I', 'T', '2', 0,   0,   0, 6, 0, 0,   // frame header, size 6
      0,   'T', 'i', 't', 'l', 'e',               // latin-1 "Title"
      'T', 'P', 'E', '1', 0,   0,   0, 4, 0, 0,   // frame header, size 4
      3,   'A', 'r', 't',                         // UTF-8 "Art"
  };
}

TEST(Id3, MinimalTagReadsBothFrames) {
  auto r = extract(minimal_tag());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"artist", "Art"}, {"title", "Title"}}));
}

TEST(Id3, TruncationAtEveryPositionKeepsWhatWasRead) {
  const ByteVec full = minimal_tag();
  for (size_t n = 10; n <= full.size(); ++n) {
    const ByteVec cut(full.begin(), full.begin() + static_cast<long>(n));
    auto r = extract(cut);
    ASSERT_TRUE(r.ok()) << n;
    EXPECT_EQ(text_field(*r, "version"), "2.3.0");
    EXPECT_EQ(*r->fields().at("tag_size").get_if<uint64_t>(), 30u);
    for (const auto& [key, text] : frames_of(*r)) {
      const std::string whole = key == "title" ? "Title" : "Art";
      EXPECT_EQ(whole.rfind(text, 0), 0u) << n << " " << key;
    }
    // The title frame is whole from byte 26 on; the artist frame starts after it.
    const auto frames = frames_of(*r);
    if (n >= 26) {
      EXPECT_EQ(frames.back(), (std::pair<std::string, std::string>{"title", "Title"}));
    }
    if (n <= 20) {
      EXPECT_TRUE(frames.empty()) << n;
    }
  }
}

TEST(Id3, OneByteCorruptionsNeverFail) {
  const ByteVec good = minimal_tag();
  for (size_t i = 3; i < good.size(); ++i) {
    for (uint8_t v : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
      ByteVec bad = good;
      bad[i] = v;
      auto r = extract(bad);
      ASSERT_TRUE(r.ok()) << i << " " << int{v};
      EXPECT_TRUE(r->fields().count("version"));
      EXPECT_LE(frames_of(*r).size(), 2u);
    }
  }
}

TEST(Id3, ManyFramesAreWalkedOnce) {
  // 100000 title frames: the last one wins.
  ByteVec body;
  constexpr int kFrames = 100000;
  for (int i = 0; i < kFrames; ++i) {
    const std::string n = std::to_string(i);
    ByteVec text = {0};  // latin-1
    append(text, n);
    const ByteVec f = frame("TIT2", text);
    body.insert(body.end(), f.begin(), f.end());
  }
  const auto size = static_cast<uint32_t>(body.size());
  ByteVec bytes =
      header(4, 0, static_cast<uint8_t>(size >> 21 & 0x7F), static_cast<uint8_t>(size >> 14 & 0x7F),
             static_cast<uint8_t>(size >> 7 & 0x7F), static_cast<uint8_t>(size & 0x7F));
  bytes.insert(bytes.end(), body.begin(), body.end());
  auto r = extract(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(frames_of(*r), (Frames{{"title", std::to_string(kFrames - 1)}}));
}

}  // namespace
}  // namespace vorlix_core

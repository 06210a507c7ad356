#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::RiffExtractor;
using ByteVec = std::vector<uint8_t>;
using testing::render;
using testing::TrickleSource;

ExtractResult run(ByteSource& src, const ByteVec& header) {
  ProbeContext ctx;
  ctx.header = header;
  ctx.length = header.size();
  return RiffExtractor().extract(src, ctx);
}

ExtractResult run(const ByteVec& bytes) {
  MemorySource src(bytes);
  return run(src, bytes);
}

void put(ByteVec& b, const char* fourcc) {
  // Byte by byte: GCC 12 misreads a range insert into an empty vector as an overflow.
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<uint8_t>(fourcc[i]));
}
void le16(ByteVec& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void le24(ByteVec& b, uint32_t v) {
  for (int i = 0; i < 3; ++i)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void le32(ByteVec& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void append(ByteVec& out, const ByteVec& more) {
  out.insert(out.end(), more.begin(), more.end());
}

ByteVec riff(const char* form) {
  ByteVec b;
  put(b, "RIFF");  // signature
  le32(b, 0);      // RIFF size (never read)
  put(b, form);    // form type
  return b;
}

// Lossy WebP: the VP8 key-frame header up to the two size fields, then a little payload.
ByteVec webp_lossy(uint16_t width_field, uint16_t height_field, uint8_t start_code0 = 0x9D) {
  ByteVec b = riff("WEBP");
  put(b, "VP8 ");                        // chunk id
  le32(b, 14);                           // chunk size
  append(b, {0x50, 0x02, 0x00});         // frame tag (key frame)
  append(b, {start_code0, 0x01, 0x2A});  // start code
  le16(b, width_field);                  // 14-bit width, 2 scale bits
  le16(b, height_field);                 // 14-bit height, 2 scale bits
  append(b, {0x00, 0x00, 0x00, 0x00});   // first partition
  return b;
}

// Lossless WebP: signature byte, then 14 bits of width - 1 and 14 bits of height - 1.
ByteVec webp_lossless(uint32_t width_minus_1, uint32_t height_minus_1) {
  ByteVec b = riff("WEBP");
  put(b, "VP8L");                                            // chunk id
  le32(b, 5);                                                // chunk size
  b.push_back(0x2F);                                         // signature
  le32(b, width_minus_1 | height_minus_1 << 14 | 1u << 28);  // sizes, alpha hint, version 0
  b.push_back(0x00);                                         // pad byte (odd chunk size)
  return b;
}

// Extended WebP: flags, then the canvas size minus one in two 24-bit fields.
ByteVec webp_extended(uint8_t flags, uint32_t width_minus_1, uint32_t height_minus_1) {
  ByteVec b = riff("WEBP");
  put(b, "VP8X");           // chunk id
  le32(b, 10);              // chunk size
  b.push_back(flags);       // flags
  le24(b, 0);               // reserved
  le24(b, width_minus_1);   // canvas width - 1
  le24(b, height_minus_1);  // canvas height - 1
  return b;
}

ByteVec fmt_chunk(uint32_t size, uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  ByteVec b;
  put(b, "fmt ");                                       // chunk id
  le32(b, size);                                        // chunk size
  le16(b, tag);                                         // format tag
  le16(b, channels);                                    // channels
  le32(b, rate);                                        // samples per second
  le32(b, rate * channels * bits / 8);                  // byte rate
  le16(b, static_cast<uint16_t>(channels * bits / 8));  // block align
  le16(b, bits);                                        // bits per sample
  // A larger chunk carries an extension; a smaller one ends early.
  b.resize(8 + size, 0x00);
  return b;
}

ByteVec chunk(const char* id, const ByteVec& data, bool pad = true) {
  ByteVec b;
  put(b, id);                                   // chunk id
  le32(b, static_cast<uint32_t>(data.size()));  // chunk size
  append(b, data);
  if (pad && data.size() % 2) b.push_back(0x00);
  return b;
}

ByteVec wave(std::initializer_list<ByteVec> chunks) {
  ByteVec b = riff("WAVE");
  for (const auto& c : chunks)
    append(b, c);
  return b;
}

// The canonical 44-byte PCM header: fmt chunk at 12, then an empty data chunk.
ByteVec pcm_wave() {
  return wave({fmt_chunk(16, 1, 2, 44100, 16), chunk("data", {})});
}

const char* const kPcmFields =
    "audio_format_tag=1 bits_per_sample=16 channels=2 form_type=\"WAVE\" "
    "media_kind=\"audio (WAV)\" sample_rate=44100";
const char* const kWaveOnly = "form_type=\"WAVE\" media_kind=\"audio (WAV)\"";
const char* const kWebpOnly = "form_type=\"WEBP\" media_kind=\"image (WebP)\"";

TEST(RiffExtractor, SupportsAnyRiffForm) {
  struct Case {
    ByteVec header;
    bool expected;
  };
  const std::vector<Case> cases = {
      {riff("WAVE"), true},          {{'R', 'I', 'F', 'F'}, true},
      {{'R', 'I', 'F'}, false},      {{'R', 'I', 'F', 'X', 'W', 'A', 'V', 'E'}, false},
      {{'r', 'i', 'f', 'f'}, false}, {{}, false},
  };
  for (const auto& c : cases) {
    ProbeContext ctx;
    ctx.header = c.header;
    EXPECT_EQ(RiffExtractor().supports(ctx), c.expected) << ::testing::PrintToString(c.header);
  }
}

TEST(RiffExtractor, ShorterThanTheFormTypeIsMalformed) {
  ByteVec eleven = riff("WAVE");
  eleven.pop_back();
  for (const ByteVec& input : {ByteVec{}, ByteVec{'R', 'I', 'F', 'F'}, eleven}) {
    auto r = run(input);
    ASSERT_FALSE(r.ok()) << input.size();
    EXPECT_EQ(r.error().display(), "malformed riff: header too short");
  }
}

TEST(RiffExtractor, Forms) {
  struct Case {
    const char* name;
    ByteVec input;
    std::string expected;
  };
  ByteVec bad_form = riff("WAVE");
  bad_form[9] = 0xC3;  // a lead byte followed by an ASCII byte: not UTF-8
  ByteVec alph = riff("WEBP");
  append(alph, chunk("ALPH", {0x00, 0x00}));
  ByteVec vp8q = riff("WEBP");
  append(vp8q, chunk("VP8Q", ByteVec(20, 0x00)));

  const std::vector<Case> cases = {
      {"12-byte WAVE", riff("WAVE"), kWaveOnly},
      {"12-byte WEBP", riff("WEBP"), kWebpOnly},
      {"AVI", riff("AVI "), "form_type=\"AVI \" media_kind=\"video (AVI)\""},
      {"AVI without its trailing space is another form", riff("AVIX"), "form_type=\"AVIX\""},
      {"RMID", riff("RMID"), "form_type=\"RMID\""},
      {"form type decoded lossily", bad_form, "form_type=\"W\xEF\xBF\xBDVE\""},
      {"lossy 320x240", webp_lossy(320, 240),
       "form_type=\"WEBP\" height=240 media_kind=\"image (WebP)\" webp_format=\"lossy\" "
       "width=320"},
      {"lossy scale bits dropped", webp_lossy(320 | 0xC000, 240 | 0x4000),
       "form_type=\"WEBP\" height=240 media_kind=\"image (WebP)\" webp_format=\"lossy\" "
       "width=320"},
      {"lossy with a corrupted start code", webp_lossy(320, 240, 0x9C),
       "form_type=\"WEBP\" media_kind=\"image (WebP)\" webp_format=\"lossy\""},
      {"lossless 320x240", webp_lossless(319, 239),
       "form_type=\"WEBP\" height=240 media_kind=\"image (WebP)\" webp_format=\"lossless\" "
       "width=320"},
      {"lossless largest", webp_lossless(0x3FFF, 0x3FFF),
       "form_type=\"WEBP\" height=16384 media_kind=\"image (WebP)\" webp_format=\"lossless\" "
       "width=16384"},
      {"extended, alpha and animation", webp_extended(0x12, 319, 239),
       "form_type=\"WEBP\" has_alpha=true has_animation=true has_exif=false height=240 "
       "media_kind=\"image (WebP)\" webp_format=\"extended\" width=320"},
      {"extended, Exif only", webp_extended(0x08, 0, 0),
       "form_type=\"WEBP\" has_alpha=false has_animation=false has_exif=true height=1 "
       "media_kind=\"image (WebP)\" webp_format=\"extended\" width=1"},
      {"extended, largest canvas", webp_extended(0xFF, 0xFFFFFF, 0xFFFFFE),
       "form_type=\"WEBP\" has_alpha=true has_animation=true has_exif=true height=16777215 "
       "media_kind=\"image (WebP)\" webp_format=\"extended\" width=16777216"},
      {"first chunk is not VP8", alph, kWebpOnly},
      {"unknown VP8 variant", vp8q, kWebpOnly},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = run(c.input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(r->name(), std::string("riff"));
    EXPECT_EQ(render(*r), c.expected);
  }
}

TEST(RiffExtractor, WaveWalk) {
  struct Case {
    const char* name;
    ByteVec input;
    std::string expected;
  };
  ByteVec fmt_cut = wave({fmt_chunk(16, 1, 2, 44100, 16)});
  fmt_cut.resize(12 + 8 + 15);  // one data byte short
  ByteVec list_past_end = wave({});
  put(list_past_end, "LIST");       // chunk id
  le32(list_past_end, 0xFFFFFFFF);  // chunk size past the end
  append(list_past_end, fmt_chunk(16, 1, 2, 44100, 16));

  const std::vector<Case> cases = {
      {"canonical PCM header", pcm_wave(), kPcmFields},
      {"odd LIST chunk and its pad byte before fmt",
       wave({chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), fmt_chunk(16, 1, 2, 44100, 16)}),
       kPcmFields},
      {"empty chunks before fmt",
       wave({chunk("JUNK", {}), chunk("bext", {}), fmt_chunk(16, 1, 2, 44100, 16)}), kPcmFields},
      {"the first fmt chunk wins",
       wave({fmt_chunk(16, 1, 2, 44100, 16), fmt_chunk(16, 3, 1, 8000, 32)}), kPcmFields},
      {"extensible format, tag as stored", wave({fmt_chunk(40, 0xFFFE, 6, 48000, 24)}),
       "audio_format_tag=65534 bits_per_sample=24 channels=6 form_type=\"WAVE\" "
       "media_kind=\"audio (WAV)\" sample_rate=48000"},
      {"no fmt chunk", wave({chunk("data", {1, 2, 3, 4})}), kWaveOnly},
      {"fmt chunk with fewer than 16 bytes in the file", fmt_cut, kWaveOnly},
      {"chunk size past the end", list_past_end, kWaveOnly},
      {"fmt id is case-sensitive", wave({chunk("FMT ", ByteVec(16, 1))}), kWaveOnly},
      // The 14-byte WAVEFORMAT has no bits per sample; the next chunk's id is not read as one.
      {"14-byte fmt chunk", wave({fmt_chunk(14, 2, 1, 22050, 0), chunk("data", ByteVec(4, 0))}),
       "audio_format_tag=2 channels=1 form_type=\"WAVE\" media_kind=\"audio (WAV)\" "
       "sample_rate=22050"},
      {"zero-length fmt chunk",
       wave({fmt_chunk(0, 1, 2, 44100, 16), chunk("data", ByteVec(16, 1))}), kWaveOnly},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = run(c.input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(render(*r), c.expected);
  }
}

TEST(RiffExtractor, LongRunsOfEmptyChunksAreWalkedToTheEnd) {
  ByteVec bytes = riff("WAVE");
  for (int i = 0; i < 100000; ++i)
    append(bytes, chunk("JUNK", {}));
  append(bytes, fmt_chunk(16, 1, 2, 44100, 16));
  auto r = run(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(render(*r), kPcmFields);
}

// For every prefix of a valid file, the keys present are those of the last stage whose minimum
// length the prefix reaches, with the values of the whole file.
TEST(RiffExtractor, EveryTruncation) {
  struct Stage {
    size_t from;
    std::vector<std::string> keys;
  };
  struct Case {
    const char* name;
    ByteVec input;
    std::vector<Stage> stages;
  };
  const std::vector<std::string> base = {"form_type", "media_kind"};
  const std::vector<std::string> format = {"form_type", "media_kind", "webp_format"};
  const std::vector<std::string> sized = {"form_type", "height", "media_kind", "webp_format",
                                          "width"};
  const std::vector<std::string> flagged = {"form_type", "has_alpha",  "has_animation", "has_exif",
                                            "height",    "media_kind", "webp_format",   "width"};
  const std::vector<std::string> audio = {"audio_format_tag", "bits_per_sample", "channels",
                                          "form_type",        "media_kind",      "sample_rate"};
  const std::vector<Case> cases = {
      {"lossy", webp_lossy(320, 240), {{12, base}, {16, format}, {30, sized}}},
      {"lossless", webp_lossless(319, 239), {{12, base}, {16, format}, {25, sized}}},
      {"extended", webp_extended(0x10, 99, 99), {{12, base}, {16, format}, {30, flagged}}},
      // fmt chunk at 26, after an odd LIST chunk and its pad byte; its 16 bytes end at 50.
      {"wave",
       wave({chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), fmt_chunk(16, 1, 2, 44100, 16),
             chunk("data", ByteVec(8, 0x11))}),
       {{12, base}, {50, audio}}},
      {"avi",
       [] {
         ByteVec b = riff("AVI ");
         append(b, chunk("LIST", ByteVec(12, 0x22)));
         return b;
       }(),
       {{12, base}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto whole = run(c.input);
    ASSERT_TRUE(whole.ok());
    for (size_t k = 0; k <= c.input.size(); ++k) {
      SCOPED_TRACE(k);
      auto r = run(ByteVec(c.input.begin(), c.input.begin() + static_cast<ptrdiff_t>(k)));
      if (k < 12) {
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().display(), "malformed riff: header too short");
        continue;
      }
      ASSERT_TRUE(r.ok());
      const Stage* stage = nullptr;
      for (const auto& s : c.stages) {
        if (k >= s.from) stage = &s;
      }
      ASSERT_NE(stage, nullptr);
      Namespace expected("riff");
      for (const auto& key : stage->keys)
        expected.set(key, whole->fields().at(key));
      EXPECT_EQ(render(*r), render(expected));
    }
  }
}

TEST(RiffExtractor, StreamedSourcesGiveTheSameFields) {
  const ByteVec wav =
      wave({chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), fmt_chunk(16, 1, 2, 44100, 16)});
  const ByteVec lossless = webp_lossless(319, 239);
  for (const ByteVec* input : {&wav, &lossless}) {
    const std::string expected = render(*run(*input));
    for (size_t step : {size_t{1}, size_t{5}, size_t{4096}}) {
      TrickleSource src(*input, step);
      auto r = run(src, *input);
      ASSERT_TRUE(r.ok()) << step;
      EXPECT_EQ(render(*r), expected) << step;
    }
  }
}

TEST(RiffExtractor, OnlyWaveReadsPastTheFirstChunkHeader) {
  // An AVI or WebP whose data fails to read after the first 30 bytes still gets its fields.
  ByteVec avi = riff("AVI ");
  append(avi, chunk("LIST", ByteVec(64, 0x22)));
  const ByteVec lossy = webp_lossy(320, 240);
  for (const ByteVec* input : std::initializer_list<const ByteVec*>{&avi, &lossy}) {
    TrickleSource src(*input, 8, 30);
    auto r = run(src, *input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(render(*r), render(*run(*input)));
  }
  // A WAVE file is walked to its end, so the same failure is reported.
  const ByteVec wav = wave({chunk("LIST", ByteVec(40, 0x33)), fmt_chunk(16, 1, 2, 44100, 16)});
  TrickleSource src(wav, 8, 30);
  auto r = run(src, wav);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display().rfind("I/O error: ", 0), 0u) << r.error().display();
}

TEST(RiffExtractor, ReadFailureIsAnIoError) {
  const ByteVec wav = pcm_wave();
  for (size_t fail_at : {size_t{0}, size_t{11}}) {
    TrickleSource src(wav, 4, fail_at);
    auto r = run(src, wav);
    ASSERT_FALSE(r.ok()) << fail_at;
    EXPECT_EQ(r.error().display().rfind("I/O error: ", 0), 0u) << r.error().display();
  }
}

}  // namespace
}  // namespace vorlix_core

#include "vorlix/parse.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace vorlix_core {
namespace {

using testing::FailingSource;

// An extractor for driver tests: claims everything and returns a fixed namespace.
class FakeExtractor final : public Extractor {
 public:
  FakeExtractor(const char* name, const char* ns_name, const char* value, bool fail = false)
      : name_(name), ns_name_(ns_name), value_(value), fail_(fail) {}
  const char* name() const override { return name_; }
  bool supports(const ProbeContext&) const override { return true; }
  ExtractResult extract(ByteSource& src, const ProbeContext&) const override {
    // Move away from offset 0 so a missing rewind shows in the next extractor's read.
    uint8_t b[1] = {};
    auto r = src.read(b);
    if (fail_) return Err{ExtractError::malformed("fake", "broken")};
    Namespace ns(ns_name_);
    if (value_) ns.set("v", value_);
    if (r.ok() && *r == 1) ns.set("first", uint64_t{b[0]});
    return ns;
  }

 private:
  const char *name_, *ns_name_, *value_;
  bool fail_;
};

std::vector<std::string> names(const Report& r) {
  std::vector<std::string> out;
  for (const auto& [k, v] : r.namespaces)
    out.push_back(k);
  return out;
}

TEST(Registry, DefaultsInConsultationOrder) {
  const Registry r = Registry::with_defaults();
  std::vector<std::string> got;
  for (const auto& e : r.extractors())
    got.push_back(e->name());
  EXPECT_EQ(got, (std::vector<std::string>{"file", "jpeg", "png", "gif", "bmp", "riff", "exif",
                                           "id3", "mp4", "elf", "pdf", "gzip", "zip"}));
}

// A source whose every read fails, under a stated length: each extractor reports the read's own
// error (EIO), never what its walk made of the missing bytes.
TEST(Registry, EveryExtractorReportsAFailingReadAsTheReadError) {
  const Registry reg = Registry::with_defaults();
  for (const auto& e : reg.extractors()) {
    FailingSource src;
    ProbeContext ctx;
    ctx.length = 64;
    auto r = e->extract(src, ctx);
    ASSERT_FALSE(r.ok()) << e->name();
    const std::string text = r.error().display();
    EXPECT_NE(text.find("(os error 5)"), std::string::npos) << e->name() << ": " << text;
    // The EXIF reader's errors are their texts alone; every other extractor names the kind.
    if (std::string_view(e->name()) != "exif") {
      EXPECT_EQ(text.rfind("I/O error: ", 0), 0u) << text;
    }
  }
}

TEST(Driver, EmptySourceYieldsFileAlone) {
  MemorySource src({});
  const Report r = parse(src, 0);
  EXPECT_EQ(names(r), std::vector<std::string>{"file"});
  EXPECT_TRUE(r.errors.empty());
  const Map& file = r.namespaces.at("file");
  EXPECT_EQ(*file.at("size_bytes").get_if<uint64_t>(), 0u);
  EXPECT_EQ(*file.at("crc32").get_if<std::string>(), "00000000");
  EXPECT_EQ(*file.at("sha256").get_if<std::string>(),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(file.contains("mime_detected"));
  EXPECT_FALSE(file.contains("entropy_bits_per_byte"));
}

TEST(Driver, UnreadableSourceRecordsOneFileError) {
  const std::vector<uint8_t> data = {0xff, 0xd8, 0xff, 0xe0};
  FailingSource src(data, 0);
  const Report r = parse(src, data.size());
  EXPECT_TRUE(r.namespaces.empty());
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].extractor, "file");
  EXPECT_EQ(r.errors[0].message, "I/O error: Input/output error (os error 5)");
}

TEST(Driver, ReadFailingAfterTheHeaderFailsOnlyTheFileExtractor) {
  std::vector<uint8_t> data(200000, 'x');
  FailingSource src(data, 2);  // header read, then one chunk, then failure
  const Report r = parse(src, data.size());
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].extractor, "file");
  EXPECT_EQ(r.errors[0].message.rfind("I/O error: ", 0), 0u);
}

TEST(Driver, RewindsBeforeEachExtractorAndOrdersByName) {
  Registry reg;
  reg.add(std::make_unique<FakeExtractor>("z", "zeta", "1"));
  reg.add(std::make_unique<FakeExtractor>("a", "alpha", "2"));
  const std::vector<uint8_t> data = {42, 43};
  MemorySource src(data);
  const Report r = parse_with(reg, src, data.size());
  EXPECT_EQ(names(r), (std::vector<std::string>{"alpha", "zeta"}));
  EXPECT_EQ(*r.namespaces.at("alpha").at("first").get_if<uint64_t>(), 42u);
  EXPECT_EQ(*r.namespaces.at("zeta").at("first").get_if<uint64_t>(), 42u);
}

TEST(Driver, LastOfEqualNamesWinsWholeAndErrorsKeepRegistryOrder) {
  Registry reg;
  reg.add(std::make_unique<FakeExtractor>("b-fails", "x", nullptr, true));
  reg.add(std::make_unique<FakeExtractor>("first", "same", "early"));
  reg.add(std::make_unique<FakeExtractor>("a-fails", "x", nullptr, true));
  reg.add(std::make_unique<FakeExtractor>("second", "same", "late"));
  MemorySource src({});
  const Report r = parse_with(reg, src, 0);
  ASSERT_EQ(r.namespaces.size(), 1u);
  EXPECT_EQ(*r.namespaces.at("same").at("v").get_if<std::string>(), "late");
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0].extractor, "b-fails");
  EXPECT_EQ(r.errors[1].extractor, "a-fails");
  EXPECT_EQ(r.errors[1].message, "malformed fake: broken");
}

TEST(Driver, EmptyNamespacesLeaveNoTrace) {
  Registry reg;
  reg.add(std::make_unique<FakeExtractor>("empty", "empty", nullptr));
  MemorySource src({});
  const Report r = parse_with(reg, src, 0);
  EXPECT_TRUE(r.namespaces.empty());
  EXPECT_TRUE(r.errors.empty());
}

TEST(Driver, StatedLengthCutsTheHeaderAndTheContent) {
  // A PNG signature cut to 3 stated bytes is not sniffed; the digest covers the 3 bytes, and
  // the bytes beyond them are reported as a change.
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
  MemorySource src(png);
  const Report r = parse(src, 3);
  const Map& file = r.namespaces.at("file");
  EXPECT_EQ(*file.at("size_bytes").get_if<uint64_t>(), 3u);
  EXPECT_FALSE(file.contains("mime_detected"));
  MemorySource first(std::span<const uint8_t>(png).first(3));
  EXPECT_EQ(*file.at("sha256").get_if<std::string>(),
            *parse(first, 3).namespaces.at("file").at("sha256").get_if<std::string>());
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].message, "content changed during the read: expected 3 bytes, found more");
}

}  // namespace
}  // namespace vorlix_core

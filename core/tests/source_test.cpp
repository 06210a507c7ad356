#include "vorlix/source.hpp"

#include "cursor.hpp"
#include "source_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <numeric>

namespace vorlix_core {
namespace {

std::vector<uint8_t> iota_bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(i * 7);
  return v;
}

// A temporary file holding `data`, opened for reading.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& data) {
    char name[] = "/tmp/vorlix-source-XXXXXX";
    fd_ = mkstemp(name);
    unlink(name);
    EXPECT_EQ(write(fd_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    lseek(fd_, 0, SEEK_SET);
  }
  ~TempFile() { close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

TEST(MemorySource, ReadSeekAndEnd) {
  const auto data = iota_bytes(10);
  MemorySource src(data);
  std::vector<uint8_t> buf(4);
  ASSERT_EQ(*src.read(buf), 4u);
  EXPECT_EQ(buf[3], data[3]);
  ASSERT_EQ(*src.seek(-2, Whence::End), 8u);
  ASSERT_EQ(*src.read(buf), 2u);
  EXPECT_EQ(*src.read(buf), 0u);
  EXPECT_FALSE(src.seek(-11, Whence::End).ok());
  // Past the end is allowed and reads nothing.
  ASSERT_EQ(*src.seek(100, Whence::Start), 100u);
  EXPECT_EQ(*src.read(buf), 0u);
}

TEST(ByteSource, ReadExactReportsShortRead) {
  const auto data = iota_bytes(3);
  MemorySource src(data);
  std::vector<uint8_t> buf(4);
  auto r = src.read_exact(buf);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display(), "failed to fill whole buffer");
}

TEST(FileSource, BufferedReadsAndSeeksMatchTheFile) {
  const auto data = iota_bytes(20000);
  TempFile f(data);
  FileSource src(f.fd());
  std::vector<uint8_t> small(10);
  ASSERT_EQ(*src.read(small), 10u);
  // Relative seeks must account for what the buffer already holds.
  ASSERT_EQ(*src.seek(5, Whence::Current), 15u);
  ASSERT_EQ(*src.read(small), 10u);
  EXPECT_EQ(small[0], data[15]);
  ASSERT_EQ(*src.seek(0, Whence::Start), 0u);
  std::vector<uint8_t> all(data.size() + 1);
  ASSERT_TRUE(src.read_exact(std::span(all).first(data.size())).ok());
  EXPECT_EQ(*src.read(std::span(all).last(1)), 0u);
  all.pop_back();
  EXPECT_EQ(all, data);
}

TEST(RandomAccess, MemoryViewsPointIntoTheCallersBytes) {
  const auto data = iota_bytes(300000);
  MemorySource mem(data);
  RandomAccess ra(mem, 0);  // in-memory sources know their own size
  EXPECT_EQ(ra.size(), data.size());
  auto v = ra.read_at(200000, 150000);  // beyond any window, clipped at the end
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(v->data(), data.data() + 200000);
  EXPECT_EQ(v->size(), 100000u);
  EXPECT_EQ(ra.bytes_fetched(), 0u);
}

TEST(RandomAccess, FileReadsMatchTheBytesAtEveryOffsetAndSize) {
  const auto data = iota_bytes(3 * RandomAccess::kWindowBytes + 123);
  TempFile f(data);
  FileSource file(f.fd());
  RandomAccess ra(file, data.size());
  // Offsets around window and page edges, sizes within a window, across two and beyond one.
  const uint64_t offsets[] = {0, 1, 4095, 4096, 65535, 65536, 65537, 131000, data.size() - 5};
  const uint64_t sizes[] = {1, 2, 4, 4097, 65536, 70000, 200000};
  for (uint64_t off : offsets) {
    for (uint64_t n : sizes) {
      SCOPED_TRACE(std::to_string(off) + "+" + std::to_string(n));
      auto v = ra.read_at(off, n);
      ASSERT_TRUE(v.ok());
      const uint64_t want = std::min<uint64_t>(n, data.size() - off);
      ASSERT_EQ(v->size(), want);
      EXPECT_TRUE(std::equal(v->begin(), v->end(), data.begin() + static_cast<ptrdiff_t>(off)));
    }
  }
  EXPECT_TRUE(ra.read_at(data.size(), 10)->empty());
}

TEST(RandomAccess, RepeatedSmallReadsAreServedFromTheWindows) {
  const auto data = iota_bytes(1 << 20);
  TempFile f(data);
  FileSource file(f.fd());
  RandomAccess ra(file, data.size());
  for (int round = 0; round < 3; ++round) {
    for (uint64_t off = 0; off < 4 * 4096; off += 12)
      ASSERT_TRUE(ra.read_at(off, 12).ok());
    ASSERT_TRUE(ra.read_at(900000, 8).ok());  // a value far away, as IFD walks do
  }
  EXPECT_LE(ra.bytes_fetched(), 2 * (RandomAccess::kWindowBytes + RandomAccess::kWindowAlign));
}

TEST(RandomAccess, ATruncatedFileReadsShortAndReaderSeesTheEnd) {
  const auto data = iota_bytes(100000);
  TempFile f(data);
  FileSource file(f.fd());
  RandomAccess ra(file, 500000);  // the length stated before another process cut the file
  auto v = ra.read_at(99990, 100);
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(v->size(), 10u);
  SourceReader r(ra);
  EXPECT_TRUE(r.has(200000, 4));
  EXPECT_FALSE(r.slice(200000, 4).has_value());
  EXPECT_FALSE(r.slice(99990, 20).has_value());
  EXPECT_EQ(r.clamped(99990, 20).size(), 10u);
  EXPECT_FALSE(r.error().has_value());
}

// Every row runs on a fresh cursor over the same ten bytes: in memory, from a file, and from a
// file cut to those ten bytes after a length of 20 was stated, where the missing bytes must fail
// exactly like the end of the data.
TEST(Cursor, ReadsReturnZeroAndTheFailureSticks) {
  const std::vector<uint8_t> data = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 'a', 'b'};
  struct Row {
    const char* what;
    std::function<uint64_t(Cursor&)> steps;
    uint64_t value;
    bool ok;
    uint64_t pos;
  };
  const std::vector<Row> rows = {
      {"sequential reads advance",
       [](Cursor& c) {
         c.u16be();
         return c.u32le();
       },
       0xBC9A7856u, true, 6},
      {"a run-time byte order", [](Cursor& c) { return c.u32(4, Endian::Little); }, 0xF0DEBC9Au,
       true, 0},
      {"a read past the end gives 0",
       [](Cursor& c) {
         c.skip(8);
         return c.u32be();
       },
       0, false, 8},
      {"later good reads keep the failure",
       [](Cursor& c) {
         c.u64be(9);
         return c.u8();
       },
       0x12, false, 1},
      {"a skip past the end does not move",
       [](Cursor& c) {
         c.skip(25);
         return c.pos();
       },
       0, false, 0},
      {"a read at an offset leaves the position",
       [](Cursor& c) {
         c.u8();
         return c.u24be(1);
       },
       0x345678u, true, 1},
      {"bytes are all there or none", [](Cursor& c) { return c.bytes(8, 3).size(); }, 0, false, 0},
      {"tests do not fail the cursor",
       [](Cursor& c) { return c.matches(8, "ab") + c.matches(9, "bc") + c.clamped(8, 5).size(); },
       3, true, 0},
      {"a sub-range has its own flag",
       [](Cursor& c) {
         c.u64be(20);
         Cursor s = c.sub(8, 5);
         const uint16_t v = s.u16be();
         return s.ok() && s.u8() == 0 && !s.ok() ? v : 0;
       },
       0x6162, false, 0},
      {"a part that is not all there is failed",
       [](Cursor& c) { return c.part(4, 4).ok() + 2 * c.part(8, 4).ok(); }, 1, true, 0},
  };
  TempFile f(data);
  FileSource file(f.fd());
  for (const uint64_t stated : {data.size(), size_t{20}}) {
    for (const Row& row : rows) {
      RandomAccess ra(file, stated);
      Cursor from_file{SourceReader(ra)};
      Cursor in_memory(data);
      for (Cursor* c : {&from_file, &in_memory}) {
        if (c == &in_memory && stated != data.size()) continue;
        const std::string what = std::string(row.what) + (c == &in_memory ? " (memory)" : "") +
                                 " stated " + std::to_string(stated);
        EXPECT_EQ(row.steps(*c), row.value) << what;
        EXPECT_EQ(c->ok(), row.ok) << what;
        EXPECT_EQ(c->pos(), row.pos) << what;
      }
      EXPECT_FALSE(ra.error().has_value()) << row.what;
    }
  }
}

TEST(SourceReader, SlicesAndSubRangesOverAFile) {
  const std::vector<uint8_t> data = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 'a', 'b'};
  TempFile f(data);
  FileSource file(f.fd());
  RandomAccess ra(file, data.size());
  SourceReader r(ra);
  auto bytes = [](std::optional<std::span<const uint8_t>> s) {
    return s ? std::vector<uint8_t>(s->begin(), s->end()) : std::vector<uint8_t>{};
  };
  EXPECT_EQ(bytes(r.slice(1, 3)), (std::vector<uint8_t>{0x34, 0x56, 0x78}));
  EXPECT_TRUE(r.matches(8, "ab"));
  EXPECT_FALSE(r.matches(9, "ab"));
  EXPECT_FALSE(r.slice(9, 2).has_value());
  const SourceReader s = r.sub(4, 100);  // clipped at the end
  EXPECT_EQ(s.size(), 6u);
  SourceReader t = s;
  EXPECT_EQ(bytes(t.slice(0, 1)), (std::vector<uint8_t>{0x9A}));
  EXPECT_EQ(bytes(t.slice(4, 2)), (std::vector<uint8_t>{'a', 'b'}));
  EXPECT_FALSE(t.slice(5, 2).has_value());
  EXPECT_EQ(r.sub(50, 4).size(), 0u);
}

TEST(SourceReader, KeepsTheFirstReadFailure) {
  const std::vector<uint8_t> data(100, 1);
  // A source that fails every read, as a file on a failing disk does.
  class Broken final : public ByteSource {
   public:
    IoResult<size_t> read(std::span<uint8_t>) override { return Err{IoError::os(EIO)}; }
    IoResult<uint64_t> seek(int64_t, Whence) override { return uint64_t{0}; }
  } broken;
  RandomAccess ra(broken, data.size());
  SourceReader r(ra);
  EXPECT_FALSE(r.slice(5, 1).has_value());
  ASSERT_TRUE(r.error().has_value());
  EXPECT_EQ(r.error()->os_code(), EIO);
}

TEST(IoError, DisplayTexts) {
  EXPECT_EQ(IoError::os(21).display(), "Is a directory (os error 21)");
  EXPECT_EQ(IoError::fixed("custom").display(), "custom");
}

}  // namespace
}  // namespace vorlix_core

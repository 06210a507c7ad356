#include "vorlix/source.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
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
  std::vector<uint8_t> all;
  ASSERT_EQ(*src.read_to_end(all), data.size());
  EXPECT_EQ(all, data);
}

TEST(Content, ViewsMemoryWithoutCopyAndOwnsFileBytes) {
  const auto data = iota_bytes(100);
  MemorySource mem(data);
  ASSERT_TRUE(mem.seek(10, Whence::Start).ok());
  auto c = Content::read_from(mem);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c->bytes().data(), data.data() + 10);
  EXPECT_EQ(c->size(), 90u);

  TempFile f(data);
  FileSource file(f.fd());
  auto fc = Content::read_from(file);
  ASSERT_TRUE(fc.ok());
  EXPECT_TRUE(std::equal(fc->bytes().begin(), fc->bytes().end(), data.begin(), data.end()));
}

TEST(IoError, DisplayTexts) {
  EXPECT_EQ(IoError::os(21).display(), "Is a directory (os error 21)");
  EXPECT_EQ(IoError::fixed("custom").display(), "custom");
}

}  // namespace
}  // namespace vorlix_core

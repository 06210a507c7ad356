#pragma once
// Helpers shared by the core test suites: sources that misbehave on purpose, the probe context the
// driver would build, a flat rendering of a namespace so that a case can state every field it
// expects, and field lookups that fail an assertion instead of crashing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "limits.hpp"
#include "vorlix/extractor.hpp"
#include "vorlix/source.hpp"
#include "vorlix/value.hpp"

namespace vorlix_core::testing {

// Bitwise CRC-32 (reflected 0xEDB88320): an independent check of the library's answer.
inline uint32_t slow_crc32(std::span<const uint8_t> data) {
  uint32_t c = 0xffffffffu;
  for (uint8_t b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k)
      c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
  }
  return c ^ 0xffffffffu;
}

// Serves `data`, but every read after the first `good_reads` fails with EIO.
class FailingSource final : public ByteSource {
 public:
  FailingSource(std::span<const uint8_t> data, int good_reads) : inner_(data), left_(good_reads) {}
  // Fails every read.
  FailingSource() : FailingSource({}, 0) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override {
    if (left_ <= 0) return Err{IoError::os(EIO)};
    --left_;
    return inner_.read(buf);
  }
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override {
    return inner_.seek(offset, whence);
  }

 private:
  MemorySource inner_;
  int left_;
};

// Not an in-memory source: hands out at most `step` bytes per read, never reads past `fail_at`,
// and fails every read that starts there.
class TrickleSource final : public ByteSource {
 public:
  TrickleSource(const std::vector<uint8_t>& data, size_t step, size_t fail_at = SIZE_MAX)
      : data_(data), step_(step), fail_at_(fail_at) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override {
    if (pos_ >= fail_at_) return Err{IoError::os(EIO)};
    const size_t end = std::min(data_.size(), fail_at_);
    const size_t n = std::min({buf.size(), step_, end - std::min(pos_, end)});
    if (n > 0) std::memcpy(buf.data(), data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override {
    if (whence != Whence::Start || offset < 0) return Err{IoError::fixed("unsupported seek")};
    pos_ = static_cast<size_t>(offset);
    return uint64_t{pos_};
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t step_;
  size_t fail_at_;
  size_t pos_ = 0;
};

// A large file that costs no memory: `head`, then `hole` zero bytes, then `tail`, like a sparse
// file. Not an in-memory source, so walks read it through their windows; counts what they read,
// so a test can tell a walk that reads what it needs from one that reads everything.
class HoleSource final : public ByteSource {
 public:
  HoleSource(std::vector<uint8_t> head, uint64_t hole, std::vector<uint8_t> tail)
      : head_(std::move(head)), hole_(hole), tail_(std::move(tail)) {}
  uint64_t size() const { return head_.size() + hole_ + tail_.size(); }
  uint64_t bytes_read() const { return read_; }

  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override {
    size_t done = 0;
    while (done < buf.size() && offset + done < size()) {
      const uint64_t at = offset + done;
      size_t n;
      if (at < head_.size()) {
        n = std::min<uint64_t>(buf.size() - done, head_.size() - at);
        std::memcpy(buf.data() + done, head_.data() + at, n);
      } else if (at < head_.size() + hole_) {
        n = std::min<uint64_t>(buf.size() - done, head_.size() + hole_ - at);
        std::memset(buf.data() + done, 0, n);
      } else {
        const uint64_t t = at - head_.size() - hole_;
        n = std::min<uint64_t>(buf.size() - done, tail_.size() - t);
        std::memcpy(buf.data() + done, tail_.data() + t, n);
      }
      done += n;
    }
    read_ += done;
    return done;
  }
  IoResult<size_t> read(std::span<uint8_t> buf) override {
    auto r = read_at(pos_, buf);
    if (r) pos_ += *r;
    return r;
  }
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override {
    const int64_t base = whence == Whence::Start     ? 0
                         : whence == Whence::Current ? static_cast<int64_t>(pos_)
                                                     : static_cast<int64_t>(size());
    if (base + offset < 0) return Err{IoError::os(EINVAL)};
    pos_ = static_cast<uint64_t>(base + offset);
    return pos_;
  }

 private:
  std::vector<uint8_t> head_;
  uint64_t hole_;
  std::vector<uint8_t> tail_;
  uint64_t pos_ = 0;
  uint64_t read_ = 0;
};

// As the driver probes: the leading bytes as the header, and the full length.
inline ProbeContext context_for(std::span<const uint8_t> bytes) {
  ProbeContext ctx;
  ctx.header = bytes.first(std::min<size_t>(bytes.size(), limits::kHeaderBytes));
  ctx.length = bytes.size();
  return ctx;
}

// What the driver would get from `extractor` for `bytes` in memory.
inline ExtractResult extract_bytes(const Extractor& extractor, std::span<const uint8_t> bytes) {
  MemorySource src(bytes);
  return extractor.extract(src, context_for(bytes));
}

// `bytes` read from a real file whose stated length is `extra` bytes more than `bytes`, and which
// holds only their first `kept` (all by default). With `extra` above 0, or fewer bytes kept: a file
// cut while it was read.
inline ExtractResult extract_from_file(const Extractor& extractor, std::span<const uint8_t> bytes,
                                       uint64_t extra = 0, size_t kept = SIZE_MAX) {
  FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (!f) return Err{ExtractError::other("no temporary file")};
  kept = std::min(kept, bytes.size());
  EXPECT_EQ(std::fwrite(bytes.data(), 1, kept, f), kept);
  std::fflush(f);
  FileSource src(fileno(f));
  ProbeContext ctx = context_for(bytes);
  ctx.length = bytes.size() + extra;
  auto r = extractor.extract(src, ctx);
  std::fclose(f);
  return r;
}

// The whole namespace as "key=value" pairs in key order.
inline std::string render(const Namespace& ns) {
  std::string out;
  for (const auto& [key, value] : ns.fields()) {
    if (!out.empty()) out += ' ';
    out += key + '=';
    if (auto u = value.get_if<uint64_t>()) {
      out += std::to_string(*u);
    } else if (auto b = value.get_if<bool>()) {
      out += *b ? "true" : "false";
    } else if (auto s = value.get_if<std::string>()) {
      out += '"' + *s + '"';
    } else {
      out += "<unexpected kind>";
    }
  }
  return out;
}

// Lookups that give nothing for an absent key and for a value of another kind alike, so that a
// check on a wrong field fails instead of dereferencing null.
inline const Value* find(const Map& m, std::string_view key) {
  auto it = m.find(key);
  return it == m.end() ? nullptr : &it->second;
}
template <class T>
std::optional<T> field(const Map& m, std::string_view key) {
  const Value* v = find(m, key);
  if (!v || !v->get_if<T>()) return std::nullopt;
  return *v->get_if<T>();
}
// Whether a value is a list as every consumer sees it: a List, or the compact record list.
inline bool is_list(const Value* v) {
  return v && (v->get_if<List>() || v->get_if<RecordList>());
}
// Such a list's elements (a record list read as a List of Map); empty for anything else.
inline List as_list(const Value* v) {
  List out;
  if (!v) return out;
  if (const auto* l = v->get_if<List>()) out = *l;
  if (const auto* r = v->get_if<RecordList>()) {
    out.reserve(r->size());
    for (size_t i = 0; i < r->size(); ++i)
      out.push_back(Value::map(r->record(i)));
  }
  return out;
}

// The maps of a list-of-records field ("segments", "chunks", ...); a missing list fails the test.
inline std::vector<Map> records(const Namespace& ns, std::string_view key) {
  std::vector<Map> out;
  const Value* v = find(ns.fields(), key);
  EXPECT_TRUE(is_list(v)) << key << " missing";
  for (const auto& item : as_list(v)) {
    EXPECT_TRUE(item.get_if<Map>());
    if (item.get_if<Map>()) out.push_back(*item.get_if<Map>());
  }
  return out;
}
inline std::vector<std::string> keys(const Map& m) {
  std::vector<std::string> out;
  for (const auto& [k, v] : m)
    out.push_back(k);
  return out;
}

}  // namespace vorlix_core::testing

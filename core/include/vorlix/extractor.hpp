#pragma once
// What a format extractor is, how it fails, and the ordered set the driver consults.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vorlix/source.hpp"
#include "vorlix/value.hpp"

namespace vorlix_core {

// What supports() and extract() see; built once per parse.
struct ProbeContext {
  std::span<const uint8_t> header;       // at most 8192 leading bytes
  std::optional<std::string_view> mime;  // sniffed type; present together with extension
  std::optional<std::string_view> extension;
  uint64_t length = 0;  // as stated by the caller
  bool hashes = true;   // false: the file extractor skips its content pass
  // Cancellation is not here: a cancelled parse's source fails every read, so walks end at their
  // next one.
};

class ExtractError {
 public:
  struct Malformed {
    const char* format;
    std::string detail;
  };
  struct Other {
    std::string message;
  };

  ExtractError(IoError e) : v_(std::move(e)) {}  // NOLINT: I/O errors convert implicitly
  static ExtractError malformed(const char* format, std::string detail) {
    return ExtractError(Malformed{format, std::move(detail)});
  }
  static ExtractError other(std::string message) { return ExtractError(Other{std::move(message)}); }

  // "I/O error: {}", "malformed {}: {}" or the message itself.
  std::string display() const;

  const std::variant<IoError, Malformed, Other>& variant() const { return v_; }

 private:
  explicit ExtractError(Malformed m) : v_(std::move(m)) {}
  explicit ExtractError(Other o) : v_(std::move(o)) {}
  std::variant<IoError, Malformed, Other> v_;
};

using ExtractResult = Result<Namespace, ExtractError>;

class Extractor {
 public:
  virtual ~Extractor() = default;
  virtual const char* name() const = 0;
  // Decides from the context alone; cheap, never fails.
  virtual bool supports(const ProbeContext& ctx) const = 0;
  // The source is at offset 0 when called.
  virtual ExtractResult extract(ByteSource& src, const ProbeContext& ctx) const = 0;
};

class Registry {
 public:
  // The thirteen default extractors in consultation order.
  static Registry with_defaults();

  void add(std::unique_ptr<Extractor> e) { items_.push_back(std::move(e)); }
  const std::vector<std::unique_ptr<Extractor>>& extractors() const { return items_; }

 private:
  std::vector<std::unique_ptr<Extractor>> items_;
};

}  // namespace vorlix_core

// Registration and the two entry points, parse(path) and parseBytes(buffer).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "convert.hpp"
#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

namespace {

using vorlix_core::Report;

// Closes the descriptor on every path out of parse().
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<JsError> status_error(napi_status s, std::string message) {
  if (s == napi_ok) return std::nullopt;
  return JsError{s, std::move(message)};
}

// Reads a JS string (the caller has checked it is one, or the call fails with the status).
napi_status get_string(napi_env env, napi_value v, std::string& out) {
  size_t len = 0;
  if (auto s = napi_get_value_string_utf8(env, v, nullptr, 0, &len); s != napi_ok) return s;
  out.assign(len + 1, '\0');
  if (auto s = napi_get_value_string_utf8(env, v, out.data(), out.size(), &len); s != napi_ok) {
    return s;
  }
  out.resize(len);
  return napi_ok;
}

// The description of a value that could not be read as a string: "Number 42 ", "Object {..}",
// "function f(..) ". A failure while describing yields that call's status and no message.
std::variant<std::string, napi_status> describe(napi_env env, napi_value v) {
  napi_valuetype t;
  if (auto s = napi_typeof(env, v, &t); s != napi_ok) return s;
  auto coerced = [&](const char* type) -> std::variant<std::string, napi_status> {
    napi_value str;
    if (auto s = napi_coerce_to_string(env, v, &str); s != napi_ok) return s;
    std::string text;
    if (auto s = get_string(env, str, text); s != napi_ok) return s;
    return std::string(type) + " " + text + " ";
  };
  switch (t) {
    case napi_undefined:
      return std::string("Undefined");
    case napi_null:
      return std::string("Null");
    case napi_string:
      return std::string("String");
    case napi_symbol:
      return std::string("Symbol");
    case napi_external:
      return std::string("External");
    case napi_boolean:
      return coerced("Boolean");
    case napi_number:
      return coerced("Number");
    case napi_bigint:
      return coerced("BigInt");
    case napi_object: {
      napi_value global, json, stringify, result;
      if (auto s = napi_get_global(env, &global); s != napi_ok) return s;
      if (auto s = napi_get_named_property(env, global, "JSON", &json); s != napi_ok) return s;
      if (auto s = napi_get_named_property(env, json, "stringify", &stringify); s != napi_ok)
        return s;
      if (auto s = napi_call_function(env, json, stringify, 1, &v, &result); s != napi_ok) return s;
      std::string text;
      if (auto s = get_string(env, result, text); s != napi_ok) return s;
      return "Object " + text;
    }
    case napi_function: {
      napi_value name;
      if (auto s = napi_get_named_property(env, v, "name", &name); s != napi_ok) return s;
      std::string text;
      if (auto s = get_string(env, name, text); s != napi_ok) return s;
      return "function " + (text.empty() ? std::string("anonymous") : text) + "(..) ";
    }
  }
  return std::string("Unknown");
}

// The path argument as UTF-8, or the error to throw.
std::variant<std::string, JsError> path_argument(napi_env env, napi_value v) {
  size_t len = 0;
  const char* prefix = "Failed to convert JavaScript value `";
  napi_status s = napi_get_value_string_utf8(env, v, nullptr, 0, &len);
  std::string path;
  if (s == napi_ok) {
    path.assign(len + 1, '\0');
    s = napi_get_value_string_utf8(env, v, path.data(), path.size(), &len);
    prefix = "Failed to convert napi `";
    if (s == napi_ok) {
      path.resize(len);
      return path;
    }
  }
  auto d = describe(env, v);
  if (auto* failed = std::get_if<napi_status>(&d)) return JsError{*failed, ""};
  return JsError{s, prefix + std::get<std::string>(d) + "` into type `String`"};
}

// The last normal component of the path ("" for a final ".." or a bare root).
std::string file_name(std::string_view path) {
  std::string_view last;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (!part.empty() && part != ".") last = part;
    i = j + 1;
  }
  return last == ".." ? std::string() : std::string(last);
}

// Text after the last dot, unless that dot starts the name (".bashrc" has none).
std::optional<std::string> claimed_extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

struct FileFacts {
  uint64_t size = 0;
  std::optional<uint64_t> modified;
  std::optional<uint64_t> created;
};

// Opens without blocking (a FIFO would otherwise wait for a writer) and refuses what could
// never reach an end: pipes, sockets, devices. Directories open and fail later as reads.
std::variant<int, std::string> open_input(const std::string& path, FileFacts& facts) {
  if (path.find('\0') != std::string::npos) return "file name contained an unexpected NUL byte";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return vorlix_core::IoError::os(errno).display();
  struct statx stx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
    const int err = errno;
    ::close(fd);
    return vorlix_core::IoError::os(err).display();
  }
  if (!S_ISREG(stx.stx_mode) && !S_ISDIR(stx.stx_mode)) {
    ::close(fd);
    return "not a regular file or directory";
  }
  // Back to blocking reads for the file itself.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  facts.size = stx.stx_size;
  if ((stx.stx_mask & STATX_MTIME) && stx.stx_mtime.tv_sec >= 0) {
    facts.modified = static_cast<uint64_t>(stx.stx_mtime.tv_sec);
  }
  if ((stx.stx_mask & STATX_BTIME) && stx.stx_btime.tv_sec >= 0) {
    facts.created = static_cast<uint64_t>(stx.stx_btime.tv_sec);
  }
  return fd;
}

void add_path_facts(Report& report, const std::string& path, const FileFacts& facts) {
  vorlix_core::Namespace ns("file");
  if (auto it = report.namespaces.find("file"); it != report.namespaces.end()) {
    ns.fields() = std::move(it->second);
  }
  const std::string name = file_name(path);
  if (auto ext = claimed_extension(name)) ns.set("extension_claimed", std::move(*ext));
  ns.set("name", std::string_view(name));
  if (facts.modified) ns.set("modified_unix", *facts.modified);
  if (facts.created) ns.set("created_unix", *facts.created);
  report.namespaces.insert_or_assign("file", std::move(ns.fields()));
}

napi_value finish(napi_env env, JsResult r) {
  if (auto* e = std::get_if<JsError>(&r)) {
    throw_error(env, *e);
    return nullptr;
  }
  return std::get<napi_value>(r);
}

napi_value one_argument(napi_env env, napi_callback_info info, bool& ok) {
  size_t argc = 1;
  napi_value arg = nullptr;
  if (auto s = napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr); s != napi_ok) {
    throw_error(env, {s, "Failed to initialize napi function call."});
    ok = false;
    return nullptr;
  }
  if (argc == 0) napi_get_undefined(env, &arg);
  ok = true;
  return arg;
}

napi_value Parse(napi_env env, napi_callback_info info) {
  bool ok = false;
  napi_value arg = one_argument(env, info, ok);
  if (!ok) return nullptr;
  auto path = path_argument(env, arg);
  if (auto* e = std::get_if<JsError>(&path)) {
    throw_error(env, *e);
    return nullptr;
  }
  const std::string& p = std::get<std::string>(path);
  FileFacts facts;
  auto opened = open_input(p, facts);
  if (auto* why = std::get_if<std::string>(&opened)) {
    throw_error(env, {napi_generic_failure, p + ": " + *why});
    return nullptr;
  }
  Report report;
  {
    Fd fd(std::get<int>(opened));
    vorlix_core::FileSource source(fd.get());
    report = vorlix_core::parse(source, facts.size);
  }
  add_path_facts(report, p, facts);
  return finish(env, report_to_js(env, report));
}

napi_value ParseBytes(napi_env env, napi_callback_info info) {
  bool ok = false;
  napi_value arg = one_argument(env, info, ok);
  if (!ok) return nullptr;
  napi_ref ref = nullptr;
  if (auto s = napi_create_reference(env, arg, 1, &ref); s != napi_ok) {
    throw_error(env, {s, "Failed to create reference from Buffer"});
    return nullptr;
  }
  void* data = nullptr;
  size_t length = 0;
  auto release = [&] {
    uint32_t count = 0;
    napi_reference_unref(env, ref, &count);
    napi_delete_reference(env, ref);
  };
  if (auto s = napi_get_buffer_info(env, arg, &data, &length); s != napi_ok) {
    release();
    throw_error(env, {s, "Failed to get Buffer pointer and length"});
    return nullptr;
  }
  const std::span<const uint8_t> bytes(static_cast<const uint8_t*>(data), data ? length : 0);
  vorlix_core::MemorySource source(bytes);
  Report report = vorlix_core::parse(source, bytes.size());
  release();
  return finish(env, report_to_js(env, report));
}

std::optional<JsError> export_function(napi_env env, napi_value exports, const char* js_name,
                                       const char* internal_name, napi_callback cb) {
  napi_value fn;
  if (auto e = status_error(napi_create_function(env, js_name, NAPI_AUTO_LENGTH, cb, nullptr, &fn),
                            std::string("Failed to register function `") + internal_name + "`")) {
    return e;
  }
  return status_error(napi_set_named_property(env, exports, js_name, fn),
                      std::string("Failed to register export `") + js_name + "`");
}

}  // namespace

}  // namespace vorlix_node

NAPI_MODULE_INIT() {
  using namespace vorlix_node;
  for (auto [js, internal, cb] : {std::tuple{"parse", "parse", &Parse},
                                  std::tuple{"parseBytes", "parse_bytes", &ParseBytes}}) {
    if (auto e = export_function(env, exports, js, internal, cb)) {
      throw_error(env, *e);
      return nullptr;
    }
  }
  return exports;
}

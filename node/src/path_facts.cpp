#include "path_facts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "text.hpp"

namespace vorlix_node {

namespace {

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

}  // namespace

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

void add_path_facts(vorlix_core::Report& report, const std::string& path, const FileFacts& facts) {
  vorlix_core::Namespace ns("file");
  if (auto it = report.namespaces.find("file"); it != report.namespaces.end()) {
    ns.fields() = std::move(it->second);
  }
  // Name bytes that are not UTF-8 follow the lossy-text rule; "." survives it, so the
  // extension is the lossy text of the extension's bytes.
  const std::string name = vorlix_core::utf8_lossy(vorlix_core::as_bytes(file_name(path)));
  if (auto ext = claimed_extension(name)) ns.set("extension_claimed", std::move(*ext));
  ns.set("name", std::string_view(name));
  if (facts.modified) ns.set("modified_unix", *facts.modified);
  if (facts.created) ns.set("created_unix", *facts.created);
  report.namespaces.insert_or_assign("file", std::move(ns.fields()));
}

}  // namespace vorlix_node

// Replays saved inputs through a fuzz entry point without libFuzzer, so that every regression
// kept under fuzz/regressions/ runs with the ordinary tests. Arguments are files or folders
// (walked recursively); the inputs run in name order, each named before it runs so that a crash
// points at its file. Finding no input at all is a failure: the regressions must be there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool collect(const fs::path& arg, std::vector<fs::path>& out) {
  std::error_code ec;
  if (fs::is_regular_file(arg, ec)) {
    out.push_back(arg);
    return true;
  }
  if (!fs::is_directory(arg, ec)) return false;
  for (fs::recursive_directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) out.push_back(it->path());
  }
  return !ec;
}

bool read_all(const fs::path& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!collect(argv[i], inputs)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  std::vector<uint8_t> bytes;
  for (const fs::path& path : inputs) {
    std::printf("replaying %s\n", path.string().c_str());
    std::fflush(stdout);
    if (!read_all(path, bytes)) {
      std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}

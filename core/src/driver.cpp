#include <algorithm>
#include <exception>
#include <new>
#include <span>
#include <vector>

#include "cancellable_source.hpp"
#include "limits.hpp"
#include "sniff.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {

namespace {

bool selected(const ParseOptions& options, std::string_view name) {
  if (!options.extractors) return true;
  const auto& names = *options.extractors;
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A throwing extractor costs only its own namespace: the others still run.
ExtractResult guarded_extract(const Extractor& extractor, ByteSource& source,
                              const ProbeContext& ctx) {
  try {
    return extractor.extract(source, ctx);
  } catch (const std::bad_alloc&) {
    return Err{ExtractError::other("out of memory")};
  } catch (const std::exception& e) {
    return Err{ExtractError::other(e.what())};
  } catch (...) {
    return Err{ExtractError::other("unknown failure")};
  }
}

}  // namespace

Report parse_with(const Registry& registry, ByteSource& caller_source, uint64_t length,
                  const ParseOptions& options) {
  CancellableSource source(caller_source, options.cancel);

  // One read only: a short read is a short header, never retried. Bytes in memory are used in
  // place, as that one read would have copied them.
  const auto header_len = static_cast<size_t>(std::min(length, limits::kHeaderBytes));
  std::vector<uint8_t> header_copy;
  std::span<const uint8_t> header;
  const auto memory = source.memory();
  if (memory && !source.cancelled()) {
    header = memory->first(std::min(header_len, memory->size()));
  } else {
    header_copy.resize(header_len);
    (void)source.seek(0, Whence::Start);
    if (!header_copy.empty()) {
      auto n = source.read(header_copy);
      header_copy.resize(n ? std::min(*n, header_copy.size()) : 0);
    }
    header = header_copy;
  }

  ProbeContext ctx;
  ctx.header = header;
  ctx.length = length;
  ctx.hashes = options.hashes;
  if (auto type = sniff(header)) {
    ctx.mime = type->mime;
    ctx.extension = type->extension;
  }

  Report report;
  std::vector<Namespace> results;
  results.reserve(registry.extractors().size());
  for (const auto& extractor : registry.extractors()) {
    if (source.cancelled()) break;
    if (!selected(options, extractor->name()) || !extractor->supports(ctx)) continue;
    (void)source.seek(0, Whence::Start);
    auto r = guarded_extract(*extractor, source, ctx);
    if (!r) {
      report.errors.push_back({extractor->name(), r.error().display()});
      continue;
    }
    if (r->error()) report.errors.push_back({extractor->name(), *r->error()});
    if (!r->empty()) results.push_back(std::move(r).value());
  }
  // Whatever ran after the flag was set saw failing reads: the report would mislead.
  if (source.cancelled()) {
    report.cancelled = true;
    return report;
  }

  // Later namespaces of the same name replace earlier ones whole.
  for (auto& ns : results)
    report.namespaces.insert_or_assign(ns.name(), std::move(ns.fields()));
  return report;
}

}  // namespace vorlix_core

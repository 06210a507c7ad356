#include <algorithm>

#include "limits.hpp"
#include "sniff.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {

Report parse_with(const Registry& registry, ByteSource& source, uint64_t length) {
  // One read only: a short read is a short header, never retried.
  std::vector<uint8_t> header(static_cast<size_t>(std::min(length, limits::kHeaderBytes)));
  (void)source.seek(0, Whence::Start);
  if (!header.empty()) {
    auto n = source.read(header);
    header.resize(n ? std::min(*n, header.size()) : 0);
  }

  ProbeContext ctx;
  ctx.header = header;
  ctx.length = length;
  if (auto type = sniff(header)) {
    ctx.mime = type->mime;
    ctx.extension = type->extension;
  }

  Report report;
  std::vector<Namespace> results;
  for (const auto& extractor : registry.extractors()) {
    if (!extractor->supports(ctx)) continue;
    (void)source.seek(0, Whence::Start);
    auto r = extractor->extract(source, ctx);
    if (!r) {
      report.errors.push_back({extractor->name(), r.error().display()});
    } else if (!r->empty()) {
      results.push_back(std::move(r).value());
    }
  }

  // Later namespaces of the same name replace earlier ones whole.
  for (auto& ns : results)
    report.namespaces.insert_or_assign(ns.name(), std::move(ns.fields()));
  return report;
}

}  // namespace vorlix_core

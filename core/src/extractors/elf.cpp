// ELF: only the first 20 bytes are read (identification, file type and machine).
#include <array>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"

namespace vorlix_core::extractors {

namespace {

struct CodeName {
  uint16_t code;
  const char* name;
};

constexpr std::array<CodeName, 4> kOsAbis{{
    {0, "System V"},
    {3, "Linux"},
    {6, "Solaris"},
    {9, "FreeBSD"},
}};

constexpr std::array<CodeName, 4> kFileTypes{{
    {1, "relocatable"},
    {2, "executable"},
    {3, "shared object"},
    {4, "core dump"},
}};

constexpr std::array<CodeName, 5> kMachines{{
    {3, "x86"},
    {40, "ARM"},
    {62, "x86-64"},
    {183, "AArch64"},
    {243, "RISC-V"},
}};

template <size_t N>
const char* name_of(const std::array<CodeName, N>& table, uint16_t code) {
  for (const auto& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return "other";
}

// e_ident[EI_NIDENT] plus e_type and e_machine.
constexpr size_t kElfPrefix = 20;
constexpr uint64_t kClass = 4;
constexpr uint64_t kData = 5;
constexpr uint64_t kOsAbi = 7;
constexpr uint64_t kType = 16;
constexpr uint64_t kMachine = 18;

}  // namespace

const char* ElfExtractor::name() const {
  return "elf";
}

bool ElfExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kElfMagic);
}

ExtractResult ElfExtractor::extract(ByteSource& src, const ProbeContext&) const {
  return walk_exact<kElfPrefix>(src, [](Cursor& c) -> ExtractResult {
    // EI_DATA 1 is little-endian; every other value, valid or not, reads as big-endian.
    const Endian order = c.u8(kData) == 1 ? Endian::Little : Endian::Big;
    Namespace ns("elf");
    ns.set("class", c.u8(kClass) == 2 ? "64-bit" : "32-bit");
    ns.set("endianness", order == Endian::Little ? "little" : "big");
    ns.set("abi", name_of(kOsAbis, c.u8(kOsAbi)));
    ns.set("type", name_of(kFileTypes, c.u16(kType, order)));
    ns.set("machine", name_of(kMachines, c.u16(kMachine, order)));
    return ns;
  });
}

}  // namespace vorlix_core::extractors

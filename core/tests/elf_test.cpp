// ELF identification over hand-built bytes.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::ElfExtractor;
using ByteVec = std::vector<uint8_t>;

using testing::context_for;
using testing::FailingSource;

ExtractResult extract(const Extractor& e, const ByteVec& bytes) {
  MemorySource src(bytes);
  return e.extract(src, context_for(bytes));
}

std::string text(const Namespace& ns, const char* key) {
  return *ns.fields().at(key).get_if<std::string>();
}

// The 20 bytes the ELF extractor reads.
using ElfIdent = std::array<uint8_t, 20>;

ElfIdent elf_ident(uint8_t cls, uint8_t data, uint8_t osabi, uint8_t t0, uint8_t t1, uint8_t m0,
                   uint8_t m1) {
  return {0x7F, 'E',   'L', 'F',              // magic
          cls,  data,                         // EI_CLASS, EI_DATA
          1,    osabi,                        // EI_VERSION, EI_OSABI
          0,    0,     0,   0,   0, 0, 0, 0,  // ABI version, padding
          t0,   t1,                           // e_type, in the file's byte order
          m0,   m1};                          // e_machine, in the file's byte order
}

TEST(Elf, SupportsNeedsTheMagic) {
  const ElfExtractor elf;
  EXPECT_STREQ(elf.name(), "elf");
  const ByteVec magic = {0x7F, 'E', 'L', 'F'};
  EXPECT_TRUE(elf.supports(context_for(magic)));
  const ByteVec short_magic = {0x7F, 'E', 'L'};
  EXPECT_FALSE(elf.supports(context_for(short_magic)));
  const ByteVec other = {0x7F, 'E', 'L', 'G'};
  EXPECT_FALSE(elf.supports(context_for(other)));
}

TEST(Elf, IdentificationNames) {
  struct Case {
    const char* what;
    ElfIdent ident;
    const char *cls, *endianness, *abi, *type, *machine;
  };
  const Case cases[] = {
      {"x86-64 shared library", elf_ident(2, 1, 0, 3, 0, 62, 0), "64-bit", "little", "System V",
       "shared object", "x86-64"},
      {"big-endian ARM", elf_ident(1, 2, 0, 0, 2, 0, 40), "32-bit", "big", "System V", "executable",
       "ARM"},
      {"ARM bytes read little-endian are 10240", elf_ident(1, 1, 0, 2, 0, 0, 40), "32-bit",
       "little", "System V", "executable", "other"},
      {"Linux relocatable x86", elf_ident(1, 1, 3, 1, 0, 3, 0), "32-bit", "little", "Linux",
       "relocatable", "x86"},
      {"Solaris core dump", elf_ident(2, 2, 6, 0, 4, 0, 183), "64-bit", "big", "Solaris",
       "core dump", "AArch64"},
      {"FreeBSD RISC-V", elf_ident(2, 1, 9, 2, 0, 243, 0), "64-bit", "little", "FreeBSD",
       "executable", "RISC-V"},
      {"unknown ABI, no file type", elf_ident(2, 1, 255, 0, 0, 62, 0), "64-bit", "little", "other",
       "other", "x86-64"},
      {"processor-specific type", elf_ident(2, 1, 0, 0x00, 0xFE, 0, 0), "64-bit", "little",
       "System V", "other", "other"},
      {"type FFFF", elf_ident(2, 2, 0, 0xFF, 0xFF, 0, 62), "64-bit", "big", "System V", "other",
       "x86-64"},
      {"class and data 0 or invalid", elf_ident(0, 0, 0, 0, 1, 0, 3), "32-bit", "big", "System V",
       "relocatable", "x86"},
      {"class 3, data 7", elf_ident(3, 7, 0, 0, 3, 0, 0), "32-bit", "big", "System V",
       "shared object", "other"},
  };
  for (const auto& c : cases) {
    const ByteVec bytes(c.ident.begin(), c.ident.end());
    auto r = extract(ElfExtractor(), bytes);
    ASSERT_TRUE(r.ok()) << c.what;
    EXPECT_EQ(text(*r, "class"), c.cls) << c.what;
    EXPECT_EQ(text(*r, "endianness"), c.endianness) << c.what;
    EXPECT_EQ(text(*r, "abi"), c.abi) << c.what;
    EXPECT_EQ(text(*r, "type"), c.type) << c.what;
    EXPECT_EQ(text(*r, "machine"), c.machine) << c.what;
    EXPECT_EQ(r->fields().size(), 5u) << c.what;
  }
}

TEST(Elf, ReadsExactlyTwentyBytes) {
  const ElfIdent ident = elf_ident(2, 1, 0, 2, 0, 62, 0);
  ByteVec bytes(ident.begin(), ident.end());
  bytes.resize(4096, 0xEE);
  MemorySource src(bytes);
  auto r = ElfExtractor().extract(src, context_for(bytes));
  ASSERT_TRUE(r.ok());
  auto pos = src.seek(0, Whence::Current);
  ASSERT_TRUE(pos.ok());
  EXPECT_EQ(*pos, 20u);
}

TEST(Elf, ShortFilesFailWithAnIoError) {
  const ElfIdent ident = elf_ident(2, 1, 0, 2, 0, 62, 0);
  for (size_t n = 0; n < ident.size(); ++n) {
    const ByteVec cut(ident.begin(), ident.begin() + static_cast<long>(n));
    auto r = extract(ElfExtractor(), cut);
    ASSERT_FALSE(r.ok()) << n;
    EXPECT_EQ(r.error().display(), "I/O error: failed to fill whole buffer") << n;
  }
  FailingSource src;
  auto r = ElfExtractor().extract(src, ProbeContext{});
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().display().find("(os error 5)"), std::string::npos);
}

}  // namespace
}  // namespace vorlix_core
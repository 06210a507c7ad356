// The TIFF header and the IFD walk. Problems inside IFDs are collected, never fatal: the walk
// keeps every field it could read, as cameras and editors leave many blocks slightly broken.
//
// Pointers may lead to the same IFD many times. Reading it again at each pointer would yield the
// same fields once more, and only the last reading of each field counts (a later field of the
// same tag in the same IFD number and context wins). So each IFD is read once per IFD number
// and context, at the place of the last pointer to it: sub-IFDs are read after their parent, and
// every field carries its position in the depth-first walk (`seq`), which decides both which
// field of a tag wins and the order of fields(), whatever order they are read in.
//
// Distinct sub-IFDs may overlap, and an entry position shared by two of one IFD number and
// context gives the same field in both: the one whose IFD stands later in the walk wins. So
// sub-IFDs are read latest first, and each entry position once per IFD number and context.
//
// A chain that loops leads back to an IFD read under an earlier number: what follows from it
// (its fields, its sub-IFDs, its next IFD) is what followed then, so that number's fields and
// problems are copied under the new number instead of being read again. Work thus follows the
// distinct entry positions read (capped, see limits.hpp), and values are never read here at
// all: only rendering reads them, under the report's text caps.
#include "exif/reader.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "cursor.hpp"
#include "limits.hpp"

namespace vorlix_core::exif {
namespace {

constexpr uint32_t kUnitSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

constexpr std::string_view kIfdErrorMessages[] = {
    "Truncated IFD count",      "Truncated IFD",       "Truncated field value",
    "Invalid pointer",          "Unexpected next IFD", "Truncated next IFD offset",
    "Limit the IFD count to 8", "Work limit reached",
};
static_assert(std::size(kIfdErrorMessages) == static_cast<size_t>(IfdError::WorkLimit) + 1);

// Pointer tags are pointers only in the context that defines them.
struct PointerTag {
  Tag tag;
  Context target;
};
constexpr PointerTag kPointerTags[] = {
    {{Context::Tiff, 0x8769}, Context::Exif},
    {{Context::Tiff, 0x8825}, Context::Gps},
    {{Context::Exif, 0xA005}, Context::Interop},
};

const PointerTag* find_pointer(Tag tag) {
  for (const PointerTag& p : kPointerTags) {
    if (p.tag == tag) return &p;
  }
  return nullptr;
}

// A position in the depth-first walk: IFD number, then the entry index at each level (IFD 0..7,
// Exif/GPS, Interop), each 17 bits wide and counted from 1 so that a parent sorts before its
// children. Entry counts are 16-bit, so no index overflows its bits.
constexpr uint64_t ifd_seq(uint64_t ifd) {
  return ifd << 51;
}
constexpr int kLevelShift[] = {34, 17, 17, 0};  // by Context
constexpr uint64_t kLastIndex = 0x1FFFE;        // after every entry of an IFD

uint64_t entry_seq(uint64_t time, Context ctx, uint64_t index) {
  return time | ((index + 1) << kLevelShift[static_cast<size_t>(ctx)]);
}

uint32_t field_key(uint8_t ifd, Tag tag) {
  return (uint32_t{ifd} << 18) | (uint32_t{static_cast<uint8_t>(tag.context)} << 16) | tag.number;
}

// An IFD to read under a sub-IFD context, at the place of the last pointer to it.
struct SubIfd {
  uint32_t offset;
  Context ctx;
  uint64_t time;
};

// The entry positions read so far for one IFD number and context, as runs [begin, end) of
// positions 12 bytes apart. Overlapping IFDs whose offsets differ by a multiple of 12 share their
// entries; the runs give the parts of a new IFD that no earlier one covered.
class ReadEntries {
 public:
  // Runs of [begin, end) not read yet, in order; the range is then counted as read.
  std::vector<std::pair<uint64_t, uint64_t>> take(uint64_t begin, uint64_t end) {
    std::vector<std::pair<uint64_t, uint64_t>> same_phase;
    for (const auto& r : runs_) {
      if (r.first % 12 == begin % 12 && r.first < end && r.second > begin) same_phase.push_back(r);
    }
    std::sort(same_phase.begin(), same_phase.end());
    std::vector<std::pair<uint64_t, uint64_t>> fresh;
    uint64_t at = begin;
    for (const auto& r : same_phase) {
      if (r.first > at) fresh.emplace_back(at, r.first);
      at = std::max(at, r.second);
    }
    if (at < end) fresh.emplace_back(at, end);
    if (begin < end) runs_.emplace_back(begin, end);
    return fresh;
  }

 private:
  std::vector<std::pair<uint64_t, uint64_t>> runs_;
};

}  // namespace

struct Exif::Owned {
  explicit Owned(std::vector<uint8_t> b) : bytes(std::move(b)), src(bytes), ra(src, bytes.size()) {}
  std::vector<uint8_t> bytes;
  MemorySource src;
  RandomAccess ra;
};

Exif::Exif(Exif&&) noexcept = default;
Exif& Exif::operator=(Exif&&) noexcept = default;
Exif::~Exif() = default;

class Walker {
 public:
  Walker(Exif& out, SourceReader r)
      : out_(out),
        r_(r),
        endian_(out.endian_),
        visit_base_(limits::kExifEntryVisitsBase + limits::kExifEntryVisitsPerByte * r.size()) {
    // Room for the fields a small block can hold, up to the scanned set's size, at once.
    slots_.reserve(static_cast<size_t>(std::min<uint64_t>(kScannedSlots, r.size() / 12 + 1)));
  }

  void walk_chain(uint32_t first) {
    uint32_t offset = first;
    std::vector<ChainIfd> done;
    for (uint32_t ifd = 0; offset != 0 && !stopped_; ++ifd) {
      if (ifd >= limits::kExifMaxIfds) {
        add_error(ifd_seq(ifd), IfdError::IfdCountLimit);
        return;
      }
      // Every field so far can be reported: any further one is past the cap.
      at_field_cap_ = slots_.size() >= limits::kExifMaxFields;
      const auto n = static_cast<uint8_t>(ifd);
      auto same = std::find_if(done.begin(), done.end(),
                               [&](const ChainIfd& c) { return c.offset == offset; });
      if (same != done.end()) {
        copy_ifd(*same, n);
        offset = same->next;
        continue;
      }
      ChainIfd c{offset, 0, slots_.size(), 0, errors_.size(), 0};
      std::vector<SubIfd> subs;
      auto next = read_ifd(offset, Context::Tiff, n, ifd_seq(ifd), &subs);
      walk_subs(std::move(subs), n);
      if (!next || stopped_) return;
      c.next = offset = *next;
      c.slots_end = slots_.size();
      c.errors_end = errors_.size();
      done.push_back(c);
    }
  }

  void finish() {
    std::sort(slots_.begin(), slots_.end(),
              [](const Slot& a, const Slot& b) { return a.seq < b.seq; });
    out_.fields_.reserve(slots_.size());
    for (const Slot& s : slots_)
      out_.fields_.push_back(s.field);
    out_.index_.resize(out_.fields_.size());
    for (uint32_t i = 0; i < out_.index_.size(); ++i)
      out_.index_[i] = i;
    const auto& fields = out_.fields_;
    std::sort(out_.index_.begin(), out_.index_.end(), [&](uint32_t a, uint32_t b) {
      return field_key(fields[a].ifd, fields[a].tag) < field_key(fields[b].ifd, fields[b].tag);
    });
    std::stable_sort(errors_.begin(), errors_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : errors_)
      out_.errors_.push_back(e.second);
    out_.entries_read_ = entries_read_;
  }

 private:
  struct Slot {
    Field field;
    uint64_t seq;
  };
  static constexpr size_t kScannedSlots = 64;
  static constexpr uint64_t kScannedVisits = 4096;
  static constexpr uint64_t kWindowEntries = 1024;

  // A chain IFD read in full, and where its IFD number's fields and problems lie: the walk reads
  // one IFD number at a time, so they are consecutive.
  struct ChainIfd {
    uint32_t offset;
    uint32_t next;
    size_t slots_begin, slots_end;
    size_t errors_begin, errors_end;
  };

  // IFD number `ifd` gets what the chain IFD `c` gave its own number.
  void copy_ifd(const ChainIfd& c, uint8_t ifd) {
    constexpr uint64_t kWithinIfd = ifd_seq(1) - 1;
    for (size_t i = c.slots_begin; i < c.slots_end && !stopped_; ++i) {
      Slot s = slots_[i];
      s.field.ifd = ifd;
      add_field((s.seq & kWithinIfd) | ifd_seq(ifd), s.field);
    }
    for (size_t i = c.errors_begin; i < c.errors_end; ++i)
      add_error((errors_[i].first & kWithinIfd) | ifd_seq(ifd), errors_[i].second);
  }

  // IFD 0..N's sub-IFDs, then theirs, each read once at the place of the last pointer to it,
  // latest first: an entry position that a later one of the same context read has already given
  // its field there, and is skipped.
  void walk_subs(std::vector<SubIfd> level, uint8_t ifd) {
    ReadEntries read[4];  // by Context
    for (int depth = 0; depth < 2 && !level.empty(); ++depth) {
      std::sort(level.begin(), level.end(),
                [](const SubIfd& a, const SubIfd& b) { return a.time > b.time; });
      std::vector<SubIfd> next_level;
      for (const SubIfd& s : level) {
        if (stopped_) return;
        auto next =
            read_ifd(s.offset, s.ctx, ifd, s.time, &next_level, &read[static_cast<size_t>(s.ctx)]);
        if (next && *next != 0) {
          add_error(entry_seq(s.time, s.ctx, kLastIndex), IfdError::UnexpectedNextIfd);
        }
      }
      level = std::move(next_level);
    }
  }

  // Reads one IFD: its fields are kept, pointers to sub-IFDs noted in `pointers`; entry positions
  // that `read` holds are skipped. Returns its next-IFD offset, or nothing when it could not be
  // read to its end.
  std::optional<uint32_t> read_ifd(uint32_t offset, Context ctx, uint8_t ifd, uint64_t time,
                                   std::vector<SubIfd>* pointers, ReadEntries* read = nullptr) {
    Cursor head = r_.part(offset, 2);
    const uint16_t count = head.u16(endian_);
    if (!head.ok()) {
      add_error(time, IfdError::TruncatedIfdCount);
      return std::nullopt;
    }
    const uint64_t first = uint64_t{offset} + 2;
    // The entries that lie wholly in the block: the first one past its end cuts the IFD.
    const uint64_t fit =
        std::min<uint64_t>(count, r_.size() > first ? (r_.size() - first) / 12 : 0);
    const uint64_t end = first + 12 * fit;
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    if (read) {
      runs = read->take(first, end);
    } else {
      runs.emplace_back(first, end);
    }
    for (const auto& [run_begin, run_end] : runs) {
      for (uint64_t pos = run_begin; pos < run_end;) {
        // Entries are decoded from a window of the block, taken again after a value is read.
        const uint64_t want = std::min<uint64_t>((run_end - pos) / 12, kWindowEntries);
        Cursor w = r_.part(pos, 12 * want);
        if (!w.ok()) w = r_.part(pos, 12);
        if (!w.ok()) {
          add_error(entry_seq(time, ctx, (pos - first) / 12), IfdError::TruncatedIfd);
          return std::nullopt;
        }
        // The window holds whole entries, so no read in it fails.
        bool moved = false;
        for (; w.remaining() != 0 && !moved; pos += 12) {
          if (entries_read_ >= visit_allowance()) return stop();
          ++entries_read_;
          const Tag tag{ctx, w.u16(endian_)};
          const uint16_t type_code = w.u16(endian_);
          const uint32_t n = w.u32(endian_);
          const uint32_t value_offset = w.u32(endian_);
          const uint64_t seq = entry_seq(time, ctx, (pos - first) / 12);
          if (!read_entry(pos, tag, type_code, n, value_offset, ifd, seq, pointers, moved)) {
            return stop();
          }
        }
      }
    }
    if (fit < count) {
      add_error(entry_seq(time, ctx, fit), IfdError::TruncatedIfd);
      return std::nullopt;
    }
    Cursor tail = r_.part(end, 4);
    const uint32_t next = tail.u32(endian_);
    if (!tail.ok()) {
      add_error(entry_seq(time, ctx, count), IfdError::TruncatedNextIfdOffset);
      return std::nullopt;
    }
    return next;
  }

  // False when the walk must stop. `read` is set when the block was read meanwhile.
  bool read_entry(uint64_t pos, Tag tag, uint16_t type_code, uint32_t count, uint32_t value_offset,
                  uint8_t ifd, uint64_t seq, std::vector<SubIfd>* pointers, bool& read) {
    const uint64_t byte_size = uint64_t{unit_size(type_code)} * count;
    uint64_t value_pos = pos + 8;
    if (byte_size > 4) {
      read = true;
      value_pos = value_offset;
      // Reading the last byte checks the whole range, and also that a file that shrank since its
      // length was taken ends the block where its data end.
      if (!r_.part(value_pos + byte_size - 1, 1).ok()) {
        add_error(seq, IfdError::TruncatedFieldValue);
        return true;
      }
    }
    const PointerTag* pointer = find_pointer(tag);
    if (!pointer) {
      add_field(seq, Field{tag, ifd, type_code, count, value_pos});
      return !stopped_;
    }
    read = true;
    ValueView v(type_code, count, r_.sub(value_pos, byte_size), endian_, value_pos);
    uint32_t target = 0;
    if (!v.first_uint(target) || !pointers) {
      add_error(seq, IfdError::InvalidPointer);
      return true;
    }
    return note_pointer(*pointers, SubIfd{target, pointer->target, seq});
  }

  // The last pointer to an IFD decides when it is read, whatever the order pointers are met in.
  // Real blocks have one Exif, GPS and Interop IFD each; more distinct sub-IFDs than the limit
  // stop the walk.
  bool note_pointer(std::vector<SubIfd>& pointers, SubIfd p) {
    auto same = [&](const SubIfd& s) { return s.offset == p.offset && s.ctx == p.ctx; };
    if (last_pointer_ < pointers.size() && same(pointers[last_pointer_])) {
      pointers[last_pointer_].time = std::max(pointers[last_pointer_].time, p.time);
      return true;
    }
    for (size_t i = 0; i < pointers.size(); ++i) {
      if (same(pointers[i])) {
        pointers[i].time = std::max(pointers[i].time, p.time);
        last_pointer_ = i;
        return true;
      }
    }
    if (pointers.size() >= limits::kExifMaxSubIfds) {
      stop();
      return false;
    }
    last_pointer_ = pointers.size();
    pointers.push_back(p);
    return true;
  }

  void add_field(uint64_t seq, const Field& f) {
    if (at_field_cap_) {
      stop();
      return;
    }
    const uint32_t key = field_key(f.ifd, f.tag);
    // A typical block has a few dozen fields: a scan of them is cheaper than a table. Larger
    // walks switch to a table indexed by key once, so a crafted block costs no scan per entry.
    if (!by_key_ && slots_.size() < kScannedSlots && entries_read_ < kScannedVisits) {
      for (Slot& s : slots_) {
        if (field_key(s.field.ifd, s.field.tag) == key) {
          if (s.seq < seq) s = Slot{f, seq};
          return;
        }
      }
      slots_.push_back(Slot{f, seq});
      return;
    }
    if (!by_key_) {
      // Zeroed lazily by the system: only the pages of keys in use are ever touched.
      by_key_.reset(static_cast<uint32_t*>(std::calloc(kKeys, sizeof(uint32_t))));
      if (!by_key_) {
        stop();
        return;
      }
      for (uint32_t i = 0; i < slots_.size(); ++i)
        by_key_[field_key(slots_[i].field.ifd, slots_[i].field.tag)] = i + 1;
    }
    uint32_t& at = by_key_[key];
    if (at == 0) {
      slots_.push_back(Slot{f, seq});
      at = static_cast<uint32_t>(slots_.size());
    } else if (slots_[at - 1].seq < seq) {
      slots_[at - 1] = Slot{f, seq};
    }
  }

  // Entries the walk may visit so far (see limits.hpp).
  uint64_t visit_allowance() const {
    return visit_base_ + limits::kExifEntryVisitsPerField *
                             std::min<uint64_t>(slots_.size(), limits::kExifMaxFields);
  }

  void add_error(uint64_t seq, IfdError e) {
    if (errors_.size() < limits::kExifMaxKeptErrors) errors_.emplace_back(seq, e);
  }

  std::nullopt_t stop() {
    if (stopped_) return std::nullopt;
    stopped_ = true;
    // Always reported, and last: nothing after it was read.
    errors_.emplace_back(UINT64_MAX, IfdError::WorkLimit);
    return std::nullopt;
  }

  Exif& out_;
  // Every read of the walk is a part() with a flag of its own: a piece that cannot be read is a
  // problem of one IFD or field, never the end of the walk.
  Cursor r_;
  Endian endian_;
  uint64_t entries_read_ = 0;
  uint64_t visit_base_ = 0;
  bool stopped_ = false;
  bool at_field_cap_ = false;
  size_t last_pointer_ = 0;
  std::vector<Slot> slots_;
  // Slot index + 1 by field_key(), or 0.
  struct Free {
    void operator()(uint32_t* p) const { std::free(p); }
  };
  static constexpr size_t kKeys = size_t{limits::kExifMaxIfds} << 18;
  std::unique_ptr<uint32_t[], Free> by_key_;
  std::vector<std::pair<uint64_t, IfdError>> errors_;
};

uint32_t unit_size(uint16_t type_code) {
  return type_code < std::size(kUnitSizes) ? kUnitSizes[type_code] : 0;
}

std::string_view message(IfdError e) {
  return kIfdErrorMessages[static_cast<size_t>(e)];
}

Cursor ValueView::read(uint64_t offset, uint64_t len) const {
  Cursor c = c_.part(offset, len);
  if (bytes_read_ && c.ok()) *bytes_read_ += len;
  return c;
}

std::span<const uint8_t> ValueView::chunk(uint64_t offset) const {
  const uint64_t size = byte_size();
  if (offset >= size) return {};
  const auto c = c_.clamped(offset, std::min(kChunkBytes, size - offset));
  if (bytes_read_) *bytes_read_ += c.size();
  return c;
}

uint32_t ValueView::uint_at(uint32_t i) const {
  switch (type_) {
    case type::kByte:
      return read(i, 1).u8();
    case type::kShort:
      return read(uint64_t{i} * 2, 2).u16(endian_);
    default:
      return read(uint64_t{i} * 4, 4).u32(endian_);
  }
}

int32_t ValueView::sint_at(uint32_t i) const {
  switch (type_) {
    case type::kSByte:
      return static_cast<int8_t>(read(i, 1).u8());
    case type::kSShort:
      return static_cast<int16_t>(read(uint64_t{i} * 2, 2).u16(endian_));
    default:
      return static_cast<int32_t>(read(uint64_t{i} * 4, 4).u32(endian_));
  }
}

std::pair<uint32_t, uint32_t> ValueView::rational_at(uint32_t i) const {
  Cursor c = read(uint64_t{i} * 8, 8);
  const uint32_t numerator = c.u32(endian_);
  return {numerator, c.u32(endian_)};
}

std::pair<int32_t, int32_t> ValueView::srational_at(uint32_t i) const {
  auto [n, d] = rational_at(i);
  return {static_cast<int32_t>(n), static_cast<int32_t>(d)};
}

float ValueView::float_at(uint32_t i) const {
  return std::bit_cast<float>(read(uint64_t{i} * 4, 4).u32(endian_));
}

double ValueView::double_at(uint32_t i) const {
  return std::bit_cast<double>(read(uint64_t{i} * 8, 8).u64(endian_));
}

bool ValueView::first_uint(uint32_t& out) const {
  if (!is_uint() || count_ == 0) return false;
  out = uint_at(0);
  return true;
}

std::optional<ValueView::StringHead> ValueView::first_string() const {
  if (type_ != type::kAscii || count_ == 0) return std::nullopt;
  const auto c = chunk(0);
  const auto head = c.first(std::min<size_t>(c.size(), kHeadBytes + 1));
  StringHead out;
  const auto nul = std::find(head.begin(), head.end(), uint8_t{0});
  const auto end = nul != head.end() ? nul : head.begin() + std::min(head.size(), kHeadBytes);
  std::copy(head.begin(), end, out.kept.begin());
  out.len = static_cast<uint8_t>(end - head.begin());
  out.longer = nul == head.end() && head.size() > kHeadBytes;
  return out;
}

Result<Exif, HeaderError> parse_tiff(SourceReader block) {
  Cursor head = Cursor(block).part(0, 8);
  if (!head.ok()) return Err(HeaderError{"Truncated TIFF header"});
  Exif exif;
  if (head.matches(0, "II")) {
    exif.endian_ = Endian::Little;
  } else if (head.matches(0, "MM")) {
    exif.endian_ = Endian::Big;
  } else {
    return Err(HeaderError{"Invalid TIFF byte order"});
  }
  head.skip(2);
  if (head.u16(exif.endian_) != 42) return Err(HeaderError{"Invalid forty two"});
  const uint32_t first = head.u32(exif.endian_);

  exif.block_ = block;
  Walker walker(exif, block);
  walker.walk_chain(first);
  walker.finish();
  return exif;
}

Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block) {
  auto owned = std::make_unique<Exif::Owned>(std::move(block));
  auto r = parse_tiff(SourceReader(owned->ra));
  if (r) r.value().owned_ = std::move(owned);
  return r;
}

const Field* Exif::get_field(Tag tag, uint8_t ifd) const {
  const uint32_t key = field_key(ifd, tag);
  auto it = std::lower_bound(index_.begin(), index_.end(), key, [this](uint32_t i, uint32_t k) {
    return field_key(fields_[i].ifd, fields_[i].tag) < k;
  });
  if (it == index_.end() || field_key(fields_[*it].ifd, fields_[*it].tag) != key) return nullptr;
  return &fields_[*it];
}

ValueView Exif::value(const Field& f) const {
  const uint64_t len = uint64_t{unit_size(f.type)} * f.count;
  // Fields only come from the walk, which checked the range.
  return ValueView(f.type, f.count, Cursor(block_->sub(f.offset, len)), endian_, f.offset,
                   &value_bytes_read_);
}

}  // namespace vorlix_core::exif

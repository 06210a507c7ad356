#pragma once
// A report flattened into a few arrays that one JS function turns into objects (see
// decode_report.js). Building the objects in JS from object literals compiled once per key set
// is several times faster than defining each property through Node-API, and a literal always
// defines own data properties, whatever the keys are and whatever a host did to
// Object.prototype.
//
// The program is post-order: values are pushed on a stack, an object op takes its values off
// the stack in key order, an array op its elements.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

// The program array is a header, then the ops. The header's fields and the op codes are
// repeated in decode_report.js; a test reads both files (docs/conversion.md).
enum class HeaderField : int32_t {
  StartsOver = 0,   // 1 when the key set table started over: the decoder drops its makers
  StackDepth = 1,   // the most values the program holds at once
  KeptTexts = 2,    // kept-text slots the program uses, from the first
  KeySetCount = 3,  // key sets described from KeySets on
  KeySets = 4,      // each key set as kKeySetFields ints: number, offset, length in the key text
};
inline constexpr int32_t kKeySetFields = 3;

enum class Op : int32_t {
  Number = 0,  // push the next entry of the numbers array
  Text = 1,    // push the next string of the current chunk's JSON array
  True = 2,
  False = 3,
  Null = 4,
  BigInt = 5,       // push BigInt(the next string of the current text chunk)
  Object = 6,       // (key set): pop a value per key, push the object
  Array = 7,        // (count): pop count values, push them as an array
  NextTexts = 8,    // (index): later strings come from text chunk `index`
  MoveDown = 9,     // (count): move the top value down below the `count` values under it
  KeepText = 10,    // (slot): as Text, and keep the string in kept-text slot `slot`
  ReuseText = 11,   // (slot): push the string kept there
  Short = 12,       // (offset, length): push a slice of the current chunk's short strings
  KeepShort = 13,   // (offset, length, slot): as Short, and keep the string
  Direct = 14,      // push the next of the strings made one by one
  KeepDirect = 15,  // (slot): as Direct, and keep the string
  Entries = 16,     // (count): pop count (key, value) pairs, push an object of them
  Int = 17,         // (value): push the operand, a number that fits in 32 bits
  Records = 18,     // (count): push an array of count elements, which RecordInto fills
  RecordInto = 19,  // (key set): as Object, but the object becomes the next element of the
                    // array below its values
};

// Kept-text slots hold a records list's recent texts per column (methods, dates and box types
// repeat a lot): a repeat costs no new string. Only while one list is flattened.
inline constexpr int32_t kKeptTexts = 1024;

// A report's strings in order, in two texts: ASCII strings of 13 to kDirectBytes - 1 units
// that need no JSON escape as one JSON array (JSON.parse makes each a string of its own, where a
// slice of a large string would keep all of it alive), shorter ones one after another (the
// engine copies a slice that short). Both valid UTF-8, with their lengths in UTF-16 code units.
// Every other string is made on its own (a DirectText).
struct TextChunk {
  std::string bytes;  // the JSON array, ASCII
  size_t units = 0;
  size_t count = 0;
  std::string shorts;
  size_t short_units = 0;
  bool shorts_ascii = true;
};

// Strings of this many bytes and more, and those that are not ASCII or would need a JSON escape,
// are made one by one straight from the report's bytes: in JSON a control character takes six
// bytes, and a long text would be copied three times on its way (the JSON text, the engine's
// copy of it, the parsed string).
inline constexpr size_t kDirectBytes = 1024;
struct DirectText {
  std::string_view text;  // lossy UTF-8, as the engine decodes it
  bool ascii = false;
  // The report's string that holds the text, released once the engine has its copy; null for
  // texts held by a records list.
  std::string* owner = nullptr;
};

// Appends `s` as valid UTF-8, each maximal ill-formed subpart replaced by U+FFFD (the core's
// lossy decoding, which is also what the engine's own decoder does), and returns its length in
// UTF-16 code units.
size_t append_utf8(std::string& out, std::string_view s);

struct FlattenOptions {
  // Strings longer than this fail to convert as if the engine had refused them.
  size_t max_string_bytes = std::numeric_limits<size_t>::max();
  // Strings go into a new chunk past this many UTF-16 units (JSON and short strings together),
  // so no chunk's texts near the engine's limit.
  size_t chunk_units = size_t{1} << 28;
  // False for a conversion that runs inside another (host code called back into the addon):
  // its key sets are all its own, so the table and the JS side's makers stay as the outer
  // conversion left them.
  bool share_key_sets = true;
};

// Key sets numbered for the life of an environment: the JS side keeps a compiled maker per
// number, and a report names its key sets by number, so a key set is sent and compiled once.
// Bounded: once full, it starts over before the next report.
class KeySetTable {
 public:
  static constexpr size_t kMaxKeySets = 2048;
  static constexpr size_t kMaxKeyBytes = size_t{1} << 20;
  // Larger key sets are described afresh in every report that has them.
  static constexpr size_t kMaxSharedKeyBytes = 4096;

  // The number of `keys` (each key followed by a NUL), added if new; -1 when the table is full.
  int32_t find_or_add(std::string_view keys);
  // Called before each report: starts over when full; true when it did.
  bool start_report();
  // The key sets the JS side has not been sent, as (number, keys).
  size_t sent() const { return sent_; }
  size_t size() const { return keys_.size(); }
  const std::string& keys(size_t id) const { return keys_[id]; }
  void mark_sent() { sent_ = keys_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, int32_t, Hash, std::equal_to<>> ids_;
  std::vector<std::string> keys_;
  size_t key_bytes_ = 0;
  size_t sent_ = 0;
};

struct FlatReport {
  std::vector<int32_t> program;
  std::vector<double> numbers;
  std::vector<TextChunk> texts;
  std::vector<DirectText> direct;
  // Key sets of this report alone (too large to share, or the table was full), numbered -1,
  // -2, ... in the program.
  std::deque<std::string> own_key_sets;
  size_t max_depth = 0;    // the stack the program needs
  int32_t kept_texts = 0;  // text kept_texts the program uses, from the first

  // Working room of the flattening, kept with the flat report so a small report allocates none.
  struct Scratch {
    std::vector<std::string> key_sets;  // one per map nesting level
    std::string record_keys;            // a record's key set
    std::string present, last_present;  // which of a record's keys it holds
    std::string root_keys;
    std::vector<std::string_view> names;  // the namespaces kept
    std::vector<vorlix_core::ReportError> errors;
    size_t bytes() const {
      size_t n = record_keys.capacity() + present.capacity() + last_present.capacity() +
                 root_keys.capacity() + names.capacity() * sizeof(std::string_view);
      for (const std::string& k : key_sets)
        n += k.capacity();
      return n;
    }
  } scratch;
};

// Flattens `report` into `flat` (emptied first; its room is reused from report to report). A
// namespace holding a value JS cannot take (a key with a NUL byte, a string past the limit) is
// left out and reported in the errors list under its own name, as is a C++ exception while
// flattening it. Fails when the errors list itself cannot be taken; may throw std::bad_alloc
// outside any namespace. The flat report's direct texts point into `report`, which the conversion
// then releases string by string.
std::optional<JsError> flatten_report(vorlix_core::Report& report, const FlattenOptions& options,
                                      KeySetTable& key_sets, FlatReport& flat);

}  // namespace vorlix_node

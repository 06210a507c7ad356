#include "vorlix/value.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorlix/extractor.hpp"

namespace vorlix_core {
namespace {

TEST(Namespace, LiteralStoresTextNotBool) {
  Namespace ns("t");
  ns.set("k", "text");
  const auto& v = ns.fields().at("k");
  ASSERT_EQ(v.kind(), Value::Kind::Text);
  EXPECT_EQ(*v.get_if<std::string>(), "text");
}

TEST(Namespace, OverloadsPickTheDocumentedAlternative) {
  Namespace ns("t");
  ns.set("u32", uint32_t{4294967295u});
  ns.set("u16", uint16_t{7});
  ns.set("u64", uint64_t{18446744073709551615u});
  ns.set("f", 2.5);
  ns.set("b", true);
  ns.set("s", std::string("owned"));
  ns.set("v", Value::int64(-3));
  EXPECT_EQ(*ns.fields().at("u32").get_if<uint64_t>(), 4294967295u);
  EXPECT_EQ(*ns.fields().at("u16").get_if<uint64_t>(), 7u);
  EXPECT_EQ(*ns.fields().at("u64").get_if<uint64_t>(), 18446744073709551615u);
  EXPECT_EQ(*ns.fields().at("f").get_if<double>(), 2.5);
  EXPECT_EQ(*ns.fields().at("b").get_if<bool>(), true);
  EXPECT_EQ(*ns.fields().at("s").get_if<std::string>(), "owned");
  EXPECT_EQ(*ns.fields().at("v").get_if<int64_t>(), -3);
}

TEST(Namespace, SetTwiceKeepsOneEntryWithTheSecondValue) {
  Namespace ns("t");
  ns.set("k", uint64_t{1});
  ns.set("k", "two");
  ASSERT_EQ(ns.fields().size(), 1u);
  EXPECT_EQ(*ns.fields().at("k").get_if<std::string>(), "two");
}

TEST(Namespace, KeysOrderByUnsignedBytes) {
  Namespace ns("t");
  for (const char* k : {"b", "a", "B", "ab", "\xc3\xa9", "~"})
    ns.set(k, true);
  std::vector<std::string> keys;
  for (const auto& [k, v] : ns.fields())
    keys.push_back(k);
  // A byte >= 0x80 sorts after every ASCII byte.
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "~", "\xc3\xa9"}));
}

// Every way of filling a map, checked against a tree map fed the same steps: same entries in the
// same order after each step, and the same answer from each call.
TEST(FlatMap, MatchesATreeMapStepByStep) {
  std::mt19937 rng(7);
  const std::vector<std::string> keys = {"",  "a",  "A",  "ab", "b",        "ba",
                                         "~", "z0", "z1", "zz", "\xc3\xa9", "\x80"};
  for (int round = 0; round < 200; ++round) {
    FlatMap<int> flat;
    std::map<std::string, int> tree;
    for (int step = 0; step < 40; ++step) {
      const std::string& k = keys[rng() % keys.size()];
      const int v = static_cast<int>(rng() % 1000);
      switch (rng() % 6) {
        case 0: {
          const bool a = flat.try_emplace(k, v).second;
          EXPECT_EQ(a, tree.try_emplace(k, v).second);
          break;
        }
        case 1: {
          const bool a = flat.insert_or_assign(k, v).second;
          EXPECT_EQ(a, tree.insert_or_assign(k, v).second);
          break;
        }
        case 2: {
          // Hints right and wrong: a wrong one must not break the order.
          const size_t at = flat.empty() ? 0 : rng() % (flat.size() + 1);
          const auto it = flat.emplace_hint(flat.begin() + static_cast<ptrdiff_t>(at), k, v);
          tree.try_emplace(k, v);
          EXPECT_EQ(it->first, k);
          EXPECT_EQ(it->second, tree.at(k));
          break;
        }
        case 3:
          EXPECT_EQ(flat.erase(k), tree.erase(k));
          break;
        case 4:
          flat[k] += v;
          tree[k] += v;
          break;
        default:
          EXPECT_EQ(flat.contains(k), tree.count(k) == 1);
          EXPECT_EQ(flat.find(k) == flat.end(), tree.find(k) == tree.end());
          EXPECT_EQ(flat.lower_bound(k) - flat.begin(),
                    std::distance(tree.begin(), tree.lower_bound(k)));
      }
      const std::vector<std::pair<std::string, int>> want(tree.begin(), tree.end());
      const std::vector<std::pair<std::string, int>> got(flat.begin(), flat.end());
      ASSERT_EQ(got, want) << "round " << round << " step " << step;
    }
  }
}

TEST(FlatMap, BulkAndListBuildsKeepTheDocumentedOneOfEqualKeys) {
  using Items = FlatMap<int>::Items;
  // Built from entries in file order: the last of equal keys wins, as repeated assignment would.
  const auto bulk =
      FlatMap<int>::from_unsorted(Items{{"b", 1}, {"a", 2}, {"b", 3}, {"a", 4}, {"c", 5}});
  EXPECT_EQ((Items(bulk.begin(), bulk.end())), (Items{{"a", 4}, {"b", 3}, {"c", 5}}));
  // Many keys in reverse order still come out sorted, each once.
  Items reversed;
  for (int i = 2999; i >= 0; --i)
    reversed.emplace_back(std::to_string(100000 + i), i);
  const auto big = FlatMap<int>::from_unsorted(reversed);
  ASSERT_EQ(big.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(big.begin(), big.end()));
  EXPECT_EQ(big.at("100000"), 0);
  EXPECT_EQ(big.at("102999"), 2999);
  // A brace list keeps the first of equal keys, as a tree map's does.
  const FlatMap<int> listed{{"k", 1}, {"j", 2}, {"k", 3}};
  EXPECT_EQ((Items(listed.begin(), listed.end())), (Items{{"j", 2}, {"k", 1}}));
  EXPECT_THROW(static_cast<void>(listed.at("missing")), std::out_of_range);
}

TEST(Hex, DigitsAndBytesDisplay) {
  EXPECT_EQ(to_hex({}), "");
  const Bytes three = {0x00, 0xff, 0x10};
  EXPECT_EQ(to_hex(three), "00ff10");
  EXPECT_EQ(bytes_display({}), "");

  Bytes b64(64, 0xab);
  EXPECT_EQ(bytes_display(b64), to_hex(b64));  // exactly 64 bytes: no suffix
  EXPECT_EQ(bytes_display(b64).size(), 128u);

  Bytes b65(65);
  for (size_t i = 0; i < b65.size(); ++i)
    b65[i] = static_cast<uint8_t>(i);
  const std::string shown = bytes_display(b65);
  EXPECT_EQ(shown, to_hex(std::span<const uint8_t>(b65).first(64)) + "... (65 bytes)");
  EXPECT_EQ(bytes_display(Bytes(100)), std::string(128, '0') + "... (100 bytes)");
}

TEST(ExtractError, DisplayTexts) {
  struct Case {
    ExtractError err;
    const char* want;
  };
  const Case cases[] = {
      {ExtractError::malformed("zip", "no end-of-central-directory record"),
       "malformed zip: no end-of-central-directory record"},
      {ExtractError(IoError::short_read()), "I/O error: failed to fill whole buffer"},
      {ExtractError(IoError::os(2)), "I/O error: No such file or directory (os error 2)"},
      {ExtractError::other("Unknown image format"), "Unknown image format"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.err.display(), c.want);
}

TEST(RecordList, ReadsBackAsTheMapsItWasGiven) {
  RecordList list({"a", "b", "name"});
  Map first;
  first.emplace("name", Value::text("x.txt"));
  first.emplace("a", Value::uint64(uint64_t{1} << 60));
  first.emplace("b", Value::boolean(false));
  Map second;  // a record may lack keys
  second.emplace("name", Value::text(""));
  ASSERT_TRUE(list.push(first));
  ASSERT_TRUE(list.push(second));
  ASSERT_EQ(list.size(), 2u);

  const Map r0 = list.record(0);
  ASSERT_EQ(r0.size(), 3u);
  EXPECT_EQ(*r0.at("a").get_if<uint64_t>(), uint64_t{1} << 60);
  EXPECT_EQ(*r0.at("b").get_if<bool>(), false);
  EXPECT_EQ(*r0.at("name").get_if<std::string>(), "x.txt");
  const Map r1 = list.record(1);
  ASSERT_EQ(r1.size(), 1u);
  EXPECT_EQ(*r1.at("name").get_if<std::string>(), "");

  std::vector<std::string> seen;
  list.for_each(0, [&](std::string_view key, const Value&) { seen.emplace_back(key); });
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "name"}));
}

TEST(RecordList, CopiesAreDeepAndAMovedFromListIsEmpty) {
  RecordList list({"n", "t"});
  list.add();
  list.set(0, uint64_t{7});
  list.set(1, std::string_view("seven"));
  RecordList copy = list;
  copy.add();
  copy.set(1, std::string_view("eight"));
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_EQ(list.text(list.cell(0, 1)), "seven");
  EXPECT_EQ(copy.text(copy.cell(0, 1)), "seven");
  EXPECT_EQ(copy.text(copy.cell(1, 1)), "eight");
  copy = list;
  EXPECT_EQ(copy.size(), 1u);

  const RecordList moved = std::move(list);
  EXPECT_EQ(moved.size(), 1u);
  EXPECT_EQ(*moved.record(0).at("n").get_if<uint64_t>(), 7u);
  EXPECT_EQ(list.size(), 0u);  // NOLINT(bugprone-use-after-move): the documented state
  EXPECT_TRUE(list.keys().empty());
}

TEST(RecordList, LongListsReadBackAndKeepATextThePreviousRecordRepeatsOnce) {
  // Records over several blocks, a refused one after each: a column whose text repeats the
  // previous record's, and one whose texts of one length alternate.
  RecordList list({"id", "kind", "name"});
  constexpr size_t kRecords = 1000;
  Map refused;
  refused.emplace("id", Value::float64(0.5));
  for (size_t i = 0; i < kRecords; ++i) {
    list.add();
    list.set(0, uint64_t{i});
    list.set(1, std::string_view(i < 600 ? "same" : "other"));
    list.set(2, std::string_view(i % 2 ? "ab" : "cd"));
    EXPECT_FALSE(list.push(refused));
  }
  ASSERT_EQ(list.size(), kRecords);
  for (size_t i = 0; i < kRecords; ++i) {
    EXPECT_EQ(list.cell(i, 0).data, i);
    EXPECT_EQ(list.text(list.cell(i, 1)), i < 600 ? "same" : "other");
    EXPECT_EQ(list.text(list.cell(i, 2)), i % 2 ? "ab" : "cd");
  }
  // Each text stored once, after its length (one byte below 128).
  EXPECT_EQ(list.text_bytes(), 5 + 6 + 3 * kRecords);
  // Longer texts take more length bytes and read back whole.
  for (const size_t n : {127u, 128u, 16384u, 70000u}) {
    list.add();
    list.set(2, std::string_view(std::string(n, 'x')));
    EXPECT_EQ(list.text(list.cell(list.size() - 1, 2)), std::string(n, 'x')) << n;
  }
}

TEST(RecordList, RefusesKeysAndKindsItCannotHold) {
  RecordList list({"k"});
  Map unknown_key;
  unknown_key.emplace("other", Value::uint64(1));
  Map unsupported;
  unsupported.emplace("k", Value::float64(1.5));
  EXPECT_FALSE(list.push(unknown_key));
  EXPECT_FALSE(list.push(unsupported));
  EXPECT_EQ(list.size(), 0u);
}

}  // namespace
}  // namespace vorlix_core

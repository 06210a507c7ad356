#pragma once
// A map from text keys kept as one sorted vector: the report's fields. A photo's report holds a
// few dozen fields in a handful of maps; as tree nodes each field would cost an allocation and a
// free, a large share of a small parse. Here a map is one allocation, and iteration is in
// byte-wise key order, the order reports list their keys in.
//
// Inserting anywhere but at the end moves the entries after it, so a map is meant to be filled
// in key order (the hint-less calls find the end fast) or to stay small. A walk that gathers
// many keys from the input in input order must sort them first (see `from_unsorted`).
//
// Unlike a tree, inserting may move every entry: references and iterators into a map are valid
// only until the next insertion or erasure.
#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace vorlix_core {

template <class V>
class FlatMap {
 public:
  using key_type = std::string;
  using mapped_type = V;
  using value_type = std::pair<std::string, V>;
  using Items = std::vector<value_type>;
  using iterator = typename Items::iterator;
  using const_iterator = typename Items::const_iterator;
  using size_type = size_t;

  FlatMap() = default;
  // As a tree map would: the first of equal keys is kept.
  FlatMap(std::initializer_list<value_type> init) {
    for (const value_type& kv : init)
      try_emplace(kv.first, kv.second);
  }

  // Builds a map from (key, value) pairs in any order; of equal keys the last one wins (as
  // repeated insert_or_assign calls would have it). O(n log n) whatever the order. The pairs may
  // be lighter than the map's entries (texts for Values): they are sorted as they are, and the
  // map is made once at its final size.
  template <class T>
  static FlatMap from_unsorted(std::vector<std::pair<std::string, T>> pairs) {
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto superseded = [&](size_t i) {
      return i + 1 < pairs.size() && pairs[i].first == pairs[i + 1].first;
    };
    size_t kept = 0;
    for (size_t i = 0; i < pairs.size(); ++i)
      kept += superseded(i) ? 0 : 1;
    FlatMap m;
    m.items_.reserve(kept);
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (!superseded(i))
        m.items_.emplace_back(std::move(pairs[i].first), V(std::move(pairs[i].second)));
    }
    return m;
  }

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  const_iterator cbegin() const { return items_.begin(); }
  const_iterator cend() const { return items_.end(); }

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  void clear() { items_.clear(); }
  void reserve(size_t n) { items_.reserve(n); }

  iterator lower_bound(std::string_view key) { return begin() + bound(key); }
  const_iterator lower_bound(std::string_view key) const { return begin() + bound(key); }

  iterator find(std::string_view key) {
    const size_t i = bound(key);
    return i < items_.size() && items_[i].first == key ? begin() + i : end();
  }
  const_iterator find(std::string_view key) const {
    const size_t i = bound(key);
    return i < items_.size() && items_[i].first == key ? begin() + i : end();
  }
  bool contains(std::string_view key) const { return find(key) != end(); }
  size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }

  V& at(std::string_view key) {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("FlatMap::at");
    return it->second;
  }
  const V& at(std::string_view key) const {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("FlatMap::at");
    return it->second;
  }

  V& operator[](std::string_view key) { return try_emplace(key).first->second; }

  // Inserts (key, V(args...)) unless the key is present; the entry and whether it is new.
  template <class K, class... Args>
  std::pair<iterator, bool> try_emplace(K&& key, Args&&... args) {
    const std::string_view k(key);
    const size_t i = bound(k);
    if (i < items_.size() && items_[i].first == k) return {begin() + i, false};
    return {insert_at(i, std::forward<K>(key), std::forward<Args>(args)...), true};
  }
  template <class K, class... Args>
  std::pair<iterator, bool> emplace(K&& key, Args&&... args) {
    return try_emplace(std::forward<K>(key), std::forward<Args>(args)...);
  }
  // Like try_emplace, but taking `hint` as the place when the key belongs right before it.
  template <class K, class... Args>
  iterator emplace_hint(const_iterator hint, K&& key, Args&&... args) {
    const std::string_view k(key);
    const auto i = static_cast<size_t>(hint - cbegin());
    if ((i == 0 || items_[i - 1].first < k) && (i == items_.size() || k < items_[i].first)) {
      return insert_at(i, std::forward<K>(key), std::forward<Args>(args)...);
    }
    return try_emplace(std::forward<K>(key), std::forward<Args>(args)...).first;
  }
  template <class K, class M>
  std::pair<iterator, bool> insert_or_assign(K&& key, M&& value) {
    auto r = try_emplace(std::forward<K>(key), std::forward<M>(value));
    if (!r.second) r.first->second = std::forward<M>(value);
    return r;
  }

  iterator erase(const_iterator pos) { return items_.erase(pos); }
  size_t erase(std::string_view key) {
    const auto it = find(key);
    if (it == end()) return 0;
    items_.erase(it);
    return 1;
  }

  friend bool operator==(const FlatMap& a, const FlatMap& b) { return a.items_ == b.items_; }

 private:
  // The index of the first key not below `key`; appends in key order skip the search.
  size_t bound(std::string_view key) const {
    if (items_.empty() || items_.back().first < key) return items_.size();
    const auto it =
        std::lower_bound(items_.begin(), items_.end(), key,
                         [](const value_type& kv, std::string_view k) { return kv.first < k; });
    return static_cast<size_t>(it - items_.begin());
  }

  template <class K, class... Args>
  iterator insert_at(size_t i, K&& key, Args&&... args) {
    // Most maps hold a handful of fields: room for them at once, rather than regrowing (and
    // moving every entry) at 1, 2 and 4.
    constexpr size_t kFirstRoom = 8;
    if (items_.capacity() == 0) items_.reserve(kFirstRoom);
    // Key and value are built in place, not moved in.
    if (i == items_.size()) {
      items_.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::forward<K>(key)),
                          std::forward_as_tuple(std::forward<Args>(args)...));
      return end() - 1;
    }
    return items_.emplace(begin() + i, std::piecewise_construct,
                          std::forward_as_tuple(std::forward<K>(key)),
                          std::forward_as_tuple(std::forward<Args>(args)...));
  }

  Items items_;
};

}  // namespace vorlix_core

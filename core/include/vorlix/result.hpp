#pragma once
// A small value-or-error type: the core reports failures as values, never by throwing.
#include <utility>
#include <variant>

namespace vorlix_core {

// Marker for operations that succeed without a value.
struct Unit {};

template <class E>
struct Err {
  // A constructor (not aggregate init) so that Err(x) also builds where parenthesised aggregate
  // initialisation is missing.
  explicit Err(E e) : error(std::move(e)) {}
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  template <class E2>
  Result(Err<E2> err) : v_(std::in_place_index<1>, E(std::move(err.error))) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, E> v_;
};

}  // namespace vorlix_core

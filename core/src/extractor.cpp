#include "vorlix/extractor.hpp"

namespace vorlix_core {

namespace {
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;
}  // namespace

std::string ExtractError::display() const {
  return std::visit(
      Overloaded{
          [](const IoError& e) { return "I/O error: " + e.display(); },
          [](const Malformed& m) { return "malformed " + std::string(m.format) + ": " + m.detail; },
          [](const Other& o) { return o.message; },
      },
      v_);
}

}  // namespace vorlix_core

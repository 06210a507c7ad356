// PLACEHOLDER
#include "sniff.hpp"
namespace vorlix_core { std::optional<ContentType> sniff(std::span<const uint8_t>) { return std::nullopt; } }

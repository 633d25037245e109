// The names of an enumeration whose values are the positions of their
// names in a table: one table, one lookup, nothing to keep in step but the
// table's order with the enumeration's.
#pragma once

#include <cstddef>

namespace plat {

// names[value], or `other` for a value past the table.
template <typename Enum, size_t N>
const char* NameOf(Enum value, const char* const (&names)[N], const char* other = "") {
    const auto at = static_cast<size_t>(value);
    return at < N ? names[at] : other;
}

}  // namespace plat

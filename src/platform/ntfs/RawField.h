// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillo {

// A field of an on-disk structure whose type in the library's headers is an
// enum (file attributes, a name's namespace). A damaged volume may hold any
// value there, and loading a value outside an enum's range is undefined: the
// bytes are copied out as the plain integer they are, still in disk order.
template <typename Integer>
Integer RawField(const void* structure, size_t offset) {
  Integer value;
  std::memcpy(&value, static_cast<const uint8_t*>(structure) + offset, sizeof(value));
  return value;
}

} // namespace quillo

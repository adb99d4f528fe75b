#pragma once
// Little-endian loads and stores for the binary file layouts.
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <bit>

namespace marbloom {

template <typename T>
T LoadLE(const void* p) {
  static_assert(std::is_trivially_copyable_v<T>);
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, p, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
  }
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <typename T>
void StoreLE(void* p, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
  }
  std::memcpy(p, bytes, sizeof(T));
}

}  // namespace marbloom

// Packed symmetric storage: a symmetric (or lower-triangular) matrix of
// order n in n(n+1)/2 doubles, lower triangle by rows, element (i, j),
// i >= j, at i(i+1)/2 + j. The one definition of that index for the host,
// the module and the engine.
#pragma once

#include <cstddef>

namespace kernels {

// Position of element (i, j), 0-based, either triangle:
// packedIndex(2, 1) == packedIndex(1, 2) == 4.
constexpr std::size_t packedIndex(std::size_t i, std::size_t j) noexcept {
  return i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i;
}

// Start of packed row i (the position of element (i, 0)).
constexpr std::size_t packedRow(std::size_t i) noexcept { return i * (i + 1) / 2; }

// Number of doubles of a packed matrix of order n.
constexpr std::size_t packedSize(std::size_t n) noexcept { return n * (n + 1) / 2; }

}  // namespace kernels

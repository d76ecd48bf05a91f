#include "zulfact/extract/graded_order.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>

#include "kernels/packed.hpp"

namespace zulfact {

using kernels::packedIndex;

std::vector<int> gradedOrder(int p, const double* packed) {
  double smallest = 0.0, largest = 0.0;
  for (int i = 0; i < p; ++i) {
    const double d = packed[packedIndex(i, i)];
    if (!(d > 0.0)) continue;
    smallest = smallest > 0.0 ? std::min(smallest, d) : d;
    largest = std::max(largest, d);
  }
  if (!(largest > kGradedSpread * smallest)) return {};
  std::vector<int> order(static_cast<size_t>(p));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [packed](int a, int b) {
    return packed[packedIndex(a, a)] < packed[packedIndex(b, b)];
  });
  return order;
}

void orderSymmetric(int p, const std::vector<int>& order, double* packed) {
  if (order.empty()) return;
  const std::vector<double> given(packed, packed + kernels::packedSize(p));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) packed[packedIndex(i, j)] = given[packedIndex(order[i], order[j])];
}

void restoreRows(int p, int k, const std::vector<int>& order, double* vectors) {
  if (order.empty()) return;
  std::vector<double> column(static_cast<size_t>(p));
  for (int j = 0; j < k; ++j) {
    double* v = vectors + static_cast<size_t>(j) * p;
    for (int i = 0; i < p; ++i) column[static_cast<size_t>(order[i])] = v[i];
    std::copy(column.begin(), column.end(), v);
  }
}

}  // namespace zulfact

#include "reading_order.h"

namespace ocr_helper {

bool reads_before(const NormalRect& a, const NormalRect& b) {
  const double a_mid = a.mid_y();
  const double b_mid = b.mid_y();
  if (std::fabs(a_mid - b_mid) > SAME_LINE_TOLERANCE) return a_mid > b_mid;
  return a.min_x() < b.min_x();
}

void sort_reading_order(std::vector<Observation>& observations) {
  stable_sort_with(observations, [](const Observation& a, const Observation& b) { return reads_before(a.box, b.box); });
}

}  // namespace ocr_helper

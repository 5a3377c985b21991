#include "reading_order.h"

namespace ocr_helper {

bool on_one_line(const NormalRect& a, const NormalRect& b) {
  // Rounding of the normalised coordinates must not split an exact half overlap.
  constexpr double SLACK = 1e-9;
  const double overlap = std::min(a.max_y(), b.max_y()) - std::max(a.min_y(), b.min_y());
  return overlap + SLACK >= SAME_LINE_OVERLAP * std::min(std::fabs(a.height), std::fabs(b.height));
}

bool reads_before(const NormalRect& a, const NormalRect& b) {
  if (!on_one_line(a, b)) return a.mid_y() > b.mid_y();
  return a.min_x() < b.min_x();
}

void sort_reading_order(std::vector<Observation>& observations) {
  stable_sort_with(observations, [](const Observation& a, const Observation& b) { return reads_before(a.box, b.box); });
}

}  // namespace ocr_helper

#include "reading_order.h"

#include <optional>

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

namespace {

struct Span {
  double left;
  double right;
};

Span span_of(const NormalRect& box) { return {box.min_x(), box.min_x() + std::fabs(box.width)}; }

// The horizontal extent covered by lines, as sorted disjoint spans.
class Coverage {
 public:
  void add(Span s) {
    std::vector<Span> merged;
    merged.reserve(spans_.size() + 1);
    for (const Span& t : spans_) {
      if (t.right < s.left || t.left > s.right) {
        merged.push_back(t);
      } else {
        s = {std::min(s.left, t.left), std::max(s.right, t.right)};
      }
    }
    merged.insert(std::upper_bound(merged.begin(), merged.end(), s,
                                   [](const Span& a, const Span& b) { return a.left < b.left; }),
                  s);
    spans_ = std::move(merged);
  }

  // The uncovered stretches between covered ones that are wide enough to be gutters.
  std::vector<Span> gutters() const {
    std::vector<Span> found;
    for (std::size_t i = 1; i < spans_.size(); ++i) {
      if (spans_[i].left - spans_[i - 1].right >= MIN_GUTTER) found.push_back({spans_[i - 1].right, spans_[i].left});
    }
    return found;
  }

 private:
  std::vector<Span> spans_;
};

// Lines [first, last) split at the gutters, when they read as columns of text.
std::optional<std::vector<std::vector<std::size_t>>> columns_of(const std::vector<Observation>& lines,
                                                                std::size_t first, std::size_t last,
                                                                const std::vector<Span>& gutters) {
  if (gutters.empty()) return std::nullopt;
  std::vector<std::vector<std::size_t>> columns(gutters.size() + 1);
  for (std::size_t i = first; i < last; ++i) {
    const Span s = span_of(lines[i].box);
    std::size_t column = 0;
    while (column < gutters.size() && s.left >= gutters[column].right) ++column;
    columns[column].push_back(i);
  }
  std::vector<Span> extents;
  for (const std::vector<std::size_t>& column : columns) {
    if (column.size() < MIN_COLUMN_LINES) return std::nullopt;
    Span extent = span_of(lines[column.front()].box);
    for (std::size_t i : column) {
      const Span s = span_of(lines[i].box);
      extent = {std::min(extent.left, s.left), std::max(extent.right, s.right)};
    }
    const double width = extent.right - extent.left;
    if (width < MIN_COLUMN_WIDTH) return std::nullopt;
    const auto filled = std::count_if(column.begin(), column.end(), [&](std::size_t i) {
      const Span s = span_of(lines[i].box);
      return s.right - s.left >= FILLED_LINE_SHARE * width;
    });
    // Most lines of running text fill their column; cells of a table do not.
    if (2 * static_cast<std::size_t>(filled) < column.size()) return std::nullopt;
    extents.push_back(extent);
  }
  for (std::size_t g = 0; g < gutters.size(); ++g) {
    const double narrower = std::min(extents[g].right - extents[g].left, extents[g + 1].right - extents[g + 1].left);
    if (gutters[g].right - gutters[g].left > MAX_GUTTER_SHARE * narrower) return std::nullopt;
  }
  return columns;
}

// The end of the longest run of lines from `first` that leaves a gutter open.
std::size_t run_end(const std::vector<Observation>& lines, std::size_t first, std::vector<Span>* gutters) {
  Coverage coverage;
  coverage.add(span_of(lines[first].box));
  std::size_t last = first + 1;
  for (; last < lines.size(); ++last) {
    Coverage wider = coverage;
    wider.add(span_of(lines[last].box));
    if (wider.gutters().empty()) break;
    coverage = std::move(wider);
  }
  *gutters = coverage.gutters();
  return last;
}

}  // namespace

void sort_reading_order(std::vector<Observation>& observations) {
  stable_sort_with(observations, [](const Observation& a, const Observation& b) { return reads_before(a.box, b.box); });
  std::vector<Observation> ordered;
  ordered.reserve(observations.size());
  std::size_t first = 0;
  while (first < observations.size()) {
    std::vector<Span> gutters;
    const std::size_t last = run_end(observations, first, &gutters);
    const auto columns = columns_of(observations, first, last, gutters);
    if (!columns) {
      // Not columns from here: this line stays where it is; look again from the next.
      ordered.push_back(std::move(observations[first++]));
      continue;
    }
    for (const std::vector<std::size_t>& column : *columns) {
      for (std::size_t i : column) ordered.push_back(std::move(observations[i]));
    }
    first = last;
  }
  observations = std::move(ordered);
}

}  // namespace ocr_helper

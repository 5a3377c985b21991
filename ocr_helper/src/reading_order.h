#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "ocr_engine.h"

namespace ocr_helper {

// Two boxes are on one line when their vertical extents overlap by at least
// this share of the smaller box's height. Relative to the boxes rather than
// to the image, so that the closely spaced lines of a full page stay apart.
inline constexpr double SAME_LINE_OVERLAP = 0.5;

bool on_one_line(const NormalRect& a, const NormalRect& b);

// True when a is read before b: higher lines first, then left to right.
bool reads_before(const NormalRect& a, const NormalRect& b);

// Stable merge sort (insertion sort for short runs). Unlike std::stable_sort it
// stays well defined when `less` is not a strict weak order, which the reading
// order is not for chains of nearly aligned boxes: the result is always a
// permutation of the input.
template <typename T, typename Less>
void stable_sort_with(std::vector<T>& items, Less less) {
  constexpr std::size_t RUN = 8;
  const std::size_t n = items.size();
  for (std::size_t start = 0; start < n; start += RUN) {
    const std::size_t end = std::min(n, start + RUN);
    for (std::size_t i = start + 1; i < end; ++i) {
      std::size_t j = i;
      while (j > start && less(items[i], items[j - 1])) --j;
      if (j != i) {
        T moving = std::move(items[i]);
        for (std::size_t k = i; k > j; --k) items[k] = std::move(items[k - 1]);
        items[j] = std::move(moving);
      }
    }
  }
  std::vector<T> merged;
  merged.reserve(n);
  for (std::size_t width = RUN; width < n; width *= 2) {
    for (std::size_t left = 0; left + width < n; left += 2 * width) {
      const std::size_t mid = left + width;
      const std::size_t right_end = std::min(n, left + 2 * width);
      std::size_t a = left;
      std::size_t b = mid;
      merged.clear();
      while (a < mid && b < right_end) {
        // Take from the right only when strictly first: keeps equal items in order.
        if (less(items[b], items[a]))
          merged.push_back(std::move(items[b++]));
        else
          merged.push_back(std::move(items[a++]));
      }
      while (a < mid) merged.push_back(std::move(items[a++]));
      while (b < right_end) merged.push_back(std::move(items[b++]));
      std::move(merged.begin(), merged.end(), items.begin() + static_cast<std::ptrdiff_t>(left));
    }
  }
}

// Columns of text side by side are read one after the other. A run of
// consecutive lines (in line order) forms columns when a vertical gutter at
// least MIN_GUTTER wide runs through it that none of its lines crosses, and
// each column looks like running text rather than the cells of a table or a
// form: at least MIN_COLUMN_LINES lines, MIN_COLUMN_WIDTH wide, most lines
// filling it, and the gutter at most MAX_GUTTER_SHARE of the narrower column
// beside it. Lines that cross the gutter (a heading, a footer) end the run.
inline constexpr double MIN_GUTTER = 0.015;
inline constexpr std::size_t MIN_COLUMN_LINES = 3;
inline constexpr double MIN_COLUMN_WIDTH = 0.15;
inline constexpr double FILLED_LINE_SHARE = 0.6;
inline constexpr double MAX_GUTTER_SHARE = 0.5;

// Lines in reading order: top down and left to right, except that columns
// are read one after the other, each keeping that order within itself.
void sort_reading_order(std::vector<Observation>& observations);

}  // namespace ocr_helper

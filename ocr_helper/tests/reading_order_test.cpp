#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "reading_order.h"
#include "scripted_engine.h"

namespace ocr_helper {
namespace {

using testing::line;

// A box of height 0.02 centred at mid_y.
Observation at(double min_x, double mid_y, std::string text) {
  return line(min_x, mid_y - 0.01, 0.1, 0.02, std::move(text));
}

std::vector<std::string> texts(const std::vector<Observation>& observations) {
  std::vector<std::string> out;
  for (const auto& o : observations) out.push_back(o.best_candidate.value_or("-"));
  return out;
}

TEST(ReadingOrder, CentresPointZeroOneApartAreOneLineReadLeftToRight) {
  std::vector<Observation> v{at(0.5, 0.6, "right"), at(0.1, 0.59, "left")};
  sort_reading_order(v);
  EXPECT_EQ(texts(v), (std::vector<std::string>{"left", "right"}));
}

TEST(ReadingOrder, CentresFurtherApartPutTheUpperFirstWhateverTheLeftEdges) {
  std::vector<Observation> v{at(0.1, 0.57, "lower"), at(0.5, 0.6, "upper")};
  sort_reading_order(v);
  EXPECT_EQ(texts(v), (std::vector<std::string>{"upper", "lower"}));
}

TEST(ReadingOrder, OneLineMeansOverlappingByHalfTheSmallerHeight) {
  const NormalRect body{0.1, 0.50, 0.8, 0.02};      // 0.50 to 0.52
  const NormalRect half{0.5, 0.51, 0.1, 0.04};      // overlaps the body by 0.01, half its height
  const NormalRect less{0.5, 0.5105, 0.1, 0.04};    // overlaps by 0.0095
  const NormalRect heading{0.3, 0.515, 0.4, 0.06};  // a large heading just above the body line
  EXPECT_TRUE(on_one_line(body, half));
  EXPECT_TRUE(reads_before(body, half)) << "same line: left to right";
  EXPECT_FALSE(on_one_line(body, less));
  EXPECT_TRUE(reads_before(less, body)) << "different lines: the higher centre first";
  EXPECT_TRUE(reads_before(heading, body));
  EXPECT_FALSE(reads_before(body, heading));
  const NormalRect inside{0.05, 0.505, 0.05, 0.01};  // wholly within the body line's extent
  EXPECT_TRUE(reads_before(inside, body));
}

TEST(ReadingOrder, NegativeWidthUsesTheTrueLeftEdge) {
  const NormalRect mirrored{0.6, 0.5, -0.5, 0.02};  // spans 0.1 to 0.6
  const NormalRect plain{0.3, 0.5, 0.1, 0.02};
  EXPECT_TRUE(reads_before(mirrored, plain));
}

TEST(ReadingOrder, TiesKeepTheRecogniserOrder) {
  std::vector<Observation> v;
  for (int i = 0; i < 40; ++i) v.push_back(at(0.2, 0.5, "tie" + std::to_string(i)));
  v.insert(v.begin() + 17, at(0.2, 0.9, "top"));
  sort_reading_order(v);
  ASSERT_EQ(v.front().best_candidate, "top");
  for (int i = 0; i < 40; ++i) EXPECT_EQ(v[i + 1].best_candidate, "tie" + std::to_string(i));
}

TEST(ReadingOrder, PageOfLinesComesOutTopDownLeftToRight) {
  std::vector<Observation> v;
  for (int row = 0; row < 6; ++row)
    for (int col = 0; col < 4; ++col)
      v.push_back(at(0.2 * col, 0.9 - 0.1 * row, std::to_string(row) + std::to_string(col)));
  std::vector<Observation> shuffled = v;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  sort_reading_order(shuffled);
  EXPECT_EQ(texts(shuffled), texts(v));
}

// Lines of an A4 page at 300 dpi, single spaced: 11 pt type, boxes 40 px
// high every 50 px, left edges a few pixels apart (first letters differ).
std::vector<Observation> single_spaced_column(double left, int lines, const std::string& tag, int seed) {
  std::vector<Observation> v;
  std::mt19937 random(static_cast<unsigned>(seed));
  constexpr double PAGE = 3508;
  for (int i = 0; i < lines; ++i) {
    const double top = 300 + 50.0 * i;
    const double x = left + static_cast<double>(random() % 12) / 2480.0;
    v.push_back(line(x, (PAGE - top - 40) / PAGE, 0.35, 40 / PAGE, tag + std::to_string(i)));
  }
  return v;
}

TEST(ReadingOrder, SingleSpacedPageKeepsItsLinesInOrder) {
  std::vector<Observation> page = single_spaced_column(0.1, 60, "", 5);
  const std::vector<std::string> expected = texts(page);
  std::vector<Observation> shuffled = page;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(9));
  sort_reading_order(page);
  sort_reading_order(shuffled);
  EXPECT_EQ(texts(page), expected);
  EXPECT_EQ(texts(shuffled), expected);
}

TEST(ReadingOrder, ColumnsAreReadOneAfterTheOtherBetweenHeadingAndFooter) {
  std::vector<Observation> page = single_spaced_column(0.55, 30, "R", 1);
  const std::vector<Observation> left = single_spaced_column(0.08, 30, "L", 2);
  page.insert(page.end(), left.begin(), left.end());
  // 24 pt heading 20 px above the first row, a footer across both columns below the last.
  page.push_back(line(0.3, (3508.0 - 280) / 3508, 0.4, 90 / 3508.0, "heading"));
  page.push_back(line(0.08, (3508.0 - 1900) / 3508, 0.8, 40 / 3508.0, "footer"));
  std::shuffle(page.begin(), page.end(), std::mt19937(4));
  sort_reading_order(page);
  std::vector<std::string> expected{"heading"};
  for (const std::string column : {"L", "R"}) {
    for (int i = 0; i < 30; ++i) expected.push_back(column + std::to_string(i));
  }
  expected.push_back("footer");
  EXPECT_EQ(texts(page), expected);
}

TEST(ReadingOrder, FormsAndTablesKeepTheirRows) {
  // Labels and values: the values column is wide, the labels are not running text.
  std::vector<Observation> form;
  const std::vector<double> label_widths{0.08, 0.2, 0.12, 0.05, 0.16};
  for (std::size_t row = 0; row < label_widths.size(); ++row) {
    const double mid = 0.9 - 0.05 * static_cast<double>(row);
    form.push_back(line(0.05, mid - 0.01, label_widths[row], 0.02, "label" + std::to_string(row)));
    form.push_back(line(0.4, mid - 0.01, 0.5, 0.02, "value" + std::to_string(row)));
  }
  std::vector<std::string> expected = texts(form);
  sort_reading_order(form);
  EXPECT_EQ(texts(form), expected);
}

TEST(ReadingOrder, InconsistentChainsStillGiveAPermutation) {
  // Centres 0.015 apart: each neighbour is "the same line", the ends are not.
  std::vector<Observation> v;
  std::mt19937 random(3);
  for (int i = 0; i < 50; ++i) {
    const double mid = 0.2 + 0.015 * static_cast<double>(random() % 30);
    v.push_back(at(static_cast<double>(random() % 100) / 100.0, mid, std::to_string(i)));
  }
  std::vector<std::string> before = texts(v);
  sort_reading_order(v);
  std::vector<std::string> after = texts(v);
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(before, after);
}

TEST(StableSortWith, MatchesStdStableSortForAStrictWeakOrder) {
  std::vector<std::pair<int, int>> items;
  std::mt19937 random(11);
  for (int i = 0; i < 100; ++i) items.emplace_back(static_cast<int>(random() % 10), i);
  auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
  auto expected = items;
  std::stable_sort(expected.begin(), expected.end(), by_key);
  stable_sort_with(items, by_key);
  EXPECT_EQ(items, expected);
}

}  // namespace
}  // namespace ocr_helper

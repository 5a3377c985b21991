// What a hot-key apply reports back to the runtime.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace kmx::hotkeys {

struct ApplyLeftovers {
  std::vector<std::string> retained;  // release failed, handle back: still tracked, retried next apply
  std::vector<std::string> orphaned;  // release failed and consumed the handle: untracked
  std::vector<std::string> stranded;  // rollback could not release a speculative registration

  bool empty() const { return retained.empty() && orphaned.empty() && stranded.empty(); }
  void sort_all() {
    std::stable_sort(retained.begin(), retained.end());
    std::stable_sort(orphaned.begin(), orphaned.end());
    std::stable_sort(stranded.begin(), stranded.end());
  }
  bool operator==(const ApplyLeftovers&) const = default;
};

struct ApplyOutcome {
  enum class Kind { Applied, AppliedWithLeftovers };
  Kind kind = Kind::Applied;
  ApplyLeftovers leftovers;  // empty unless AppliedWithLeftovers

  static ApplyOutcome applied() { return {}; }
  static ApplyOutcome with_leftovers(ApplyLeftovers l) { return {Kind::AppliedWithLeftovers, std::move(l)}; }
  bool operator==(const ApplyOutcome&) const = default;
};

}  // namespace kmx::hotkeys

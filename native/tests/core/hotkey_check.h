// Runs one apply on a real HotkeySet over the fault registrar and on the
// reference model, and lists every difference and every broken invariant of
// the simulated platform. Shared by the tests and the fuzzer (no gtest).
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fault_registrar.h"
#include "hotkey_model.h"
#include "hotkeys/hotkey_set.h"

namespace kmx::test {

using TestSet = hotkeys::HotkeySet<FaultRegistrar>;

// Diagnostic lines of the current apply (install capture_line as the sink).
inline std::vector<std::string>& captured_lines() {
  static std::vector<std::string> lines;
  return lines;
}
inline void capture_line(std::string_view line) { captured_lines().emplace_back(line); }

inline std::map<std::string, uint64_t> active_ids(const TestSet& set) {
  std::map<std::string, uint64_t> out;
  for (const auto& [canonical, registration] : set.active()) out[canonical] = registration.id;
  return out;
}

inline std::set<std::string> live_canonicals(const FaultRegistrar& registrar) {
  std::set<std::string> out;
  for (const auto& [serial, registration] : registrar.live()) out.insert(registration.canonical);
  return out;
}

// Live registrations that no active entry can reach any more.
inline std::multiset<std::string> untargetable(const TestSet& set, const FaultRegistrar& registrar) {
  std::set<uint64_t> tracked;
  for (const auto& [canonical, registration] : set.active()) tracked.insert(registration.handle.serial());
  std::multiset<std::string> out;
  for (const auto& [serial, registration] : registrar.live()) {
    if (!tracked.contains(serial)) out.insert(registration.canonical);
  }
  return out;
}

inline std::string describe(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (const auto& t : texts) out += (out.size() > 1 ? " | " : "") + t;
  return out + "]";
}

// Applies `list` with `plan` to both the real set and the model and returns
// every difference found, plus every broken invariant of the simulated
// platform; empty when all agree.
inline std::string apply_and_compare(TestSet& set, FaultRegistrar& registrar, HotkeyModel& model,
                                     const model::ShortcutList& list, const FaultPlan& plan) {
  std::ostringstream diff;
  const auto before = active_ids(set);
  const auto untargetable_before = untargetable(set, registrar);

  registrar.arm(plan);
  captured_lines().clear();
  auto result = set.apply(registrar, list);
  const ModelResult expected = model.apply(list, plan);

  const auto calls = registrar.calls_since_armed();
  if (calls != expected.calls) diff << "calls " << describe(calls) << " expected " << describe(expected.calls) << "\n";
  if (result.ok() != !expected.error.has_value()) {
    diff << "ok=" << result.ok() << " expected error " << expected.error.value_or("<none>") << "\n";
  } else if (!result.ok() && result.error().display() != *expected.error) {
    diff << "error '" << result.error().display() << "' expected '" << *expected.error << "'\n";
  } else if (result.ok() && !(result.value() == expected.outcome)) {
    diff << "outcome differs: retained " << describe(result.value().leftovers.retained) << " orphaned "
         << describe(result.value().leftovers.orphaned) << " expected " << describe(expected.outcome.leftovers.retained)
         << " / " << describe(expected.outcome.leftovers.orphaned) << "\n";
  }
  if (captured_lines() != expected.lines) {
    diff << "lines " << describe(captured_lines()) << " expected " << describe(expected.lines) << "\n";
  }
  if (active_ids(set) != model.active) diff << "active differs from the model\n";
  if (live_canonicals(registrar) != model.live) diff << "platform registrations differ from the model\n";

  // Invariants that hold whatever the algorithm's details.
  for (const auto& m : registrar.misuse()) diff << "misuse: " << m << "\n";
  for (const auto& [canonical, registration] : set.active()) {
    auto it = registrar.live().find(registration.handle.serial());
    if (it == registrar.live().end() || it->second.canonical != canonical || it->second.id != registration.id) {
      diff << "active " << canonical << " is not what the platform holds\n";
    }
  }
  std::multiset<std::string> lost = untargetable(set, registrar);
  for (const auto& c : untargetable_before) {
    if (auto it = lost.find(c); it != lost.end()) {
      lost.erase(it);
    } else {
      diff << "unreachable registration " << c << " vanished\n";
    }
  }
  if (result.ok()) {
    const auto& left = result.value().leftovers;
    std::map<std::string, uint64_t> wanted;
    for (const auto& s : list) wanted[canonical_accelerator(s.accelerator)] = s.id;
    for (const auto& c : left.retained) wanted.emplace(c, before.at(c));
    if (active_ids(set) != wanted) diff << "after success `active` is not the list plus retained\n";
    if (lost != std::multiset<std::string>(left.orphaned.begin(), left.orphaned.end())) {
      diff << "unreachable registrations are not exactly the orphaned ones\n";
    }
  } else {
    // Nothing may go missing, change owner or become unreachable silently.
    const std::string text = result.error().display();
    auto named = [&](const std::string& canonical) {
      if (text.find(canonical) != std::string::npos) return true;
      return std::any_of(list.begin(), list.end(), [&](const model::Shortcut& s) {
        return canonical_accelerator(s.accelerator) == canonical && text.find(s.accelerator) != std::string::npos;
      });
    };
    const auto after = active_ids(set);
    for (const auto& [c, id] : before) {
      auto it = after.find(c);
      if ((it == after.end() || it->second != id) && !named(c)) diff << "lost " << c << " silently\n";
    }
    for (const auto& [c, id] : after) {
      if (!before.contains(c) && !named(c)) diff << "gained " << c << " silently\n";
    }
    for (const auto& c : lost) {
      if (!named(c)) diff << "unreachable " << c << " not reported\n";
    }
  }
  return diff.str();
}

inline std::string describe(const FaultPlan& plan) {
  std::string out;
  for (const auto& [index, fault] : plan) {
    out += '#';  // appended piece by piece: gcc 12 warns falsely on "text" + string&& at -O2
    out += std::to_string(index);
    out += fault == Fault::Soft ? "soft " : "hard ";
  }
  return out.empty() ? "no fault" : out;
}

}  // namespace kmx::test

// Reference model of a transactional hot-key apply over the simulated
// platform of fault_registrar.h: what the platform calls, `active`, the
// outcome, the error text and the standard-error lines must be. Kept
// deliberately plain (ordered maps, no handles) so that it can be read
// against the rules directly. Shared by the tests and the fuzzer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fault_registrar.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"

namespace kmx::test {

struct ModelResult {
  std::vector<std::string> calls;
  std::optional<std::string> error;  // display text; none on success
  hotkeys::ApplyOutcome outcome;     // meaningful on success
  std::vector<std::string> lines;    // standard-error lines, without newline
};

class HotkeyModel {
 public:
  std::map<std::string, uint64_t> active;  // canonical -> id
  std::set<std::string> live;              // canonicals the platform holds, tracked or not

  ModelResult apply(const model::ShortcutList& list, const FaultPlan& faults) {
    Run run{*this, faults, {}, 0};
    return run.apply(list);
  }

 private:
  enum class Released { Yes, HandleBack, HandleGone };

  struct Run {
    HotkeyModel& m;
    const FaultPlan& faults;
    ModelResult r;
    size_t call = 0;

    std::optional<Fault> fault() {
      auto it = faults.find(call++);
      return it == faults.end() ? std::nullopt : std::optional<Fault>(it->second);
    }

    std::optional<KmxError> reg(const std::string& accelerator, uint64_t id) {
      r.calls.push_back("register " + accelerator + " " + std::to_string(id));
      const auto f = fault();
      if (f == Fault::Soft) return refusal_error(accelerator);
      if (f == Fault::Hard) return parse_error(accelerator);
      const std::string c = canonical_accelerator(accelerator);
      if (m.live.contains(c)) return conflict_error(accelerator);
      m.live.insert(c);
      return std::nullopt;
    }

    Released rel(const std::string& c, uint64_t id) {
      r.calls.push_back("release " + c + " " + std::to_string(id));
      const auto f = fault();
      if (f == Fault::Soft) return Released::HandleBack;
      if (f == Fault::Hard) return Released::HandleGone;  // still live, no longer reachable
      m.live.erase(c);
      return Released::Yes;
    }

    struct Entry {
      std::string canonical;
      uint64_t id;
      std::string accelerator;
    };

    ModelResult fail_invalid(std::string message) {
      r.error = KmxError::invalid_argument(std::move(message)).display();
      return r;
    }

    ModelResult apply(const model::ShortcutList& list) {
      std::vector<Entry> entries;
      std::set<uint64_t> ids;
      std::set<std::string> canonicals;
      for (const auto& s : list) {
        if (!ids.insert(s.id).second) return fail_invalid("duplicate shortcut id " + std::to_string(s.id));
        const std::string c = canonical_accelerator(s.accelerator);
        if (!canonicals.insert(c).second) return fail_invalid("duplicate accelerator " + s.accelerator);
        entries.push_back({c, s.id, s.accelerator});
      }

      std::vector<Entry> made;     // registered by this apply, not yet committed
      std::vector<Entry> retired;  // released because the text moved to another id
      for (const Entry& e : entries) {
        auto it = m.active.find(e.canonical);
        if (it != m.active.end() && it->second == e.id) continue;
        if (it != m.active.end()) {
          const uint64_t previous = it->second;
          m.active.erase(it);
          const Released how = rel(e.canonical, previous);
          if (how != Released::Yes) {
            std::vector<std::string> untracked;
            if (how == Released::HandleBack) m.active[e.canonical] = previous;
            if (how == Released::HandleGone) untracked.push_back(e.accelerator);
            return fail("failed to retire hotkey " + e.accelerator + " for replacement", made, retired, untracked);
          }
          retired.push_back({e.canonical, previous, e.accelerator});
        }
        if (auto error = reg(e.accelerator, e.id)) return fail(error->display(), made, retired, {});
        made.push_back(e);
      }

      for (const Entry& e : made) m.active[e.canonical] = e.id;
      hotkeys::ApplyLeftovers left;
      std::vector<std::pair<std::string, uint64_t>> obsolete;  // std::map: already in byte order
      for (const auto& [c, id] : m.active) {
        if (!canonicals.contains(c)) obsolete.emplace_back(c, id);
      }
      for (const auto& [c, id] : obsolete) {
        const Released how = rel(c, id);
        if (how == Released::Yes) {
          m.active.erase(c);
          continue;
        }
        const std::string head =
            "[keymux] obsolete hotkey " + c + " could not be unregistered (" + release_error(c).display() + ")";
        if (how == Released::HandleBack) {
          r.lines.push_back(head + " and remains tracked");
          left.retained.push_back(c);
        } else {
          r.lines.push_back(head + " and its handle is gone; it may remain active");
          m.active.erase(c);
          left.orphaned.push_back(c);
        }
      }
      r.outcome = left.empty() ? hotkeys::ApplyOutcome::applied() : hotkeys::ApplyOutcome::with_leftovers(left);
      return r;
    }

    ModelResult fail(const std::string& message, const std::vector<Entry>& made, const std::vector<Entry>& retired,
                     std::vector<std::string> untracked) {
      std::vector<std::string> retained, stranded, unrestored;
      std::vector<Entry> came_back;
      for (const Entry& e : made) {
        const Released how = rel(e.canonical, e.id);
        if (how == Released::HandleBack) came_back.push_back(e);
        if (how == Released::HandleGone) stranded.push_back(e.canonical);
      }
      for (const Entry& e : retired) {
        // For a retired entry, `id` holds the previous owner's id.
        if (reg(e.accelerator, e.id)) {
          unrestored.push_back(e.accelerator);
        } else {
          m.active[e.canonical] = e.id;
        }
      }
      for (const Entry& e : came_back) {
        m.active[e.canonical] = e.id;
        retained.push_back(e.canonical);
      }

      std::string text = message;
      auto part = [&text](const char* label, std::vector<std::string> texts) {
        if (texts.empty()) return;
        std::sort(texts.begin(), texts.end());
        text += std::string("; ") + label;
        for (size_t i = 0; i < texts.size(); ++i) text += (i ? ", " : "") + texts[i];
      };
      part("rollback left active and tracked (will retry): ", retained);
      part("rollback could not release speculative registrations: ", stranded);
      part("rollback could not restore: ", unrestored);
      part("left untracked (release consumed its handle): ", untracked);
      r.error = KmxError::backend(text).display();
      return r;
    }
  };
};

}  // namespace kmx::test

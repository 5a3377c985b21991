// The transactional hot-key set: makes the platform's registered hot keys
// equal to the host's complete shortcut list, or rolls back as far as the
// platform lets it and says exactly what could not be undone.
//
// Lives on the backend worker thread; apply and clear are never concurrent.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "hotkeys/diagnostics.h"
#include "hotkeys/registrar.h"
#include "model/shortcut.h"

namespace kmx::hotkeys {

namespace detail {

// The Backend error of a failed apply: the message, then the rollback's
// leftovers, unrestored texts and untracked texts, each part only when its
// list is not empty, joined with "; ".
KmxError apply_failure(std::string message, std::vector<std::string> unrestored, ApplyLeftovers leftovers,
                       std::vector<std::string> untracked);

// "[keymux] obsolete hotkey <text> could not be unregistered (<error>) ..."
std::string obsolete_release_line(const std::string& canonical, const KmxError& error, bool handle_kept);

}  // namespace detail

template <Registrar R>
class HotkeySet {
 public:
  using Handle = typename R::Handle;
  struct Registration {
    Handle handle;
    uint64_t id;
  };
  // Canonical accelerator text -> what the set believes is registered.
  using ActiveMap = std::unordered_map<std::string, Registration>;

  const ActiveMap& active() const noexcept { return active_; }

  // Consumes the list. On failure the error describes everything that could
  // not be undone; `active` then reflects what is really registered.
  Result<ApplyOutcome> apply(R& registrar, model::ShortcutList shortcuts);

  // Releases every registration and forgets it; failures are ignored.
  void clear(R& registrar);

 private:
  struct Prepared {
    std::string canonical;
    uint64_t id;
    std::string accelerator;
  };
  struct Speculative {
    std::string canonical;
    Handle handle;
    uint64_t id;
  };
  struct Retired {
    std::string canonical;
    std::string accelerator;
    uint64_t previous_id;
  };
  struct Unreleased {
    std::string canonical;
    std::optional<Registration> registration;  // none: the release consumed the handle
  };
  struct RollbackReport {
    std::vector<Unreleased> unreleased;
    std::vector<std::string> unrestored;
  };
  struct Undone {
    ApplyLeftovers leftovers;
    std::vector<std::string> unrestored;
  };

  static Result<std::vector<Prepared>> prepare(R& registrar, model::ShortcutList shortcuts);
  RollbackReport rollback(R& registrar, std::vector<Speculative>& speculative, std::vector<Retired>& retired);
  Undone track_undone(RollbackReport report);
  KmxError abort_apply(R& registrar, std::vector<Speculative>& speculative, std::vector<Retired>& retired,
                       std::string message, std::vector<std::string> untracked);
  ApplyLeftovers release_obsolete(R& registrar, const std::vector<Prepared>& prepared);

  ActiveMap active_;
};

template <Registrar R>
Result<ApplyOutcome> HotkeySet<R>::apply(R& registrar, model::ShortcutList shortcuts) {
  auto prepared = prepare(registrar, std::move(shortcuts));
  if (!prepared) return std::move(prepared).error();

  std::vector<Speculative> speculative;
  std::vector<Retired> retired;
  for (const Prepared& entry : prepared.value()) {
    if (auto it = active_.find(entry.canonical); it != active_.end()) {
      if (it->second.id == entry.id) continue;
      // The platform refuses a second registration of one key combination,
      // so the old owner goes first.
      Registration previous = std::move(it->second);
      active_.erase(it);
      auto released = registrar.release(std::move(previous.handle));
      if (!released.ok()) {
        std::vector<std::string> untracked;
        if (released.handle) {
          active_.insert_or_assign(entry.canonical, Registration{std::move(*released.handle), previous.id});
        } else {
          untracked.push_back(entry.accelerator);
        }
        return abort_apply(registrar, speculative, retired,
                           "failed to retire hotkey " + entry.accelerator + " for replacement", std::move(untracked));
      }
      retired.push_back({entry.canonical, entry.accelerator, previous.id});
    }
    auto registered = registrar.register_hotkey(entry.accelerator, entry.id);
    if (!registered) {
      return abort_apply(registrar, speculative, retired, registered.error().display(), {});
    }
    speculative.push_back({entry.canonical, std::move(registered).value(), entry.id});
  }

  // Commit: from here on the apply cannot fail.
  for (Speculative& s : speculative) {
    active_.insert_or_assign(std::move(s.canonical), Registration{std::move(s.handle), s.id});
  }
  ApplyLeftovers leftovers = release_obsolete(registrar, prepared.value());
  if (leftovers.empty()) return ApplyOutcome::applied();
  leftovers.sort_all();
  return ApplyOutcome::with_leftovers(std::move(leftovers));
}

template <Registrar R>
void HotkeySet<R>::clear(R& registrar) {
  while (!active_.empty()) {
    auto node = active_.extract(active_.begin());
    // A handle that comes back is dropped with the result.
    (void)registrar.release(std::move(node.mapped().handle));
  }
}

template <Registrar R>
auto HotkeySet<R>::prepare(R& registrar, model::ShortcutList shortcuts) -> Result<std::vector<Prepared>> {
  std::vector<Prepared> prepared;
  prepared.reserve(shortcuts.size());
  std::unordered_set<uint64_t> ids;
  std::unordered_set<std::string> canonicals;
  for (model::Shortcut& shortcut : shortcuts) {
    if (!ids.insert(shortcut.id).second) {
      return KmxError::invalid_argument("duplicate shortcut id " + std::to_string(shortcut.id));
    }
    std::string canonical = registrar.normalize(shortcut.accelerator);
    if (!canonicals.insert(canonical).second) {
      return KmxError::invalid_argument("duplicate accelerator " + shortcut.accelerator);
    }
    prepared.push_back({std::move(canonical), shortcut.id, std::move(shortcut.accelerator)});
  }
  return prepared;
}

template <Registrar R>
auto HotkeySet<R>::rollback(R& registrar, std::vector<Speculative>& speculative, std::vector<Retired>& retired)
    -> RollbackReport {
  RollbackReport report;
  for (Speculative& s : speculative) {
    auto released = registrar.release(std::move(s.handle));
    if (released.ok()) continue;
    std::optional<Registration> back;
    if (released.handle) back = Registration{std::move(*released.handle), s.id};
    report.unreleased.push_back({std::move(s.canonical), std::move(back)});
  }
  speculative.clear();
  // Speculative registrations are gone (as far as possible) before the old
  // owners of their key combinations come back.
  for (Retired& r : retired) {
    auto registered = registrar.register_hotkey(r.accelerator, r.previous_id);
    if (registered) {
      active_.insert_or_assign(std::move(r.canonical), Registration{std::move(registered).value(), r.previous_id});
    } else {
      report.unrestored.push_back(std::move(r.accelerator));
    }
  }
  retired.clear();
  return report;
}

template <Registrar R>
auto HotkeySet<R>::track_undone(RollbackReport report) -> Undone {
  Undone undone;
  for (Unreleased& u : report.unreleased) {
    if (u.registration) {
      undone.leftovers.retained.push_back(u.canonical);
      active_.insert_or_assign(std::move(u.canonical), std::move(*u.registration));
    } else {
      undone.leftovers.stranded.push_back(std::move(u.canonical));
    }
  }
  undone.leftovers.sort_all();
  undone.unrestored = std::move(report.unrestored);
  return undone;
}

template <Registrar R>
KmxError HotkeySet<R>::abort_apply(R& registrar, std::vector<Speculative>& speculative, std::vector<Retired>& retired,
                                   std::string message, std::vector<std::string> untracked) {
  Undone undone = track_undone(rollback(registrar, speculative, retired));
  return detail::apply_failure(std::move(message), std::move(undone.unrestored), std::move(undone.leftovers),
                               std::move(untracked));
}

template <Registrar R>
ApplyLeftovers HotkeySet<R>::release_obsolete(R& registrar, const std::vector<Prepared>& prepared) {
  std::unordered_set<std::string_view> wanted;
  for (const Prepared& p : prepared) wanted.insert(p.canonical);
  std::vector<std::string> obsolete;
  for (const auto& [canonical, registration] : active_) {
    if (!wanted.contains(canonical)) obsolete.push_back(canonical);
  }
  // Sorted so that neither the platform calls nor the log depend on hashing.
  std::sort(obsolete.begin(), obsolete.end());

  ApplyLeftovers leftovers;
  for (std::string& canonical : obsolete) {
    auto node = active_.extract(canonical);
    auto released = registrar.release(std::move(node.mapped().handle));
    if (released.ok()) continue;
    const bool kept = released.handle.has_value();
    emit_diagnostic(detail::obsolete_release_line(canonical, *released.error, kept));
    if (kept) {
      node.mapped().handle = std::move(*released.handle);
      active_.insert(std::move(node));
      leftovers.retained.push_back(std::move(canonical));
    } else {
      leftovers.orphaned.push_back(std::move(canonical));
    }
  }
  return leftovers;
}

}  // namespace kmx::hotkeys

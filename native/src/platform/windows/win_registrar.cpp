#include "platform/windows/win_registrar.h"

#include <algorithm>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/windows/diagnostics.h"

namespace kmx::platform::windows {

namespace {

// The backend thread runs the hooks: it never writes to standard error itself.
void log_line(std::string line) { post_diagnostic(std::move(line)); }

std::string quoted_list(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) out += ", ";
    out += "\"" + texts[i] + "\"";
  }
  return out + "]";
}

}  // namespace

Result<hotkeys::ApplyOutcome> WinRegistrar::apply(const model::ShortcutList& shortcuts) {
  // Prepare: parse everything before touching the platform. The desired
  // entries keep list order, which is also the order they are registered in.
  std::vector<std::pair<uint32_t, RegistrationEntry>> desired;
  std::unordered_set<uint32_t> desired_ids;
  // Windows registers (modifiers, virtual key): two key names with one
  // virtual key (Enter and NumpadEnter) would make the second registration
  // collide with the first.
  std::map<std::pair<uint32_t, uint16_t>, const std::string*> natives;
  for (const model::Shortcut& s : shortcuts) {
    auto parsed = parse_accelerator(s.accelerator);
    if (!parsed) return KmxError::invalid_argument(s.accelerator + ": " + parsed.error().message());
    if (!desired_ids.insert(parsed->id).second)
      return KmxError::invalid_argument("duplicate native accelerator " + s.accelerator);
    const auto [it, fresh] = natives.try_emplace({parsed->native_modifiers(), parsed->vk()}, &s.accelerator);
    if (!fresh) {
      const auto [first, second] = std::minmax(*it->second, s.accelerator);
      return KmxError::invalid_argument("accelerators " + first + ", " + second + " name the same Windows hot key");
    }
    desired.emplace_back(parsed->id, RegistrationEntry{s.accelerator, s.id, *parsed});
  }

  // Release obsolete registrations first: a refused release keeps its entry.
  hotkeys::ApplyLeftovers leftovers;
  std::vector<uint32_t> obsolete;
  for (const auto& [id, entry] : entries_) {
    if (!desired_ids.contains(id)) obsolete.push_back(id);
  }
  for (uint32_t id : obsolete) {
    const RegistrationEntry& entry = entries_.at(id);
    if (Status s = manager_.unregister_hotkey(entry.hotkey); s) {
      entries_.erase(id);
    } else {
      log_line("[keymux] obsolete hotkey " + entry.accelerator + " (" + std::to_string(id) +
               ") could not be unregistered (" + s.error().message() + "); it remains active and tracked");
      leftovers.retained.push_back(entry.accelerator);
    }
  }

  // Register the new ones; on a refusal undo only what this apply made.
  std::vector<size_t> made;  // indexes into desired
  for (size_t i = 0; i < desired.size(); ++i) {
    const auto& [id, entry] = desired[i];
    if (entries_.contains(id)) continue;
    if (Status s = manager_.register_hotkey(entry.hotkey); s) {
      made.push_back(i);
      continue;
    } else {
      for (size_t j : made) {
        if (!manager_.unregister_hotkey(desired[j].second.hotkey)) entries_[desired[j].first] = desired[j].second;
      }
      return KmxError::backend(s.error().message());
    }
  }

  // Commit: entries already registered take the new id and text with no
  // platform call.
  for (auto& [id, entry] : desired) entries_[id] = std::move(entry);

  if (leftovers.retained.empty()) return hotkeys::ApplyOutcome::applied();
  leftovers.sort_all();
  if (leftovers.retained.size() >= 2)
    log_line("[keymux] hotkeys applied, but these obsolete registrations are still active: " +
             quoted_list(leftovers.retained));
  return hotkeys::ApplyOutcome::with_leftovers(std::move(leftovers));
}

const RegistrationEntry* WinRegistrar::find(uint32_t hotkey_id) const {
  auto it = entries_.find(hotkey_id);
  return it == entries_.end() ? nullptr : &it->second;
}

void WinRegistrar::release_all() noexcept {
  try {
    std::vector<HotKey> all;
    all.reserve(entries_.size());
    for (const auto& [id, entry] : entries_) all.push_back(entry.hotkey);
    (void)manager_.unregister_all(all);
    entries_.clear();
  } catch (...) {
  }
}

}  // namespace kmx::platform::windows

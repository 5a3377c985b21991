#include "hotkeys/hotkey_set.h"

#include <string_view>

namespace kmx::hotkeys::detail {

namespace {

std::string joined(const std::vector<std::string>& texts, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += separator;
    out += texts[i];
  }
  return out;
}

void add_part(std::vector<std::string>& parts, std::string_view label, const std::vector<std::string>& texts) {
  if (!texts.empty()) parts.push_back(std::string(label) + joined(texts, ", "));
}

}  // namespace

KmxError apply_failure(std::string message, std::vector<std::string> unrestored, ApplyLeftovers leftovers,
                       std::vector<std::string> untracked) {
  leftovers.sort_all();
  std::sort(unrestored.begin(), unrestored.end());
  std::sort(untracked.begin(), untracked.end());

  std::vector<std::string> parts{std::move(message)};
  add_part(parts, "rollback left active and tracked (will retry): ", leftovers.retained);
  add_part(parts, "rollback left active but untrackable (release consumed its handle): ", leftovers.orphaned);
  add_part(parts, "rollback could not release speculative registrations: ", leftovers.stranded);
  add_part(parts, "rollback could not restore: ", unrestored);
  add_part(parts, "left untracked (release consumed its handle): ", untracked);

  return KmxError::backend(joined(parts, "; "));
}

std::string obsolete_release_line(const std::string& canonical, const KmxError& error, bool handle_kept) {
  return "[keymux] obsolete hotkey " + canonical + " could not be unregistered (" + error.display() +
         (handle_kept ? ") and remains tracked" : ") and its handle is gone; it may remain active");
}

}  // namespace kmx::hotkeys::detail

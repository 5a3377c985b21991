#include "platform/wayland/portal_watch.h"

#include <dirent.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace kmx::platform::portal {

namespace {

constexpr const char* SYSTEM_PORTALS = "/usr/share/xdg-desktop-portal/portals";
constexpr const char* IMPL_SHORTCUTS = "org.freedesktop.impl.portal.GlobalShortcuts";

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, by))
    if (!part.empty()) out.push_back(part);
  return out;
}

std::vector<std::string> current_desktops() {
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  return desktops ? split(desktops, ':') : std::vector<std::string>{};
}

bool shares(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (const auto& x : a)
    for (const auto& y : b)
      if (x == y) return true;
  return false;
}

}  // namespace

std::vector<std::string> shortcut_backend_names() {
  const char* dir_env = std::getenv("XDG_DESKTOP_PORTAL_DIR");
  const std::string dir = dir_env && *dir_env ? dir_env : SYSTEM_PORTALS;
  const std::vector<std::string> desktops = current_desktops();
  std::vector<std::string> matching, offering;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  while (const dirent* entry = ::readdir(d)) {
    const std::string file = entry->d_name;
    if (file.size() < 8 || file.compare(file.size() - 7, 7, ".portal") != 0) continue;
    std::ifstream in(dir + "/" + file);
    std::string line, name;
    std::vector<std::string> interfaces, use_in;
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "DBusName") name = value;
      if (key == "Interfaces") interfaces = split(value, ';');
      if (key == "UseIn") use_in = split(value, ';');
    }
    if (name.empty() || !shares(interfaces, {IMPL_SHORTCUTS})) continue;
    offering.push_back(name);
    if (shares(use_in, desktops)) matching.push_back(name);
  }
  ::closedir(d);
  return matching.empty() ? offering : matching;
}

bool kde_desktop() { return shares(current_desktops(), {"KDE"}); }

}  // namespace kmx::platform::portal

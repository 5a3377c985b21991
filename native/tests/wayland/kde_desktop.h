// A headless KDE Plasma desktop for one test, on the private session bus
// the harness started: kwin_wayland --virtual, the KDE portal backend and
// Debian's xdg-desktop-portal frontend, with XDG_RUNTIME_DIR, HOME and
// XDG_CONFIG_HOME in a scratch folder (so kglobalaccel's stored shortcuts
// start empty) and XDG_DESKTOP_PORTAL_DIR holding only kde.portal. The
// environment is set in this process too, so the library sees the desktop.
// Beside it: a keyboard of the test's own (a RemoteDesktop session, to hold
// keys), a Wayland client that logs the keys it gets, and `kmx listen`.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace kmx_test {

// Polls cond every 10 ms for at most timeout_ms.
inline bool wait_until(const std::function<bool()>& cond, int timeout_ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline int count_lines(const std::string& text, const std::function<bool(const std::string&)>& match) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);) n += match(line) ? 1 : 0;
  return n;
}

// A child process with stdout and stderr in log files. Ended (SIGTERM, then
// SIGKILL after 3 s) when it goes out of scope.
class Child {
 public:
  Child() = default;
  Child(std::vector<std::string> args, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    error_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    if (error_ != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  Child(Child&& o) noexcept : pid_(std::exchange(o.pid_, 0)), error_(o.error_) {}
  Child& operator=(Child&& o) noexcept {
    end();
    pid_ = std::exchange(o.pid_, 0);
    error_ = o.error_;
    return *this;
  }
  ~Child() { end(); }

  int error() const { return error_; }
  bool running() const { return pid_ != 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  pid_t pid() const { return pid_; }

  void end(int sig = SIGTERM) {
    if (!pid_) return;
    kill(pid_, sig);
    if (!wait_until([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 3000)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  int error_ = 0;
};

inline bool name_owned(sd_bus* bus, const char* name) {
  return sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "GetNameOwner", nullptr, nullptr, "s", name) >= 0;
}

constexpr const char* DESKTOP = "org.freedesktop.portal.Desktop";
constexpr const char* DESKTOP_PATH = "/org/freedesktop/portal/desktop";
constexpr const char* KDE_BACKEND = "org.freedesktop.impl.portal.desktop.kde";
constexpr const char* REMOTE_DESKTOP = "org.freedesktop.portal.RemoteDesktop";

// The test's own keyboard: a RemoteDesktop session on a connection of its own.
class Keyboard {
 public:
  Keyboard() {
    if (sd_bus_open_user(&bus_) < 0) {
      why_ = "no session bus";
      return;
    }
    std::string results;
    if (!request("CreateSession", "", &session_)) return;
    if (!request("SelectDevices", session_, nullptr)) return;
    if (!request("Start", session_, nullptr)) return;
    ready_ = true;
  }
  ~Keyboard() { sd_bus_flush_close_unref(bus_); }
  Keyboard(Keyboard&& o) noexcept
      : bus_(std::exchange(o.bus_, nullptr)), session_(o.session_), why_(o.why_), ready_(o.ready_), n_(o.n_) {}

  bool ready() const { return ready_; }
  const std::string& why() const { return why_; }
  bool press(std::initializer_list<int> codes) { return send(codes, 1); }
  bool release(std::initializer_list<int> codes) { return send(codes, 0); }

 private:
  bool send(std::initializer_list<int> codes, uint32_t state) {
    for (int code : codes) {
      if (sd_bus_call_method(bus_, DESKTOP, DESKTOP_PATH, REMOTE_DESKTOP, "NotifyKeyboardKeycode", nullptr, nullptr,
                             "oa{sv}iu", session_.c_str(), 0, code, state) < 0)
        return false;
    }
    return true;
  }

  struct Pending {
    bool done = false;
    uint32_t code = 2;
    std::string session;
  };

  static int on_response(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* p = static_cast<Pending*>(data);
    p->done = true;
    if (sd_bus_message_read(m, "u", &p->code) < 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* key = nullptr;
      sd_bus_message_read(m, "s", &key);
      const char* value = nullptr;
      if (key && strcmp(key, "session_handle") == 0 && sd_bus_message_read(m, "v", "s", &value) >= 0 && value)
        p->session = value;
      else
        sd_bus_message_skip(m, "v");
      sd_bus_message_exit_container(m);
    }
    return 0;
  }

  // One portal call and its Response, for at most 5 s.
  bool request(const char* method, const std::string& session, std::string* session_out) {
    const std::string token = "kbd" + std::to_string(++n_);
    const char* unique = nullptr;
    sd_bus_get_unique_name(bus_, &unique);
    std::string sender = unique + 1;
    for (char& c : sender)
      if (c == '.') c = '_';
    const std::string path = std::string(DESKTOP_PATH) + "/request/" + sender + "/" + token;
    Pending pending;
    sd_bus_slot* slot = nullptr;
    sd_bus_match_signal(bus_, &slot, nullptr, path.c_str(), "org.freedesktop.portal.Request", "Response", on_response,
                        &pending);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r;
    if (std::string(method) == "CreateSession")
      r = sd_bus_call_method(bus_, DESKTOP, DESKTOP_PATH, REMOTE_DESKTOP, method, &error, nullptr, "a{sv}", 2,
                             "handle_token", "s", token.c_str(), "session_handle_token", "s", token.c_str());
    else if (std::string(method) == "SelectDevices")
      r = sd_bus_call_method(bus_, DESKTOP, DESKTOP_PATH, REMOTE_DESKTOP, method, &error, nullptr, "oa{sv}",
                             session.c_str(), 2, "handle_token", "s", token.c_str(), "types", "u", 1u);
    else
      r = sd_bus_call_method(bus_, DESKTOP, DESKTOP_PATH, REMOTE_DESKTOP, method, &error, nullptr, "osa{sv}",
                             session.c_str(), "", 1, "handle_token", "s", token.c_str());
    if (r < 0) why_ = std::string(method) + ": " + (error.message ? error.message : strerror(-r));
    sd_bus_error_free(&error);
    const bool answered = r >= 0 && wait_until([&] {
                            while (sd_bus_process(bus_, nullptr) > 0) {
                            }
                            return pending.done;
                          });
    sd_bus_slot_unref(slot);
    if (r < 0) return false;
    if (!answered || pending.code != 0) {
      why_ = std::string(method) + (answered ? " refused" : " unanswered");
      return false;
    }
    if (session_out) *session_out = pending.session;
    return true;
  }

  sd_bus* bus_ = nullptr;
  std::string session_;
  std::string why_;
  bool ready_ = false;
  int n_ = 0;
};

// weston-eventdemo, logging the keys it gets (line-buffered through stdbuf).
class Client {
 public:
  explicit Client(const std::string& dir) : log_(dir + "/client.log") {
    child_ = Child({"/usr/bin/stdbuf", "-oL", KMX_EVENTDEMO, "--log-key", "--log-focus"}, log_, log_);
  }
  bool focused() {
    return wait_until([this] { return read_file(log_).find("focus") != std::string::npos; });
  }
  int presses(int code) {
    const std::string key = "key: " + std::to_string(code) + ",";
    return count_lines(read_file(log_), [&](const std::string& line) {
      return line.find(key) != std::string::npos && line.find("state: pressed") != std::string::npos;
    });
  }
  // Waits until the client has had n presses of code.
  bool pressed(int code, int n) {
    return wait_until([&] { return presses(code) >= n; }, 3000);
  }
  std::string log() const { return read_file(log_); }

 private:
  std::string log_;
  Child child_;
};

// `kmx listen --hotkey ...`, a second program using the library.
class Listener {
 public:
  Listener(const std::string& dir, const std::vector<std::string>& hotkeys, int n)
      : out_(dir + "/kmx" + std::to_string(n) + ".out"), err_(dir + "/kmx" + std::to_string(n) + ".err") {
    std::vector<std::string> args = {KMX_TOOL, "listen"};
    for (const auto& h : hotkeys) {
      args.push_back("--hotkey");
      args.push_back(h);
    }
    child_ = Child(args, out_, err_);
  }
  bool listening() {
    return wait_until([this] { return read_file(err_).find("listening") != std::string::npos || !child_.running(); },
                      10000) &&
           read_file(err_).find("listening") != std::string::npos;
  }
  int events() const {
    return count_lines(read_file(out_), [](const std::string& l) { return l.find("\"kind\"") != std::string::npos; });
  }
  bool has_event(uint64_t id, bool down) {
    const std::string want_id = "\"id\":" + std::to_string(id) + ",";
    const std::string want_down = down ? "\"down\":true" : "\"down\":false";
    return wait_until(
        [&] {
          return count_lines(read_file(out_), [&](const std::string& l) {
                   return l.find(want_id) != std::string::npos && l.find(want_down) != std::string::npos;
                 }) > 0;
        },
        3000);
  }
  std::string output() const { return read_file(out_) + read_file(err_); }
  void end() { child_.end(); }

 private:
  std::string out_, err_;
  Child child_;
};

class KdeDesktop {
 public:
  KdeDesktop() = default;
  ~KdeDesktop() { stop(); }

  bool start() {
    char dir[] = "/tmp/keymux-kde-XXXXXX";
    if (!mkdtemp(dir)) return fail("no scratch folder");
    dir_ = dir;
    namespace fs = std::filesystem;
    for (const char* sub : {"runtime", "home", "config", "portals"}) fs::create_directories(dir_ + "/" + sub);
    chmod((dir_ + "/runtime").c_str(), 0700);
    fs::copy_file(std::string(KMX_PORTALS_DIR) + "/kde.portal", dir_ + "/portals/kde.portal");
    setenv("XDG_RUNTIME_DIR", (dir_ + "/runtime").c_str(), 1);
    setenv("HOME", (dir_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    setenv("XDG_DESKTOP_PORTAL_DIR", (dir_ + "/portals").c_str(), 1);
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("KWIN_COMPOSE", "Q", 1);
    unsetenv("DISPLAY");
    unsetenv("KMX_LINUX_BACKEND");
    if (sd_bus_open_user(&bus_) < 0) return fail("no session bus");

    const std::string socket = "keymux-kde";
    const std::string log = dir_ + "/kwin.log";
    kwin_ = Child({KMX_KWIN, "--virtual", "--no-lockscreen", "--socket", socket}, log, log);
    if (kwin_.error() == EPERM) {
      // Its file capability cannot be gained here (containers, CI); a plain copy runs.
      fs::copy_file(KMX_KWIN, dir_ + "/kwin_wayland");
      kwin_ = Child({dir_ + "/kwin_wayland", "--virtual", "--no-lockscreen", "--socket", socket}, log, log);
    }
    if (!kwin_.pid()) return fail(std::string("kwin_wayland: ") + strerror(kwin_.error()));
    const std::string socket_path = dir_ + "/runtime/" + socket;
    struct stat st {};
    if (!wait_until([&] { return stat(socket_path.c_str(), &st) == 0 || !kwin_.running(); }, 20000) || !kwin_.running())
      return fail("kwin_wayland did not open its socket");
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);

    setenv("QT_QPA_PLATFORM", "wayland", 1);
    backend_ = Child({KMX_KDE_PORTAL}, dir_ + "/kde.log", dir_ + "/kde.log");
    unsetenv("QT_QPA_PLATFORM");
    if (!wait_until([&] { return name_owned(bus_, KDE_BACKEND); }, 20000)) return fail("the KDE portal did not start");
    frontend_ = Child({KMX_FRONTEND}, dir_ + "/frontend.log", dir_ + "/frontend.log");
    if (!wait_until([&] { return name_owned(bus_, DESKTOP); }, 20000)) return fail("xdg-desktop-portal did not start");
    return true;
  }

  void stop() {
    frontend_.end();
    backend_.end();
    kwin_.end();
    if (bus_) bus_ = sd_bus_flush_close_unref(bus_);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

  const std::string& why() const { return why_; }

  void kill_backend() {
    backend_.end(SIGKILL);
    wait_until([&] { return !name_owned(bus_, KDE_BACKEND); });
  }
  void kill_frontend() {
    frontend_.end(SIGKILL);
    wait_until([&] { return !name_owned(bus_, DESKTOP); });
  }

  Keyboard keyboard() { return Keyboard(); }
  Client client() { return Client(dir_); }
  Listener listen(const std::vector<std::string>& hotkeys) { return Listener(dir_, hotkeys, ++listeners_); }

  std::string shortcut_settings() const { return read_file(dir_ + "/config/kglobalshortcutsrc"); }
  // Components in the user's stored shortcuts named by keymux's tokens, once
  // at least `expected` are there (kglobalaccel writes them a moment after a
  // bind).
  int keymux_components(int expected) const {
    const auto count = [this] {
      return count_lines(shortcut_settings(), [](const std::string& l) { return l.rfind("[keymux_", 0) == 0; });
    };
    wait_until([&] { return count() >= expected; }, 3000);
    return count();
  }

  void print_logs() const {
    for (const char* name : {"kwin.log", "kde.log", "frontend.log"})
      std::cerr << "---- " << name << "\n" << read_file(dir_ + "/" + name);
  }

 private:
  bool fail(std::string why) {
    why_ = std::move(why);
    return false;
  }

  std::string dir_;
  std::string why_;
  sd_bus* bus_ = nullptr;
  Child kwin_, backend_, frontend_;
  int listeners_ = 0;
};

}  // namespace kmx_test

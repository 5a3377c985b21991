// The portal backend end to end through the C interface, on the private
// session bus the harness started. fake_portal.py either stands in for the
// portal (the public GlobalShortcuts and RemoteDesktop interfaces) or, with
// KMX_TEST_PORTAL_FRONTEND naming Debian's xdg-desktop-portal, serves the
// backend interfaces behind that real frontend. The test plays the user and
// the compositor through the stand-in's control interface.
#include <gtest/gtest.h>
#include <keymux/keymux.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr uint32_t KEY_V = 0x19, LEFT_CONTROL = 0xE0, RIGHT_ALT = 0xE6;
constexpr int EVDEV_V = 47, EVDEV_LEFTCTRL = 29, EVDEV_RIGHTALT = 100;
constexpr const char* DESKTOP = "org.freedesktop.portal.Desktop";
constexpr const char* IMPL = "org.freedesktop.impl.portal.desktop.keymuxtest";

std::string last_error(KmxHandle h) {
  char buffer[512] = {};
  kmx_last_error(h, buffer, sizeof buffer);
  return buffer;
}

std::string last_init_error() {
  char buffer[512] = {};
  kmx_last_init_error(buffer, sizeof buffer);
  return buffer;
}

std::string backend_name(KmxHandle h) {
  char buffer[64] = {};
  kmx_backend(h, buffer, sizeof buffer);
  return buffer;
}

// The stand-in portal process and its control interface.
class FakePortal {
 public:
  FakePortal() {
    if (sd_bus_open_user(&bus_) < 0) return;
    const char* frontend = std::getenv("KMX_TEST_PORTAL_FRONTEND");
    if (!frontend || !*frontend) {
      pid_ = start({"/usr/bin/python3", KMX_FAKE_PORTAL}, DESKTOP);
      return;
    }
    control_ = IMPL;
    char dir[] = "/tmp/keymux-portals-XXXXXX";
    if (!mkdtemp(dir)) return;
    portals_ = dir;
    std::ofstream(portals_ + "/keymuxtest.portal")
        << "[portal]\nDBusName=" << IMPL
        << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;org.freedesktop.impl.portal.RemoteDesktop;"
           "\nUseIn=keymuxtest\n";
    setenv("XDG_DESKTOP_PORTAL_DIR", dir, 1);
    setenv("XDG_CURRENT_DESKTOP", "keymuxtest", 1);
    impl_pid_ = start({"/usr/bin/python3", KMX_FAKE_PORTAL, "--impl", IMPL}, IMPL);
    if (impl_pid_) pid_ = start({frontend}, DESKTOP);
  }
  ~FakePortal() {
    stop();
    sd_bus_flush_close_unref(bus_);
  }
  bool running() { return pid_ != 0 && owned(); }

  void stop() {
    end(pid_, DESKTOP);
    end(impl_pid_, IMPL);
    if (!portals_.empty()) {
      std::remove((portals_ + "/keymuxtest.portal").c_str());
      std::remove(portals_.c_str());
      portals_.clear();
    }
  }

  // The portal the library talks to goes away, as one that restarts does.
  void quit() { end(pid_, DESKTOP); }

  void set_bind_response(uint32_t code) { call("SetBindResponse", "u", code); }
  void decline_trigger(const char* trigger) { call("DeclineTrigger", "s", trigger); }
  void set_bind_at_creation(bool on) { call("SetBindAtCreation", "b", on ? 1 : 0); }
  void set_consent(const char* mode) { call("SetConsent", "s", mode); }
  uint32_t answer_consent(bool grant) { return read_u(call("AnswerConsent", "b", grant ? 1 : 0)); }
  uint32_t close_sessions(const char* kind) { return read_u(call("CloseSessions", "s", kind)); }
  uint32_t live_shortcut_sessions() { return read_u(call("LiveShortcutSessions", "")); }

  bool trigger(const char* id, bool down) {
    Reply reply = call("Trigger", "sb", id, down ? 1 : 0);
    int found = 0;
    if (reply) sd_bus_message_read(reply.get(), "b", &found);
    return found != 0;
  }

  std::vector<std::tuple<std::string, std::string, std::string>> bound() {
    std::vector<std::tuple<std::string, std::string, std::string>> out;
    Reply reply = call("Bound", "");
    if (reply && sd_bus_message_enter_container(reply.get(), 'a', "(sss)") > 0) {
      const char *id, *description, *trigger;
      while (sd_bus_message_read(reply.get(), "(sss)", &id, &description, &trigger) > 0)
        out.emplace_back(id, description, trigger);
    }
    return out;
  }

  std::vector<std::pair<int, uint32_t>> keycodes() {
    std::vector<std::pair<int, uint32_t>> out;
    Reply reply = call("Keycodes", "");
    if (reply && sd_bus_message_enter_container(reply.get(), 'a', "(iu)") > 0) {
      int32_t code;
      uint32_t state;
      while (sd_bus_message_read(reply.get(), "(iu)", &code, &state) > 0) out.emplace_back(code, state);
    }
    return out;
  }

 private:
  bool owned(const char* name = DESKTOP) {
    return sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                              "GetNameOwner", nullptr, nullptr, "s", name) >= 0;
  }

  // Spawns a program and waits until it owns name; 0 when it does not.
  pid_t start(std::vector<const char*> args, const char* name) {
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, const_cast<char* const*>(args.data()), environ) != 0) return 0;
    for (int i = 0; i < 500 && !owned(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pid;
  }

  void end(pid_t& pid, const char* name) {
    if (!pid) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
    for (int i = 0; i < 200 && owned(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  struct Unref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
  };
  using Reply = std::unique_ptr<sd_bus_message, Unref>;

  template <class... Args>
  Reply call(const char* method, const char* types, Args... args) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus_, control_, "/org/keymux/test", "org.keymux.TestPortal", method, &error,
                                     &reply, types, args...);
    EXPECT_GE(r, 0) << method << ": " << (error.message ? error.message : "");
    sd_bus_error_free(&error);
    return Reply(reply);
  }

  static uint32_t read_u(Reply reply) {
    uint32_t value = 0;
    if (reply) sd_bus_message_read(reply.get(), "u", &value);
    return value;
  }

  sd_bus* bus_ = nullptr;
  const char* control_ = DESKTOP;
  std::string portals_;
  pid_t pid_ = 0;       // the portal the library sees
  pid_t impl_pid_ = 0;  // the backend behind Debian's frontend
};

class Env {
 public:
  Env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~Env() { old_.empty() ? unsetenv(name_) : setenv(name_, old_.c_str(), 1); }

 private:
  const char* name_;
  std::string old_;
};

class Portal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(portal_.running()) << "the stand-in portal did not start";
    ASSERT_EQ(kmx_create(nullptr, &h_), KMX_OK) << last_init_error();
    ASSERT_EQ(backend_name(h_), "wayland-portal");
  }
  void TearDown() override {
    kmx_stop(h_);
    kmx_destroy(h_);
  }

  KmxStatus apply(std::vector<KmxShortcut> shortcuts) {
    return kmx_apply_hotkeys(h_, shortcuts.data(), shortcuts.size());
  }

  // The next hot-key event as (id, down), or (0, 0) after time-out.
  std::pair<uint64_t, int> next_hotkey(uint32_t timeout_ms = 2000) {
    KmxEvent e{};
    if (kmx_poll_event(h_, &e, timeout_ms) != KMX_OK) return {0, 0};
    EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
    return {e.shortcut_id, e.down};
  }

  bool quiet() {
    KmxEvent e{};
    return kmx_poll_event(h_, &e, 150) == KMX_ERR_TIMEOUT;
  }

  Env wayland_{"WAYLAND_DISPLAY", "wayland-keymux-test"};
  Env forced_{"KMX_LINUX_BACKEND", nullptr};
  FakePortal portal_;
  KmxHandle h_ = nullptr;
};

using Hotkey = std::pair<uint64_t, int>;

TEST_F(Portal, BoundShortcutsTurnActivationIntoPressAndRelease) {
  EXPECT_EQ(kmx_capabilities(h_), 0xC1u);
  ASSERT_EQ(apply({{7, "Ctrl+Shift+K", "push to talk"}, {8, "Super+F13", "mute"}}), KMX_OK) << last_error(h_);
  using Bound = std::tuple<std::string, std::string, std::string>;
  // The trigger is the id at the portal; an empty description becomes the accelerator.
  EXPECT_EQ(portal_.bound(),
            (std::vector<Bound>{{"CTRL+SHIFT+k", "push to talk", "CTRL+SHIFT+k"}, {"LOGO+F13", "mute", "LOGO+F13"}}));

  ASSERT_TRUE(portal_.trigger("CTRL+SHIFT+k", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{7, 1}));
  ASSERT_TRUE(portal_.trigger("CTRL+SHIFT+k", true));  // a repeat while held is no second press
  ASSERT_TRUE(portal_.trigger("CTRL+SHIFT+k", false));
  EXPECT_EQ(next_hotkey(), (Hotkey{7, 0}));
  ASSERT_TRUE(portal_.trigger("CTRL+SHIFT+k", false));
  EXPECT_TRUE(quiet());

  ASSERT_EQ(apply({{9, "Ctrl+Shift+1", ""}}), KMX_OK) << last_error(h_);
  EXPECT_EQ(portal_.bound(), (std::vector<Bound>{{"CTRL+SHIFT+1", "Ctrl+Shift+1", "CTRL+SHIFT+1"}}));
}

TEST_F(Portal, AShortcutThePortalLeavesUnboundFailsTheApply) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+P", "old"}}), KMX_OK) << last_error(h_);
  portal_.decline_trigger("ALT+F5");
  EXPECT_EQ(apply({{1, "Ctrl+Alt+P", "old"}, {2, "Alt+F5", "new"}}), KMX_ERR_BACKEND);
  EXPECT_NE(last_error(h_).find("did not bind Alt+F5; the previous set stays"), std::string::npos) << last_error(h_);
  EXPECT_EQ(portal_.live_shortcut_sessions(), 1u);
  ASSERT_TRUE(portal_.trigger("CTRL+ALT+p", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
}

TEST_F(Portal, ReplacingTheSetReleasesWhatTheOldSessionHeld) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+P", "old"}}), KMX_OK) << last_error(h_);
  ASSERT_TRUE(portal_.trigger("CTRL+ALT+p", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));

  ASSERT_EQ(apply({{1, "Ctrl+Alt+P", "kept"}, {2, "Alt+F5", "new"}}), KMX_OK) << last_error(h_);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0})) << "the hold ended with its registration";
  EXPECT_EQ(portal_.live_shortcut_sessions(), 1u) << "the old session is closed";
  EXPECT_EQ(portal_.bound().size(), 2u);
  EXPECT_TRUE(quiet());

  ASSERT_TRUE(portal_.trigger("ALT+F5", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 1}));
  ASSERT_EQ(apply({}), KMX_OK);
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 0}));
  EXPECT_EQ(portal_.live_shortcut_sessions(), 0u);
  EXPECT_FALSE(portal_.trigger("ALT+F5", true));
}

TEST_F(Portal, ARefusedBindKeepsThePreviousSet) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+P", "old"}}), KMX_OK) << last_error(h_);
  portal_.set_bind_response(1);
  EXPECT_EQ(apply({{2, "Ctrl+Alt+Q", "new"}}), KMX_ERR_BACKEND);
  EXPECT_NE(last_error(h_).find("refused the shortcuts (cancelled by the user); the previous set stays"),
            std::string::npos)
      << last_error(h_);
  EXPECT_EQ(portal_.live_shortcut_sessions(), 1u);
  ASSERT_TRUE(portal_.trigger("CTRL+ALT+p", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));

  EXPECT_EQ(apply({{3, "Ctrl+Nope", ""}}), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(portal_.live_shortcut_sessions(), 1u);
  char leftovers[64] = {};
  EXPECT_EQ(kmx_apply_leftovers(h_, leftovers, sizeof leftovers), 1u) << leftovers;
}

// A portal that binds at CreateSession hands a combination to no new session
// while the old one holds it, so the old one goes first and a failed set is
// followed by the previous one bound again.
TEST_F(Portal, APortalBindingAtCreationGetsThePreviousSetBackAfterAFailedOne) {
  portal_.set_bind_at_creation(true);
  ASSERT_EQ(apply({{1, "Ctrl+Alt+P", "old"}}), KMX_OK) << last_error(h_);
  portal_.decline_trigger("ALT+F5");
  EXPECT_EQ(apply({{1, "Ctrl+Alt+P", "old"}, {2, "Alt+F5", "new"}}), KMX_ERR_BACKEND);
  EXPECT_NE(last_error(h_).find("Alt+F5; the previous set was bound again"), std::string::npos) << last_error(h_);
  EXPECT_EQ(portal_.live_shortcut_sessions(), 1u);
  ASSERT_TRUE(portal_.trigger("CTRL+ALT+p", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));

  // What was held is released when the old session goes; then nothing restores it.
  portal_.decline_trigger("CTRL+ALT+p");
  EXPECT_EQ(apply({{1, "Ctrl+Alt+P", "old"}, {2, "Alt+F5", "new"}}), KMX_ERR_BACKEND);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));
  EXPECT_NE(last_error(h_).find("rollback could not restore: Ctrl+Alt+P"), std::string::npos) << last_error(h_);
  EXPECT_EQ(portal_.live_shortcut_sessions(), 0u);
}

TEST_F(Portal, ChordsWaitForConsentThenGoOutAsEvdevCodesInOrder) {
  portal_.set_consent("wait");
  const uint32_t control[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(h_, control, 1, KEY_V), KMX_ERR_DELIVERY_UNCERTAIN);
  EXPECT_NE(last_error(h_).find("consent"), std::string::npos) << last_error(h_);
  EXPECT_EQ(kmx_send_chord(h_, control, 1, KEY_V), KMX_ERR_DELIVERY_UNCERTAIN);
  EXPECT_TRUE(portal_.keycodes().empty());

  ASSERT_EQ(portal_.answer_consent(true), 1u) << "one consent dialog, however many chords asked";
  // The answer reaches the library a moment later; until then chords are still held back.
  KmxStatus sent = KMX_ERR_DELIVERY_UNCERTAIN;
  for (int i = 0; i < 100 && sent == KMX_ERR_DELIVERY_UNCERTAIN; ++i) {
    sent = kmx_send_chord(h_, control, 1, KEY_V);
    if (sent == KMX_ERR_DELIVERY_UNCERTAIN) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(sent, KMX_OK) << last_error(h_);
  const uint32_t right_alt[] = {RIGHT_ALT};
  ASSERT_EQ(kmx_send_chord(h_, right_alt, 1, KEY_V), KMX_OK) << last_error(h_);
  using Codes = std::vector<std::pair<int, uint32_t>>;
  EXPECT_EQ(portal_.keycodes(), (Codes{{EVDEV_LEFTCTRL, 1},
                                       {EVDEV_V, 1},
                                       {EVDEV_V, 0},
                                       {EVDEV_LEFTCTRL, 0},
                                       {EVDEV_RIGHTALT, 1},
                                       {EVDEV_V, 1},
                                       {EVDEV_V, 0},
                                       {EVDEV_RIGHTALT, 0}}));

  // A session the portal ends is said once; the next chord asks again.
  ASSERT_EQ(portal_.close_sessions("rd"), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(kmx_send_chord(h_, control, 1, KEY_V), KMX_ERR_NOT_DELIVERED);
  portal_.set_consent("deny");
  EXPECT_EQ(kmx_send_chord(h_, control, 1, KEY_V), KMX_ERR_NOT_DELIVERED);
  EXPECT_NE(last_error(h_).find("not allowed (cancelled by the user)"), std::string::npos) << last_error(h_);
  EXPECT_EQ(portal_.keycodes().size(), 8u);
}

TEST_F(Portal, RawInputAndKeyStateAreRefusedNamingTheSession) {
  EXPECT_EQ(kmx_set_raw_mask(h_, KMX_RAW_KEYS), KMX_ERR_UNSUPPORTED);
  EXPECT_NE(last_error(h_).find("Wayland session"), std::string::npos) << last_error(h_);
  EXPECT_EQ(kmx_set_raw_mask(h_, 0), KMX_OK);
  EXPECT_EQ(kmx_is_key_down(h_, KEY_V), -static_cast<int32_t>(KMX_ERR_UNSUPPORTED));
  EXPECT_NE(last_error(h_).find("Wayland session"), std::string::npos) << last_error(h_);
}

TEST_F(Portal, ASessionThePortalClosesEndsTheRuntime) {
  ASSERT_EQ(apply({{4, "Ctrl+Alt+P", ""}}), KMX_OK) << last_error(h_);
  ASSERT_TRUE(portal_.trigger("CTRL+ALT+p", true));
  EXPECT_EQ(next_hotkey(), (Hotkey{4, 1}));
  ASSERT_EQ(portal_.close_sessions("gs"), 1u);
  EXPECT_EQ(next_hotkey(), (Hotkey{4, 0}));
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(h_, &e, 2000), KMX_ERR_CLOSED);
  EXPECT_EQ(apply({{4, "Ctrl+Alt+P", ""}}), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_set_raw_mask(h_, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_stop(h_), KMX_OK);
}

TEST_F(Portal, APortalThatGoesAwayEndsTheRuntime) {
  ASSERT_EQ(apply({{4, "Ctrl+Alt+P", ""}}), KMX_OK) << last_error(h_);
  portal_.quit();
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(h_, &e, 5000), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_stop(h_), KMX_OK);
}

// Which backend a Linux runtime gets.
struct Choice {
  const char* wayland_display;
  const char* forced;
  bool portal_up;
  KmxStatus status;
  const char* backend;  // or a piece of the creation error
};

class BackendChoice : public ::testing::TestWithParam<Choice> {};

TEST_P(BackendChoice, FollowsTheSessionThePortalAndTheOverride) {
  const Choice& c = GetParam();
  Env wayland("WAYLAND_DISPLAY", c.wayland_display);
  Env session("XDG_SESSION_TYPE", nullptr);
  Env forced("KMX_LINUX_BACKEND", c.forced);
  FakePortal portal;
  if (!c.portal_up) portal.stop();
  KmxHandle h = nullptr;
  ASSERT_EQ(kmx_create(nullptr, &h), c.status) << last_init_error();
  if (c.status == KMX_OK) {
    EXPECT_EQ(backend_name(h), c.backend);
    kmx_stop(h);
    kmx_destroy(h);
  } else {
    EXPECT_NE(last_init_error().find(c.backend), std::string::npos) << last_init_error();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, BackendChoice,
    ::testing::Values(Choice{"wayland-0", nullptr, true, KMX_OK, "wayland-portal"},
                      Choice{nullptr, nullptr, true, KMX_OK, "x11"}, Choice{"wayland-0", nullptr, false, KMX_OK, "x11"},
                      Choice{"wayland-0", "x11", true, KMX_OK, "x11"},
                      Choice{nullptr, "portal", true, KMX_OK, "wayland-portal"},
                      Choice{nullptr, "portal", false, KMX_ERR_BACKEND, "no GlobalShortcuts"},
                      Choice{nullptr, "wayland", true, KMX_ERR_INVALID_ARGUMENT, "KMX_LINUX_BACKEND must be"}));

TEST(PortalCreation, ARawMaskIsRefusedAsUnsupported) {
  Env forced("KMX_LINUX_BACKEND", "portal");
  FakePortal portal;
  ASSERT_TRUE(portal.running());
  const KmxCreateOptions options = {KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle h = nullptr;
  EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(h, nullptr);
  EXPECT_NE(last_init_error().find("Wayland session"), std::string::npos) << last_init_error();
}

}  // namespace

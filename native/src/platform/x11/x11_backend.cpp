// The X11 backend: spawn and the "keymux-x11" worker, which owns its own
// display connections, the raw-input selection and the hot-key grabs, and
// sleeps in poll on those connections and the wake descriptor.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <variant>

#include "hotkeys/hotkey_set.h"
#include "platform/worker_start.h"
#include "platform/x11/x11_direct.h"
#include "platform/x11/x11_hotkeys.h"
#include "platform/x11/x11_raw_input.h"
#include "platform/x11/x11_threads.h"
#include "platform/x11/x11_xwayland.h"

namespace kmx::platform::x11 {

namespace {

constexpr uint64_t ALL_CAPABILITIES = 0xEF;
constexpr uint64_t INJECTION_CAPABILITIES = 0x40 | 0x80;

using InitResult = Result<void>;

std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : ", ") + t;
  return out;
}

// The worker holds two connections. X withholds raw events from the client
// whose grab is active, so the grabs live on one connection and the raw
// selection on the other; raw input then sees keys typed during a hot key.
//
// Hot keys take their presses from the grabs and their releases from raw
// input. The raw stream is the timeline: each grabbed press is placed right
// after the raw press it came from (same keycode, same server time), so hot
// keys and raw keys reach the queue in server order, and a release ends only
// the hold that began before it.
class Worker {
 public:
  Worker(Display* grab_display, Display* raw_display, int wake_fd, queue::Receiver<Command> commands,
         EventSender events, MotionChannel motion, std::shared_ptr<x11::InjectionLedger> ledger)
      : grab_display_(grab_display),
        raw_display_(raw_display),
        wake_fd_(wake_fd),
        events_(events),
        raw_(raw_display, std::move(events), std::move(motion), std::move(ledger),
             [this](unsigned keycode, bool down, Time time) { on_raw_key(keycode, down, time); }),
        positions_(grab_display),
        grabs_(events_),
        locks_(x11::lock_masks(grab_display)),
        commands_(std::move(commands)) {}

  ~Worker() {
    // Commands that come now find the worker gone at once.
    commands_.reset();
    // Teardown: ungrab everything (a hot key still held gets its release),
    // then close the connections, which also ends every event selection.
    x11::X11Registrar registrar = registrar_for_apply();
    hotkeys_.clear(registrar);
    registrar.finish();
    for (unsigned keycode : repeat_off_) set_repeat(keycode, true);
    x11::close_display(grab_display_);
    x11::close_display(raw_display_);
    ::close(wake_fd_);
  }

  Result<void> start(uint32_t raw_mask) {
    int supported = 0;
    // Holding a hot key then gives one press and one release.
    XkbSetDetectableAutoRepeat(grab_display_, True, &supported);
    grab_xi_opcode_ = x11::X11RawInput::xinput2_opcode(grab_display_);
    if (grab_xi_opcode_ >= 0) xi_keyboard_ = master_keyboard(grab_display_);
    return raw_.sync(raw_mask);
  }

  void run() {
    while (running_) {
      handle_x_events();
      if (lost()) {
        std::fprintf(stderr, "[keymux] %s; the X11 backend stopped\n",
                     x11::lost_error(grab_display_).message().c_str());
        break;
      }
      if (!running_) break;
      pollfd fds[3] = {{ConnectionNumber(grab_display_), POLLIN, 0},
                       {ConnectionNumber(raw_display_), POLLIN, 0},
                       {wake_fd_, POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        std::fprintf(stderr, "[keymux] X11 worker: poll failed (%s); the X11 backend stopped\n", strerror(errno));
        break;
      }
      if (fds[2].revents & POLLIN) {
        drain_wake();
        catch_up();
        drain_commands();
      }
    }
  }

  // Takes every hot-key grab again (after a keyboard mapping change).
  void regrab_all() {
    x11::X11Registrar registrar = registrar_for_apply();
    registrar.regrab_all();
  }

 private:
  struct GrabPress {
    unsigned keycode;
    unsigned state;
    Time time;
    bool raw_synced;
  };
  // A raw press of a grabbed key that no grabbed press has matched yet.
  struct RawPress {
    Time pressed;
    std::optional<Time> released;
  };

  static int master_keyboard(Display* display) {
    int count = 0, id = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllMasterDevices, &count);
    if (!devices) return 0;
    for (int i = 0; i < count && id == 0; ++i)
      if (devices[i].use == XIMasterKeyboard) id = devices[i].deviceid;
    XIFreeDeviceInfo(devices);
    return id;
  }

  bool lost() const { return x11::connection_lost(grab_display_) || x11::connection_lost(raw_display_); }

  x11::X11Registrar registrar_for_apply() {
    return x11::X11Registrar(grab_display_, positions_, grabs_, locks_.all(), xi_keyboard_);
  }

  void drain_wake() {
    char buffer[64];
    while (::read(wake_fd_, buffer, sizeof buffer) > 0) {
    }
  }

  // Events the server sent before a command was issued are handled before
  // it: one round trip on each connection brings them in.
  void catch_up() {
    XSync(grab_display_, False);
    XSync(raw_display_, False);
    handle_x_events();
  }

  void handle_x_events() {
    do {
      handle_raw_events();
      handle_grab_events();
      resolve_pending_presses();
      raw_.flush_motion();
      // A reply read above may have queued events that poll would not see.
    } while (!lost() && (XQLength(raw_display_) > 0 || XQLength(grab_display_) > 0));
  }

  void handle_raw_events() {
    while (XPending(raw_display_) > 0) {
      XEvent event;
      XNextEvent(raw_display_, &event);
      if (!raw_.handle(event) && event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    }
  }

  void handle_grab_events() {
    while (XPending(grab_display_) > 0) {
      XEvent event;
      XNextEvent(grab_display_, &event);
      if (positions_.on_event(event)) {
        keyboard_changed();
        continue;
      }
      switch (event.type) {
        case KeyPress:
          on_grab_press(event.xkey.keycode, event.xkey.state, event.xkey.time, 0);
          break;
        case KeyRelease:
          if (!raw_.available()) grabs_.release(event.xkey.keycode);
          break;
        case GenericEvent:
          on_grab_generic(event);
          break;
        default:
          break;
      }
    }
  }

  // Hot keys are key positions: after a change of keyboard, keymap or
  // modifier map the grabs follow their keys and the lock modifiers.
  void keyboard_changed() {
    locks_ = x11::lock_masks(grab_display_);
    x11::X11Registrar registrar = registrar_for_apply();
    if (!registrar.grabs_current()) registrar.regrab_all();
  }

  // The XInput 2 grab activated instead of the core one.
  void on_grab_generic(XEvent& event) {
    if (grab_xi_opcode_ < 0 || event.xcookie.extension != grab_xi_opcode_) return;
    if (!XGetEventData(grab_display_, &event.xcookie)) {
      // A grab that activated must not leave the keyboard frozen.
      if (event.xcookie.evtype == XI_KeyPress && xi_keyboard_ != 0) {
        xcb_input_xi_ungrab_device(XGetXCBConnection(grab_display_), XCB_CURRENT_TIME,
                                   static_cast<xcb_input_device_id_t>(xi_keyboard_));
        XSync(grab_display_, False);
      }
      return;
    }
    const auto* key = static_cast<const XIDeviceEvent*>(event.xcookie.data);
    if (event.xcookie.evtype == XI_KeyPress)
      on_grab_press(static_cast<unsigned>(key->detail), static_cast<unsigned>(key->mods.effective), key->time,
                    key->deviceid);
    else if (event.xcookie.evtype == XI_KeyRelease && !raw_.available())
      grabs_.release(static_cast<unsigned>(key->detail));
    XFreeEventData(grab_display_, &event.xcookie);
  }

  void on_grab_press(unsigned keycode, unsigned state, Time time, int xi_device) {
    xcb_connection_t* c = XGetXCBConnection(grab_display_);
    if (!raw_.available()) {
      // Without raw input the grab stays active: its release is the only one.
      // The keyboard it froze runs on, its events coming here.
      if (xi_device != 0)
        xcb_input_xi_allow_events(c, static_cast<xcb_timestamp_t>(time), static_cast<xcb_input_device_id_t>(xi_device),
                                  XCB_INPUT_EVENT_MODE_ASYNC_DEVICE, 0, 0);
      else
        xcb_allow_events(c, XCB_ALLOW_ASYNC_KEYBOARD, static_cast<xcb_timestamp_t>(time));
      xcb_flush(c);
      grabs_.press(keycode, state, locks_.all());
      return;
    }
    // Hand the keyboard back at once, so typing and chords reach the focused
    // window while the hot key is held; the keys that came meanwhile waited
    // in the server (the grab froze the keyboard) and go there too. The
    // round trip makes sure the host that sees the press (and sends a chord
    // on it) finds the keyboard free.
    if (xi_device != 0)
      xcb_input_xi_ungrab_device(c, static_cast<xcb_timestamp_t>(time), static_cast<xcb_input_device_id_t>(xi_device));
    else
      xcb_ungrab_keyboard(c, static_cast<xcb_timestamp_t>(time));
    XSync(grab_display_, False);
    pending_.push_back({keycode, state, time, false});
  }

  // X times are 32-bit milliseconds that wrap.
  static bool not_before(Time later, Time earlier) {
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier)) >= 0;
  }

  void on_raw_key(unsigned keycode, bool down, Time time) {
    if (!down) {
      if (auto it = unclaimed_.find(keycode); it != unclaimed_.end() && !it->second.released)
        it->second.released = time;
      restore_repeat(keycode);  // before the host can see the release
      grabs_.release(keycode);
      return;
    }
    if (!grabs_.grabs_keycode(keycode)) return;
    auto press = take_pending(keycode, time);
    if (!press) {
      // The grab's event for this press may still be on its way.
      XSync(grab_display_, False);
      handle_grab_events();
      press = take_pending(keycode, time);
    }
    if (press) {
      unclaimed_.erase(keycode);
      start_hold(*press);
    } else {
      // Slow Keys (AccessX) hands the press to clients only after a delay,
      // while the raw press comes at once; the grab may still take it.
      unclaimed_[keycode] = RawPress{time, std::nullopt};
    }
  }

  // The first grabbed press of the key at or after the raw press: the same
  // server time normally, later when the server delays key acceptance.
  std::optional<GrabPress> take_pending(unsigned keycode, Time time) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->keycode != keycode || !not_before(it->time, time)) continue;
      GrabPress press = *it;
      pending_.erase(it);
      return press;
    }
    return std::nullopt;
  }

  // A grabbed press that came after its raw press had gone by: the grab
  // consumed it, so it is a hot-key press, and a release already seen ends
  // it at once. False when no raw press of the key is waiting for it.
  bool claim_earlier_raw_press(const GrabPress& press) {
    const auto it = unclaimed_.find(press.keycode);
    if (it == unclaimed_.end() || !not_before(press.time, it->second.pressed)) return false;
    const std::optional<Time> released = it->second.released;
    if (released && !not_before(*released, press.time)) return false;  // that press ended before this one
    unclaimed_.erase(it);
    if (released) {
      grabs_.press(press.keycode, press.state, locks_.all());
      grabs_.release(press.keycode);
    } else {
      start_hold(press);
    }
    return true;
  }

  // Every auto-repeat of a held key would activate the passive grab again,
  // and each activation and hand-back costs the focused window a
  // FocusOut/FocusIn pair (input methods and toolkits take it as real focus
  // loss). So the key does not repeat while its hot key is held: its XKB
  // per-key repeat bit, whose clearing also stops a repeat under way, is
  // off until its raw release. A key that did not repeat is left alone.
  void start_hold(const GrabPress& press) {
    if (!grabs_.press(press.keycode, press.state, locks_.all())) return;
    if (set_repeat(press.keycode, false)) repeat_off_.insert(press.keycode);
  }

  void restore_repeat(unsigned keycode) {
    if (repeat_off_.erase(keycode)) set_repeat(keycode, true);
  }

  // True when the key's repeat bit changed.
  bool set_repeat(unsigned keycode, bool on) {
    if (keycode >= XkbMaxKeyCount || lost()) return false;
    XkbDescPtr xkb = XkbAllocKeyboard();
    if (!xkb) return false;
    bool changed = false;
    if (XkbGetControls(grab_display_, XkbPerKeyRepeatMask, xkb) == Success && xkb->ctrls) {
      unsigned char& bits = xkb->ctrls->per_key_repeat[keycode / 8];
      const unsigned char bit = static_cast<unsigned char>(1u << (keycode % 8));
      if (((bits & bit) != 0) != on) {
        bits = static_cast<unsigned char>(on ? bits | bit : bits & ~bit);
        changed = XkbSetControls(grab_display_, XkbPerKeyRepeatMask, xkb) == True;
        XSync(grab_display_, False);
      }
    }
    XkbFreeKeyboard(xkb, 0, True);
    return changed;
  }

  // Grabbed presses whose raw press has not been read: one round trip on the
  // raw connection brings it in. A press whose raw press came earlier
  // (delayed acceptance) is claimed from it. Presses that still have none
  // are dropped: either the server's auto-repeat of a held key, or a press
  // whose raw press went by while its registration was not there; a hold
  // begun from it could never end.
  void resolve_pending_presses() {
    while (!pending_.empty() && !lost()) {
      bool unsynced = false;
      for (GrabPress& press : pending_) {
        unsynced = unsynced || !press.raw_synced;
        press.raw_synced = true;
      }
      if (!unsynced) break;
      XSync(raw_display_, False);
      handle_raw_events();
    }
    for (const GrabPress& press : pending_) claim_earlier_raw_press(press);
    pending_.clear();
  }

  void drain_commands() {
    while (auto command = commands_.try_recv()) {
      std::visit([this](auto& c) { handle(c); }, *command);
    }
  }

  void handle(Stop& stop) {
    stop.ack.send(Ack{});
    running_ = false;  // commands queued behind Stop are still handled in this drain
  }

  void handle(SetRawMask& command) { command.reply.send(raw_.sync(command.mask)); }

  void handle(ApplyHotkeys& command) {
    x11::X11Registrar registrar = registrar_for_apply();
    registrar.prefetch(command.shortcuts);
    auto result = hotkeys_.apply(registrar, std::move(command.shortcuts));
    registrar.finish();
    if (result && result->kind == hotkeys::ApplyOutcome::Kind::AppliedWithLeftovers) {
      const hotkeys::ApplyLeftovers& left = result->leftovers;
      if (!left.retained.empty())
        std::fprintf(stderr,
                     "[keymux] X11 hotkeys applied; these obsolete registrations are still active and will be "
                     "retried: %s\n",
                     joined(left.retained).c_str());
      if (!left.orphaned.empty())
        std::fprintf(stderr,
                     "[keymux] X11 hotkeys applied; these obsolete registrations could not be released and can no "
                     "longer be targeted: %s\n",
                     joined(left.orphaned).c_str());
    }
    command.reply.send(std::move(result));
  }

  Display* grab_display_;
  Display* raw_display_;
  int wake_fd_;
  EventSender events_;
  x11::X11RawInput raw_;
  x11::KeyPositions positions_;
  x11::GrabTable grabs_;
  x11::LockMasks locks_;
  hotkeys::HotkeySet<x11::X11Registrar> hotkeys_;
  std::deque<GrabPress> pending_;  // grabbed presses waiting for their raw press
  std::map<unsigned, RawPress> unclaimed_;  // keycode -> its last raw press no grabbed press matched
  std::set<unsigned> repeat_off_;           // keys held as hot keys, not repeating meanwhile
  int grab_xi_opcode_ = -1;
  int xi_keyboard_ = 0;
  bool running_ = true;
  queue::Receiver<Command> commands_;
};

void worker_body(int wake_fd, uint32_t raw_mask, queue::Receiver<Command> commands, EventSender events,
                 MotionChannel motion, std::shared_ptr<x11::InjectionLedger> ledger, queue::Sender<InitResult> init) {
  // A write to a lost server must not raise SIGPIPE in the host.
  x11::block_sigpipe_on_this_thread();
  const int flags = ::fcntl(wake_fd, F_GETFL);
  if (flags >= 0) ::fcntl(wake_fd, F_SETFL, flags | O_NONBLOCK);
  auto grab_display = x11::open_display();
  if (!grab_display) {
    ::close(wake_fd);
    init.send(std::move(grab_display).error());
    return;
  }
  auto raw_display = x11::open_display();
  if (!raw_display) {
    x11::close_display(grab_display.value());
    ::close(wake_fd);
    init.send(std::move(raw_display).error());
    return;
  }
  Worker worker(grab_display.value(), raw_display.value(), wake_fd, std::move(commands), std::move(events),
                std::move(motion), std::move(ledger));
  if (auto started = worker.start(raw_mask); !started) {
    init.send(std::move(started));
    return;
  }
  init.send(InitResult{});
  init.reset();
  worker.run();
}

}  // namespace

Result<BackendStart> spawn(uint32_t raw_mask, std::shared_ptr<DirectContext>& direct_out) {
  if (!x11::xlib_threads_ready()) return KmxError::backend("XInitThreads failed: Xlib cannot be used from threads");

  x11::SigpipeGuard no_sigpipe;
  auto direct_display = x11::open_display();
  if (!direct_display) return std::move(direct_display).error();
  Display* display = direct_display.value();
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  const bool has_xtest = XTestQueryExtension(display, &event_base, &error_base, &major, &minor);
  auto ledger = std::make_shared<x11::InjectionLedger>();
  auto direct = std::make_shared<DirectContext>(display, has_xtest, ledger);

  auto wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  const int wake_fd = static_cast<int>(wake->worker_end);

  EventPipes pipes = make_event_pipes();
  auto [command_tx, command_rx] = queue::channel<Command>();
  auto [init_tx, init_rx] = queue::channel<InitResult>();

  // The receivers move into the thread through shared state the lambda owns.
  auto commands = std::make_shared<queue::Receiver<Command>>(std::move(command_rx));
  auto worker = WorkerThread::start("keymux-x11", [wake_fd, raw_mask, commands, events = pipes.sender,
                                                   motion = pipes.motion, ledger, init = std::move(init_tx)]() mutable {
    worker_body(wake_fd, raw_mask, std::move(*commands), std::move(events), std::move(motion), std::move(ledger),
                std::move(init));
  });
  if (!worker) {
    ::close(wake_fd);
    return std::move(worker).error();
  }
  pipes.sender.reset();

  if (auto started = await_worker_start(*worker, init_rx, "X11"); !started) return std::move(started).error();

  uint64_t capabilities = (has_xtest && x11::X11RawInput::xinput2_opcode(display) >= 0)
                              ? ALL_CAPABILITIES
                              : ALL_CAPABILITIES & ~INJECTION_CAPABILITIES;
  // Under Xwayland injection and observation reach X11 clients only.
  if (x11::is_xwayland(display)) capabilities &= ~INJECTION_CAPABILITIES;

  direct_out = std::move(direct);
  BackendStart start{std::move(command_tx), pipes.motion, std::move(pipes.receiver), "x11",
                     wake->handle,          capabilities, std::move(worker.value()), nullptr};
  return start;
}

}  // namespace kmx::platform::x11

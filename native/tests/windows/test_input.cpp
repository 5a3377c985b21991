// Raw input and chords end to end through the DLL, on Wine's desktop.
#include <cmath>
#include <map>
#include <set>
#include <string_view>

#include "wine_support.h"

namespace kmx::wintest {
namespace {

constexpr uint32_t LEFT_CONTROL = 0xE0, LEFT_SHIFT = 0xE1, RIGHT_CONTROL = 0xE4;
constexpr uint32_t KEY_A = 0x04, KEY_K = 0x0E;

bool is_control_vk(uint32_t vk) { return vk == VK_CONTROL || vk == VK_LCONTROL; }
bool is_shift_vk(uint32_t vk) { return vk == VK_SHIFT || vk == VK_LSHIFT; }

bool is_key(const KmxEvent& e) { return e.kind == KMX_EVENT_KEY; }
bool is_button(const KmxEvent& e) { return e.kind == KMX_EVENT_BUTTON; }

class RawInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rt.status(), KMX_OK) << last_init_error();
    rt.drain(100);
  }
  Runtime rt{KMX_RAW_KEYS | KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION};
};

TEST_F(RawInput, BackendIsWin32WithFixedCapabilities) {
  char name[16];
  EXPECT_EQ(kmx_backend(rt.get(), name, sizeof name), 6u);
  EXPECT_STREQ(name, "win32");
  EXPECT_EQ(kmx_capabilities(rt.get()), 239u);
}

TEST_F(RawInput, ChordComesBackAsSelfInjectedKeysInPlanOrder) {
  const uint32_t mods[] = {LEFT_CONTROL, LEFT_SHIFT};
  ASSERT_EQ(kmx_send_chord(rt.get(), mods, 2, KEY_K), KMX_OK) << last_error(rt.get());

  std::vector<KmxEvent> keys;
  while (keys.size() < 6) {
    auto e = rt.wait_for(is_key);
    ASSERT_TRUE(e) << "only " << keys.size() << " key events";
    keys.push_back(*e);
  }
  struct Expected {
    bool (*code)(uint32_t);
    uint32_t role;
    uint8_t down;
  };
  auto is_k = [](uint32_t vk) { return vk == 0x4B; };
  const Expected expected[] = {{is_control_vk, KMX_MOD_CONTROL, 1},
                               {is_shift_vk, KMX_MOD_SHIFT, 1},
                               {is_k, KMX_MOD_NONE, 1},
                               {is_k, KMX_MOD_NONE, 0},
                               {is_shift_vk, KMX_MOD_SHIFT, 0},
                               {is_control_vk, KMX_MOD_CONTROL, 0}};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(expected[i].code(keys[i].native_code)) << std::hex << keys[i].native_code;
    EXPECT_EQ(keys[i].modifier, expected[i].role);
    EXPECT_EQ(keys[i].down, expected[i].down);
    EXPECT_EQ(keys[i].flags, KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED);
    EXPECT_EQ(keys[i].reserved, 0);
    EXPECT_EQ(keys[i].x, 0.0);
  }
  EXPECT_EQ(kmx_is_key_down(rt.get(), KEY_K), 0);
}

TEST_F(RawInput, KeyFromAnotherProgramIsSyntheticOnly) {
  press('Q');
  release('Q');
  auto down = rt.wait_for(is_key);
  auto up = rt.wait_for(is_key);
  ASSERT_TRUE(down && up);
  EXPECT_EQ(down->native_code, 'Q');
  EXPECT_EQ(down->down, 1);
  EXPECT_EQ(up->down, 0);
  EXPECT_EQ(down->flags, KMX_FLAG_SYNTHETIC);
  EXPECT_EQ(up->flags, KMX_FLAG_SYNTHETIC);
}

TEST_F(RawInput, AltLetterArrivesAsSystemKeyDown) {
  send({key_input(VK_MENU, true), key_input('F', true), key_input('F', false), key_input(VK_MENU, false)});
  auto alt = rt.wait_for(is_key);
  auto f = rt.wait_for(is_key);
  ASSERT_TRUE(alt && f);
  EXPECT_EQ(alt->modifier, KMX_MOD_ALT);
  EXPECT_EQ(f->native_code, 'F');
  EXPECT_EQ(f->down, 1);
  rt.drain(200);
}

TEST_F(RawInput, ButtonsAreNumberedLeftRightMiddle) {
  send({mouse_input(MOUSEEVENTF_MOVE, 100, 120), mouse_input(MOUSEEVENTF_LEFTDOWN, 100, 120),
        mouse_input(MOUSEEVENTF_LEFTUP, 100, 120), mouse_input(MOUSEEVENTF_RIGHTDOWN, 100, 120),
        mouse_input(MOUSEEVENTF_RIGHTUP, 100, 120), mouse_input(MOUSEEVENTF_MIDDLEDOWN, 100, 120),
        mouse_input(MOUSEEVENTF_MIDDLEUP, 100, 120)});
  const std::pair<uint8_t, uint8_t> expected[] = {{1, 1}, {1, 0}, {2, 1}, {2, 0}, {3, 1}, {3, 0}};
  for (const auto& [button, down] : expected) {
    auto e = rt.wait_for(is_button);
    ASSERT_TRUE(e) << "button " << int(button);
    EXPECT_EQ(e->button, button);
    EXPECT_EQ(e->down, down);
    EXPECT_EQ(e->flags, KMX_FLAG_SYNTHETIC);
    EXPECT_NEAR(e->x, 100.0, 1.0);
    EXPECT_NEAR(e->y, 120.0, 1.0);
  }
}

TEST_F(RawInput, MotionIsReportedOnlyWhileTheLeftButtonIsHeld) {
  send({mouse_input(MOUSEEVENTF_MOVE, 50, 50)});
  send({mouse_input(MOUSEEVENTF_MOVE, 60, 60)});  // no button: no motion
  send({mouse_input(MOUSEEVENTF_LEFTDOWN, 60, 60)});
  send({mouse_input(MOUSEEVENTF_MOVE, 200, 210)});
  auto drag = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_MOTION; });
  ASSERT_TRUE(drag);
  EXPECT_EQ(drag->flags, KMX_FLAG_SYNTHETIC);
  EXPECT_EQ(drag->down, 0);
  EXPECT_NEAR(drag->x, 200.0, 1.0);
  EXPECT_NEAR(drag->y, 210.0, 1.0);
  send({mouse_input(MOUSEEVENTF_LEFTUP, 200, 210)});
  send({mouse_input(MOUSEEVENTF_MOVE, 300, 300)});
  send({mouse_input(MOUSEEVENTF_RIGHTDOWN, 300, 300), mouse_input(MOUSEEVENTF_RIGHTUP, 300, 300)});

  // Everything up to the right click: the left release and no motion after it.
  std::vector<KmxEvent> seen;
  while (seen.empty() || seen.back().button != 2) {
    KmxEvent e;
    ASSERT_EQ(kmx_poll_event(rt.get(), &e, 5000), KMX_OK);
    seen.push_back(e);
  }
  bool released = false;
  for (const KmxEvent& e : seen) {
    if (e.kind == KMX_EVENT_BUTTON && e.button == 1 && e.down == 0) released = true;
    if (released) {
      EXPECT_NE(e.kind, KMX_EVENT_MOTION) << "motion at " << e.x << "," << e.y;
    }
  }
  EXPECT_TRUE(released);
}

TEST_F(RawInput, DragMotionAloneReportsMotionButNoButtons) {
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_DRAG_MOTION), KMX_OK);
  send({mouse_input(MOUSEEVENTF_MOVE, 20, 20)});
  send({mouse_input(MOUSEEVENTF_LEFTDOWN, 20, 20)});
  send({mouse_input(MOUSEEVENTF_MOVE, 150, 160)});
  auto motion = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_MOTION; });
  ASSERT_TRUE(motion) << "the mouse hook follows the left button without reporting it";
  EXPECT_NEAR(motion->x, 150.0, 1.0);
  send({mouse_input(MOUSEEVENTF_LEFTUP, 150, 160)});
  send({mouse_input(MOUSEEVENTF_MOVE, 170, 170)});
  send({mouse_input(MOUSEEVENTF_RIGHTDOWN, 170, 170), mouse_input(MOUSEEVENTF_RIGHTUP, 170, 170),
        mouse_input(MOUSEEVENTF_MIDDLEDOWN, 170, 170), mouse_input(MOUSEEVENTF_MIDDLEUP, 170, 170)});
  for (const KmxEvent& e : rt.drain(400)) {
    EXPECT_NE(e.kind, KMX_EVENT_BUTTON) << "button " << int(e.button);
    EXPECT_NE(e.kind, KMX_EVENT_MOTION) << "motion after the release at " << e.x << "," << e.y;
  }
}

TEST_F(RawInput, WheelAndDoubleClicksProduceNothing) {
  INPUT wheel = mouse_input(MOUSEEVENTF_WHEEL, 400, 400);
  wheel.mi.mouseData = WHEEL_DELTA;
  send({wheel});
  send({mouse_input(MOUSEEVENTF_MIDDLEDOWN, 400, 400), mouse_input(MOUSEEVENTF_MIDDLEUP, 400, 400)});
  KmxEvent first;
  ASSERT_EQ(kmx_poll_event(rt.get(), &first, 5000), KMX_OK);
  EXPECT_EQ(first.kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(first.button, 3);
  rt.drain(200);
}

TEST_F(RawInput, MaskChangesSwitchWhatIsReported) {
  auto click = [] { send({mouse_input(MOUSEEVENTF_RIGHTDOWN, 10, 10), mouse_input(MOUSEEVENTF_RIGHTUP, 10, 10)}); };
  auto key = [] { send({key_input('W', true), key_input('W', false)}); };

  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_KEYS), KMX_OK);
  click();
  key();
  auto e = rt.wait_for([](const KmxEvent&) { return true; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, KMX_EVENT_KEY) << "keys only: the click is not reported";
  rt.drain(300);

  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION), KMX_OK);
  key();
  click();
  e = rt.wait_for([](const KmxEvent&) { return true; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, KMX_EVENT_BUTTON) << "buttons only: the key is not reported";
  rt.drain(300);

  ASSERT_EQ(kmx_set_raw_mask(rt.get(), 0), KMX_OK);
  key();
  click();
  EXPECT_TRUE(rt.drain(500).empty());
}

TEST_F(RawInput, DragInProgressSurvivesAMaskChangeThatKeepsTheMouse) {
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_BUTTONS), KMX_OK);
  send({mouse_input(MOUSEEVENTF_LEFTDOWN, 30, 30)});
  send({mouse_input(MOUSEEVENTF_MOVE, 40, 40)});
  ASSERT_TRUE(rt.wait_for(is_button));
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION), KMX_OK);
  send({mouse_input(MOUSEEVENTF_MOVE, 80, 90)});
  auto motion = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_MOTION; });
  ASSERT_TRUE(motion) << "left held was kept across the change";
  EXPECT_NEAR(motion->x, 80.0, 1.0);
  send({mouse_input(MOUSEEVENTF_LEFTUP, 80, 90)});
  rt.drain(200);
}

TEST_F(RawInput, ChordIsRefusedWhileTheUserHoldsTheMainKey) {
  press('A');
  ASSERT_TRUE(rt.wait_for(is_key));
  EXPECT_EQ(kmx_is_key_down(rt.get(), KEY_A), 1);
  const uint32_t mods[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(rt.get()),
            "backend error: main chord key 0x4 is physically held; declining to inject rather than risk "
            "releasing a key the user still owns");
  release('A');
  auto up = rt.wait_for(is_key);
  ASSERT_TRUE(up);
  EXPECT_EQ(up->down, 0);
  EXPECT_TRUE(rt.drain(300).empty()) << "nothing was injected";
  EXPECT_EQ(kmx_is_key_down(rt.get(), KEY_A), 0);
}

TEST_F(RawInput, HeldControlIsNeitherPressedNorReleasedByTheChord) {
  press(VK_CONTROL);
  ASSERT_TRUE(rt.wait_for(is_key));
  EXPECT_EQ(kmx_is_key_down(rt.get(), RIGHT_CONTROL), 1) << "either Control answers for RightControl";
  const uint32_t mods[] = {LEFT_CONTROL};
  ASSERT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_K), KMX_OK);
  auto down = rt.wait_for(is_key);
  auto up = rt.wait_for(is_key);
  ASSERT_TRUE(down && up);
  EXPECT_EQ(down->native_code, 0x4Bu);
  EXPECT_EQ(up->native_code, 0x4Bu);
  release(VK_CONTROL);
  auto ctrl_up = rt.wait_for(is_key);
  ASSERT_TRUE(ctrl_up);
  EXPECT_EQ(ctrl_up->flags, KMX_FLAG_SYNTHETIC) << "the release is the test's own, not the chord's";
}

TEST_F(RawInput, KeyStateAnswersPerUsageInOrder) {
  press(VK_SHIFT);
  ASSERT_TRUE(rt.wait_for(is_key));
  const uint32_t usages[] = {LEFT_SHIFT, KEY_A, 0xE5};
  uint8_t results[3] = {9, 9, 9};
  ASSERT_EQ(kmx_is_key_down_many(rt.get(), usages, 3, results), KMX_OK);
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], 1);
  release(VK_SHIFT);
  rt.drain(200);
}

TEST_F(RawInput, FiveModifiersAreRefused) {
  const uint32_t mods[] = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 5, KEY_A), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(rt.get()), "invalid argument: at most 4 chord modifiers");
}

// Another program on the desktop with a keyboard hook of its own, which
// reports what it saw of the library's injected keys when it ends.
class KeyObserver {
 public:
  explicit KeyObserver(size_t count) {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, n);
    program = program.substr(0, program.find_last_of(L'\\') + 1) + L"key_observer.exe";
    std::wstring command = L"\"" + program + L"\" " + std::to_wstring(count);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr;
    ::CreatePipe(&child_in, &stdin_, &inherit, 0);
    ::CreatePipe(&stdout_, &child_out, &inherit, 1 << 16);  // room for every line: it writes before we read
    ::SetHandleInformation(stdin_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(stdout_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in;
    si.hStdOutput = child_out;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    started_ = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(child_in);
    ::CloseHandle(child_out);
    if (!started_) return;
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
  }
  ~KeyObserver() {
    close_input();
    if (process_ != nullptr) {
      if (::WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) ::TerminateProcess(process_, 1);
      ::CloseHandle(process_);
    }
    ::CloseHandle(stdout_);
  }

  // Whether its hook is in place.
  bool ready() { return started_ && read_line() == "ready"; }

  // What it saw: ends it once it has seen its count, or after a grace period.
  std::vector<std::string> seen() {
    if (::WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) close_input();
    std::vector<std::string> out;
    for (std::string line = read_line(); !line.empty(); line = read_line()) out.push_back(line);
    return out;
  }

 private:
  void close_input() {
    if (stdin_ != nullptr) ::CloseHandle(stdin_);
    stdin_ = nullptr;
  }
  std::string read_line() {
    std::string line;
    char c;
    DWORD n = 0;
    while (::ReadFile(stdout_, &c, 1, &n, nullptr) && n == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }

  bool started_ = false;
  HANDLE process_ = nullptr;
  HANDLE stdin_ = nullptr;
  HANDLE stdout_ = nullptr;
};

struct TableRow {
  uint32_t usage;
  std::string_view name;
  uint32_t vk;
};

// Every row of the key and modifier tables, as the library has them.
const std::vector<TableRow>& table_rows() {
  static const std::vector<TableRow> rows{
#define NONE 0
#define KMX_KEY(usage, name, win, mac, x11, evdev) {usage, name, win},
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev) {usage, name, win},
#include "model/keys.inc"
#undef KMX_KEY
#undef KMX_MODIFIER
#undef NONE
  };
  return rows;
}

// The keys a standard keyboard sends with an E0 prefix.
const std::set<std::string_view> EXTENDED{"PrintScreen",  "Insert",   "Home",         "PageUp",      "Delete",
                                          "End",          "PageDown", "ArrowRight",   "ArrowLeft",   "ArrowDown",
                                          "ArrowUp",      "NumLock",  "NumpadDivide", "NumpadEnter", "LeftMeta",
                                          "RightControl", "RightAlt", "RightMeta"};

// The virtual keys another program may see for a row: Windows reports the
// side of a side-neutral modifier, Wine passes the neutral key on.
bool vk_matches(const TableRow& row, uint32_t vk) {
  if (vk == row.vk) return true;
  const bool right = row.name.substr(0, 5) == "Right";
  switch (row.vk) {
    case VK_CONTROL:
      return vk == (right ? VK_RCONTROL : VK_LCONTROL);
    case VK_SHIFT:
      return vk == (right ? VK_RSHIFT : VK_LSHIFT);
    case VK_MENU:
      return vk == (right ? VK_RMENU : VK_LMENU);
    default:
      return false;
  }
}

TEST(ScanCodes, EveryRowReachesAnotherProgramWithItsScanCodeAndExtendedFlag) {
  Runtime rt(0);
  ASSERT_EQ(rt.status(), KMX_OK) << last_init_error();
  // Toggles go twice, so that the desktop's lock states end as they began.
  const std::set<std::string_view> toggles{"CapsLock", "NumLock", "ScrollLock"};
  std::vector<const TableRow*> sent;
  for (const TableRow& row : table_rows()) {
    sent.push_back(&row);
    if (toggles.contains(row.name)) sent.push_back(&row);
  }
  ASSERT_EQ(table_rows().size(), 115u);

  KeyObserver observer(2 * sent.size());
  ASSERT_TRUE(observer.ready());
  for (const TableRow* row : sent)
    ASSERT_EQ(kmx_send_chord(rt.get(), nullptr, 0, row->usage), KMX_OK) << row->name << ": " << last_error(rt.get());
  const auto seen = observer.seen();
  ASSERT_EQ(seen.size(), 2 * sent.size());

  std::map<std::pair<uint32_t, bool>, std::string_view> positions;
  std::map<std::string_view, uint32_t> scans;
  for (size_t i = 0; i < sent.size(); ++i) {
    const TableRow& row = *sent[i];
    SCOPED_TRACE(std::string(row.name));
    for (int edge = 0; edge < 2; ++edge) {
      unsigned down = 9;
      unsigned long vk = 0, scan = 0, flags = 0;
      ASSERT_EQ(std::sscanf(seen[2 * i + edge].c_str(), "%u %lx %lx %lx", &down, &vk, &scan, &flags), 4);
      EXPECT_EQ(down, edge == 0 ? 1u : 0u);
      EXPECT_TRUE(vk_matches(row, vk)) << std::hex << vk;
      EXPECT_NE(scan, 0u);
      EXPECT_EQ((flags & LLKHF_EXTENDED) != 0, EXTENDED.contains(row.name));
      EXPECT_NE(flags & LLKHF_INJECTED, 0u);
      if (edge == 0) {
        const auto [it, fresh] = positions.try_emplace({scan, (flags & LLKHF_EXTENDED) != 0}, row.name);
        EXPECT_TRUE(fresh || it->second == row.name) << "same position as " << it->second;
        scans[row.name] = scan;
      }
    }
  }
  // A few positions every layout agrees on.
  EXPECT_EQ(scans["Enter"], 0x1Cu);
  EXPECT_EQ(scans["NumpadEnter"], 0x1Cu);
  EXPECT_EQ(scans["RightShift"], 0x36u);
  EXPECT_EQ(scans["RightControl"], 0x1Du);
  EXPECT_EQ(scans["ArrowUp"], 0x48u);
  EXPECT_EQ(scans["Numpad8"], 0x48u);
  EXPECT_EQ(scans["Pause"], 0x45u);
  EXPECT_EQ(scans["NumLock"], 0x45u);
  EXPECT_EQ(scans["F24"], 0x76u);
}

}  // namespace
}  // namespace kmx::wintest

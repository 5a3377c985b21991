// Command exchanges with the worker: raw mask, hot-key sets and their
// leftovers, time-outs and vanished replies.
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using Commands = RuntimeTest;
using hotkeys::ApplyLeftovers;
using hotkeys::ApplyOutcome;

runtime::Timeouts short_timeouts() {
  runtime::Timeouts t;
  t.raw_mask = std::chrono::milliseconds(150);
  t.apply = std::chrono::milliseconds(150);
  t.stop_ack = std::chrono::milliseconds(150);
  return t;
}

TEST_F(Commands, RawMaskReachesTheWorker) {
  create();
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x3), KMX_OK);
  std::lock_guard lock(scripted::control().mu);
  EXPECT_EQ(scripted::control().masks.back(), 0x3u);
}

TEST_F(Commands, BadMaskIsRefusedWithoutACommand) {
  create();
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x10), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown raw mask bits 0x10");
  EXPECT_EQ(scripted::control().commands_handled.load(), 0);
}

TEST_F(Commands, WorkerErrorIsTheReplyAndSuccessKeepsTheText) {
  scripted::control().on_raw_mask = [](uint32_t mask) -> Status {
    if (mask == 0x1) return KmxError::backend("tap refused");
    return {};
  };
  create();
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(handle_), "backend error: tap refused");
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x2), KMX_OK);
  EXPECT_EQ(last_error(handle_), "backend error: tap refused");
}

TEST_F(Commands, UnansweredCommandsTimeOut) {
  create_with(short_timeouts());
  scripted::control().never_reply = true;
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_TIMEOUT);
  EXPECT_EQ(last_error(handle_), "runtime command timed out");
  EXPECT_EQ(kmx_apply_hotkeys(handle_, nullptr, 0), KMX_ERR_TIMEOUT);
  EXPECT_EQ(leftovers(handle_), "");
}

TEST_F(Commands, DroppedReplyIsClosed) {
  create();
  scripted::control().drop_reply = true;
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_CLOSED);
  EXPECT_EQ(last_error(handle_), "runtime is closed");
}

// The real constant: an unanswered raw-mask change gives up after 5 s, not
// after the 45 s of a hot-key set (the upper bound leaves 3x for a loaded
// machine and still tells the two apart).
TEST_F(Commands, RawMaskTimeOutIsFiveSeconds) {
  create();
  scripted::control().never_reply = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(5000));
  EXPECT_LT(waited, std::chrono::seconds(15));
}

TEST_F(Commands, LeftoversFollowTheLastApply) {
  ApplyLeftovers l;
  l.retained = {"ctrl+b", "ctrl+a"};
  l.orphaned = {"ctrl+a", "alt+x"};
  l.stranded = {"ctrl+c"};
  std::atomic<int> call{0};
  scripted::control().on_apply = [&](const model::ShortcutList&) -> Result<ApplyOutcome> {
    switch (call++) {
      case 0:
        return ApplyOutcome::with_leftovers(l);
      case 1:
        return ApplyOutcome::applied();
      case 2:
        return ApplyOutcome::with_leftovers(l);
      default:
        return KmxError::backend("refused");
    }
  };
  create();
  const KmxShortcut one[] = {{1, "Ctrl+K", "k"}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_OK);
  EXPECT_EQ(leftovers(handle_), "alt+x\nctrl+a\nctrl+b\nctrl+c");  // sorted union, duplicates gone
  ASSERT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_OK);
  EXPECT_EQ(leftovers(handle_), "");
  EXPECT_EQ(kmx_apply_leftovers(handle_, nullptr, 0), 1u);
  ASSERT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_OK);
  EXPECT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(handle_), "backend error: refused");
  EXPECT_EQ(leftovers(handle_), "");
}

TEST_F(Commands, ValidationFailureLeavesLeftoversAndSendsNothing) {
  ApplyLeftovers l;
  l.retained = {"ctrl+a"};
  scripted::control().on_apply = [&](const model::ShortcutList&) -> Result<ApplyOutcome> {
    return ApplyOutcome::with_leftovers(l);
  };
  create();
  const KmxShortcut one[] = {{1, "Ctrl+A", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_OK);
  const int handled = scripted::control().commands_handled.load();
  const KmxShortcut dup[] = {{1, "Ctrl+A", ""}, {1, "Ctrl+B", ""}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, dup, 2), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: duplicate shortcut id 1");
  EXPECT_EQ(scripted::control().commands_handled.load(), handled);
  EXPECT_EQ(leftovers(handle_), "ctrl+a");
}

TEST_F(Commands, ShortcutTextsAreCheckedAndCopied) {
  model::ShortcutList seen;
  scripted::control().on_apply = [&](const model::ShortcutList& list) -> Result<ApplyOutcome> {
    seen = list;
    return ApplyOutcome::applied();
  };
  create();
  EXPECT_EQ(kmx_apply_hotkeys(handle_, nullptr, 1), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "");

  const KmxShortcut null_accel[] = {{1, "Ctrl+A", "ok"}, {2, nullptr, "x"}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, null_accel, 2), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: accelerator is null");
  const KmxShortcut null_desc[] = {{1, "Ctrl+A", nullptr}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, null_desc, 1), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: description is null");
  const KmxShortcut bad_utf8[] = {{1, "Ctrl+\xC0\xAF", ""}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, bad_utf8, 1), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: accelerator is not UTF-8");
  EXPECT_EQ(scripted::control().commands_handled.load(), 0);

  std::string accel = "Ctrl+Shift+K";
  std::string desc = "caf\xC3\xA9";
  const KmxShortcut good[] = {{99, accel.c_str(), desc.c_str()}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, good, 1), KMX_OK);
  accel.assign(accel.size(), 'x');
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].accelerator, "Ctrl+Shift+K");
  EXPECT_EQ(seen[0].description, "caf\xC3\xA9");
  EXPECT_EQ(seen[0].id, 99u);
  EXPECT_EQ(kmx_apply_hotkeys(handle_, nullptr, 0), KMX_OK);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Commands, TwoCommandsInFlightFromTwoThreads) {
  create();
  std::thread a([&] { EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_OK); });
  std::thread b([&] { EXPECT_EQ(kmx_set_raw_mask(handle_, 0x2), KMX_OK); });
  a.join();
  b.join();
  EXPECT_EQ(scripted::control().commands_handled.load(), 2);
}

}  // namespace
}  // namespace kmx::testing

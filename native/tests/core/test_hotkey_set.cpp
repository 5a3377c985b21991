#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hotkey_check.h"
#include "hotkeys/diagnostics.h"
#include "hotkeys/hotkey_set.h"

namespace kmx::test {
namespace {

using hotkeys::ApplyLeftovers;
using hotkeys::ApplyOutcome;
using Set = TestSet;

class HotkeySetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_sink_ = hotkeys::set_diagnostic_sink(capture_line);
    captured_lines().clear();
  }
  void TearDown() override { hotkeys::set_diagnostic_sink(previous_sink_); }

  hotkeys::DiagnosticSink previous_sink_ = nullptr;
};

model::ShortcutList shortcuts(std::initializer_list<std::pair<const char*, uint64_t>> entries) {
  model::ShortcutList list;
  for (const auto& [accelerator, id] : entries) list.push_back({accelerator, "description", id});
  return list;
}

struct Scenario {
  const char* name;
  model::ShortcutList before;
  model::ShortcutList after;
};

std::vector<Scenario> scenarios() {
  return {
      {"keep, move to new id, new, obsolete", shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}, {"Ctrl+C", 3}}),
       shortcuts({{"ctrl+a", 1}, {"Ctrl + B", 4}, {"Alt+D", 5}, {"Alt+E", 2}})},
      {"swap two ids", shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}}), shortcuts({{"Ctrl+B", 1}, {"Ctrl+A", 2}})},
      {"everything obsolete", shortcuts({{"Ctrl+C", 3}, {"Ctrl+A", 1}, {"Ctrl+B", 2}}), {}},
      {"everything new", {}, shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}, {"Ctrl+C", 3}})},
      {"replacements around new entries", shortcuts({{"Shift+X", 1}, {"Shift+Y", 2}, {"Shift+Z", 3}}),
       shortcuts({{"Shift+Y", 3}, {"Shift+W", 1}, {"shift+x", 2}})},
  };
}

std::vector<FaultPlan> one_or_two_faults(size_t max_index) {
  std::vector<FaultPlan> plans;
  for (size_t i = 0; i < max_index; ++i) {
    for (Fault fi : {Fault::Soft, Fault::Hard}) {
      plans.push_back({{i, fi}});
      for (size_t j = i + 1; j < max_index; ++j) {
        for (Fault fj : {Fault::Soft, Fault::Hard}) plans.push_back({{i, fi}, {j, fj}});
      }
    }
  }
  return plans;
}

TEST_F(HotkeySetTest, EveryOneOrTwoFaultCombinationAgreesWithTheModel) {
  int runs = 0;
  int failures = 0;
  for (const Scenario& scenario : scenarios()) {
    for (const FaultPlan& plan : one_or_two_faults(12)) {
      FaultRegistrar registrar;
      Set set;
      HotkeyModel model;
      // Each step: the faulted apply, a clean retry of the same list, and a
      // clean return to the first list.
      const std::vector<std::pair<const model::ShortcutList*, FaultPlan>> steps{
          {&scenario.before, {}}, {&scenario.after, plan}, {&scenario.after, {}}, {&scenario.before, {}}};
      for (size_t step = 0; step < steps.size(); ++step) {
        ++runs;
        const std::string diff = apply_and_compare(set, registrar, model, *steps[step].first, steps[step].second);
        if (!diff.empty() && ++failures <= 5) {
          ADD_FAILURE() << scenario.name << ", " << describe(plan) << ", step " << step << ":\n" << diff;
        }
      }
      set.clear(registrar);
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(runs, 5000);
}

TEST_F(HotkeySetTest, FaultedAppliesLeaveTheMessagesTheyShould) {
  // Spot checks that the combination run above really reaches the failure
  // paths it claims to cover.
  std::set<std::string> seen;
  const char* markers[] = {"failed to retire hotkey",
                           "rollback left active and tracked (will retry): ",
                           "rollback could not release speculative registrations: ",
                           "rollback could not restore: ",
                           "left untracked (release consumed its handle): ",
                           "already registered"};
  for (const Scenario& scenario : scenarios()) {
    for (const FaultPlan& plan : one_or_two_faults(12)) {
      FaultRegistrar registrar;
      Set set;
      ASSERT_TRUE(set.apply(registrar, scenario.before).ok());
      registrar.arm(plan);
      auto result = set.apply(registrar, scenario.after);
      if (result.ok() && !result.value().leftovers.empty()) seen.insert("leftovers");
      // The clean retry meets what the faulted apply left on the platform.
      registrar.arm({});
      auto retry = set.apply(registrar, scenario.after);
      for (const auto* r : {&result, &retry}) {
        if (r->ok()) continue;
        for (const char* marker : markers) {
          if (r->error().display().find(marker) != std::string::npos) seen.insert(marker);
        }
      }
    }
  }
  for (const char* marker : markers) EXPECT_TRUE(seen.contains(marker)) << marker;
  EXPECT_TRUE(seen.contains("leftovers"));
}

TEST_F(HotkeySetTest, SameListTwiceMakesNoPlatformCall) {
  FaultRegistrar registrar;
  Set set;
  const auto list = shortcuts({{"Ctrl+A", 1}, {"Alt+B", 2}});
  ASSERT_TRUE(set.apply(registrar, list).ok());
  const size_t calls = registrar.calls().size();

  auto again = set.apply(registrar, shortcuts({{"ctrl + a", 1}, {"ALT+b", 2}}));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value(), ApplyOutcome::applied());
  EXPECT_EQ(registrar.calls().size(), calls);
}

TEST_F(HotkeySetTest, MovingAnAcceleratorToANewIdReleasesTheOldRegistrationFirst) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+K", 1}})).ok());
  registrar.arm({});
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+K", 9}})).ok());
  EXPECT_EQ(registrar.calls_since_armed(), (std::vector<std::string>{"release ctrl+k 1", "register Ctrl+K 9"}));
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+k", 9}}));
}

TEST_F(HotkeySetTest, EmptyListReleasesEveryRegistrationInAscendingCanonicalOrder) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Shift+Z", 1}, {"Alt+M", 2}, {"Ctrl+A", 3}, {"Alt+B", 4}})).ok());
  registrar.arm({});
  auto result = set.apply(registrar, {});
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), ApplyOutcome::applied());
  EXPECT_EQ(registrar.calls_since_armed(),
            (std::vector<std::string>{"release alt+b 4", "release alt+m 2", "release ctrl+a 3", "release shift+z 1"}));
  EXPECT_TRUE(set.active().empty());
  EXPECT_TRUE(registrar.live().empty());
}

TEST_F(HotkeySetTest, FailedThirdRegistrationUndoesTheFirstTwoAndRestoresTheReplacedOne) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}})).ok());
  registrar.arm({{3, Fault::Hard}});
  auto result = set.apply(registrar, shortcuts({{"Ctrl+A", 5}, {"Ctrl+B", 6}, {"F21", 7}}));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), KmxError::Kind::Backend);
  // The wrapped registration error keeps its own kind prefix.
  EXPECT_EQ(result.error().display(), "backend error: invalid argument: cannot parse F21");
  EXPECT_EQ(registrar.calls_since_armed(),
            (std::vector<std::string>{"release ctrl+a 1", "register Ctrl+A 5", "register Ctrl+B 6", "register F21 7",
                                      "release ctrl+a 5", "release ctrl+b 6", "register Ctrl+A 1"}));
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+a", 1}}));
  EXPECT_EQ(live_canonicals(registrar), (std::set<std::string>{"ctrl+a"}));
}

TEST_F(HotkeySetTest, RollbackCouldNotRestoreComesAfterLeftoversAndBeforeUntracked) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}})).ok());
  // register X, retire A, register A under 3, retire B fails and consumes
  // its handle; the rollback cannot release X (handle back) and cannot
  // bring A back under id 1.
  registrar.arm({{3, Fault::Hard}, {4, Fault::Soft}, {6, Fault::Soft}});
  auto result = set.apply(registrar, shortcuts({{"Alt+X", 5}, {"Ctrl+A", 3}, {"Ctrl+B", 4}}));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message(),
            "failed to retire hotkey Ctrl+B for replacement; "
            "rollback left active and tracked (will retry): alt+x; "
            "rollback could not restore: Ctrl+A; "
            "left untracked (release consumed its handle): Ctrl+B");
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"alt+x", 5}}));
}

TEST_F(HotkeySetTest, RetiredRegistrationWhoseReleaseIsRefusedGoesBackUnderItsOldId) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}})).ok());
  registrar.arm({{0, Fault::Soft}});
  auto result = set.apply(registrar, shortcuts({{"Ctrl+A", 2}}));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message(), "failed to retire hotkey Ctrl+A for replacement");
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+a", 1}}));
}

TEST_F(HotkeySetTest, DuplicatesAreRejectedBeforeAnyPlatformCall) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+Q", 1}})).ok());
  const size_t calls = registrar.calls().size();

  auto spaces = set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl + A", 2}}));
  ASSERT_FALSE(spaces.ok());
  EXPECT_EQ(spaces.error().display(), "invalid argument: duplicate accelerator Ctrl + A");
  auto letter_case = set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"CTRL+a", 2}}));
  ASSERT_FALSE(letter_case.ok());
  EXPECT_EQ(letter_case.error().display(), "invalid argument: duplicate accelerator CTRL+a");
  // A repeated id is reported as such even when the text repeats too.
  auto id = set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl+A", 1}}));
  ASSERT_FALSE(id.ok());
  EXPECT_EQ(id.error().display(), "invalid argument: duplicate shortcut id 1");

  EXPECT_EQ(registrar.calls().size(), calls);
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+q", 1}}));
}

TEST_F(HotkeySetTest, ObsoleteRegistrationRefusedWithHandleBackIsRetriedOnTheNextApply) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}})).ok());
  registrar.arm({{0, Fault::Soft}});
  auto first = set.apply(registrar, shortcuts({{"Ctrl+B", 2}}));
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first.value(), ApplyOutcome::with_leftovers({{"ctrl+a"}, {}, {}}));
  EXPECT_EQ(captured_lines(),
            (std::vector<std::string>{"[keymux] obsolete hotkey ctrl+a could not be unregistered "
                                      "(backend error: cannot unregister ctrl+a) and remains tracked"}));
  EXPECT_TRUE(set.active().contains("ctrl+a"));

  registrar.arm({});
  auto second = set.apply(registrar, shortcuts({{"Ctrl+B", 2}}));
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(second.value(), ApplyOutcome::applied());
  EXPECT_EQ(registrar.calls_since_armed(), (std::vector<std::string>{"release ctrl+a 1"}));
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+b", 2}}));
}

TEST_F(HotkeySetTest, ObsoleteRegistrationWhoseHandleIsConsumedIsOrphaned) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}, {"Ctrl+C", 3}})).ok());
  registrar.arm({{0, Fault::Hard}, {1, Fault::Soft}});
  auto result = set.apply(registrar, {});
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), ApplyOutcome::with_leftovers({{"ctrl+b"}, {"ctrl+a"}, {}}));
  ASSERT_EQ(captured_lines().size(), 2u);
  EXPECT_EQ(captured_lines()[0],
            "[keymux] obsolete hotkey ctrl+a could not be unregistered (backend error: cannot unregister ctrl+a) "
            "and its handle is gone; it may remain active");
  EXPECT_EQ(active_ids(set), (std::map<std::string, uint64_t>{{"ctrl+b", 2}}));
}

TEST_F(HotkeySetTest, ClearReleasesEverythingAndForgetsRefusedRegistrations) {
  FaultRegistrar registrar;
  Set set;
  ASSERT_TRUE(set.apply(registrar, shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}, {"Ctrl+C", 3}})).ok());
  registrar.arm({{1, Fault::Soft}});
  set.clear(registrar);
  EXPECT_TRUE(set.active().empty());
  EXPECT_EQ(registrar.calls_since_armed().size(), 3u);
  EXPECT_EQ(registrar.live().size(), 1u);
  EXPECT_TRUE(registrar.misuse().empty());
}

TEST(HotkeyDiagnostics, DefaultSinkWritesOneLineToStandardError) {
  hotkeys::set_diagnostic_sink(nullptr);
  ::testing::internal::CaptureStderr();
  hotkeys::emit_diagnostic("[keymux] obsolete hotkey x could not be unregistered");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[keymux] obsolete hotkey x could not be unregistered\n");
}

}  // namespace
}  // namespace kmx::test

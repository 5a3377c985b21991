// Argument checks of the chord and key-state functions, in their order.
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using Input = RuntimeTest;

struct ChordLog {
  std::vector<uint32_t> modifiers;
  uint32_t key = 0;
  int calls = 0;
};

TEST_F(Input, ChordChecksRunInTheirOrder) {
  ChordLog log;
  scripted::control().on_chord = [&](std::span<const uint32_t> mods, uint32_t key) -> Status {
    log.modifiers.assign(mods.begin(), mods.end());
    log.key = key;
    ++log.calls;
    return {};
  };
  create();
  const uint32_t nine[9] = {0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0};
  EXPECT_EQ(kmx_send_chord(handle_, nine, 9, 0x04), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "");
  EXPECT_EQ(kmx_send_chord(handle_, nullptr, 2, 0x1FF), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown portable key usage 0x1ff");
  EXPECT_EQ(kmx_send_chord(handle_, nullptr, 2, 0x04), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown portable key usage 0x1ff");
  const uint32_t bad_mod[] = {0xE1, 0x04};
  EXPECT_EQ(kmx_send_chord(handle_, bad_mod, 2, 0x04), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown portable modifier usage 0x4");
  EXPECT_EQ(log.calls, 0);

  const uint32_t mods[] = {0xE3, 0xE1, 0xE3};
  EXPECT_EQ(kmx_send_chord(handle_, mods, 3, 0x0E), KMX_OK);
  EXPECT_EQ(log.modifiers, (std::vector<uint32_t>{0xE3, 0xE1, 0xE3}));  // order and duplicates kept
  EXPECT_EQ(log.key, 0x0Eu);
  EXPECT_EQ(kmx_send_chord(handle_, nullptr, 0, 0xE3), KMX_OK);  // a modifier may be the key
  EXPECT_EQ(log.calls, 2);
}

TEST_F(Input, ChordBackendErrorsKeepTheirStatus) {
  scripted::control().on_chord = [](std::span<const uint32_t>, uint32_t) -> Status {
    return KmxError::delivery_uncertain("posted 2 of 6");
  };
  create();
  EXPECT_EQ(kmx_send_chord(handle_, nullptr, 0, 0x04), KMX_ERR_DELIVERY_UNCERTAIN);
  EXPECT_EQ(last_error(handle_), "delivery uncertain: posted 2 of 6");
}

TEST_F(Input, KeyStateChecksAndResults) {
  scripted::control().on_key_state = [](std::span<const uint32_t> usages) -> Result<std::vector<bool>> {
    std::vector<bool> out;
    for (uint32_t u : usages) {
      if (u == 0x70) return KmxError::unsupported("no code for 0x70");
      out.push_back(u == 0xE1);
    }
    return out;
  };
  create();
  EXPECT_EQ(kmx_is_key_down_many(handle_, nullptr, 0, nullptr), KMX_OK);
  const uint32_t usages[] = {0x04, 0xE1};
  uint8_t results[2] = {9, 9};
  EXPECT_EQ(kmx_is_key_down_many(handle_, nullptr, 2, results), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kmx_is_key_down_many(handle_, usages, 2, nullptr), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "");
  ASSERT_EQ(kmx_is_key_down_many(handle_, usages, 2, results), KMX_OK);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 1);

  const uint32_t bad[] = {0x04, 0x64};
  results[0] = results[1] = 9;
  EXPECT_EQ(kmx_is_key_down_many(handle_, bad, 2, results), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown portable key usage 0x64");
  EXPECT_EQ(results[0], 9);

  const uint32_t unsupported[] = {0x04, 0x70};
  EXPECT_EQ(kmx_is_key_down_many(handle_, unsupported, 2, results), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(results[0], 9);  // nothing written on failure

  // The backend works on the library's copy, never on the caller's array
  // (which another host thread could change after the checks).
  const uint32_t* seen = nullptr;
  auto answer = scripted::control().on_key_state;
  scripted::control().on_key_state = [&](std::span<const uint32_t> u) {
    seen = u.data();
    return answer(u);
  };
  ASSERT_EQ(kmx_is_key_down_many(handle_, usages, 2, results), KMX_OK);
  EXPECT_NE(seen, nullptr);
  EXPECT_NE(seen, usages);

  EXPECT_EQ(kmx_is_key_down(handle_, 0xE1), 1);
  EXPECT_EQ(kmx_is_key_down(handle_, 0x04), 0);
  EXPECT_EQ(kmx_is_key_down(handle_, 0x1FF), -1);
  EXPECT_EQ(kmx_is_key_down(handle_, 0x70), -5);
  EXPECT_EQ(kmx_is_key_down(nullptr, 0x04), -1);
}

}  // namespace
}  // namespace kmx::testing

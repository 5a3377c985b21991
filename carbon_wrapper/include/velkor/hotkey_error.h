// Failures of the Carbon hot-key wrapper, each with a fixed display text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace velkor {

class HotkeyError {
 public:
  enum class Kind {
    RegisterFailed,
    AlreadyRegistered,
    InstallHandlerFailed,
    RemoveHandlerFailed,
    RunEventLoopFailed,
    UnregisterFailed,
  };

  static HotkeyError register_failed(int32_t status) { return {Kind::RegisterFailed, status}; }
  static HotkeyError already_registered() { return {Kind::AlreadyRegistered, 0}; }
  static HotkeyError install_handler_failed(int32_t status) { return {Kind::InstallHandlerFailed, status}; }
  static HotkeyError remove_handler_failed(int32_t status) { return {Kind::RemoveHandlerFailed, status}; }
  static HotkeyError run_event_loop_failed(int32_t status) { return {Kind::RunEventLoopFailed, status}; }
  static HotkeyError unregister_failed(int32_t status) { return {Kind::UnregisterFailed, status}; }

  Kind kind() const noexcept { return kind_; }
  // The OSStatus; 0 for AlreadyRegistered.
  int32_t status() const noexcept { return status_; }
  std::string display() const;

  bool operator==(const HotkeyError&) const = default;

 private:
  HotkeyError(Kind kind, int32_t status) : kind_(kind), status_(status) {}

  Kind kind_;
  int32_t status_;
};

// A value or a HotkeyError.
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Expected(HotkeyError error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const HotkeyError& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, HotkeyError> v_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(HotkeyError error) : error_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return error_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  const HotkeyError& error() const { return std::get<1>(error_); }

 private:
  std::variant<std::monostate, HotkeyError> error_;
};

}  // namespace velkor

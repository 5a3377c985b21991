// Failures are values: a Result holds either a value or a KmxError.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "error/kmx_error.h"

namespace kmx {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(KmxError error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }

  const KmxError& error() const& { return std::get<1>(v_); }
  KmxError&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, KmxError> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(KmxError error) : error_(std::move(error)) {}

  bool ok() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }

  const KmxError& error() const& { return *error_; }
  KmxError&& error() && { return std::move(*error_); }

 private:
  std::optional<KmxError> error_;
};

using Status = Result<void>;

}  // namespace kmx

// The one error type of the library and its mapping to C status codes.
#pragma once

#include <cstdint>
#include <string>

namespace kmx::error {

class KmxError {
 public:
  // Fixed order: the index is part of the status mapping.
  enum class Kind : uint8_t {
    InvalidArgument,
    Unsupported,
    Backend,
    Closed,
    Timeout,
    DeliveryUncertain,
    NotDelivered,
  };

  static KmxError invalid_argument(std::string message) { return {Kind::InvalidArgument, std::move(message)}; }
  static KmxError unsupported(std::string message) { return {Kind::Unsupported, std::move(message)}; }
  static KmxError backend(std::string message) { return {Kind::Backend, std::move(message)}; }
  static KmxError closed() { return {Kind::Closed, {}}; }
  static KmxError timeout() { return {Kind::Timeout, {}}; }
  static KmxError delivery_uncertain(std::string message) { return {Kind::DeliveryUncertain, std::move(message)}; }
  static KmxError not_delivered(std::string message) { return {Kind::NotDelivered, std::move(message)}; }

  Kind kind() const noexcept { return kind_; }
  // The payload; empty for Closed and Timeout.
  const std::string& message() const noexcept { return message_; }
  // The text a host reads with kmx_last_error.
  std::string display() const;
  // The C status of this kind (creation's ABI rule lives in set_init_error).
  uint32_t status() const noexcept;

  bool operator==(const KmxError&) const = default;

 private:
  KmxError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_;
  std::string message_;
};

// "0x" + lower-case hex without leading zeros, as every message prints usages.
std::string hex(uint64_t value);

}  // namespace kmx::error

namespace kmx {
using error::KmxError;
}

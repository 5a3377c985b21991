#include "velkor/hotkey_error.h"

namespace velkor {

std::string HotkeyError::display() const {
  const std::string code = std::to_string(status_);
  switch (kind_) {
    case Kind::RegisterFailed:
      return "RegisterEventHotKey failed: OSStatus " + code;
    case Kind::AlreadyRegistered:
      return "hotkey already registered";
    case Kind::InstallHandlerFailed:
      return "InstallEventHandler failed: OSStatus " + code;
    case Kind::RemoveHandlerFailed:
      return "RemoveEventHandler failed: OSStatus " + code;
    case Kind::RunEventLoopFailed:
      return "RunCurrentEventLoop failed: OSStatus " + code;
    case Kind::UnregisterFailed:
      return "UnregisterEventHotKey failed: OSStatus " + code;
  }
  return {};
}

}  // namespace velkor

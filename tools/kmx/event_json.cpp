#include "event_json.h"

#include "native_names.h"

namespace kmx_tool {

namespace {

const char* kind_name(uint32_t kind) {
  switch (kind) {
    case KMX_EVENT_HOTKEY:
      return "hotkey";
    case KMX_EVENT_KEY:
      return "key";
    case KMX_EVENT_BUTTON:
      return "button";
    case KMX_EVENT_MOTION:
      return "motion";
    default:
      return "unknown";
  }
}

const char* modifier_name(uint32_t modifier) {
  switch (modifier) {
    case KMX_MOD_CONTROL:
      return "control";
    case KMX_MOD_SHIFT:
      return "shift";
    case KMX_MOD_ALT:
      return "alt";
    case KMX_MOD_META:
      return "meta";
    default:
      return nullptr;
  }
}

const char* button_name(uint8_t button) {
  switch (button) {
    case KMX_BUTTON_LEFT:
      return "left";
    case KMX_BUTTON_RIGHT:
      return "right";
    case KMX_BUTTON_MIDDLE:
      return "middle";
    default:
      return "other";
  }
}

nlohmann::json flag_names(uint32_t flags) {
  auto names = nlohmann::json::array();
  if (flags & KMX_FLAG_SYNTHETIC) names.push_back("synthetic");
  if (flags & KMX_FLAG_AUTOREPEAT) names.push_back("autorepeat");
  if (flags & KMX_FLAG_SELF_INJECTED) names.push_back("self_injected");
  return names;
}

}  // namespace

nlohmann::json event_json(const KmxEvent& e) {
  nlohmann::json j;
  j["kind"] = kind_name(e.kind);
  switch (e.kind) {
    case KMX_EVENT_HOTKEY:
      j["id"] = e.shortcut_id;
      j["down"] = e.down != 0;
      break;
    case KMX_EVENT_KEY: {
      j["down"] = e.down != 0;
      j["native_code"] = e.native_code;
      const auto name = key_name_for_native_code(e.native_code);
      j["key"] = name ? nlohmann::json(std::string(*name)) : nlohmann::json(nullptr);
      if (const char* m = modifier_name(e.modifier)) j["modifier"] = m;
      break;
    }
    case KMX_EVENT_BUTTON:
      j["button"] = button_name(e.button);
      j["down"] = e.down != 0;
      j["x"] = e.x;
      j["y"] = e.y;
      break;
    case KMX_EVENT_MOTION:
      j["x"] = e.x;
      j["y"] = e.y;
      break;
    default:
      break;
  }
  j["flags"] = flag_names(e.flags);
  j["timestamp_us"] = e.timestamp_us;
  return j;
}

}  // namespace kmx_tool

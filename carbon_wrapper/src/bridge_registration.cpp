#include "bridge_objects.h"

void VelkorRegistration::on_last_release() {
  if (hotKeyRef != nullptr) {
    EventHotKeyRef ref = hotKeyRef;
    hotKeyRef = nullptr;
    UnregisterEventHotKey(ref);
  }
}

extern "C" int32_t velkor_hotkey_register(uint32_t key_code, uint32_t modifiers, uint32_t signature, uint32_t hotkey_id,
                                          uint32_t options, VelkorRegistration** out) {
  EventHotKeyID carbon_id;
  carbon_id.signature = signature;
  carbon_id.id = hotkey_id;
  EventHotKeyRef ref = nullptr;
  const OSStatus status =
      RegisterEventHotKey(key_code, modifiers, carbon_id, GetApplicationEventTarget(), options, &ref);
  if (status != noErr || ref == nullptr) {
    if (out != nullptr) *out = nullptr;
    return status;
  }
  auto* registration = new VelkorRegistration;
  registration->hotKeyRef = ref;
  registration->identifier = hotkey_id;
  // Without an out pointer the hot key stays registered, as with Carbon itself: the caller asked for it.
  if (out != nullptr) {
    *out = registration;
  } else {
    velkor::bridge::keep_unowned(registration);
  }
  return noErr;
}

extern "C" int32_t velkor_hotkey_unregister(VelkorRegistration* registration) {
  if (registration == nullptr || registration->hotKeyRef == nullptr) return noErr;
  EventHotKeyRef ref = registration->hotKeyRef;
  registration->hotKeyRef = nullptr;
  return UnregisterEventHotKey(ref);
}

extern "C" uint32_t velkor_hotkey_id(const VelkorRegistration* registration) {
  return registration == nullptr ? 0 : registration->identifier;
}

extern "C" void velkor_hotkey_retain(VelkorRegistration* registration) { velkor::bridge::retain_ref(registration); }

extern "C" void velkor_hotkey_release(VelkorRegistration* registration) { velkor::bridge::release_ref(registration); }

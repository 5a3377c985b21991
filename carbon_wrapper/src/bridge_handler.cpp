#include "bridge_objects.h"

namespace velkor::bridge {

OSStatus read_hotkey_event(EventRef event, HotkeyEventFields& out) {
  out.event_class = GetEventClass(event);
  out.event_kind = GetEventKind(event);
  return GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof(EventHotKeyID), nullptr,
                           &out.hotkey);
}

OSStatus install_hotkey_handler(EventHandlerUPP proc, void* user_data, EventHandlerRef* out) {
  const EventTypeSpec types[2] = {
      {kEventClassKeyboard, kEventHotKeyPressed},
      {kEventClassKeyboard, kEventHotKeyReleased},
  };
  return InstallEventHandler(GetApplicationEventTarget(), proc, 2, types, user_data, out);
}

namespace {

// Returning noErr marks the event handled, so no other handler sees it.
OSStatus keyboard_handler_proc(EventHandlerCallRef, EventRef event, void* user_data) {
  if (event == nullptr || user_data == nullptr) return paramErr;
  HotkeyEventFields fields;
  const OSStatus status = read_hotkey_event(event, fields);
  if (status != noErr) return status;
  auto* handler = static_cast<VelkorKeyboardHandler*>(user_data);
  handler->callback(fields.event_class, fields.event_kind, fields.hotkey.signature, fields.hotkey.id,
                    handler->callbackUserData);
  return noErr;
}

OSStatus stream_handler_proc(EventHandlerCallRef, EventRef event, void* user_data) {
  if (event == nullptr || user_data == nullptr) return paramErr;
  HotkeyEventFields fields;
  const OSStatus status = read_hotkey_event(event, fields);
  if (status != noErr) return status;
  auto* stream = static_cast<VelkorAsyncStreamBridge*>(user_data);
  stream->callback(fields.hotkey.id, fields.event_kind, fields.event_class, fields.hotkey.signature,
                   stream->callbackUserData);
  return noErr;
}

void remove_handler(EventHandlerRef& ref) {
  if (ref == nullptr) return;
  EventHandlerRef installed = ref;
  ref = nullptr;
  RemoveEventHandler(installed);
}

}  // namespace
}  // namespace velkor::bridge

void VelkorKeyboardHandler::on_last_release() { velkor::bridge::remove_handler(eventHandlerRef); }

void VelkorAsyncStreamBridge::on_last_release() { velkor::bridge::remove_handler(eventHandlerRef); }

extern "C" int32_t velkor_event_handler_install(VelkorHotkeyEventCallback callback, void* user_data,
                                                VelkorKeyboardHandler** out) {
  if (callback == nullptr) {
    if (out != nullptr) *out = nullptr;
    return paramErr;
  }
  auto* handler = new VelkorKeyboardHandler;
  handler->callback = callback;
  handler->callbackUserData = user_data;
  EventHandlerRef ref = nullptr;
  const OSStatus status = velkor::bridge::install_hotkey_handler(velkor::bridge::keyboard_handler_proc, handler, &ref);
  if (status != noErr) {
    velkor::bridge::release_ref(handler);
    if (out != nullptr) *out = nullptr;
    return status;
  }
  handler->eventHandlerRef = ref;
  // Without an out pointer the handler stays installed, as InstallEventHandler's own does.
  if (out != nullptr) {
    *out = handler;
  } else {
    velkor::bridge::keep_unowned(handler);
  }
  return noErr;
}

extern "C" int32_t velkor_event_handler_remove(VelkorKeyboardHandler* handler) {
  if (handler == nullptr || handler->eventHandlerRef == nullptr) return noErr;
  EventHandlerRef ref = handler->eventHandlerRef;
  handler->eventHandlerRef = nullptr;
  return RemoveEventHandler(ref);
}

extern "C" void velkor_event_handler_retain(VelkorKeyboardHandler* handler) { velkor::bridge::retain_ref(handler); }

extern "C" void velkor_event_handler_release(VelkorKeyboardHandler* handler) { velkor::bridge::release_ref(handler); }

extern "C" VelkorAsyncStreamBridge* velkor_hotkey_stream_subscribe(VelkorHotkeyStreamCallback callback,
                                                                   void* user_data) {
  if (callback == nullptr) return nullptr;
  auto* stream = new VelkorAsyncStreamBridge;
  stream->callback = callback;
  stream->callbackUserData = user_data;
  EventHandlerRef ref = nullptr;
  if (velkor::bridge::install_hotkey_handler(velkor::bridge::stream_handler_proc, stream, &ref) != noErr) {
    velkor::bridge::release_ref(stream);
    return nullptr;
  }
  stream->eventHandlerRef = ref;
  return stream;
}

extern "C" void velkor_hotkey_stream_unsubscribe(VelkorAsyncStreamBridge* stream) {
  velkor::bridge::release_ref(stream);
}

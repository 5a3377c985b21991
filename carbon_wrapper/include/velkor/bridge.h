/* The bridge layer over Carbon's hot-key service: reference-counted objects
 * behind plain C functions. Every function returning an object hands the
 * caller one reference; null is accepted everywhere and ignored. Results are
 * OSStatus values (0 for success). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VelkorRegistration VelkorRegistration;
typedef struct VelkorKeyboardHandler VelkorKeyboardHandler;
typedef struct VelkorAsyncStreamBridge VelkorAsyncStreamBridge;

typedef void (*VelkorHotkeyEventCallback)(uint32_t event_class, uint32_t event_kind, uint32_t signature,
                                          uint32_t hotkey_id, void* user_data);
/* Note the order: hot-key id first. */
typedef void (*VelkorHotkeyStreamCallback)(uint32_t hotkey_id, uint32_t event_kind, uint32_t event_class,
                                           uint32_t signature, void* user_data);

int32_t velkor_hotkey_register(uint32_t key_code, uint32_t modifiers, uint32_t signature, uint32_t hotkey_id,
                               uint32_t options, VelkorRegistration** out);
int32_t velkor_hotkey_unregister(VelkorRegistration* registration);
uint32_t velkor_hotkey_id(const VelkorRegistration* registration);
void velkor_hotkey_retain(VelkorRegistration* registration);
void velkor_hotkey_release(VelkorRegistration* registration);

int32_t velkor_event_handler_install(VelkorHotkeyEventCallback callback, void* user_data, VelkorKeyboardHandler** out);
int32_t velkor_event_handler_remove(VelkorKeyboardHandler* handler);
void velkor_event_handler_retain(VelkorKeyboardHandler* handler);
void velkor_event_handler_release(VelkorKeyboardHandler* handler);

int32_t velkor_event_loop_run_for_seconds(double seconds);

VelkorAsyncStreamBridge* velkor_hotkey_stream_subscribe(VelkorHotkeyStreamCallback callback, void* user_data);
void velkor_hotkey_stream_unsubscribe(VelkorAsyncStreamBridge* stream);

uint32_t velkor_modifierflags_supported_mask(void);
uint32_t velkor_modifierflags_right_side_mask(void);
uint32_t velkor_modifierflags_has_right_side(uint32_t flags);

#ifdef __cplusplus
}
#endif

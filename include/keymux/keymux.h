/*
 * keymux: system-wide hot keys, raw input, chord injection and key state.
 *
 * One runtime per process. Create it with kmx_create, poll events with
 * kmx_poll_event from any thread, stop it with kmx_stop and free it with
 * kmx_destroy. Every function may be called from any thread; a handle must
 * not be passed to kmx_destroy while another thread may still use it.
 *
 * Status codes: every function that returns a status returns KMX_OK (0) on
 * success. After a failure the handle's text is read with kmx_last_error
 * (kmx_last_init_error for kmx_create). A successful call never clears a
 * recorded text. Null pointers and impossible counts give
 * KMX_ERR_INVALID_ARGUMENT without recording a text.
 *
 * Text output: functions that fill a caller buffer copy at most
 * capacity - 1 bytes plus a NUL and return the full length + 1, so a call
 * with a null buffer or capacity 0 tells the size needed.
 */
#ifndef KEYMUX_KEYMUX_H
#define KEYMUX_KEYMUX_H

#include <stddef.h>
#include <stdint.h>

/* The build defines KMX_API as the export attribute of its platform. */
#ifndef KMX_API
#define KMX_API
#endif

/* No function of this interface ever throws. */
#if defined(__cplusplus)
#define KMX_NOEXCEPT noexcept
#else
#define KMX_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KMX_ABI_VERSION 0x10000u

/* Status codes. */
#define KMX_OK 0u
#define KMX_ERR_INVALID_ARGUMENT 1u
#define KMX_ERR_BACKEND 2u
#define KMX_ERR_TIMEOUT 3u /* also: no event within the poll time-out */
#define KMX_ERR_CLOSED 4u  /* also: event source closed */
#define KMX_ERR_UNSUPPORTED 5u
#define KMX_ERR_ABI_MISMATCH 6u /* kmx_create only */
#define KMX_ERR_DELIVERY_UNCERTAIN 7u
#define KMX_ERR_NOT_DELIVERED 8u

/* Event kinds. */
#define KMX_EVENT_HOTKEY 1u
#define KMX_EVENT_KEY 2u
#define KMX_EVENT_BUTTON 3u
#define KMX_EVENT_MOTION 4u

/* Event flags. */
#define KMX_FLAG_SYNTHETIC 0x1u     /* not produced by a physical device */
#define KMX_FLAG_AUTOREPEAT 0x2u    /* key repeat (macOS, X11) */
#define KMX_FLAG_SELF_INJECTED 0x4u /* carries this library's injection marker */

/* Raw-input mask bits. */
#define KMX_RAW_KEYS 0x1u
#define KMX_RAW_BUTTONS 0x2u
#define KMX_RAW_DRAG_MOTION 0x4u

/* Modifier roles of KmxEvent.modifier. */
#define KMX_MOD_NONE 0u
#define KMX_MOD_CONTROL 1u
#define KMX_MOD_SHIFT 2u
#define KMX_MOD_ALT 3u
#define KMX_MOD_META 4u

/* Buttons of KmxEvent.button. */
#define KMX_BUTTON_LEFT 1u
#define KMX_BUTTON_RIGHT 2u
#define KMX_BUTTON_MIDDLE 3u
#define KMX_BUTTON_OTHER 255u

/* The value stamped on every input event the library injects. */
#define KMX_INJECTION_MARKER 0x4B45594D55580001ull

typedef uint32_t KmxStatus;
typedef struct KmxRuntime* KmxHandle;

typedef struct KmxCreateOptions {
  uint32_t abi_version; /* KMX_ABI_VERSION */
  uint32_t raw_mask;    /* KMX_RAW_* bits */
} KmxCreateOptions;

typedef struct KmxEvent {
  uint32_t kind;        /* KMX_EVENT_* */
  uint32_t flags;       /* KMX_FLAG_* */
  uint64_t shortcut_id; /* hot key: the shortcut's id */
  uint32_t modifier;    /* key: KMX_MOD_* role */
  uint32_t native_code; /* key: the platform's key code */
  uint8_t down;         /* 1 pressed, 0 released */
  uint8_t button;       /* button: KMX_BUTTON_* */
  uint16_t reserved;    /* always 0 */
  uint8_t padding[4];
  double x; /* button, motion: global screen coordinates */
  double y;
  uint64_t timestamp_us; /* microseconds since the process's first event, plus 1 */
} KmxEvent;

typedef struct KmxShortcut {
  uint64_t id;             /* reported back in hot-key events */
  const char* accelerator; /* UTF-8, e.g. "Ctrl+Shift+K" */
  const char* description; /* UTF-8, for the host's own use */
} KmxShortcut;

/* Always KMX_ABI_VERSION. */
KMX_API uint32_t kmx_abi_version(void) KMX_NOEXCEPT;

/* Creates the process's one runtime. options may be null (current ABI, mask
 * 0). On failure *out_handle is null and kmx_last_init_error has the text;
 * an ABI mismatch returns KMX_ERR_ABI_MISMATCH. */
KMX_API KmxStatus kmx_create(const KmxCreateOptions* options, KmxHandle* out_handle) KMX_NOEXCEPT;

/* Waits for every call in flight on the handle, stops it if needed and frees
 * it. A null handle is ignored. Call kmx_stop first when a thread may be
 * blocked in kmx_poll_event without a time-out. */
KMX_API void kmx_destroy(KmxHandle handle) KMX_NOEXCEPT;

/* Ends the backend; a thread blocked in kmx_poll_event then gets
 * KMX_ERR_CLOSED once the queued events are taken. Returns KMX_ERR_BACKEND
 * when the backend thread ended by an internal fault. Idempotent. */
KMX_API KmxStatus kmx_stop(KmxHandle handle) KMX_NOEXCEPT;

/* The backend name ("x11", "win32" or "macos-carbon-coregraphics"). */
KMX_API size_t kmx_backend(KmxHandle handle, char* buffer, size_t capacity) KMX_NOEXCEPT;

/* Capability bits fixed at creation; 0 for a null handle. */
KMX_API uint64_t kmx_capabilities(KmxHandle handle) KMX_NOEXCEPT;

KMX_API size_t kmx_last_error(KmxHandle handle, char* buffer, size_t capacity) KMX_NOEXCEPT;
KMX_API size_t kmx_last_init_error(char* buffer, size_t capacity) KMX_NOEXCEPT;

/* Returns KMX_OK with *out_event written, KMX_ERR_TIMEOUT when nothing came
 * within timeout_ms (0 does not wait, 0xFFFFFFFF waits forever), or
 * KMX_ERR_CLOSED when the runtime has stopped and every event was taken. */
KMX_API KmxStatus kmx_poll_event(KmxHandle handle, KmxEvent* out_event, uint32_t timeout_ms) KMX_NOEXCEPT;

/* Replaces the raw-input mask; bits outside KMX_RAW_* are refused. */
KMX_API KmxStatus kmx_set_raw_mask(KmxHandle handle, uint32_t mask) KMX_NOEXCEPT;

/* Makes the registered hot keys equal to items[0..count), all or nothing.
 * count 0 releases every hot key. */
KMX_API KmxStatus kmx_apply_hotkeys(KmxHandle handle, const KmxShortcut* items, size_t count) KMX_NOEXCEPT;

/* Accelerators the last apply could not release, joined with "\n". */
KMX_API size_t kmx_apply_leftovers(KmxHandle handle, char* buffer, size_t capacity) KMX_NOEXCEPT;

/* Types key (a USB HID usage) while holding up to 4 modifier usages
 * (0xE0..0xE7). Refuses when the user physically holds the main key. */
KMX_API KmxStatus kmx_send_chord(KmxHandle handle, const uint32_t* modifiers, size_t modifier_count,
                                 uint32_t key) KMX_NOEXCEPT;

/* 1 held, 0 not held, or the negated status on failure. */
KMX_API int32_t kmx_is_key_down(KmxHandle handle, uint32_t usage) KMX_NOEXCEPT;

/* results[i] is 1 when usages[i] is held, else 0. */
KMX_API KmxStatus kmx_is_key_down_many(KmxHandle handle, const uint32_t* usages, size_t count,
                                       uint8_t* results) KMX_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Record layout checks, for C11 and C++ compilers and for older C alike. */
#if defined(__cplusplus)
#define KMX_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KMX_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define KMX_STATIC_ASSERT(cond, name) typedef char kmx_static_assert_##name[(cond) ? 1 : -1]
#endif

KMX_STATIC_ASSERT(sizeof(KmxCreateOptions) == 8, create_options_size);
KMX_STATIC_ASSERT(offsetof(KmxCreateOptions, raw_mask) == 4, create_options_raw_mask);
KMX_STATIC_ASSERT(sizeof(KmxEvent) == 56, event_size);
KMX_STATIC_ASSERT(offsetof(KmxEvent, flags) == 4, event_flags);
KMX_STATIC_ASSERT(offsetof(KmxEvent, shortcut_id) == 8, event_shortcut_id);
KMX_STATIC_ASSERT(offsetof(KmxEvent, modifier) == 16, event_modifier);
KMX_STATIC_ASSERT(offsetof(KmxEvent, native_code) == 20, event_native_code);
KMX_STATIC_ASSERT(offsetof(KmxEvent, down) == 24, event_down);
KMX_STATIC_ASSERT(offsetof(KmxEvent, button) == 25, event_button);
KMX_STATIC_ASSERT(offsetof(KmxEvent, reserved) == 26, event_reserved);
KMX_STATIC_ASSERT(offsetof(KmxEvent, x) == 32, event_x);
KMX_STATIC_ASSERT(offsetof(KmxEvent, y) == 40, event_y);
KMX_STATIC_ASSERT(offsetof(KmxEvent, timestamp_us) == 48, event_timestamp);
KMX_STATIC_ASSERT(sizeof(KmxShortcut) == 24, shortcut_size);
KMX_STATIC_ASSERT(offsetof(KmxShortcut, accelerator) == 8, shortcut_accelerator);
KMX_STATIC_ASSERT(offsetof(KmxShortcut, description) == 16, shortcut_description);

#endif /* KEYMUX_KEYMUX_H */

/* Test control of the simulated macOS desktop (tests only; never used by library code).
 *
 * The simulation is process-wide. Every function is thread-safe. Unless stated otherwise key codes are macOS
 * virtual key codes and flags are CGEventFlags bits.
 *
 * Delivery: an event entering the HID stream (physical input from these functions at once; CGEventPost and
 * kmxsim_post_key_from_process after the posting delay) is queued to every enabled tap that asks for its type; the
 * tap's callback runs on the thread whose CFRunLoop holds the tap's run-loop source. Carbon hot-key events for the
 * application target wait until the process's main thread runs its event loop (RunCurrentEventLoop, or CFRunLoopRun
 * on the main thread as AppKit does) and are dispatched there. kmxsim_flush() waits for posted events and taps, and
 * for Carbon events only while the main thread is running its event loop. */
#ifndef KMXSIM_KMXSIM_H
#define KMXSIM_KMXSIM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KMXSIM_API __attribute__((visibility("default")))
#else
#define KMXSIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Resets the simulated world: permissions back to granted, no key or button down, pointer at (0, 0), caps lock
 * off, failure switches and call counters cleared, posted-event log cleared, other applications' hot keys gone,
 * posts still on their way and Carbon events not yet dispatched dropped, posting delay back to the default.
 * Live objects of the code under test (taps, run loops, sources, descriptors, handlers, this process' hot keys)
 * are not touched; count them with kmxsim_get_counts(). */
KMXSIM_API void kmxsim_reset(void);

/* ---- Posting delay ----
 * CGEventPost returns at once; the event reaches taps, key state and hot keys this long afterwards, in posting
 * order. The delay in force counts, also for events already on their way (a long delay holds them back, 0 lets
 * them through). Reset restores the default. */
#define KMXSIM_DEFAULT_POST_DELAY_US 3000u
KMXSIM_API void kmxsim_set_post_delay_us(uint32_t delay_us);

/* ---- Permissions (both granted after reset) ---- */
KMXSIM_API void kmxsim_set_accessibility_trusted(bool trusted); /* AXIsProcessTrusted, CGEventPost */
/* Without Input Monitoring or Accessibility a tap's key down and key up bits are cleared from its mask, and
 * CGEventTapCreate returns NULL only when nothing is left; CGPreflightListenEventAccess reports this switch. */
KMXSIM_API void kmxsim_set_input_monitoring(bool granted);

/* ---- Physical keyboard ----
 * A physical event carries source pid 0 and user data 0. Its flags are the modifier flags of the modifier keys
 * held afterwards (device-independent bits plus the left/right device bits) and caps lock's alpha-shift bit.
 * Modifier key codes (54-63) arrive as kCGEventFlagsChanged, every other code as key down/up. A key down whose
 * code and modifier state match a registered Carbon hot key also produces the hot-key press (and its key up the
 * release). */
KMXSIM_API void kmxsim_key_press(uint16_t keycode);
KMXSIM_API void kmxsim_key_release(uint16_t keycode);
KMXSIM_API void kmxsim_key_repeat(uint16_t keycode); /* key down with kCGKeyboardEventAutorepeat = 1 */
KMXSIM_API void kmxsim_key_type(uint16_t keycode);   /* press then release */
/* Full control: the event carries exactly `flags`; the key state still follows `down`. */
KMXSIM_API void kmxsim_key_event(uint16_t keycode, bool down, bool autorepeat, uint64_t flags);

/* ---- Physical pointer ----
 * Button numbers as Core Graphics counts them: 0 left, 1 right, 2 middle, 3 and up further buttons (other-mouse
 * events carrying the number in kCGMouseEventButtonNumber). Moves are kCGEventLeftMouseDragged while the left
 * button is held, kCGEventRightMouseDragged / kCGEventOtherMouseDragged while another is, else
 * kCGEventMouseMoved. Every pointer event carries the current position. */
KMXSIM_API void kmxsim_mouse_button(uint32_t button, bool down);
KMXSIM_API void kmxsim_mouse_move(double x, double y);

/* ---- Input posted by another process ----
 * Enters the HID stream like CGEventPost from process `pid` (must not be 0): source pid = pid, user data as
 * given; logged in the posted-event log. */
KMXSIM_API void kmxsim_post_key_from_process(int32_t pid, uint16_t keycode, bool down, uint64_t flags,
                                             int64_t user_data);

/* ---- Key state (combined session state: physical and posted input once it arrived, the last event of a key
 * wins). The session's modifier flags (CGEventSourceFlagsState of the combined state) are those of the last
 * keyboard event that arrived: what the focused application believes is held. ---- */
KMXSIM_API bool kmxsim_key_is_down(uint16_t keycode);
/* Writes up to `cap` codes of the keys down in ascending order; returns how many are down. */
KMXSIM_API size_t kmxsim_keys_down(uint16_t* out, size_t cap);

/* ---- Event taps ----
 * Disables every enabled live tap and delivers `reason` (kCGEventTapDisabledByTimeout or
 * kCGEventTapDisabledByUserInput) to its callback. A disabled tap receives nothing until CGEventTapEnable(true).
 * Returns the number of taps disabled. */
KMXSIM_API int kmxsim_disable_taps(uint32_t reason);

/* ---- Posted-event log (every CGEventPost of this process, and kmxsim_post_key_from_process) ---- */
typedef struct kmxsim_posted_event {
  uint32_t type;      /* CGEventType as the taps see it (key down/up or flags changed) */
  uint16_t keycode;   /* kCGKeyboardEventKeycode */
  bool down;          /* created as key down */
  bool delivered;     /* false when dropped (process not trusted, or CGEventPost made to fail) */
  uint64_t flags;     /* CGEventGetFlags at posting */
  int64_t user_data;  /* kCGEventSourceUserData */
  int64_t source_pid; /* kCGEventSourceUnixProcessID as stamped */
  uint32_t tap;       /* the CGEventTapLocation posted at */
} kmxsim_posted_event;
/* Copies up to `cap` entries, oldest first; returns the total number logged. */
KMXSIM_API size_t kmxsim_posted_events(kmxsim_posted_event* out, size_t cap);
KMXSIM_API void kmxsim_clear_posted_events(void);

/* ---- Carbon hot keys ----
 * As Carbon documents it: within one application a combination can be registered once (a second registration gets
 * eventHotKeyExistsErr); several applications may register the same combination and all of them are notified;
 * a registration with kEventHotKeyExclusive is refused with eventHotKeyExistsErr only when another application
 * holds the combination exclusively too, and while an exclusive registration exists only its owner is notified. */
/* Registers (key code, Carbon modifiers) for simulated application `app` (1 and up) with RegisterEventHotKey's
 * options. Returns 0 or eventHotKeyExistsErr. */
KMXSIM_API int32_t kmxsim_other_app_register_hotkey(int32_t app, uint32_t keycode, uint32_t modifiers,
                                                    uint32_t options);
KMXSIM_API void kmxsim_other_app_unregister_hotkey(int32_t app, uint32_t keycode, uint32_t modifiers);

/* Bits of what a hot-key press or release reached (0: nobody holds the combination). */
enum {
  KMXSIM_HOTKEY_NONE = 0,
  KMXSIM_HOTKEY_THIS_PROCESS = 1, /* queued for this process' handlers */
  KMXSIM_HOTKEY_OTHER_APP = 2     /* notified to a simulated other application */
};
/* Presses or releases the combination with exactly these Carbon modifiers (cmdKey, shiftKey, optionKey,
 * controlKey); the key state is not touched. A registration of this process that is notified gets
 * kEventHotKeyPressed / kEventHotKeyReleased queued for the handlers of its target. */
KMXSIM_API int kmxsim_hotkey_press(uint32_t keycode, uint32_t modifiers);
KMXSIM_API int kmxsim_hotkey_release(uint32_t keycode, uint32_t modifiers);
/* Whether this process has (key code, modifiers) registered. */
KMXSIM_API bool kmxsim_hotkey_registered(uint32_t keycode, uint32_t modifiers);
/* Carbon events queued and not yet dispatched by the main thread. */
KMXSIM_API size_t kmxsim_pending_hotkey_events(void);

/* ---- Run loops ----
 * Stops every running run loop, as a foreign component calling CFRunLoopStop might; returns how many. */
KMXSIM_API int kmxsim_stop_run_loops(void);

/* ---- Failure switches ---- */
typedef enum kmxsim_function {
  KMXSIM_FN_CGEventTapCreate = 0,
  KMXSIM_FN_CFMachPortCreateRunLoopSource,
  KMXSIM_FN_CFFileDescriptorCreate,
  KMXSIM_FN_CFFileDescriptorCreateRunLoopSource,
  KMXSIM_FN_CGEventSourceCreate,
  KMXSIM_FN_CGEventCreateKeyboardEvent,
  KMXSIM_FN_CGEventPost,
  KMXSIM_FN_RegisterEventHotKey,
  KMXSIM_FN_UnregisterEventHotKey,
  KMXSIM_FN_InstallEventHandler,
  KMXSIM_FN_RemoveEventHandler,
  KMXSIM_FN_GetEventParameter,
  KMXSIM_FN_COUNT
} kmxsim_function;

#define KMXSIM_FOREVER UINT32_MAX
/* Makes calls nth .. nth+count-1 of `fn`, counted from now (1 = the next call), fail: functions returning a
 * reference return NULL, functions returning OSStatus return `status` (a failing UnregisterEventHotKey or
 * RemoveEventHandler leaves the registration in place), CGEventPost drops the event. Replaces an earlier switch
 * of the same function. */
KMXSIM_API void kmxsim_fail_calls(kmxsim_function fn, uint32_t nth, uint32_t count, int32_t status);
KMXSIM_API void kmxsim_fail_nth_call(kmxsim_function fn, uint32_t nth, int32_t status); /* count 1 */
/* Calls of `fn` since the last reset, failed ones included. */
KMXSIM_API uint32_t kmxsim_call_count(kmxsim_function fn);

/* ---- Leftovers ---- */
typedef struct kmxsim_counts {
  int taps;                   /* event-tap ports created and not yet invalidated */
  int enabled_taps;           /* of these, enabled */
  int run_loops;              /* run loops of live threads (or still retained) */
  int run_loop_sources;       /* CFRunLoopSource objects not yet freed */
  int attached_sources;       /* sources currently added to some run loop */
  int file_descriptors;       /* CFFileDescriptor objects not yet freed */
  int valid_file_descriptors; /* of these, not yet invalidated */
  int events;                 /* CGEvent objects not yet freed */
  int event_sources;          /* CGEventSource objects not yet freed */
  int event_handlers;         /* Carbon handlers installed and not removed */
  int hotkeys;                /* this process' registered hot keys */
  int other_app_hotkeys;
  int open_fds; /* entries of /proc/self/fd */
} kmxsim_counts;
KMXSIM_API void kmxsim_get_counts(kmxsim_counts* out);

/* ---- Barrier ----
 * Waits until every posted event has arrived, the main thread (when it is running its event loop and is not the
 * caller) has dispatched every queued Carbon event, every tap whose source
 * sits in a run loop has delivered its queued events (callbacks returned), and no running run loop has a
 * descriptor source that is enabled and readable or in its callout (so a wake written by a tap callback has been
 * handled too). A readable descriptor whose callback was not enabled again does not hold the barrier: that is
 * the stall a Mac would show. Returns false on time-out. Do not call it from a callback. */
KMXSIM_API bool kmxsim_flush(uint32_t timeout_ms);

#ifdef __cplusplus
}
#endif

#endif

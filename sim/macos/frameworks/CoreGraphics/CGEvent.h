/* Simulated Core Graphics: events, event taps and posting. */
#ifndef KMXSIM_CGEVENT_H
#define KMXSIM_CGEVENT_H

#include <CoreGraphics/CGEventTypes.h>

CG_EXTERN CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
CG_EXTERN CGEventType CGEventGetType(CGEventRef event);
CG_EXTERN CGPoint CGEventGetLocation(CGEventRef event);
CG_EXTERN CGEventFlags CGEventGetFlags(CGEventRef event);
CG_EXTERN void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
CG_EXTERN int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
CG_EXTERN void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);

/* Listen-only taps only. Without the Input Monitoring (or Accessibility) permission the key down and key up bits
   are cleared from the mask; NULL only when the mask ends up empty. */
CG_EXTERN CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                                         CGEventMask eventsOfInterest, CGEventTapCallBack callback, void *userInfo);
CG_EXTERN void CGEventTapEnable(CFMachPortRef tap, bool enable);
CG_EXTERN bool CGEventTapIsEnabled(CFMachPortRef tap);

/* Stamps the posting process id into kCGEventSourceUnixProcessID; dropped when the process is not trusted. Returns
   at once: the event reaches taps, key state and hot keys a short while later. */
CG_EXTERN void CGEventPost(CGEventTapLocation tap, CGEventRef event);

/* Whether the process may listen to key events (Input Monitoring). */
CG_EXTERN bool CGPreflightListenEventAccess(void);

#endif

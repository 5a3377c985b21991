/* Simulated Core Foundation: Mach ports (only as event-tap ports). */
#ifndef KMXSIM_CFMACHPORT_H
#define KMXSIM_CFMACHPORT_H

#include <CoreFoundation/CFRunLoop.h>

typedef struct __CFMachPort* CFMachPortRef;

CF_EXPORT void CFMachPortInvalidate(CFMachPortRef port);
CF_EXPORT Boolean CFMachPortIsValid(CFMachPortRef port);
CF_EXPORT CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, CFMachPortRef port, CFIndex order);

#endif

/* Simulated Core Foundation: base types, allocators and reference counting. */
#ifndef KMXSIM_CFBASE_H
#define KMXSIM_CFBASE_H

#include <MacTypes.h>
#include <stdbool.h>
#include <stdint.h>

#define CF_EXPORT KMXSIM_EXTERN_C KMXSIM_EXPORT

typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef signed long CFIndex;
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;

CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;

/* Retain counts are real: the last CFRelease destroys the object. CFRelease(NULL) aborts, as on a Mac. */
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);
CF_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf);

#endif

/* Simulated Core Graphics: event types, fields, flags and tap parameters (SDK values). */
#ifndef KMXSIM_CGEVENTTYPES_H
#define KMXSIM_CGEVENTTYPES_H

#include <CoreGraphics/CGBase.h>
#include <CoreFoundation/CFMachPort.h>

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;

KMXSIM_CG_ENUM(uint32_t, CGMouseButton){
    kCGMouseButtonLeft = 0,
    kCGMouseButtonRight = 1,
    kCGMouseButtonCenter = 2,
};

typedef uint64_t CGEventFlags;
#ifdef __cplusplus
enum : CGEventFlags {
#else
enum {
#endif
  kCGEventFlagMaskAlphaShift = 0x00010000,
  kCGEventFlagMaskShift = 0x00020000,
  kCGEventFlagMaskControl = 0x00040000,
  kCGEventFlagMaskAlternate = 0x00080000,
  kCGEventFlagMaskCommand = 0x00100000,
  kCGEventFlagMaskHelp = 0x00400000,
  kCGEventFlagMaskSecondaryFn = 0x00800000,
  kCGEventFlagMaskNumericPad = 0x00200000,
  kCGEventFlagMaskNonCoalesced = 0x00000100
};

KMXSIM_CG_ENUM(uint32_t, CGEventType){
    kCGEventNull = 0,
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventLeftMouseDragged = 6,
    kCGEventRightMouseDragged = 7,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventFlagsChanged = 12,
    kCGEventScrollWheel = 22,
    kCGEventTabletPointer = 23,
    kCGEventTabletProximity = 24,
    kCGEventOtherMouseDown = 25,
    kCGEventOtherMouseUp = 26,
    kCGEventOtherMouseDragged = 27,
    kCGEventTapDisabledByTimeout = 0xFFFFFFFE,
    kCGEventTapDisabledByUserInput = 0xFFFFFFFF,
};

KMXSIM_CG_ENUM(uint32_t, CGEventField){
    kCGMouseEventNumber = 0,           kCGMouseEventClickState = 1,      kCGMouseEventPressure = 2,
    kCGMouseEventButtonNumber = 3,     kCGMouseEventDeltaX = 4,          kCGMouseEventDeltaY = 5,
    kCGMouseEventSubtype = 7,          kCGKeyboardEventAutorepeat = 8,   kCGKeyboardEventKeycode = 9,
    kCGKeyboardEventKeyboardType = 10, kCGEventTargetUnixProcessID = 40, kCGEventSourceUnixProcessID = 41,
    kCGEventSourceUserData = 42,       kCGEventSourceUserID = 43,        kCGEventSourceGroupID = 44,
    kCGEventSourceStateID = 45,
};

KMXSIM_CG_ENUM(uint32_t, CGEventTapLocation){
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2,
};

KMXSIM_CG_ENUM(uint32_t, CGEventTapPlacement){
    kCGHeadInsertEventTap = 0,
    kCGTailAppendEventTap = 1,
};

KMXSIM_CG_ENUM(uint32_t, CGEventTapOptions){
    kCGEventTapOptionDefault = 0x00000000,
    kCGEventTapOptionListenOnly = 0x00000001,
};

typedef uint64_t CGEventMask;
#define CGEventMaskBit(eventType) ((CGEventMask)1 << (eventType))
#define kCGEventMaskForAllEvents (~(CGEventMask)0)

typedef struct __CGEventTapProxy* CGEventTapProxy;
typedef CGEventRef (*CGEventTapCallBack)(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo);

KMXSIM_CG_ENUM(int32_t, CGEventSourceStateID){
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1,
};

#endif

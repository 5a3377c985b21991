/* Simulated Carbon: the hot-key part of the Carbon event manager (SDK values). */
#ifndef KMXSIM_CARBON_H
#define KMXSIM_CARBON_H

#include <ApplicationServices/ApplicationServices.h>
#include <MacTypes.h>

KMXSIM_BEGIN_DECLS

/* Status codes. */
enum {
  paramErr = -50,
  eventParameterNotFoundErr = -9870,
  eventNotHandledErr = -9874,
  eventLoopTimedOutErr = -9875,
  eventHotKeyExistsErr = -9878,
  eventHotKeyInvalidErr = -9879,
};

/* Modifier bits of hot-key registrations. */
enum {
  cmdKeyBit = 8,
  shiftKeyBit = 9,
  alphaLockBit = 10,
  optionKeyBit = 11,
  controlKeyBit = 12,
};
enum {
  cmdKey = 1 << cmdKeyBit,
  shiftKey = 1 << shiftKeyBit,
  alphaLock = 1 << alphaLockBit,
  optionKey = 1 << optionKeyBit,
  controlKey = 1 << controlKeyBit,
};

/* Four-character codes, written as numbers ('keyb', '----', 'hkid'). */
enum { kEventClassKeyboard = 0x6B657962 };
enum { kEventHotKeyPressed = 5, kEventHotKeyReleased = 6 };
/* Options of RegisterEventHotKey. */
enum { kEventHotKeyNoOptions = 0, kEventHotKeyExclusive = (1 << 0) };
enum { kEventParamDirectObject = 0x2D2D2D2D };
enum { typeEventHotKeyID = 0x686B6964 };

typedef struct OpaqueEventRef* EventRef;
typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef;
typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef struct OpaqueEventHotKeyRef* EventHotKeyRef;

typedef double EventTime;
typedef EventTime EventTimeout;
typedef OSType EventParamName;
typedef OSType EventParamType;

struct EventTypeSpec {
  OSType eventClass;
  UInt32 eventKind;
};
typedef struct EventTypeSpec EventTypeSpec;
#define GetEventTypeCount(t) (sizeof((t)) / sizeof(EventTypeSpec))

struct EventHotKeyID {
  OSType signature;
  UInt32 id;
};
typedef struct EventHotKeyID EventHotKeyID;

typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent, void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;

#ifdef __cplusplus
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine) { return userRoutine; }
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}
#else
#define NewEventHandlerUPP(userRoutine) ((EventHandlerUPP)userRoutine)
#define DisposeEventHandlerUPP(userUPP)
#endif

KMXSIM_EXPORT EventTargetRef GetApplicationEventTarget(void);
KMXSIM_EXPORT UInt32 GetEventClass(EventRef inEvent);
KMXSIM_EXPORT UInt32 GetEventKind(EventRef inEvent);
KMXSIM_EXPORT OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                                         EventParamType* outActualType, ByteCount inBufferSize,
                                         ByteCount* outActualSize, void* outData);

/* Handlers of the application target are called on the main thread while it runs its event loop
   (RunCurrentEventLoop, or CFRunLoopRun on the main thread), newest first, until one returns other than
   eventNotHandledErr. */
KMXSIM_EXPORT OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                                           const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef);
KMXSIM_EXPORT OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
#define InstallApplicationEventHandler(handler, numTypes, list, userData, outHandlerRef) \
  InstallEventHandler(GetApplicationEventTarget(), (handler), (numTypes), (list), (userData), (outHandlerRef))

/* A combination (key code, exact modifiers) is registered once per application (eventHotKeyExistsErr for a second
   registration); other applications may hold it too and are notified as well, unless one of them registered it with
   kEventHotKeyExclusive. An exclusive registration is refused with eventHotKeyExistsErr only when another
   application holds the combination exclusively. Options other than kEventHotKeyExclusive give paramErr. */
KMXSIM_EXPORT OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
                                           EventTargetRef inTarget, OptionBits inOptions, EventHotKeyRef* outRef);
KMXSIM_EXPORT OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey);

/* Runs the current thread's event loop until the time-out (negative: forever). On the main thread it dispatches
   application-target events meanwhile; elsewhere it only waits. Returns eventLoopTimedOutErr. */
KMXSIM_EXPORT OSStatus RunCurrentEventLoop(EventTimeout inTimeout);

KMXSIM_END_DECLS

#endif

/* Simulated Core Graphics: event sources and key state. */
#ifndef KMXSIM_CGEVENTSOURCE_H
#define KMXSIM_CGEVENTSOURCE_H

#include <CoreGraphics/CGEventTypes.h>

CG_EXTERN CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID);
CG_EXTERN void CGEventSourceSetUserData(CGEventSourceRef source, int64_t userData);
CG_EXTERN int64_t CGEventSourceGetUserData(CGEventSourceRef source);
/* Combined session state follows physical and posted input; the HID state only physical input. */
CG_EXTERN bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key);
CG_EXTERN CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);

#endif

/* Simulated ApplicationServices: Core Foundation, Core Graphics and the Accessibility trust check. */
#ifndef KMXSIM_APPLICATIONSERVICES_H
#define KMXSIM_APPLICATIONSERVICES_H

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

KMXSIM_EXTERN_C KMXSIM_EXPORT Boolean AXIsProcessTrusted(void);

#endif

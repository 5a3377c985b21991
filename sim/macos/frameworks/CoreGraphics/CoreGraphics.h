/* Simulated Core Graphics: the event subset keymux uses. */
#ifndef KMXSIM_COREGRAPHICS_H
#define KMXSIM_COREGRAPHICS_H

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CGBase.h>
#include <CoreGraphics/CGEventTypes.h>
#include <CoreGraphics/CGEvent.h>
#include <CoreGraphics/CGEventSource.h>

#endif

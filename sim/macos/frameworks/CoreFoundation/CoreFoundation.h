/* Simulated Core Foundation: the subset keymux uses. */
#ifndef KMXSIM_COREFOUNDATION_H
#define KMXSIM_COREFOUNDATION_H

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFRunLoop.h>
#include <CoreFoundation/CFMachPort.h>
#include <CoreFoundation/CFFileDescriptor.h>

#endif

/* Simulated macOS: the basic Mac types (LP64 values). */
#ifndef KMXSIM_MACTYPES_H
#define KMXSIM_MACTYPES_H

#include <stdint.h>

#if defined(__GNUC__)
#define KMXSIM_EXPORT __attribute__((visibility("default")))
#else
#define KMXSIM_EXPORT
#endif

#ifdef __cplusplus
#define KMXSIM_EXTERN_C extern "C"
#define KMXSIM_BEGIN_DECLS extern "C" {
#define KMXSIM_END_DECLS }
#else
#define KMXSIM_EXTERN_C extern
#define KMXSIM_BEGIN_DECLS
#define KMXSIM_END_DECLS
#endif

typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef unsigned long long UInt64;
typedef signed long long SInt64;

typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef unsigned long ByteCount;
typedef UInt32 OptionBits;
typedef unsigned long ItemCount;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef unsigned char Boolean;

enum { noErr = 0 };

#endif

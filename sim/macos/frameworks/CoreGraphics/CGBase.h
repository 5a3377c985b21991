/* Simulated Core Graphics: base types. */
#ifndef KMXSIM_CGBASE_H
#define KMXSIM_CGBASE_H

#include <CoreFoundation/CFBase.h>
#include <stdbool.h>
#include <stdint.h>
#include <sys/types.h>

#define CG_EXTERN KMXSIM_EXTERN_C KMXSIM_EXPORT

/* Enumerations keep the SDK's fixed underlying types, so C++ sees distinct enum types as on a Mac. */
#ifdef __cplusplus
#define KMXSIM_CG_ENUM(type, name) \
  enum name : type;                \
  typedef enum name name;          \
  enum name : type
#else
#define KMXSIM_CG_ENUM(type, name) \
  typedef type name;               \
  enum
#endif

typedef double CGFloat;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;

typedef uint16_t CGKeyCode;

#endif

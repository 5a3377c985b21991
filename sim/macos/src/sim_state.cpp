#include "sim_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kmxsim {

Sim& sim() {
  // Never destroyed: the application event thread and thread-exit hooks may still use it during process exit.
  static Sim* const instance = new Sim;
  return *instance;
}

void fatal(const char* what) {
  std::fprintf(stderr, "kmxsim: %s\n", what);
  std::abort();
}

Lock::Lock() : lock_(sim().mu) {}

Lock::~Lock() {
  std::vector<std::function<void()>> calls;
  calls.swap(sim().deferred);
  lock_.unlock();
  for (auto& call : calls) call();
}

bool should_fail(kmxsim_function fn, int32_t* status) {
  FailureSwitch& s = sim().switches[fn];
  ++s.calls;
  if (s.calls >= s.fail_from && s.calls < s.fail_to) {
    if (status) *status = s.status;
    return true;
  }
  return false;
}

Object* checked(const void* cf, const char* caller) {
  if (!cf) {
    std::fprintf(stderr, "kmxsim: %s called with NULL\n", caller);
    std::abort();
  }
  auto* o = static_cast<Object*>(const_cast<void*>(cf));
  if (o->magic != OBJECT_MAGIC || o->refs <= 0) {
    std::fprintf(stderr, "kmxsim: %s called with a freed or foreign object\n", caller);
    std::abort();
  }
  return o;
}

void retain_locked(Object* o) { ++o->refs; }

namespace {

void destroy_locked(Object* o) {
  Sim& s = sim();
  switch (o->kind) {
    case Kind::RunLoop:
      destroy_loop_locked(static_cast<__CFRunLoop*>(o));
      break;
    case Kind::Source: {
      auto* src = static_cast<__CFRunLoopSource*>(o);
      if (src->owner) {
        if (src->owner->kind == Kind::FileDescriptor) {
          auto* f = static_cast<__CFFileDescriptor*>(src->owner);
          if (f->source == src) f->source = nullptr;
        } else if (src->owner->kind == Kind::MachPort) {
          auto* p = static_cast<__CFMachPort*>(src->owner);
          if (p->source == src) p->source = nullptr;
        }
        release_locked(src->owner);
      }
      --s.sources;
      src->magic = 0;
      delete src;
      break;
    }
    case Kind::FileDescriptor: {
      auto* f = static_cast<__CFFileDescriptor*>(o);
      invalidate_descriptor_locked(f);
      --s.descriptors;
      f->magic = 0;
      delete f;
      break;
    }
    case Kind::MachPort: {
      auto* p = static_cast<__CFMachPort*>(o);
      invalidate_port_locked(p);
      std::erase(s.taps, p->tap.get());
      p->magic = 0;
      delete p;
      break;
    }
    case Kind::Event: {
      auto* e = static_cast<__CGEvent*>(o);
      --s.events;
      e->magic = 0;
      delete e;
      break;
    }
    case Kind::EventSource: {
      auto* e = static_cast<__CGEventSource*>(o);
      --s.event_sources;
      e->magic = 0;
      delete e;
      break;
    }
  }
}

}  // namespace

void release_locked(Object* o) {
  if (--o->refs == 0) destroy_locked(o);
}

uintptr_t new_token() {
  Sim& s = sim();
  s.next_token += 0x10;
  return s.next_token;
}

bool is_modifier_key(uint16_t code) { return code >= 54 && code <= 63; }

CGEventFlags modifier_flags_locked(const std::bitset<65536>& down) {
  struct ModifierKey {
    uint16_t code;
    CGEventFlags flag;
    CGEventFlags device_bit;  // left/right bits of the hardware-dependent flags
  };
  static constexpr ModifierKey KEYS[] = {
      {54, kCGEventFlagMaskCommand, 0x10}, {55, kCGEventFlagMaskCommand, 0x08},   {56, kCGEventFlagMaskShift, 0x02},
      {60, kCGEventFlagMaskShift, 0x04},   {58, kCGEventFlagMaskAlternate, 0x20}, {61, kCGEventFlagMaskAlternate, 0x40},
      {59, kCGEventFlagMaskControl, 0x01}, {62, kCGEventFlagMaskControl, 0x2000}, {63, kCGEventFlagMaskSecondaryFn, 0},
  };
  CGEventFlags flags = 0;
  for (const auto& k : KEYS)
    if (down[k.code]) flags |= k.flag | k.device_bit;
  if (sim().caps_lock) flags |= kCGEventFlagMaskAlphaShift;
  return flags;
}

}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  Lock lock;
  retain_locked(checked(cf, "CFRetain"));
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Lock lock;
  release_locked(checked(cf, "CFRelease"));
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  Lock lock;
  return checked(cf, "CFGetRetainCount")->refs;
}

}  // extern "C"

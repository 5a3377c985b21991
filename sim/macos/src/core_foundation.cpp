// File-descriptor and Mach-port objects and their run-loop sources.
#include "sim_state.h"

#include <unistd.h>

#include <algorithm>

struct __CFString {
  const char* text;
};

namespace {
const __CFString DEFAULT_MODE{"kCFRunLoopDefaultMode"};
const __CFString COMMON_MODES{"kCFRunLoopCommonModes"};
}  // namespace

extern "C" {
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopDefaultMode = &DEFAULT_MODE;
const CFRunLoopMode kCFRunLoopCommonModes = &COMMON_MODES;
}

namespace kmxsim {

void invalidate_source_locked(__CFRunLoopSource* s) {
  if (!s->valid) return;
  s->valid = false;
  retain_locked(s);
  std::vector<__CFRunLoop*> loops;
  loops.swap(s->loops);
  for (__CFRunLoop* rl : loops) {
    std::erase(rl->sources, s);
    wake_loop_locked(rl);
    release_locked(s);
  }
  sim().cv.notify_all();
  release_locked(s);
}

void invalidate_descriptor_locked(__CFFileDescriptor* f) {
  if (!f->valid) return;
  f->valid = false;
  --sim().valid_descriptors;
  f->enabled = 0;
  if (f->source) invalidate_source_locked(f->source);
  if (f->close_on_invalidate && f->fd >= 0) ::close(f->fd);
  if (f->context.release) {
    auto release = f->context.release;
    void* info = f->context.info;
    sim().deferred.push_back([release, info] { release(info); });
  }
}

void invalidate_port_locked(__CFMachPort* p) {
  if (!p->valid) return;
  p->valid = false;
  if (p->tap) {
    p->tap->enabled = false;
    p->tap->pending.clear();
  }
  if (p->source) invalidate_source_locked(p->source);
  sim().cv.notify_all();
}

namespace {

__CFRunLoopSource* source_for_locked(Object* owner, __CFRunLoopSource*& slot) {
  if (slot && slot->valid) {
    retain_locked(slot);
    return slot;
  }
  auto* s = new __CFRunLoopSource;
  retain_locked(owner);
  s->owner = owner;
  slot = s;
  ++sim().sources;
  return s;
}

void check_allocator(CFAllocatorRef allocator, const char* caller) {
  if (allocator != kCFAllocatorDefault) fatal(caller);
}

}  // namespace
}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef allocator, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
  Lock lock;
  check_allocator(allocator, "CFFileDescriptorCreate: only the default allocator is simulated");
  if (should_fail(KMXSIM_FN_CFFileDescriptorCreate) || fd < 0) return nullptr;
  auto* f = new __CFFileDescriptor;
  f->fd = fd;
  f->close_on_invalidate = closeOnInvalidate != 0;
  f->callout = callout;
  if (context) {
    f->context = *context;
    if (context->retain) f->context.info = context->retain(context->info);
  }
  ++sim().descriptors;
  ++sim().valid_descriptors;
  return f;
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) {
  Lock lock;
  checked(f, "CFFileDescriptorGetNativeDescriptor");
  return f->fd;
}

void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context) {
  Lock lock;
  checked(f, "CFFileDescriptorGetContext");
  if (context) *context = f->context;
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  Lock lock;
  checked(f, "CFFileDescriptorEnableCallBacks");
  if (!f->valid) return;
  f->enabled |= callBackTypes & (kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack);
  if (f->source)
    for (__CFRunLoop* rl : f->source->loops) wake_loop_locked(rl);
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  Lock lock;
  checked(f, "CFFileDescriptorDisableCallBacks");
  f->enabled &= ~callBackTypes;
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
  Lock lock;
  invalidate_descriptor_locked(static_cast<__CFFileDescriptor*>(checked(f, "CFFileDescriptorInvalidate")));
}

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) {
  Lock lock;
  checked(f, "CFFileDescriptorIsValid");
  return f->valid;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef allocator, CFFileDescriptorRef f, CFIndex order) {
  (void)order;
  Lock lock;
  check_allocator(allocator, "CFFileDescriptorCreateRunLoopSource: only the default allocator is simulated");
  checked(f, "CFFileDescriptorCreateRunLoopSource");
  if (should_fail(KMXSIM_FN_CFFileDescriptorCreateRunLoopSource) || !f->valid) return nullptr;
  return source_for_locked(f, f->source);
}

void CFMachPortInvalidate(CFMachPortRef port) {
  Lock lock;
  invalidate_port_locked(static_cast<__CFMachPort*>(checked(port, "CFMachPortInvalidate")));
}

Boolean CFMachPortIsValid(CFMachPortRef port) {
  Lock lock;
  checked(port, "CFMachPortIsValid");
  return port->valid;
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, CFMachPortRef port, CFIndex order) {
  (void)order;
  Lock lock;
  check_allocator(allocator, "CFMachPortCreateRunLoopSource: only the default allocator is simulated");
  checked(port, "CFMachPortCreateRunLoopSource");
  if (should_fail(KMXSIM_FN_CFMachPortCreateRunLoopSource) || !port->valid) return nullptr;
  return source_for_locked(port, port->source);
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
  Lock lock;
  invalidate_source_locked(static_cast<__CFRunLoopSource*>(checked(source, "CFRunLoopSourceInvalidate")));
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source) {
  Lock lock;
  checked(source, "CFRunLoopSourceIsValid");
  return source->valid;
}

}  // extern "C"

// The JavaScript object over one keymux runtime: its poll thread delivers
// events through a thread-safe function; commands that can wait run on the
// worker pool and settle promises.
#pragma once

#include <napi.h>

#include <memory>
#include <optional>

#include "core.h"

namespace keymux_node {

class Runtime : public Napi::ObjectWrap<Runtime> {
 public:
  static Napi::Function define(Napi::Env env);
  // new Runtime(rawMask, onEvents): onEvents(buffer, ended) gets the
  // 56-byte records in order; ended is true once the event source closed.
  explicit Runtime(const Napi::CallbackInfo& info);
  ~Runtime() override;

 private:
  Napi::Value backend(const Napi::CallbackInfo& info);
  Napi::Value capabilities(const Napi::CallbackInfo& info);
  Napi::Value apply_hotkeys(const Napi::CallbackInfo& info);
  Napi::Value apply_leftovers(const Napi::CallbackInfo& info);
  Napi::Value set_raw_mask(const Napi::CallbackInfo& info);
  Napi::Value send_chord(const Napi::CallbackInfo& info);
  Napi::Value keys_down(const Napi::CallbackInfo& info);
  Napi::Value close(const Napi::CallbackInfo& info);
  Napi::Value ref(const Napi::CallbackInfo& info);
  Napi::Value unref(const Napi::CallbackInfo& info);

  void deliver(Napi::Env env);
  void finish_close(Napi::Env env);
  void release_self();
  // Throws CLOSED unless admitted.
  bool admitted_or_throw(Napi::Env env, const Admission& admission);

  std::shared_ptr<Core> core_;
  Napi::ThreadSafeFunction events_;
  bool events_released_ = false;
  bool closed_ = false;
  bool close_started_ = false;
  bool self_held_ = true;
  Napi::FunctionReference on_events_;
  std::optional<Napi::Env::CleanupHook<std::function<void()>>> exit_hook_;
};

// Makes a KeymuxError through the factory the JavaScript side registered.
Napi::Value make_error(Napi::Env env, KmxStatus status, const std::string& message);

}  // namespace keymux_node

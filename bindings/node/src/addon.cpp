// Module entry: loading the library and the Runtime class.
#include <napi.h>

#include "addon_data.h"
#include "event_pump.h"
#include "library.h"
#include "runtime.h"

namespace keymux_node {

namespace {

// load(path) -> { result: 'loaded' | 'unloadable' | 'mismatch', reason }
Napi::Value load(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::string reason;
  const LoadResult result = load_library(info[0].As<Napi::String>().Utf8Value(), &reason);
  Napi::Object outcome = Napi::Object::New(env);
  outcome.Set("result", result == LoadResult::kLoaded     ? "loaded"
                        : result == LoadResult::kMismatch ? "mismatch"
                                                          : "unloadable");
  outcome.Set("reason", reason);
  return outcome;
}

Napi::Value loaded_library(const Napi::CallbackInfo& info) {
  if (!api()) return info.Env().Null();
  return Napi::String::New(info.Env(), loaded_path());
}

Napi::Value set_error_factory(const Napi::CallbackInfo& info) {
  info.Env().GetInstanceData<AddonData>()->error_factory = Napi::Persistent(info[0].As<Napi::Function>());
  return info.Env().Undefined();
}

}  // namespace

}  // namespace keymux_node

static Napi::Object init_keymux(Napi::Env env, Napi::Object exports) {
  using namespace keymux_node;
  env.SetInstanceData(new AddonData());
  exports.Set("load", Napi::Function::New(env, load));
  exports.Set("loadedLibrary", Napi::Function::New(env, loaded_library));
  exports.Set("setErrorFactory", Napi::Function::New(env, set_error_factory));
  exports.Set("Runtime", Runtime::define(env));
  exports.Set("pumpEvents", Napi::Function::New(env, pump_events));
  return exports;
}

NODE_API_MODULE(keymux, init_keymux)

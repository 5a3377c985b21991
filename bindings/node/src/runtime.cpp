#include "runtime.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "addon_data.h"

namespace keymux_node {

namespace {

const char* const CLOSED_TEXT = "runtime is closed";

// A job on the worker pool that settles a promise with its Outcome.
class CommandJob : public Napi::AsyncWorker {
 public:
  CommandJob(Napi::Env env, std::shared_ptr<Core> core, std::function<Outcome(Core&)> body)
      : Napi::AsyncWorker(env, "keymux-command"),
        deferred_(Napi::Promise::Deferred::New(env)),
        core_(std::move(core)),
        body_(std::move(body)) {}

  Napi::Promise promise() { return deferred_.Promise(); }

  void Execute() override {
    Admission admission(*core_);
    outcome_ = admission ? body_(*core_) : Outcome{KMX_ERR_CLOSED, CLOSED_TEXT};
  }

  void OnOK() override {
    Napi::Env env = Env();
    if (outcome_.status == KMX_OK)
      deferred_.Resolve(env.Undefined());
    else
      deferred_.Reject(make_error(env, outcome_.status, outcome_.message));
  }

 private:
  Napi::Promise::Deferred deferred_;
  std::shared_ptr<Core> core_;
  std::function<Outcome(Core&)> body_;
  Outcome outcome_;
};

class CloseJob : public Napi::AsyncWorker {
 public:
  CloseJob(Napi::Env env, std::shared_ptr<Core> core, std::function<void(Napi::Env)> done)
      : Napi::AsyncWorker(env, "keymux-close"),
        deferred_(Napi::Promise::Deferred::New(env)),
        core_(std::move(core)),
        done_(std::move(done)) {}

  Napi::Promise promise() { return deferred_.Promise(); }
  void Execute() override { core_->shutdown(); }
  void OnOK() override {
    done_(Env());
    deferred_.Resolve(Env().Undefined());
  }

 private:
  Napi::Promise::Deferred deferred_;
  std::shared_ptr<Core> core_;
  std::function<void(Napi::Env)> done_;
};

Outcome checked(Core& core, KmxStatus status) { return status == KMX_OK ? Outcome{} : core.failure(status); }

}  // namespace

Napi::Value make_error(Napi::Env env, KmxStatus status, const std::string& message) {
  AddonData* data = env.GetInstanceData<AddonData>();
  return data->error_factory.Call({Napi::Number::New(env, status), Napi::String::New(env, message)});
}

Napi::Function Runtime::define(Napi::Env env) {
  return DefineClass(env, "Runtime",
                     {
                         InstanceMethod("backend", &Runtime::backend),
                         InstanceMethod("capabilities", &Runtime::capabilities),
                         InstanceMethod("applyHotkeys", &Runtime::apply_hotkeys),
                         InstanceMethod("applyLeftovers", &Runtime::apply_leftovers),
                         InstanceMethod("setRawMask", &Runtime::set_raw_mask),
                         InstanceMethod("sendChord", &Runtime::send_chord),
                         InstanceMethod("keysDown", &Runtime::keys_down),
                         InstanceMethod("close", &Runtime::close),
                         InstanceMethod("ref", &Runtime::ref),
                         InstanceMethod("unref", &Runtime::unref),
                     });
}

Runtime::Runtime(const Napi::CallbackInfo& info) : Napi::ObjectWrap<Runtime>(info) {
  Napi::Env env = info.Env();
  const Api* lib = api();
  if (!lib) {
    Napi::Error::New(env, "keymux_native is not loaded").ThrowAsJavaScriptException();
    return;
  }
  KmxCreateOptions options{KMX_ABI_VERSION, info[0].As<Napi::Number>().Uint32Value()};
  KmxHandle handle = nullptr;
  if (const KmxStatus status = lib->create(&options, &handle); status != KMX_OK) {
    Napi::Error(env, make_error(env, status, read_text(lib->last_init_error))).ThrowAsJavaScriptException();
    return;
  }
  core_ = std::make_shared<Core>(handle);
  on_events_ = Napi::Persistent(info[1].As<Napi::Function>());
  // The object holds itself until it is closed and the thread-safe function
  // is gone: the poll thread reaches it through queued calls until then.
  events_ = Napi::ThreadSafeFunction::New(env, Napi::Function(), "keymux-events", 0, 1, [this](Napi::Env) {
    events_released_ = true;
    release_self();
  });
  Ref();

  std::shared_ptr<Core> core = core_;
  Napi::ThreadSafeFunction events = events_;
  auto wake = [this, events]() mutable {
    events.NonBlockingCall([this](Napi::Env env, Napi::Function) { deliver(env); });
  };
  core_->poller = std::thread([core, events, wake]() mutable {
    KmxEvent event;
    for (;;) {
      const KmxStatus status = api()->poll_event(core->handle(), &event, 0xFFFFFFFFu);
      if (status == KMX_OK) {
        if (core->push(event)) wake();
      } else if (status != KMX_ERR_TIMEOUT) {
        break;
      }
    }
    if (core->end_of_events()) wake();
    events.Release();
  });

  // The process may end with the runtime open: stop and free it on the way.
  std::function<void()> on_exit = [core]() { core->shutdown(); };
  exit_hook_.emplace(env.AddCleanupHook(std::move(on_exit)));
}

Runtime::~Runtime() {
  // Only reached after close (the object holds itself until then) or when
  // the environment ends, whose clean-up hook already shut the core down.
  if (core_) core_->shutdown();
}

void Runtime::deliver(Napi::Env env) {
  if (closed_) return;
  bool ended = false;
  std::vector<KmxEvent> events = core_->take(&ended);
  if (events.empty() && !ended) return;
  Napi::HandleScope scope(env);
  // Raw calls: while the environment ends, its loop may still run this, and
  // JavaScript can no longer be entered. node-addon-api would turn that
  // failure into a throw that cannot be thrown, which aborts the process;
  // the events have nowhere to go then and are dropped.
  napi_value args[2];
  void* copy = nullptr;
  if (napi_create_buffer_copy(env, events.size() * sizeof(KmxEvent), events.data(), &copy, &args[0]) != napi_ok ||
      napi_get_boolean(env, ended, &args[1]) != napi_ok)
    return;
  napi_value ignored;
  const napi_status status = napi_call_function(env, env.Undefined(), on_events_.Value(), 2, args, &ignored);
  // A listener threw. Node-API would only warn about an exception left
  // pending here; raise it as any emitter's listener error is raised.
  if (status == napi_pending_exception && env.IsExceptionPending())
    napi_fatal_exception(env, env.GetAndClearPendingException().Value());
}

bool Runtime::admitted_or_throw(Napi::Env env, const Admission& admission) {
  if (admission) return true;
  Napi::Error(env, make_error(env, KMX_ERR_CLOSED, CLOSED_TEXT)).ThrowAsJavaScriptException();
  return false;
}

Napi::Value Runtime::backend(const Napi::CallbackInfo& info) {
  Admission admission(*core_);
  if (!admitted_or_throw(info.Env(), admission)) return info.Env().Undefined();
  KmxHandle h = core_->handle();
  return Napi::String::New(info.Env(), read_text([h](char* b, size_t c) { return api()->backend(h, b, c); }));
}

Napi::Value Runtime::capabilities(const Napi::CallbackInfo& info) {
  Admission admission(*core_);
  if (!admitted_or_throw(info.Env(), admission)) return info.Env().Undefined();
  return Napi::BigInt::New(info.Env(), api()->capabilities(core_->handle()));
}

// applyHotkeys(ids: bigint[], accelerators: string[], descriptions: string[])
Napi::Value Runtime::apply_hotkeys(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array ids = info[0].As<Napi::Array>();
  Napi::Array accelerators = info[1].As<Napi::Array>();
  Napi::Array descriptions = info[2].As<Napi::Array>();
  struct Item {
    uint64_t id;
    std::string accelerator, description;
  };
  auto items = std::make_shared<std::vector<Item>>();
  for (uint32_t i = 0; i < ids.Length(); ++i) {
    bool lossless = true;
    items->push_back({ids.Get(i).As<Napi::BigInt>().Uint64Value(&lossless),
                      accelerators.Get(i).As<Napi::String>().Utf8Value(),
                      descriptions.Get(i).As<Napi::String>().Utf8Value()});
  }
  auto* job = new CommandJob(env, core_, [items](Core& core) {
    std::vector<KmxShortcut> shortcuts;
    for (const Item& item : *items) shortcuts.push_back({item.id, item.accelerator.c_str(), item.description.c_str()});
    return checked(core, api()->apply_hotkeys(core.handle(), shortcuts.data(), shortcuts.size()));
  });
  Napi::Promise promise = job->promise();
  job->Queue();
  return promise;
}

Napi::Value Runtime::apply_leftovers(const Napi::CallbackInfo& info) {
  Admission admission(*core_);
  if (!admitted_or_throw(info.Env(), admission)) return info.Env().Undefined();
  KmxHandle h = core_->handle();
  return Napi::String::New(info.Env(), read_text([h](char* b, size_t c) { return api()->apply_leftovers(h, b, c); }));
}

Napi::Value Runtime::set_raw_mask(const Napi::CallbackInfo& info) {
  const uint32_t mask = info[0].As<Napi::Number>().Uint32Value();
  auto* job = new CommandJob(info.Env(), core_,
                             [mask](Core& core) { return checked(core, api()->set_raw_mask(core.handle(), mask)); });
  Napi::Promise promise = job->promise();
  job->Queue();
  return promise;
}

// sendChord(modifiers: number[], key: number)
Napi::Value Runtime::send_chord(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array list = info[0].As<Napi::Array>();
  std::vector<uint32_t> modifiers;
  for (uint32_t i = 0; i < list.Length(); ++i) modifiers.push_back(list.Get(i).As<Napi::Number>().Uint32Value());
  const uint32_t key = info[1].As<Napi::Number>().Uint32Value();
  Admission admission(*core_);
  if (!admitted_or_throw(env, admission)) return env.Undefined();
  const Outcome outcome = checked(*core_, api()->send_chord(core_->handle(), modifiers.data(), modifiers.size(), key));
  if (outcome.status != KMX_OK)
    Napi::Error(env, make_error(env, outcome.status, outcome.message)).ThrowAsJavaScriptException();
  return env.Undefined();
}

// keysDown(usages: number[]) -> boolean[]
Napi::Value Runtime::keys_down(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array list = info[0].As<Napi::Array>();
  std::vector<uint32_t> usages;
  for (uint32_t i = 0; i < list.Length(); ++i) usages.push_back(list.Get(i).As<Napi::Number>().Uint32Value());
  std::vector<uint8_t> held(usages.size(), 0);
  Admission admission(*core_);
  if (!admitted_or_throw(env, admission)) return env.Undefined();
  const Outcome outcome =
      checked(*core_, api()->is_key_down_many(core_->handle(), usages.data(), usages.size(), held.data()));
  if (outcome.status != KMX_OK) {
    Napi::Error(env, make_error(env, outcome.status, outcome.message)).ThrowAsJavaScriptException();
    return env.Undefined();
  }
  Napi::Array result = Napi::Array::New(env, held.size());
  for (size_t i = 0; i < held.size(); ++i) result.Set(static_cast<uint32_t>(i), Napi::Boolean::New(env, held[i] != 0));
  return result;
}

Napi::Value Runtime::close(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (close_started_) {
    Napi::Error::New(env, "close already started").ThrowAsJavaScriptException();
    return env.Undefined();
  }
  close_started_ = true;
  core_->begin_shutdown();  // later calls fail with CLOSED at once
  auto* job = new CloseJob(env, core_, [this](Napi::Env env) { finish_close(env); });
  Napi::Promise promise = job->promise();
  job->Queue();
  return promise;
}

void Runtime::finish_close(Napi::Env env) {
  deliver(env);  // what the poll thread took before the source closed
  closed_ = true;
  if (exit_hook_) {
    exit_hook_->Remove(env);
    exit_hook_.reset();
  }
  on_events_.Reset();
  release_self();
}

void Runtime::release_self() {
  if (closed_ && events_released_ && self_held_) {
    self_held_ = false;
    Unref();
  }
}

Napi::Value Runtime::ref(const Napi::CallbackInfo& info) {
  if (!events_released_) events_.Ref(info.Env());
  return info.Env().Undefined();
}

Napi::Value Runtime::unref(const Napi::CallbackInfo& info) {
  if (!events_released_) events_.Unref(info.Env());
  return info.Env().Undefined();
}

}  // namespace keymux_node

#include "platform/wayland/portal_bus.h"

#include <string.h>

#include <time.h>

#include <atomic>

namespace kmx::platform::portal {

namespace {

// ":1.42" becomes "1_42", as the portal names per-sender objects.
std::string sender_part(sd_bus* bus) {
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus, &unique) < 0 || !unique) return {};
  std::string out;
  for (const char* p = unique; *p; ++p) {
    if (*p == ':') continue;
    out += *p == '.' ? '_' : *p;
  }
  return out;
}

// Reads the ids of a shortcuts variant; descriptions and triggers are the
// desktop's own wording and are skipped.
int read_shortcut_ids(sd_bus_message* m, Response& out) {
  int r = sd_bus_message_enter_container(m, 'v', "a(sa{sv})");
  if (r < 0) return r;
  if ((r = sd_bus_message_enter_container(m, 'a', "(sa{sv})")) < 0) return r;
  std::vector<std::string> ids;
  while ((r = sd_bus_message_enter_container(m, 'r', "sa{sv}")) > 0) {
    const char* id = nullptr;
    if ((r = sd_bus_message_read(m, "s", &id)) < 0) return r;
    ids.emplace_back(id ? id : "");
    if ((r = sd_bus_message_skip(m, "a{sv}")) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  out.shortcuts = std::move(ids);
  return sd_bus_message_exit_container(m);
}

// Reads a{sv} results, keeping the keys Response knows.
int read_results(sd_bus_message* m, Response& out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    const std::string k = key;
    char type = 0;
    const char* contents = nullptr;
    if ((r = sd_bus_message_peek_type(m, &type, &contents)) < 0) return r;
    const bool text = contents && (strcmp(contents, "s") == 0 || strcmp(contents, "o") == 0);
    if ((k == "session_handle" || k == "restore_token") && text) {
      if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0) return r;
      const char* value = nullptr;
      if ((r = sd_bus_message_read_basic(m, contents[0], &value)) < 0) return r;
      (k == "session_handle" ? out.session_handle : out.restore_token) = value ? value : "";
      if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    } else if (k == "shortcuts" && contents && strcmp(contents, "a(sa{sv})") == 0) {
      if ((r = read_shortcut_ids(m, out)) < 0) return r;
    } else if (k == "devices" && contents && strcmp(contents, "u") == 0) {
      if ((r = sd_bus_message_read(m, "v", "u", &out.devices)) < 0) return r;
    } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
      return r;
    }
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

int on_response(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<PendingResponse*>(userdata);
  Response response;
  if (sd_bus_message_read(m, "u", &response.code) < 0) response.code = 2;
  if (read_results(m, response) < 0 && response.code == 0) response.code = 2;
  pending->response = std::move(response);
  pending->done = true;
  return 0;
}

// Subscribes to the Response of the request made with token, then calls.
Result<Slot> subscribe_and_call(sd_bus* bus, const char* interface, const char* method,
                                const std::function<int(sd_bus_message*)>& append_args, Options options,
                                PendingResponse* out) {
  const std::string token = new_token();
  const std::string expected = request_path(bus, token);
  sd_bus_slot* raw_slot = nullptr;
  int r = sd_bus_match_signal(bus, &raw_slot, nullptr, expected.c_str(), "org.freedesktop.portal.Request", "Response",
                              on_response, out);
  if (r < 0) return bus_error("match on Response", r);
  Slot slot(raw_slot);
  out->request = expected;

  sd_bus_message* raw_call = nullptr;
  r = sd_bus_message_new_method_call(bus, &raw_call, DESKTOP_NAME, DESKTOP_PATH, interface, method);
  if (r < 0) return bus_error(std::string(method) + " call", r);
  Message call(raw_call);
  if (append_args && (r = append_args(call.get())) < 0) return bus_error(std::string(method) + " arguments", r);
  options.emplace_back("handle_token", token);
  if ((r = append_options(call.get(), options)) < 0) return bus_error(std::string(method) + " options", r);

  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* raw_reply = nullptr;
  r = sd_bus_call(bus, call.get(), 10'000'000, &error, &raw_reply);
  if (r < 0) {
    KmxError e = bus_error(std::string(interface) + "." + method, r, &error);
    sd_bus_error_free(&error);
    return e;
  }
  Message reply(raw_reply);
  const char* handle = nullptr;
  if ((r = sd_bus_message_read(reply.get(), "o", &handle)) < 0) return bus_error(std::string(method) + " reply", r);
  if (handle && expected != handle) {
    // A portal older than handle_token picks its own path.
    raw_slot = nullptr;
    r = sd_bus_match_signal(bus, &raw_slot, nullptr, handle, "org.freedesktop.portal.Request", "Response", on_response,
                            out);
    if (r < 0) return bus_error("match on Response", r);
    slot.reset(raw_slot);
    out->request = handle;
  }
  return slot;
}

}  // namespace

Result<Bus> open_session_bus() {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_user(&bus);
  if (r < 0) return KmxError::backend(std::string("cannot connect to the D-Bus session bus: ") + strerror(-r));
  // A portal that hangs must not hold a caller for sd-bus's default 25 s.
  sd_bus_set_method_call_timeout(bus, 5'000'000);
  return Bus(bus);
}

uint32_t interface_version(sd_bus* bus, const char* interface) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t version = 0;
  const int r =
      sd_bus_get_property_trivial(bus, DESKTOP_NAME, DESKTOP_PATH, interface, "version", &error, 'u', &version);
  sd_bus_error_free(&error);
  return r < 0 ? 0 : version;
}

uint64_t monotonic_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

std::string new_token() {
  static std::atomic<uint64_t> counter{0};
  return "keymux_" + std::to_string(counter.fetch_add(1, std::memory_order_relaxed) + 1);
}

std::string request_path(sd_bus* bus, const std::string& token) {
  return std::string(DESKTOP_PATH) + "/request/" + sender_part(bus) + "/" + token;
}

std::string session_path(sd_bus* bus, const std::string& token) {
  return std::string(DESKTOP_PATH) + "/session/" + sender_part(bus) + "/" + token;
}

int append_options(sd_bus_message* m, const Options& options) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r < 0) return r;
  for (const auto& [key, value] : options) {
    if ((r = sd_bus_message_open_container(m, 'e', "sv")) < 0) return r;
    if ((r = sd_bus_message_append(m, "s", key.c_str())) < 0) return r;
    if (const auto* s = std::get_if<std::string>(&value)) {
      r = sd_bus_message_append(m, "v", "s", s->c_str());
    } else if (const auto* u = std::get_if<uint32_t>(&value)) {
      r = sd_bus_message_append(m, "v", "u", *u);
    } else if (const auto* list = std::get_if<ShortcutSpecs>(&value)) {
      if ((r = sd_bus_message_open_container(m, 'v', "a(sa{sv})")) < 0) return r;
      if ((r = append_shortcuts(m, *list)) < 0) return r;
      r = sd_bus_message_close_container(m);
    } else {
      r = sd_bus_message_append(m, "v", "b", std::get<bool>(value) ? 1 : 0);
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_close_container(m)) < 0) return r;
  }
  return sd_bus_message_close_container(m);
}

int append_shortcuts(sd_bus_message* m, const ShortcutSpecs& shortcuts) {
  int r = sd_bus_message_open_container(m, 'a', "(sa{sv})");
  if (r < 0) return r;
  for (const ShortcutSpec& s : shortcuts) {
    if ((r = sd_bus_message_open_container(m, 'r', "sa{sv}")) < 0) return r;
    if ((r = sd_bus_message_append(m, "s", s.id.c_str())) < 0) return r;
    if ((r = append_options(m, {{"description", s.description}, {"preferred_trigger", s.trigger}})) < 0) return r;
    if ((r = sd_bus_message_close_container(m)) < 0) return r;
  }
  return sd_bus_message_close_container(m);
}

std::string response_text(uint32_t code) {
  switch (code) {
    case 0:
      return "granted";
    case 1:
      return "cancelled by the user";
    default:
      return "ended by the portal";
  }
}

Result<Response> call_request(sd_bus* bus, const char* interface, const char* method,
                              const std::function<int(sd_bus_message*)>& append_args, Options options,
                              uint64_t timeout_us) {
  PendingResponse pending;
  auto slot = subscribe_and_call(bus, interface, method, append_args, std::move(options), &pending);
  if (!slot) return std::move(slot).error();
  const uint64_t deadline = monotonic_us() + timeout_us;
  while (!pending.done) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) return bus_error("connection", r);
    if (r > 0) continue;
    const uint64_t now = monotonic_us();
    if (now >= deadline) {
      // Closing the request dismisses whatever dialog it still shows.
      sd_bus_error error = SD_BUS_ERROR_NULL;
      sd_bus_call_method(bus, DESKTOP_NAME, pending.request.c_str(), "org.freedesktop.portal.Request", "Close", &error,
                         nullptr, "");
      sd_bus_error_free(&error);
      return KmxError::timeout();
    }
    const int w = sd_bus_wait(bus, deadline - now);
    if (w < 0 && w != -EINTR) return bus_error("wait", w);
  }
  return std::move(pending.response);
}

Result<Slot> start_request(sd_bus* bus, const char* interface, const char* method,
                           const std::function<int(sd_bus_message*)>& append_args, Options options,
                           PendingResponse* out) {
  return subscribe_and_call(bus, interface, method, append_args, std::move(options), out);
}

bool process_pending(sd_bus* bus) {
  int r;
  while ((r = sd_bus_process(bus, nullptr)) > 0) {
  }
  return r >= 0;
}

void close_session(sd_bus* bus, const std::string& path) {
  if (path.empty()) return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_call_method(bus, DESKTOP_NAME, path.c_str(), SESSION_INTERFACE, "Close", &error, nullptr, "");
  sd_bus_error_free(&error);
}

KmxError bus_error(const std::string& what, int r, const sd_bus_error* error) {
  std::string why = (error && sd_bus_error_is_set(error) && error->message) ? error->message : strerror(r < 0 ? -r : r);
  return KmxError::backend("D-Bus " + what + " failed: " + why);
}

}  // namespace kmx::platform::portal

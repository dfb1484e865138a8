#include "platform/realtime_kit.h"

#include <dbus/dbus.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kCallTimeoutMs = 1000;
// The service refuses a process that could spin forever in the real-time class: a thread that
// runs this long without blocking is stopped instead (the sound server uses the same bound).
constexpr rlim_t kRealtimeBudgetMicros = 200000;
constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kObject = "/org/freedesktop/RealtimeKit1";

std::string TakeError(DBusError& error, const char* fallback) {
  std::string text = dbus_error_is_set(&error) && error.message != nullptr ? error.message : fallback;
  dbus_error_free(&error);
  return text;
}

// The service's MaxRealtimePriority property; `fallback` when it cannot be read.
int MaxPriority(DBusConnection* bus, int fallback) {
  DBusMessage* call = dbus_message_new_method_call(kService, kObject, "org.freedesktop.DBus.Properties", "Get");
  if (call == nullptr) return fallback;
  const char* interface = kService;
  const char* property = "MaxRealtimePriority";
  dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, kCallTimeoutMs, &error);
  dbus_message_unref(call);
  dbus_error_free(&error);
  if (reply == nullptr) return fallback;
  int result = fallback;
  DBusMessageIter iter, variant;
  if (dbus_message_iter_init(reply, &iter) && dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
    dbus_message_iter_recurse(&iter, &variant);
    if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32) {
      dbus_int32_t value = 0;
      dbus_message_iter_get_basic(&variant, &value);
      result = value;
    }
  }
  dbus_message_unref(reply);
  return result;
}

}  // namespace

bool AskRealtimeKit(int priority, std::string& reason) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
  if (bus == nullptr) {
    reason = "no system bus (" + TakeError(error, "unknown error") + ")";
    return false;
  }
  dbus_connection_set_exit_on_disconnect(bus, FALSE);
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kRealtimeBudgetMicros)) {
    limit.rlim_cur = limit.rlim_max = kRealtimeBudgetMicros;
    setrlimit(RLIMIT_RTTIME, &limit);
  }
  bool granted = false;
  DBusMessage* call = dbus_message_new_method_call(kService, kObject, kService, "MakeThreadRealtime");
  if (call == nullptr) {
    reason = "out of memory";
  } else {
    const dbus_uint64_t thread = static_cast<dbus_uint64_t>(gettid());
    const dbus_uint32_t wanted = static_cast<dbus_uint32_t>(std::clamp(priority, 1, MaxPriority(bus, priority)));
    dbus_message_append_args(call, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &wanted, DBUS_TYPE_INVALID);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, kCallTimeoutMs, &error);
    dbus_message_unref(call);
    if (reply == nullptr) {
      reason = TakeError(error, "no answer");
    } else {
      granted = dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_ERROR;
      if (!granted) reason = "refused";
      dbus_message_unref(reply);
    }
  }
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  return granted;
}

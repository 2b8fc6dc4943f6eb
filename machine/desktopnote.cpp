#include "machine/desktopnote.h"

#include <systemd/sd-bus.h>

#include <cstdint>

bool SendDesktopNote(const std::string& summary, const std::string& body) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  // A notification daemon that hangs must not hold a backup run.
  sd_bus_set_method_call_timeout(bus, 5 * 1000 * 1000);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
  const int r = sd_bus_call_method(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                   "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i",
                                   "Lorvanta", std::uint32_t{0}, "lorvanta", summary.c_str(), body.c_str(), 0,
                                   0, std::int32_t{-1});
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}

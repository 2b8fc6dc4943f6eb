// A stand-in for the desktop's notification daemon on a private session bus: it owns
// org.freedesktop.Notifications, writes the summary and body of every Notify call to the file named by its
// argument (one "summary\tbody" line each, line breaks of the body as "\n"), and answers like a daemon.
// It prints "ready" once it owns the name, and runs until it is killed.
#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const char* g_path = nullptr;
uint32_t g_next = 1;

int OnNotify(sd_bus_message* m, void*, sd_bus_error*) {
  const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
  uint32_t replaces = 0;
  if (sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body) < 0) return -22;
  std::string line = std::string(summary) + "\t";
  for (const char* c = body; *c != '\0'; ++c) line += *c == '\n' ? std::string("\\n") : std::string(1, *c);
  if (FILE* f = std::fopen(g_path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
  return sd_bus_reply_method_return(m, "u", g_next++);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  g_path = argv[1];
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 1;
  if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", kVtable, nullptr) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.Notifications", 0) < 0)
    return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) return 1;
    if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
  }
}

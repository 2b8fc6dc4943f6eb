// A note on the desktop through the session bus (org.freedesktop.Notifications), for runs nobody watches.
#pragma once

#include <string>

// Sends the note; false when there is no session bus or nobody shows notes there (then nothing happens,
// and a run never fails for it). Waits at most a few seconds.
bool SendDesktopNote(const std::string& summary, const std::string& body);

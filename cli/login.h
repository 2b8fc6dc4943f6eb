// `lorvanta-cli login`: signs in to the album site with QQ's QR code, the way the site's own sign-in page
// does, and writes the session to a cookie file the other commands read (--cookies).
#pragma once

#include <atomic>

#include "cli/options.h"

// Shows the code on the terminal, waits for the phone (a new code when one expires), takes the session,
// checks it with one album list call and writes it (mode 0600). Exit codes: kExitOk; kExitSignIn when the
// phone refused, no code was confirmed in time or the site does not take the session; kExitNoAlbumList
// when the sign-in host or the site cannot be reached or answers something unreadable;
// kExitInterrupted once `stop` is set; kExitSomeFailed when the file cannot be written.
int RunLoginCommand(const Options& o, const std::atomic<bool>& stop);

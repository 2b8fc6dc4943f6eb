// The commands that work on a copy alone, without the album services: rebuilding its offline viewer and
// checking it against its manifests.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/terminalhost.h"
#include "core/jobhost.h"

// lorvanta-cli viewer DIR
int RunViewerCommand(const Options& o);
// lorvanta-cli verify DIR
int RunVerifyCommand(const Options& o);

// The commands that work on a copy alone, without the album services: rebuilding its offline viewer and
// checking it against its manifests. And the viewer a download leaves behind.
#pragma once

#include <string>
#include <vector>

#include "app/jobhost.h"
#include "cli/options.h"
#include "cli/terminalhost.h"

// lorvanta-cli viewer DIR
int RunViewerCommand(const Options& o);
// lorvanta-cli verify DIR
int RunVerifyCommand(const Options& o);

// The viewer of a finished download, from the albums the terminal host saw in list order. Returns the
// entry page's path, or empty with `trouble` set when it could not be built.
std::string BuildCopyViewer(const std::string& albumRoot, const std::vector<AlbumEntryFields>& albums,
                            const std::vector<AlbumReport>& reports, std::string& trouble);

// The small file checks around writing the viewer's files (each of which is written whole by
// core/wholefile.h, so a page or thumbnail is never seen half-written). Every error names the path and the
// system's reason.
#pragma once

#include <string>
#include <string_view>

// Makes the folder when it is not there. Throws std::runtime_error when it cannot, or when something else
// is at path.
void MakeFolder(const std::string& path);

// Up to maxBytes from the start of the file; empty when it cannot be read.
std::string ReadFileHead(const std::string& path, size_t maxBytes);

// A temporary file of a whole-file write (core/wholefile.h): WriteWholeFile's, or ".tmp-" then six characters
// (the name older versions gave them).
bool IsLeftoverTemp(std::string_view name);

// Removes the temporary files of whole-file writes in folder (ends in "/") that are older than an hour:
// left by a build that was killed. Younger ones may belong to a build still running.
void RemoveLeftoverTemps(const std::string& folder);

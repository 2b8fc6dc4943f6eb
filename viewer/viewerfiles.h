// Writing the viewer's files so that a page or thumbnail is never seen half-written, and the small file
// checks around that. Every error names the path and the system's reason.
#pragma once

#include <string>
#include <string_view>

// WriteWholeFile with mode 0644: the temporary file goes in tempFolder (ends in "/"; the same file system as
// path, empty: path's own folder), then is renamed to path. Throws std::runtime_error when that fails; path
// is then as it was. Thumbnails, made again when missing or empty, are written without flushes (durable).
void WriteFileAtomically(const std::string& path, std::string_view bytes, const std::string& tempFolder = "",
                         bool durable = true);

// Makes the folder when it is not there. Throws std::runtime_error when it cannot, or when something else
// is at path.
void MakeFolder(const std::string& path);

// Up to maxBytes from the start of the file; empty when it cannot be read.
std::string ReadFileHead(const std::string& path, size_t maxBytes);

// A temporary file of WriteFileAtomically: WriteWholeFile's, or ".tmp-" then six characters (the name
// older versions gave them).
bool IsLeftoverTemp(std::string_view name);

// Removes the temporary files of WriteFileAtomically in folder (ends in "/") that are older than an hour:
// left by a build that was killed. Younger ones may belong to a build still running.
void RemoveLeftoverTemps(const std::string& folder);

// Writing whole files so that they survive a crash or a power cut.
//
// Every file the program replaces as a whole (an album's manifest, the cookie file, the viewer's pages and
// thumbnails, the saved preview page) goes through WriteWholeFile, so they all keep one rule: the bytes go
// to a fresh temporary file beside the target, which is flushed to the disk, given its rights and only then
// renamed over the target; the folder is flushed last so that the new name itself survives a power cut. A
// reader therefore sees the old file or the new one, never a mixture, and a failure leaves the old one.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// How the temporary files of WriteWholeFile begin; six random characters follow.
inline constexpr std::string_view kWholeFileTemporaryPrefix = ".lorvanta-tmp-";

// Replaces path with bytes, whole or not at all, and leaves it with exactly mode (an older file's wider
// rights do not survive, and the umask does not narrow it). The temporary file goes in path's own folder,
// or in tempFolder when one is given (ending in "/", on the same file system as path), for a caller that
// wants nothing but path itself ever to appear in path's folder. Throws std::runtime_error
// ("cannot write PATH: REASON") when that fails; path is then as it was and no temporary is left behind,
// except when only the final flush of the folder fails: the new bytes are in place then but not known to be
// on the disk.
// durable false keeps the whole-or-nothing rename but leaves out both flushes: only for files that are
// made again when they are missing or empty (thumbnails), where a power cut may cost the file but never
// leaves a wrong one that is trusted.
void WriteWholeFile(const std::string& path, std::string_view bytes, mode_t mode = 0644,
                    const std::string& tempFolder = {}, bool durable = true);

void SyncFolder(const std::string& folder);

// The whole of a file as it is; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// A temporary file of WriteWholeFile, by its name alone: one left behind by a run that was killed.
bool IsWholeFileTemporary(std::string_view name);

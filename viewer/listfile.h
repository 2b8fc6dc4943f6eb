// The albums of a copy as the last download listed them, kept in the viewer's folder. The folder tree
// alone does not tell the service's album order, an album that failed, or (without a manifest) the order
// of an album's photos, and a later rebuild of the viewer has no download to ask.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "viewer/viewer.h"

inline constexpr std::string_view kListFile = "albums.list";

// The file's bytes: the line "lorvanta viewer list 1", then per album, each field ended by a NUL byte:
// folder, name, desc, priv, total, failed ("1" or "0"), failure reason, photo count, and that many photo
// file names.
std::string ViewerListBytes(const std::vector<ViewerAlbum>& list);

// The list kept at path; empty when there is none or it is damaged (the viewer is then built as without).
std::vector<ViewerAlbum> ReadViewerList(const std::string& path);

// The albums a build of the viewer of root (ends in "/") lists first. With a download's albums (fresh):
// those, in their order, an album without a photo order taking the one kept for its folder, then the kept
// albums it does not name whose folders are still there. Without: the kept albums whose folders are still
// there, and the failed ones. Folders become plain names in root.
std::vector<ViewerAlbum> MergeViewerList(const std::string& root, const std::vector<ViewerAlbum>& fresh,
                                         const std::vector<ViewerAlbum>& stored);

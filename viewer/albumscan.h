// Reading the album root for the viewer: which album folders there are, and per folder which photos, from
// its manifest when it has one and from the files themselves when it has not.
#pragma once

#include <string>
#include <vector>

#include "viewer/model.h"
#include "viewer/viewer.h"

// The albums to show under root (ends in "/"), without their photos yet (ReadAlbumFolder reads them, one
// album at a time): listOrder first (each folder reduced to its plain name in root, its photoOrder kept
// for ReadAlbumFolder), then every other album folder of root sorted by name (NaturalLess). Folders whose
// name begins with "." are not albums. Never throws for what it finds; a listed folder that is not one of
// root's adds a line to notes.
std::vector<ShownAlbum> ListAlbums(const std::string& root, std::vector<ViewerAlbum> listOrder,
                                   std::vector<std::string>& notes);

// The photos of one album folder (a full path, no trailing "/"), with their state on disk, into album.
// With a manifest: its photos in its order (those left out on purpose skipped). Without one: the image
// files of `order` that are there, in that order. Then the image files not named so far, by name
// (NaturalLess). Also fills the fields album lacks (name, desc, priv, total, copied) from the manifest or
// the folder, and photoCount. A folder or manifest that cannot be read adds a line to notes.
void ReadAlbumFolder(const std::string& folderPath, ShownAlbum& album, std::vector<std::string>& notes,
                     const std::vector<std::string>& order = {});

// Names as people sort them: runs of digits compare by their value, so "照片2" comes before "照片10".
bool NaturalLess(const std::string& a, const std::string& b);

// A listed album's folder (a plain name in root, or a path that begins with root) as a name in root
// (ends in "/"); anything else comes back as it was, without trailing "/".
std::string FolderInRoot(const std::string& root, std::string folder);

// True for a name that can only mean a file inside its folder: not empty, not "." or "..", no "/" or NUL.
bool IsPlainName(const std::string& name);

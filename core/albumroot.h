// Getting an album root ready for a run: an older copy moved aside, what a killed run left behind taken
// away, and, when a copy is brought up to date, the album folders that earlier runs made found again.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/albummanifest.h"
#include "core/filenames.h"
#include "core/jobhost.h"

// Moves the album root `root` (ending in "/") of `downloadFolder` aside under a fresh backup name. A
// failure does not stop a run (it then writes into the old folder, never over its files): what went wrong
// is returned, empty when nothing did or there was nothing to move.
std::string MoveOldRootAside(const std::string& downloadFolder, std::string_view qqNumber,
                             const std::string& root, std::time_t now);

// Removes the temporary files a killed run left in `folder`: a manifest or another whole file being
// written, and the ".part" files of fetches whose process is gone. Only under the root's lock, where no
// other run writes.
void RemoveLeftoverTemporaries(const std::string& folder);

// An album folder an earlier run made, by the album it belongs to.
struct KnownAlbumFolder {
  std::string folder;
  AlbumManifest manifest;  // what it recorded; only the id for an adopted folder
  bool adopted = false;    // made by a download that kept no records: its files are taken over by name
};

// The album folders of `root` by album id: every folder whose manifest names an album (the first in name
// order wins), then each listed album without one whose folder stands under the name a download without
// records gave it. Leftover temporaries are removed on the way. Throws ManifestError, naming the file,
// when a manifest cannot be read: nothing may be fetched then.
std::map<std::string, KnownAlbumFolder> FindAlbumFolders(const std::string& root,
                                                         const std::vector<AlbumEntryFields>& albums,
                                                         const NameRules& rules);

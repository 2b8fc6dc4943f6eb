// The photo plan of one album: its photo list read in list order, every photo given its file name in the
// album folder before any is fetched (so several can be fetched at once and the tree is still the same),
// and, when updating, what the album's manifest says is there already.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/albummanifest.h"
#include "core/filenames.h"
#include "core/xmldoc.h"

// Nodes one album's photo walk may visit; beyond it the whole job ends.
constexpr int kMaxPhotoEntries = 10000;

// One photo entry of the plan, in list order. Entries that are skipped uncounted do not appear.
struct PlannedPhoto {
  enum class Kind {
    kFetch,      // fetch url into file
    kNoAddress,  // the address is empty: counts as a failed photo
    kRefused,    // no file name could be given, or not an http/https address: counts as a failed fetch
    kPresent,    // updating: already in the folder as its manifest records
    kLeftOut,    // updating: deleted by hand, and deleted photos are to stay out
  };
  Kind kind = Kind::kFetch;
  std::string statusName;  // album name + "/" + photo name + "." + extension, the raw names
  std::string url;
  std::string file;
  std::string reason;     // kNoAddress, kRefused: why it cannot be fetched
  bool video = false;     // a video: its host wants the site's Referer, and it is checked as a video
  std::time_t taken = 0;  // when it was taken; the file gets this time once written (0: the server's)
};

struct AlbumPlan {
  std::vector<PlannedPhoto> photos;
  bool entryLimitHit = false;  // the list had more nodes than kMaxPhotoEntries: the job ends after it
};

// What an album folder's manifest says is there already, for planning an update.
struct PlanRecords {
  AlbumManifest* manifest = nullptr;  // its photo records are brought up to date by the plan
  bool keepDeleted = false;
  std::time_t now = 0;  // the time noted for a reserved photo found complete
  // The folder was made by a download that kept no records: photos found under the names that download
  // gave them, and beginning as images, are recorded as present; missing ones are fetched under those
  // names.
  bool adopt = false;
};

// An album's photo list as the plan takes it, whichever service listed it: its readable entries in list
// order.
struct PhotoListing {
  std::vector<TPhotoEntry> photos;
  bool entryLimitHit = false;  // the list had more nodes than kMaxPhotoEntries; the rest was not read
};

// The photo walk of a list of the XML services, from its first "pic" node: every readable entry, at most
// kMaxPhotoEntries nodes visited.
PhotoListing ListPhotoNodes(XmlNode firstPic);

// Plans an album's photo list and names every file in albumFolder. With
// a manifest, a photo whose address it records keeps its recorded file name: present when the file is
// there with the recorded size (or, merely reserved, is there at all), fetched again under that name when
// the file is gone (or left out, with keepDeleted), and fetched under a new name when the file there has
// another size. The manifest's records are rewritten to match: every planned fetch is reserved in it, so
// a run that is cut short is continued under the same names.
// Names are given by the rules of the album root's disk.
AlbumPlan PlanAlbumPhotos(const PhotoListing& listing, const std::string& albumFolder,
                          std::string_view albumName, const PlanRecords& records = {},
                          const NameRules& rules = {});

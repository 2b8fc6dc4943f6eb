// The preview through today's album site: the album list, page by page, into the same page and entries
// as the XML list gives.
#pragma once

#include "core/albumlist.h"

// RetrieveAlbumList with input.site set.
PreviewOutcome RetrieveSiteAlbumList(const PreviewInput& input, PreviewHost& host);

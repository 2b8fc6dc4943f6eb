#include "cli/foldercommands.h"

#include <cstdio>
#include <iostream>

#include "app/verify.h"
#include "app/viewer/viewer.h"
#include "json/jsonwriter.h"

int RunViewerCommand(const Options& o) {
  try {
    const ViewerReport report = BuildViewer(o.dir, {});
    for (const std::string& note : report.notes)
      std::cerr << "lorvanta-cli: warning: " << Shown(note) << "\n";
    if (!o.quiet) {
      std::printf("%d albums, %d photos; thumbnails made %d, kept %d\n%s\n", report.albums, report.photos,
                  report.thumbnailsMade, report.thumbnailsReused, Shown(report.entryPage).c_str());
    }
    return kExitOk;
  } catch (const std::runtime_error& e) {
    std::cerr << "lorvanta-cli: viewer: " << Shown(e.what()) << "\n";
    return kExitSomeFailed;
  }
}

int RunVerifyCommand(const Options& o) {
  const VerifyReport r = VerifyCopy(o.dir);
  if (o.json) {
    JsonWriter w;
    w.Object().Key("dir").String(o.dir).Key("good").Boolean(r.Good()).Key("albums").Number(r.albums);
    w.Key("photosChecked").Number(r.photosChecked).Key("photosWithoutDigest").Number(r.photosWithoutDigest);
    w.Key("findings").Array();
    for (const VerifyFinding& f : r.findings) {
      w.Object()
          .Key("kind")
          .String(VerifyKindWord(f.kind))
          .Key("folder")
          .String(f.folder)
          .Key("file")
          .String(f.file);
      w.End();
    }
    w.End().Key("errors").Array();
    for (const std::string& e : r.errors) w.String(e);
    std::cout << w.End().End().Text() << "\n";
  } else {
    for (const VerifyFinding& f : r.findings)
      std::printf("%s: %s/%s\n", VerifyKindWord(f.kind), Shown(f.folder).c_str(), Shown(f.file).c_str());
    for (const std::string& e : r.errors) std::cerr << "lorvanta-cli: " << Shown(e) << "\n";
    if (r.albums == 0 && r.errors.empty())
      std::cerr << "lorvanta-cli: no album folder with a manifest in " << Shown(o.dir)
                << " (copies made with --update or --write-metadata have them)\n";
    if (!o.quiet) {
      std::printf("%d albums, %d photos checked (%d without a digest): %s\n", r.albums, r.photosChecked,
                  r.photosWithoutDigest, r.Good() ? "all well" : "problems found");
    }
  }
  return r.Good() ? kExitOk : kExitSomeFailed;
}

std::string BuildCopyViewer(const std::string& albumRoot, const std::vector<AlbumEntryFields>& albums,
                            const std::vector<AlbumReport>& reports, std::string& trouble) {
  std::vector<ViewerAlbum> list;
  for (size_t n = 0; n < reports.size() && n < albums.size(); ++n) {
    const AlbumReport& r = reports[n];
    if (r.state != "done" && r.state != "failed" && r.state != "abandoned") continue;
    ViewerAlbum album;
    album.folder = r.state == "done" ? r.folder : std::string();
    album.name = albums[n].name;
    album.desc = albums[n].desc;
    album.priv = albums[n].priv;
    album.total = albums[n].total;
    album.failed = r.state != "done";
    album.failureReason = r.reason;
    list.push_back(std::move(album));
  }
  try {
    return BuildViewer(albumRoot, list).entryPage;
  } catch (const std::runtime_error& e) {
    trouble = e.what();
    return {};
  }
}

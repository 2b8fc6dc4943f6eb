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
      if (f.kind == VerifyFinding::Kind::kIncomplete)
        w.Key("listed").Number(f.listed).Key("saved").Number(f.saved).Key("leftOut").Number(f.leftOut);
      w.End();
    }
    w.End().Key("errors").Array();
    for (const std::string& e : r.errors) w.String(e);
    std::cout << w.End().End().Text() << "\n";
  } else {
    for (const VerifyFinding& f : r.findings) {
      if (f.kind != VerifyFinding::Kind::kIncomplete) {
        std::printf("%s: %s/%s\n", VerifyKindWord(f.kind), Shown(f.folder).c_str(), Shown(f.file).c_str());
        continue;
      }
      std::printf("%s: %s: %d of %d listed photos saved", VerifyKindWord(f.kind), Shown(f.folder).c_str(),
                  f.saved, f.listed);
      if (f.leftOut > 0) std::printf(", %d left out on purpose", f.leftOut);
      std::printf("\n");
    }
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

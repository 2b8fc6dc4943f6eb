// lorvanta-cli download --update against the bundled album service: only what is new is fetched, an
// interrupted run is continued, and nothing the user has is deleted or overwritten.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/albummanifest.h"
#include "machine/md5unit.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void Spit(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Every file below root (manifests and journals excluded unless asked), relative path -> bytes.
std::map<std::string, std::string> Photos(const fs::path& root, bool withManifests = false) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  // Also read while a run writes here: a temporary file may go between the listing and the look at it.
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    std::error_code gone;
    if (!e.is_regular_file(gone)) continue;
    const std::string name = e.path().filename().string();
    if (!withManifests && name.rfind(".lorvanta-album.", 0) == 0) continue;
    const fs::path relative = e.path().lexically_relative(root);
    if (IsViewerPath(relative)) continue;
    files[relative.string()] = Slurp(e.path());
  }
  return files;
}

struct CliResult {
  int code = -1;
  std::string out, err;
};

CliResult Cli(const std::vector<std::string>& args) {
  const fs::path out = fs::temp_directory_path() / ("lorvanta-update-out-" + std::to_string(::getpid()));
  const fs::path err = fs::temp_directory_path() / ("lorvanta-update-err-" + std::to_string(::getpid()));
  std::string cmd = LORVANTA_CLI;
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " >" + out.string() + " 2>" + err.string();
  const int status = std::system(cmd.c_str());
  CliResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = CopyDataDirToTemp();
    dir_ = sandbox_.Dir();
  }
  void TearDown() override {
    albumd_.reset();
    fs::remove_all(data_);
  }
  void StartAlbumd(int latencyMs = 0) {
    AlbumdProcess::Options o;
    o.dataDir = data_;
    o.latencyMs = latencyMs;
    albumd_ = AlbumdProcess::Start(o);
  }
  CliResult Download(const std::string& qq, std::vector<std::string> extra) {
    std::vector<std::string> args = {"download",         qq, "--to", dir_.string(), "--route-host",
                                     albumd_->HostPort()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  }
  int PhotoRequests() const {
    int n = 0;
    for (const auto& line : albumd_->LogLines()) n += line.find(" /photos/") != std::string::npos;
    return n;
  }
  fs::path Root(const std::string& qq) const { return dir_ / (qq + "的相册"); }
  void Account(const std::string& qq, const std::string& ini) {
    Spit(fs::path(data_) / "accounts" / (qq + ".ini"), ini);
  }

  std::string data_;
  TestFolder sandbox_;
  fs::path dir_;
  std::unique_ptr<AlbumdProcess> albumd_;
};

std::string Album(const std::string& id, const std::string& name, int photos, int firstPhoto = 0) {
  std::string s = "[album]\nid = " + id + "\nname = " + name + "\ndesc = d\npriv = 1\ncover = cover.jpg\n";
  for (int i = firstPhoto; i < firstPhoto + photos; ++i)
    s += "[photo]\nname = p" + std::to_string(i) + "\nimage = " + (i % 2 ? "sun.gif" : "sky.jpg") + "\n";
  return s;
}

TEST_F(UpdateTest, SecondRunFetchesOnlyWhatIsNewAndAddsNewAlbums) {
  Account("30001", "[account]\n" + Album("A1", "一", 3) + Album("A2", "二", 2));
  StartAlbumd();
  CliResult first = Download("30001", {"--update"});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_NE(first.out.find("photos new 5, already present 0, failed 0"), std::string::npos) << first.out;
  const auto before = Photos(Root("30001"));
  ASSERT_EQ(before.size(), 5u);
  // The digest recorded while each photo arrived is the digest of the file it became.
  for (const char* album : {"一", "二"}) {
    const auto manifest = ReadAlbumManifest((Root("30001") / album).string());
    ASSERT_TRUE(manifest.has_value()) << album;
    for (const ManifestPhoto& p : manifest->photos)
      EXPECT_EQ(p.md5, Md5Hex(before.at(std::string(album) + "/" + p.file))) << p.file;
  }
  const int requestsBefore = PhotoRequests();

  // Nothing changed: no photo is asked for.
  CliResult same = Download("30001", {"--update"});
  EXPECT_EQ(same.code, 0) << same.err;
  EXPECT_NE(same.out.find("photos new 0, already present 5, failed 0"), std::string::npos) << same.out;
  EXPECT_EQ(PhotoRequests(), requestsBefore);
  EXPECT_EQ(Photos(Root("30001")), before);

  // The account gains two photos in A1 and a whole album.
  Account("30001", "[account]\n" + Album("A1", "一", 5) + Album("A2", "二", 2) + Album("A3", "三", 1));
  CliResult grown = Download("30001", {"--update"});
  EXPECT_EQ(grown.code, 0) << grown.err;
  EXPECT_NE(grown.out.find("photos new 3, already present 5, failed 0"), std::string::npos) << grown.out;
  EXPECT_EQ(PhotoRequests(), requestsBefore + 3);
  const auto after = Photos(Root("30001"));
  EXPECT_EQ(after.size(), 8u);
  for (const auto& [path, bytes] : before) EXPECT_EQ(after.at(path), bytes) << path;
  EXPECT_TRUE(after.count("一/p3.GIF") && after.count("一/p4.JPG"));
  EXPECT_TRUE(after.count("三/p0.JPG"));
  // No backup was made: the root was kept.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(UpdateTest, DeletedPhotosComeBackUnlessKeptDeleted) {
  Account("30002", "[account]\n" + Album("A1", "一", 3));
  StartAlbumd();
  ASSERT_EQ(Download("30002", {"--update"}).code, 0);
  const auto full = Photos(Root("30002"));
  fs::remove(Root("30002") / "一" / "p1.GIF");
  CliResult kept = Download("30002", {"--update", "--keep-deleted"});
  EXPECT_EQ(kept.code, 0);
  EXPECT_NE(kept.out.find("left out as deleted 1"), std::string::npos) << kept.out;
  EXPECT_FALSE(fs::exists(Root("30002") / "一" / "p1.GIF"));
  CliResult back = Download("30002", {"--update"});
  EXPECT_EQ(back.code, 0);
  EXPECT_NE(back.out.find("photos new 1, already present 2"), std::string::npos) << back.out;
  EXPECT_EQ(Photos(Root("30002")), full);  // back under its own name
}

// A run killed (SIGKILL, no chance to tidy up) part way is continued by --update: the final tree is the
// one a single uninterrupted run gives, with no duplicates and no temporary files.
TEST_F(UpdateTest, AKilledRunIsContinuedUnderTheSameNames) {
  Account("30003", "[account]\n" + Album("A1", "一", 12) + Album("A2", "二", 12));
  StartAlbumd(25);
  const std::string to = dir_.string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    execl(LORVANTA_CLI, LORVANTA_CLI, "download", "30003", "--update", "--jobs", "2", "--to", to.c_str(),
          "--route-host", albumd_->HostPort().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (Photos(Root("30003")).size() < 7 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(5ms);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const size_t partial = Photos(Root("30003")).size();
  ASSERT_GE(partial, 7u);
  ASSERT_LT(partial, 24u) << "the run ended before it could be killed; nothing was tested";
  // Whatever the moment of the kill, every manifest reads.
  for (const auto& e : fs::directory_iterator(Root("30003"))) {
    if (e.is_directory()) {
      EXPECT_NO_THROW(ReadAlbumManifest(e.path().string())) << e.path();
    }
  }

  CliResult resumed = Download("30003", {"--update"});
  EXPECT_EQ(resumed.code, 0) << resumed.err;
  const auto tree = Photos(Root("30003"));
  for (const auto& [path, bytes] : tree) {
    EXPECT_EQ(path.find(".part"), std::string::npos) << path;
    EXPECT_EQ(path.find('_'), std::string::npos) << "a duplicate name: " << path;
  }
  EXPECT_EQ(tree.size(), 24u);

  // The same as one run that was never interrupted.
  const fs::path clean = dir_ / "clean";
  ASSERT_EQ(Cli({"download", "30003", "--to", clean.string(), "--route-host", albumd_->HostPort()}).code, 0);
  EXPECT_EQ(tree, Photos(clean / "30003的相册"));
}

// A folder a download made without records is adopted: what is there is kept and recorded, what is
// missing is fetched under the name it would have had, a file of that name that is no photo is left alone
// (the photo gets another name), files no photo names are never touched, and no second folder appears.
TEST_F(UpdateTest, AFolderWithoutManifestIsAdoptedNotDoubled) {
  Account("30004", "[account]\n" + Album("A1", "一", 3));
  StartAlbumd();
  ASSERT_EQ(Download("30004", {}).code, 0);  // a plain download: no records
  const auto plain = Photos(Root("30004"));
  ASSERT_EQ(plain.size(), 3u);
  fs::remove(Root("30004") / "一" / "p1.GIF");
  Spit(Root("30004") / "一" / "p2.JPG", "the user's own file");
  Spit(Root("30004") / "notes.txt", "keep me");
  const size_t before = albumd_->LogLines().size();
  CliResult r = Download("30004", {"--update", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"photosOk\":2,"), std::string::npos) << r.out;       // p1 again, and p2 anew
  EXPECT_NE(r.out.find("\"photosPresent\":1,"), std::string::npos) << r.out;  // p0 kept
  int photoRequests = 0;
  const auto log = albumd_->LogLines();
  for (size_t i = before; i < log.size(); ++i) photoRequests += log[i].find("/photos/") != std::string::npos;
  EXPECT_EQ(photoRequests, 2);
  const auto tree = Photos(Root("30004"));
  EXPECT_EQ(tree.at("一/p0.JPG"), plain.at("一/p0.JPG"));
  EXPECT_EQ(tree.at("一/p1.GIF"), plain.at("一/p1.GIF"));
  EXPECT_EQ(tree.at("一/p2.JPG"), "the user's own file");
  EXPECT_EQ(tree.at("notes.txt"), "keep me");
  EXPECT_EQ(tree.size(), 5u);  // and p2's photo under a name of its own
  int albumFolders = 0;
  for (const auto& e : fs::directory_iterator(Root("30004")))
    albumFolders += e.is_directory() && !IsViewerPath(e.path().filename());
  EXPECT_EQ(albumFolders, 1);
  // Adopted now: a second update fetches nothing.
  r = Download("30004", {"--update", "--json"});
  EXPECT_NE(r.out.find("\"photosOk\":0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"photosPresent\":3,"), std::string::npos) << r.out;
}

TEST_F(UpdateTest, AnUnreadableManifestStopsTheRunBeforeAnythingChanges) {
  Account("30005", "[account]\n" + Album("A1", "一", 2) + Album("A2", "二", 1));
  StartAlbumd();
  ASSERT_EQ(Download("30005", {"--update"}).code, 0);
  const fs::path manifest = Root("30005") / "二" / std::string(kManifestFileName);
  const std::string cases[] = {
      "{\"format\":1,\"album\":",                                // cut off
      "{\"format\":7,\"album\":{\"id\":\"A2\"},\"photos\":[]}",  // newer
  };
  for (const std::string& text : cases) {
    Spit(manifest, text);
    const auto before = Photos(Root("30005"), true);
    const int requests = PhotoRequests();
    CliResult r = Download("30005", {"--update"});
    EXPECT_EQ(r.code, 4) << text;
    EXPECT_NE(r.err.find(manifest.string()), std::string::npos) << r.err;
    EXPECT_EQ(Photos(Root("30005"), true), before) << text;
    EXPECT_EQ(PhotoRequests(), requests);
  }
}

TEST_F(UpdateTest, ManifestsOnlyWhenAskedFor) {
  Account("30006", "[account]\n" + Album("A1", "一", 2));
  StartAlbumd();
  ASSERT_EQ(Download("30006", {}).code, 0);
  EXPECT_EQ(Photos(Root("30006"), true).size(), 2u);  // the window's tree, nothing more
  ASSERT_EQ(Download("30006", {"--write-metadata"}).code, 0);
  const auto m = ReadAlbumManifest((Root("30006") / "一").string());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, "A1");
  EXPECT_EQ(m->name, "一");
  ASSERT_EQ(m->photos.size(), 2u);
  EXPECT_EQ(m->photos[0].file, "p0.JPG");
  EXPECT_EQ(m->photos[0].size, static_cast<long long>(fs::file_size(Root("30006") / "一" / "p0.JPG")));
  EXPECT_FALSE(fs::exists(Root("30006") / "一" / std::string(kJournalFileName)));
  EXPECT_EQ(Cli({"download", "30006", "--keep-deleted"}).code, 2);  // needs --update
}

// A reply that claims to be a photo but is not one counts as failed and leaves no file.
TEST_F(UpdateTest, RepliesThatAreNoImageFail) {
  Spit(fs::path(data_) / "images" / "fake.jpg", "<html><body>please log in</body></html>");
  Account("30007",
          "[account]\n[album]\nid = A1\nname = 一\ndesc = d\npriv = 1\ncover = cover.jpg\n"
          "[photo]\nname = good\nimage = sky.jpg\n[photo]\nname = fake\nimage = fake.jpg\n");
  StartAlbumd();
  CliResult r = Download("30007", {"--retries", "2"});
  EXPECT_EQ(r.code, 1);
  const auto tree = Photos(Root("30007"));
  EXPECT_EQ(tree.size(), 1u);
  EXPECT_TRUE(tree.count("一/good.JPG"));
  // Not retried: the server answered, with the wrong thing.
  int fakeRequests = 0;
  for (const auto& line : albumd_->LogLines())
    fakeRequests += line.find("/photos/30007/0/1.") != std::string::npos;
  EXPECT_EQ(fakeRequests, 1);
}

TEST_F(UpdateTest, PhotosKeepTheServersModificationTime) {
  Account("30008", "[account]\n" + Album("A1", "一", 1));
  const fs::path sky = fs::path(data_) / "images" / "sky.jpg";
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001-09-09
  ASSERT_EQ(::utimensat(AT_FDCWD, sky.c_str(), times, 0), 0);
  StartAlbumd();
  ASSERT_EQ(Download("30008", {}).code, 0);
  struct stat info {};
  ASSERT_EQ(::stat((Root("30008") / "一" / "p0.JPG").c_str(), &info), 0);
  // albumd announces the image file's own time as Last-Modified.
  EXPECT_EQ(info.st_mtime, 1000000000);
}

}  // namespace

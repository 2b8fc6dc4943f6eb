// Replacing a file whole: afterwards the folder holds the old file or the new one, with the rights asked
// for, and never a temporary file.
#include "core/wholefile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/testfolder.h"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// While it lives, this process cannot make a file longer than a few bytes: a write past that fails as on
// a full disk (EFBIG rather than ENOSPC; the signal that comes with it is ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = SIG_DFL;
};

TEST(WholeFile, ReplacesTheFileWithExactlyTheRightsAskedForAndLeavesNoTemporary) {
  std::string bytes(1 << 20, 'x');  // several writes' worth on some systems, with bytes of every value
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  struct Case {
    mode_t before, asked;
    bool viaOtherFolder;
  } cases[] = {
      {0666, 0644, false},  // wider than asked: must not survive
      {0644, 0600, false},  // the cookie file over an ordinary one
      {0600, 0644, true},   // narrower than asked, the temporary made in another folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.before << " -> " << c.asked << " via "
                                    << c.viaOtherFolder);
    TestFolder dir;
    const std::string path = dir.Write("album/file", "an older file, longer than nothing");
    ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
    fs::create_directories(dir.path() + "side");
    WriteWholeFile(path, bytes, c.asked, c.viaOtherFolder ? dir.path() + "side/" : std::string());
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(ModeOf(path), c.asked);
    EXPECT_EQ(dir.Tree(), (std::vector<std::string>{"album/", "album/file", "side/"}));
  }
  TestFolder dir;
  const std::string path = dir.path() + "empty";
  WriteWholeFile(path, "");
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(ModeOf(path), 0644u);
}

TEST(WholeFile, AWriteThatFailsLeavesTheOldFileAndNamesThePathAndTheReason) {
  struct Case {
    const char* what;
    std::string file;  // below the test folder
    bool diskFull;
    int reason;
  } cases[] = {
      {"the folder is not there", "nowhere/file", false, ENOENT},
      {"the disk fills up", "album/file", true, EFBIG},
      {"a folder stands at the path", "album/inner", false, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestFolder dir;
    dir.Write("album/file", "the old bytes");
    dir.Write("album/inner/kept", "a file in a folder");
    const auto before = dir.Tree();
    const std::string path = dir.path() + c.file;
    std::string error;
    {
      std::unique_ptr<FileSizeLimit> limit;
      if (c.diskFull) limit = std::make_unique<FileSizeLimit>(16);
      try {
        WriteWholeFile(path, std::string(4096, 'n'));
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
    }
    EXPECT_EQ(error, "cannot write " + path + ": " + std::strerror(c.reason));
    EXPECT_EQ(dir.Tree(), before);  // no temporary left anywhere
    EXPECT_EQ(ReadFileBytes(dir.path() + "album/file"), "the old bytes");
  }
}

TEST(WholeFile, FlushingAFolderThatIsNotThereIsAnError) {
  TestFolder dir;
  EXPECT_NO_THROW(SyncFolder(dir.path()));
  try {
    SyncFolder(dir.path() + "gone");
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(dir.path() + "gone"), std::string::npos) << e.what();
  }
}

}  // namespace

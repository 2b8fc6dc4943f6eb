// `lorvanta-cli login` against albumd's QR sign-in: the code drawn on the terminal is read back as a phone
// would read it, the phone is pressed, and the session written is one the album site takes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/qrcode.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The QR code in text a program drew: its last block of half-block lines, read as a camera would read it
// off the screen (a few pixels a module, white around).
std::optional<std::string> CodeOnScreen(const std::string& screen) {
  std::vector<std::vector<bool>> rows;  // dark modules, the last code drawn
  bool inCode = false;
  size_t at = 0;
  while (at < screen.size()) {
    size_t end = screen.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = screen.substr(at, end - at);
    at = end + 1;
    std::vector<bool> top, bottom;
    bool drawn = line.find_first_not_of(' ') != std::string::npos;
    for (size_t i = 0; drawn && i < line.size();) {
      if (line[i] == ' ') {
        top.push_back(false), bottom.push_back(false), i += 1;
      } else if (line.compare(i, 3, "\u2588") == 0) {
        top.push_back(true), bottom.push_back(true), i += 3;
      } else if (line.compare(i, 3, "\u2580") == 0) {
        top.push_back(true), bottom.push_back(false), i += 3;
      } else if (line.compare(i, 3, "\u2584") == 0) {
        top.push_back(false), bottom.push_back(true), i += 3;
      } else {
        drawn = false;
      }
    }
    if (!drawn) {
      inCode = false;
      continue;
    }
    if (!inCode) rows.clear();
    inCode = true;
    rows.push_back(top);
    rows.push_back(bottom);
  }
  if (rows.empty()) return std::nullopt;
  constexpr int kScale = 4, kMargin = 16;
  const int width = static_cast<int>(rows[0].size()) * kScale + 2 * kMargin;
  const int height = static_cast<int>(rows.size()) * kScale + 2 * kMargin;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height, 255);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c)
      if (rows[r][c])
        for (int y = 0; y < kScale; ++y)
          for (int x = 0; x < kScale; ++x)
            pixels[(kMargin + r * kScale + y) * width + kMargin + c * kScale + x] = 0;
  return ReadQrPixels(pixels.data(), width, height);
}

class LoginTest : public ::testing::Test {
 protected:
  // Starts `lorvanta-cli login` with its output in files.
  void StartLogin(const AlbumdProcess& albumd, const fs::path& cookies) {
    std::vector<std::string> args = {LORVANTA_CLI,    "login",
                                     "--cookies-out", cookies.string(),
                                     "--login-host",  "http://" + albumd.HostPort(),
                                     "--site-host",   "http://" + albumd.HostPort(),
                                     "--poll-pause",  "0.1"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
  }
  // The address of the `n`th code the program has drawn (from 1), once it is on the screen.
  std::string AwaitCode(size_t n) {
    for (int i = 0; i < 200; ++i) {
      const std::string screen = Slurp(out_);
      size_t codes = 0;
      for (size_t at = 0; (at = screen.find("Scan the code", at)) != std::string::npos; ++at) ++codes;
      if (codes >= n) {
        const std::optional<std::string> address = CodeOnScreen(screen);
        EXPECT_TRUE(address.has_value()) << screen;
        return address.value_or("");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "no code number " << n << " on the screen:\n" << Slurp(out_) << Slurp(err_);
    return "";
  }
  // True once the program has said `text`.
  bool AwaitText(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      if (Slurp(out_).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The phone, pressed: "scan", "confirm" or "refuse".
  void Press(const std::string& address, const std::string& qq, const std::string& action) {
    const std::string command =
        "curl -sf -o /dev/null '" + address + "&uin=" + qq + "&action=" + action + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  int AwaitExit() {
    int status = 0;
    for (int i = 0; i < 400; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -2;
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  TestFolder sandbox_;
  fs::path out_ = sandbox_.Dir() / "stdout.txt";
  fs::path err_ = sandbox_.Dir() / "stderr.txt";
  pid_t pid_ = -1;
};

// The first code runs out unscanned and a new one is drawn; the phone scans and confirms that one, and the
// session written (the owner's alone) lists the albums of the signed-in number through the album site.
TEST_F(LoginTest, ThePhoneConfirmsTheCodeOnTheScreenAndTheSessionIsWritten) {
  AlbumdProcess::Options options;
  options.qrSeconds = 1;
  const auto albumd = AlbumdProcess::Start(options);
  const fs::path cookies = sandbox_.Dir() / "session.txt";
  StartLogin(*albumd, cookies);
  const std::string first = AwaitCode(1);
  const std::string second = AwaitCode(2);
  ASSERT_NE(second, "");
  EXPECT_NE(first, second);
  Press(second, "10080", "scan");
  EXPECT_TRUE(AwaitText("Scanned: confirm the sign-in on the phone."));
  Press(second, "10080", "confirm");
  ASSERT_EQ(AwaitExit(), 0) << Slurp(out_) << Slurp(err_);
  EXPECT_NE(Slurp(out_).find("Signed in as 10080 (周末摄影师)"), std::string::npos) << Slurp(out_);

  struct stat st {};
  ASSERT_EQ(::stat(cookies.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const fs::path listed = sandbox_.Dir() / "preview.txt";
  const std::string preview = std::string(LORVANTA_CLI) + " preview 10080 --service current --cookies " +
                              cookies.string() + " --site-host http://" + albumd->HostPort() +
                              " --list-pause 0 >" + listed.string() + " 2>&1";
  const int status = std::system(preview.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(listed);
  EXPECT_NE(Slurp(listed).find("周末出游"), std::string::npos) << Slurp(listed);
}

// A sign-in the phone refuses ends the run with the sign-in's exit code, and no session is written.
TEST_F(LoginTest, ARefusalOnThePhoneWritesNoSession) {
  const auto albumd = AlbumdProcess::Start();
  const fs::path cookies = sandbox_.Dir() / "session.txt";
  StartLogin(*albumd, cookies);
  const std::string code = AwaitCode(1);
  ASSERT_NE(code, "");
  Press(code, "10080", "scan");
  Press(code, "10080", "refuse");
  EXPECT_EQ(AwaitExit(), 6) << Slurp(err_);
  EXPECT_NE(Slurp(err_).find("refused on the phone"), std::string::npos) << Slurp(err_);
  EXPECT_FALSE(fs::exists(cookies));
}

}  // namespace

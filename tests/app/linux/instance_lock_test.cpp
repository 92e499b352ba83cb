// The per-camera lock in a folder of the test's own: one holder per camera, the holder's pid for a
// second start to find, a lock that goes with a killed holder, the names of the lock files, and the
// folder they go in, including the folders the program must run without.
#include "app/linux/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-instance-lock-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, ignored);
    fs::remove_all(folder_, ignored);
  }

  std::string fileText(const std::string& name) {
    std::ifstream in(folder_ + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string folder_;
};

const InstanceKey VIDEO0 = nodeInstanceKey("/dev/video0");

TEST_F(InstanceLockTest, SecondLockOnTheSameCameraIsRefusedAndNamesTheHolderUntilTheFirstIsReleased) {
  {
    const InstanceLock first = lockInstance(folder_, VIDEO0);
    ASSERT_EQ(first.state, InstanceLockState::Held) << first.error;
    EXPECT_TRUE(first.file.isOpen());
    EXPECT_EQ(fileText(VIDEO0.fileName), std::to_string(getpid()) + "\n");

    // A second open of the file is a lock of its own, as another process's would be.
    const InstanceLock second = lockInstance(folder_, VIDEO0);
    EXPECT_EQ(second.state, InstanceLockState::Taken);
    EXPECT_EQ(second.holder, getpid());
    EXPECT_FALSE(second.file.isOpen());
    EXPECT_EQ(fileText(VIDEO0.fileName), std::to_string(getpid()) + "\n") << "the holder's pid is kept";
  }
  const InstanceLock again = lockInstance(folder_, VIDEO0);
  EXPECT_EQ(again.state, InstanceLockState::Held) << "the first lock went with its handle";
}

TEST_F(InstanceLockTest, DifferentCamerasAreLockedApart) {
  const InstanceLock video0 = lockInstance(folder_, VIDEO0);
  const InstanceLock video2 = lockInstance(folder_, nodeInstanceKey("/dev/video2"));
  const InstanceLock index0 = lockInstance(folder_, indexInstanceKey(0));
  const InstanceLock index1 = lockInstance(folder_, indexInstanceKey(1));
  for (const InstanceLock* lock : {&video0, &video2, &index0, &index1}) {
    EXPECT_EQ(lock->state, InstanceLockState::Held) << lock->error;
  }
  EXPECT_EQ(lockInstance(folder_, indexInstanceKey(1)).state, InstanceLockState::Taken);
}

TEST_F(InstanceLockTest, LockOfAKilledHolderIsFreeAgain) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const InstanceLock held = lockInstance(folder_, VIDEO0);
    const char state = held.state == InstanceLockState::Held ? 'H' : 'x';
    if (write(ready[1], &state, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  close(ready[0]);
  ASSERT_EQ(state, 'H');

  const InstanceLock whileHeld = lockInstance(folder_, VIDEO0);
  EXPECT_EQ(whileHeld.state, InstanceLockState::Taken);
  EXPECT_EQ(whileHeld.holder, child);

  // No exit handler runs: the kernel alone drops the lock, as after a crash.
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const InstanceLock afterwards = lockInstance(folder_, VIDEO0);
  EXPECT_EQ(afterwards.state, InstanceLockState::Held) << afterwards.error;
  EXPECT_EQ(fileText(VIDEO0.fileName), std::to_string(getpid()) + "\n") << "the dead holder's pid is replaced";
}

TEST_F(InstanceLockTest, HolderWithoutAPidInTheFileIsNamedAsUnknown) {
  const InstanceLock held = lockInstance(folder_, VIDEO0);
  ASSERT_EQ(held.state, InstanceLockState::Held);
  for (const char* text : {"", "garbage\n", "-5\n", "12x\n"}) {
    std::ofstream(folder_ + "/" + VIDEO0.fileName, std::ios::trunc) << text;
    const InstanceLock second = lockInstance(folder_, VIDEO0);
    EXPECT_EQ(second.state, InstanceLockState::Taken) << text;
    EXPECT_EQ(second.holder, 0) << text;
  }
}

// ---------------------------------------------------------------------------------------------------
// The key of a camera: one node, one name, whichever way it was named.

TEST_F(InstanceLockTest, NodeReachedThroughALinkHasTheNodesKey) {
  const std::string node = folder_ + "/video7";
  std::ofstream(node).put('\n');
  fs::create_directories(folder_ + "/by-id");
  fs::create_symlink(node, folder_ + "/by-id/usb-Maker_Cam-video-index0");
  fs::create_symlink("by-id/usb-Maker_Cam-video-index0", folder_ + "/second-link");

  const InstanceKey direct = nodeInstanceKey(node);
  EXPECT_EQ(direct.camera, fs::canonical(node).string());
  for (const std::string& path : {folder_ + "/by-id/usb-Maker_Cam-video-index0", folder_ + "/second-link",
                                  folder_ + "/by-id/../video7", folder_ + "//video7"}) {
    const InstanceKey key = nodeInstanceKey(path);
    EXPECT_EQ(key.camera, direct.camera) << path;
    EXPECT_EQ(key.fileName, direct.fileName) << path;
  }
}

TEST_F(InstanceLockTest, NodeThatDoesNotExistIsKeyedByThePathAsGiven) {
  const InstanceKey missing = nodeInstanceKey("/dev/no-such-video9");
  EXPECT_EQ(missing.camera, "/dev/no-such-video9");
  EXPECT_EQ(missing.fileName, "quarnel-dev-no%2Dsuch%2Dvideo9.lock");
  EXPECT_EQ(nodeInstanceKey("/dev/../dev/no-such-video9").fileName, missing.fileName);

  // A relative path is taken from the folder the program starts in.
  const fs::path before = fs::current_path();
  fs::current_path(folder_);
  const InstanceKey relative = nodeInstanceKey("no-such-video9");
  fs::current_path(before);
  EXPECT_EQ(relative.camera, fs::canonical(folder_).string() + "/no-such-video9");
}

TEST_F(InstanceLockTest, LockFileNamesAreSafeAndDistinct) {
  EXPECT_EQ(VIDEO0.fileName, "quarnel-dev-video0.lock");
  EXPECT_EQ(VIDEO0.camera, "/dev/video0");
  EXPECT_EQ(indexInstanceKey(3).camera, "camera 3");

  const std::string longPath = "/dev/" + std::string(400, 'v');
  const std::vector<std::string> names = {
      VIDEO0.fileName,
      nodeInstanceKey("/dev/video-0").fileName,
      nodeInstanceKey("/dev/video/0").fileName,
      nodeInstanceKey("/dev/video 0").fileName,
      nodeInstanceKey("/dev/video%200").fileName,
      nodeInstanceKey("/-index=0").fileName,
      nodeInstanceKey("/index=0").fileName,
      nodeInstanceKey("/index/0").fileName,
      indexInstanceKey(0).fileName,
      nodeInstanceKey(longPath + "a").fileName,
      nodeInstanceKey(longPath + "b").fileName,
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i].find('/'), std::string::npos) << names[i];
    EXPECT_LE(names[i].size(), 255u) << names[i];
    EXPECT_EQ(names[i].rfind("quarnel-", 0), 0u) << names[i];
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(names[i], names[j]);
  }

  // Every name can be made and locked in a real folder.
  const InstanceLock longest = lockInstance(folder_, nodeInstanceKey(longPath + "a"));
  EXPECT_EQ(longest.state, InstanceLockState::Held) << longest.error;
  EXPECT_EQ(alreadyRunningText(VIDEO0), "Quarnel is already running for /dev/video0");
}

// ---------------------------------------------------------------------------------------------------
// The folder of the lock files, and the folders the program runs without a lock for.

TEST_F(InstanceLockTest, LockFolderIsTheRuntimeFolderOrAPrivateOneUnderTmp) {
  const uid_t uid = getuid();
  const std::string own = folder_ + "/quarnel-" + std::to_string(uid);
  EXPECT_EQ(instanceLockFolder("/run/user/1000", folder_, uid).path, "/run/user/1000");
  EXPECT_FALSE(fs::exists(own)) << "nothing is made under tmp when the runtime folder is set";

  // Unset, empty or relative (which the base directory rules say to ignore): the folder under tmp, made
  // private even under a mask that would leave the owner out.
  const mode_t mask = umask(0777);
  const LockFolder made = instanceLockFolder(nullptr, folder_, uid);
  umask(mask);
  ASSERT_EQ(made.error, "");
  EXPECT_EQ(made.path, own);
  struct stat status {};
  ASSERT_EQ(lstat(own.c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  EXPECT_EQ(lockInstance(made.path, VIDEO0).state, InstanceLockState::Held);

  for (const char* runtimeDir : {"", "run/user/1000"}) {
    const LockFolder again = instanceLockFolder(runtimeDir, folder_, uid);
    EXPECT_EQ(again.path, own) << runtimeDir;
    EXPECT_EQ(again.error, "") << runtimeDir;
  }
}

TEST_F(InstanceLockTest, FolderUnderTmpThatIsNotPrivatelyOursIsRefused) {
  const uid_t uid = getuid();
  const std::string own = folder_ + "/quarnel-" + std::to_string(uid);
  struct Case {
    const char* name;
    std::function<void()> prepare;
    uid_t uid;
    const char* error;
  };
  const uid_t other = uid + 1;
  const Case cases[] = {
      // Made by this user, so to the program of user uid + 1 it belongs to someone else.
      {"another user's", [&] { fs::create_directory(folder_ + "/quarnel-" + std::to_string(other)); }, other,
       "belongs to another user"},
      {"open to others",
       [&] {
         fs::create_directory(own);
         chmod(own.c_str(), 0777);
       },
       uid, "is open to other users"},
      {"a link to a folder of ours",
       [&] {
         fs::create_directory(folder_ + "/elsewhere");
         chmod((folder_ + "/elsewhere").c_str(), 0700);
         fs::create_directory_symlink(folder_ + "/elsewhere", own);
       },
       uid, "is not a folder"},
      {"a file", [&] { std::ofstream(own).put('\n'); }, uid, "is not a folder"},
      {"no tmp", [&] { fs::remove_all(folder_); }, uid, "cannot make the lock folder"},
  };
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::create_directory(folder_, ignored);
    for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
    c.prepare();
    const LockFolder folder = instanceLockFolder(nullptr, folder_, c.uid);
    EXPECT_EQ(folder.path, "") << c.name;
    EXPECT_NE(folder.error.find(c.error), std::string::npos) << c.name << ": " << folder.error;
    EXPECT_NE(folder.error.find(folder_ + "/quarnel-" + std::to_string(c.uid)), std::string::npos) << c.name;
  }
}

TEST_F(InstanceLockTest, FolderWhereNoLockCanBeMadeLeavesTheProgramWithoutOneAndSaysWhy) {
  struct Case {
    const char* name;
    std::string folder;
    const char* cause;
    bool rootWritesAnyway;
  };
  const std::string file = folder_ + "/a-file";
  std::ofstream(file).put('\n');
  const std::string readOnly = folder_ + "/read-only";
  fs::create_directory(readOnly);
  chmod(readOnly.c_str(), 0500);
  const std::string planted = folder_ + "/planted";
  fs::create_directory(planted);
  fs::create_symlink(file, planted + "/" + VIDEO0.fileName);
  const Case cases[] = {
      {"a file in place of the folder", file, "Not a directory", false},
      {"a folder that is not there", folder_ + "/gone", "No such file or directory", false},
      {"a link in place of the lock file", planted, "Too many levels of symbolic links", false},
      {"a read-only folder", readOnly, "Permission denied", true},
  };
  for (const Case& c : cases) {
    if (c.rootWritesAnyway && geteuid() == 0) continue;
    const InstanceLock lock = lockInstance(c.folder, VIDEO0);
    EXPECT_EQ(lock.state, InstanceLockState::Unavailable) << c.name;
    EXPECT_FALSE(lock.file.isOpen()) << c.name;
    EXPECT_NE(lock.error.find(c.folder + "/quarnel-dev-video0.lock"), std::string::npos)
        << c.name << ": " << lock.error;
    EXPECT_NE(lock.error.find(c.cause), std::string::npos) << c.name << ": " << lock.error;
  }
  std::ifstream linked(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(linked), std::istreambuf_iterator<char>()), "\n")
      << "the file a planted link points to is left alone";
}

}  // namespace

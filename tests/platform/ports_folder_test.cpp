#include "platform/ports_folder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/temp_runtime_dir.hpp"

namespace talmir880 {
namespace {

namespace fs = std::filesystem;

// Each test gets its own XDG_RUNTIME_DIR; the user's own is put back after.
class PortsFolder : public ::testing::Test {
 protected:
  testing::TempRuntimeDir runtime_dir_{"talmir880-ports-test"};
  const std::string runtime_ = runtime_dir_.path();
  const std::string folder_ = runtime_ + "/talmir880";
};

TEST_F(PortsFolder, PathFollowsXdgRuntimeDir) {
  EXPECT_EQ(ports_folder_path(), folder_);
  setenv("XDG_RUNTIME_DIR", (runtime_ + "/").c_str(), 1);
  EXPECT_EQ(ports_folder_path(), folder_);
}

TEST_F(PortsFolder, PathFallsBackToTmpWhenXdgIsUnsetOrEmpty) {
  const std::string fallback = "/tmp/talmir880-" + std::to_string(geteuid());
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(ports_folder_path(), fallback);
  EXPECT_EQ(port_link_path(9), fallback + "/COM9");
  setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(ports_folder_path(), fallback);
}

TEST_F(PortsFolder, LinkPathNamesThePort) {
  EXPECT_EQ(port_link_path(1), folder_ + "/COM1");
  EXPECT_EQ(port_link_path(10), folder_ + "/COM10");
}

TEST_F(PortsFolder, EnsureCreatesAPrivateFolder) {
  const mode_t old_umask = umask(0777);  // must not leave us locked out
  const std::string made = ensure_ports_folder();
  umask(old_umask);
  EXPECT_EQ(made, folder_);
  struct stat st {};
  ASSERT_EQ(lstat(folder_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(ports_folder_trusted(folder_));
  EXPECT_EQ(ensure_ports_folder(), folder_) << "an existing trusted folder is fine";
}

TEST_F(PortsFolder, EnsureNeedsTheParent) {
  setenv("XDG_RUNTIME_DIR", (runtime_ + "/missing").c_str(), 1);
  EXPECT_THROW(ensure_ports_folder(), std::runtime_error);
}

struct ModeCase {
  mode_t mode;
  bool trusted;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << "mode " << std::oct << c.mode; }

class PortsFolderMode : public PortsFolder, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(PortsFolderMode, OnlyTheOwnerMayWrite) {
  ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
  ASSERT_EQ(chmod(folder_.c_str(), GetParam().mode), 0);
  EXPECT_EQ(ports_folder_trusted(folder_), GetParam().trusted);
  if (GetParam().trusted) {
    EXPECT_NO_THROW(ensure_ports_folder());
  } else {
    EXPECT_THROW(ensure_ports_folder(), std::runtime_error);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, PortsFolderMode,
                         ::testing::Values(ModeCase{0700, true}, ModeCase{0750, true},
                                           ModeCase{0755, true}, ModeCase{0500, true},
                                           ModeCase{0770, false}, ModeCase{0720, false},
                                           ModeCase{0702, false}, ModeCase{0777, false},
                                           ModeCase{01777, false}));

TEST_F(PortsFolder, SymlinkedFolderIsNotTrusted) {
  const std::string real = runtime_ + "/real";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), folder_.c_str()), 0);
  EXPECT_FALSE(ports_folder_trusted(folder_));
  EXPECT_FALSE(ports_folder_trusted(folder_ + "/")) << "a trailing slash must not follow it";
  EXPECT_THROW(ensure_ports_folder(), std::runtime_error);
}

TEST_F(PortsFolder, FileOrNothingIsNotTrusted) {
  EXPECT_FALSE(ports_folder_trusted(folder_));
  std::ofstream(folder_) << "not a folder";
  EXPECT_FALSE(ports_folder_trusted(folder_));
  EXPECT_THROW(ensure_ports_folder(), std::runtime_error);
}

TEST_F(PortsFolder, FolderOfAnotherUserIsNotTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
  ASSERT_EQ(chown(folder_.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(ports_folder_trusted(folder_));
}

TEST_F(PortsFolder, ResolveFollowsTheLinkToAnExistingFile) {
  ensure_ports_folder();
  const std::string device = runtime_ + "/ttyFAKE";
  std::ofstream(device) << "";
  ASSERT_EQ(symlink(device.c_str(), port_link_path(9).c_str()), 0);
  EXPECT_EQ(resolve_port_link(9), fs::canonical(device).string());
  EXPECT_EQ(resolve_port_link(8), std::nullopt) << "no COM8 link";
}

TEST_F(PortsFolder, ResolveRefusesWhatDoesNotLeadToADevice) {
  ensure_ports_folder();
  ASSERT_EQ(symlink((runtime_ + "/gone").c_str(), port_link_path(1).c_str()), 0);
  EXPECT_EQ(resolve_port_link(1), std::nullopt) << "dangling link";
  ASSERT_EQ(symlink(runtime_.c_str(), port_link_path(2).c_str()), 0);
  EXPECT_EQ(resolve_port_link(2), std::nullopt) << "a folder is no device";
}

TEST_F(PortsFolder, ResolveIgnoresAnUntrustedFolder) {
  ensure_ports_folder();
  const std::string device = runtime_ + "/ttyFAKE";
  std::ofstream(device) << "";
  ASSERT_EQ(symlink(device.c_str(), port_link_path(9).c_str()), 0);
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  EXPECT_EQ(resolve_port_link(9), std::nullopt);
}

}  // namespace
}  // namespace talmir880

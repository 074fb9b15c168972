#include "platform/private_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "support/owner_only.hpp"

namespace talmir880::platform {
namespace {

namespace fs = std::filesystem;

class PrivateFile : public ::testing::Test {
 protected:
  PrivateFile() {
    path_ =
        (fs::temp_directory_path() / ("talmir880-secret-" + std::to_string(std::random_device{}())))
            .string();
    std::ofstream(path_) << "s3cret\n";
  }
  ~PrivateFile() override {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  std::string path_;
};

TEST_F(PrivateFile, TheOwnersAloneIsQuiet) {
  ASSERT_TRUE(testing::make_owner_only(path_));
  EXPECT_EQ(open_to_others(path_), std::nullopt);
}

TEST_F(PrivateFile, OneThatEveryoneMayReadSaysWhoAndHowToCloseIt) {
  ASSERT_TRUE(testing::let_everyone_read(path_));
#ifdef _WIN32
  EXPECT_EQ(open_to_others(path_), path_ + " is open to others (Everyone); run icacls \"" + path_ +
                                       "\" /inheritance:r /remove \"Everyone\" /grant:r "
                                       "\"%USERNAME%:F\"");
#else
  EXPECT_EQ(open_to_others(path_),
            path_ + " is open to group or others (mode 0644); run chmod 600 " + path_);
#endif
}

// A secret written replaces what was there and is its owner's alone, also
// where the file it replaces was open to everyone.
TEST_F(PrivateFile, WrittenItIsTheOwnersAloneWhateverItReplaced) {
  ASSERT_TRUE(testing::let_everyone_read(path_));
  std::string why;
  ASSERT_TRUE(write_private(path_, "key\n", why)) << why;
  EXPECT_EQ(open_to_others(path_), std::nullopt);
  std::ifstream in(path_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "key\n");
  EXPECT_FALSE(write_private((fs::path(path_) / "none").string(), "key", why));
  EXPECT_NE(why.find("none"), std::string::npos) << why;
}

#ifndef _WIN32
TEST_F(PrivateFile, AnyBitForGroupOrOthersOpensIt) {
  using fs::perms;
  const struct {
    perms mode;
    const char* octal;
  } cases[] = {{perms::owner_read | perms::group_write, "0420"},
               {perms::owner_read | perms::others_exec, "0401"}};
  for (const auto& c : cases) {
    fs::permissions(path_, c.mode);
    EXPECT_EQ(open_to_others(path_),
              path_ + " is open to group or others (mode " + c.octal + "); run chmod 600 " + path_);
  }
  fs::permissions(path_, perms::owner_read);
  EXPECT_EQ(open_to_others(path_), std::nullopt);
}
#endif

}  // namespace
}  // namespace talmir880::platform

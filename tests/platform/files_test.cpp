// SPDX-License-Identifier: Apache-2.0
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using vorlan::ReadOutcome;

class FilesTest : public ::testing::Test {
protected:
    FilesTest() {
        char dir[] = "/tmp/vorlan-files-XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "";
    }
    ~FilesTest() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string dir_;
};

TEST_F(FilesTest, ReadsWholeMissingAndBoundedFiles) {
    std::string content = "left over";
    EXPECT_EQ(vorlan::ReadWholeFile(dir_ + "/none", 100, content), ReadOutcome::Missing);
    EXPECT_TRUE(content.empty());
    ASSERT_TRUE(vorlan::WriteNewFileSynced(dir_ + "/f", std::string(10000, 'x')));
    EXPECT_EQ(vorlan::ReadWholeFile(dir_ + "/f", 10000, content), ReadOutcome::Read);
    EXPECT_EQ(content.size(), 10000u);
    EXPECT_EQ(vorlan::ReadWholeFile(dir_ + "/f", 9999, content), ReadOutcome::TooLong);
    EXPECT_EQ(content.size(), 9999u);
    EXPECT_EQ(vorlan::ReadWholeFile(dir_, 100, content), ReadOutcome::Failed);  // a directory
}

TEST_F(FilesTest, NewFilesNeverReplaceAndReplacementsKeepPermissions) {
    const std::string path = dir_ + "/f";
    ASSERT_TRUE(vorlan::WriteNewFileSynced(path, "first"));
    EXPECT_FALSE(vorlan::WriteNewFileSynced(path, "second"));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(vorlan::ReplaceFileSynced(path, "third", 0644));
    std::string content;
    EXPECT_EQ(vorlan::ReadWholeFile(path, 100, content), ReadOutcome::Read);
    EXPECT_EQ(content, "third");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // Nothing of the write is left beside it.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1u);
    EXPECT_FALSE(vorlan::ReplaceFileSynced(dir_ + "/no-such-dir/f", "x", 0644));
}

}  // namespace

#include "files/AtomicFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using files::checkFileWritable;
using files::writeFileAtomically;

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = fs::temp_directory_path() /
                    ("tolvane-files-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::set<std::string> names() const
    {
        std::set<std::string> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(directory))
            found.insert(entry.path().filename().string());
        return found;
    }
    static std::string contentsOf(const fs::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    static mode_t modeOf(const fs::path& path)
    {
        struct stat status {};
        ::stat(path.c_str(), &status);
        return status.st_mode & 07777;
    }

    fs::path directory;
};

TEST_F(AtomicFileTest, WritesANewFileAndReplacesAnOldOneWhole)
{
    const fs::path target = directory / "chart.svg";
    EXPECT_EQ(writeFileAtomically(target, "first"), "");
    EXPECT_EQ(contentsOf(target), "first");
    EXPECT_EQ(writeFileAtomically(target, [](std::ostream& out) { return bool(out << "second"); }), "");
    EXPECT_EQ(contentsOf(target), "second");
    EXPECT_EQ(names(), std::set<std::string>{"chart.svg"});
}

TEST_F(AtomicFileTest, ANewFileFollowsTheUmaskAndAReplacedOneKeepsItsMode)
{
    const mode_t saved = ::umask(022);
    const fs::path fresh = directory / "fresh";
    EXPECT_EQ(writeFileAtomically(fresh, "x"), "");
    ::umask(saved);
    EXPECT_EQ(modeOf(fresh), 0644u);

    const fs::path owned = directory / "owned";
    std::ofstream(owned) << "old";
    fs::permissions(owned, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(writeFileAtomically(owned, "new"), "");
    EXPECT_EQ(modeOf(owned), 0600u);
}

TEST_F(AtomicFileTest, WritingThroughALinkReplacesTheFileItNamesAndKeepsTheLink)
{
    const fs::path real = directory / "real.wav";
    const fs::path link = directory / "link.wav";
    std::ofstream(real) << "old";
    fs::create_symlink(real.filename(), link);
    EXPECT_EQ(writeFileAtomically(link, "new"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contentsOf(real), "new");
}

// A writer that cannot finish leaves the old file as it was and no temporary
// file beside it.
TEST_F(AtomicFileTest, AFailedWriterLeavesTheOldFileAndNothingElse)
{
    const std::vector<std::pair<const char*, std::function<bool(std::ostream&)>>> writers = {
        {"returns false", [](std::ostream& out) { out << "half"; return false; }},
        {"fails the stream", [](std::ostream& out) { out << "half"; out.setstate(std::ios::badbit); return true; }},
        {"writes nothing and returns false", [](std::ostream&) { return false; }},
    };
    const fs::path target = directory / "report.svg";
    std::ofstream(target) << "good";
    for (const auto& [what, writer] : writers) {
        EXPECT_NE(writeFileAtomically(target, writer), "") << what;
        EXPECT_EQ(contentsOf(target), "good") << what;
        EXPECT_EQ(names(), std::set<std::string>{"report.svg"}) << what;
    }
}

TEST_F(AtomicFileTest, TargetsThatCannotBeWrittenSayWhy)
{
    fs::create_directory(directory / "folder");
    const struct {
        fs::path target;
        int error;
        bool foreseen;  // whether the check before ringing finds it
    } cases[] = {
        {directory / "missing" / "x.wav", ENOENT, true},
        {directory / "folder", EISDIR, true},
        {"/dev/full", ENOSPC, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writeFileAtomically(c.target, "contents"), std::strerror(c.error)) << c.target;
        EXPECT_EQ(checkFileWritable(c.target), c.foreseen ? std::strerror(c.error) : "") << c.target;
    }
    EXPECT_TRUE(fs::is_directory(directory / "folder"));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(names(), std::set<std::string>{"folder"});
}

TEST_F(AtomicFileTest, TheCheckLeavesNothingBehindAndTouchesNoOldFile)
{
    const fs::path target = directory / "chart.svg";
    EXPECT_EQ(checkFileWritable(target), "");
    EXPECT_TRUE(names().empty());
    std::ofstream(target) << "old";
    EXPECT_EQ(checkFileWritable(target), "");
    EXPECT_EQ(contentsOf(target), "old");
    EXPECT_EQ(checkFileWritable("/dev/null"), "");
}

// Two writers of one file each have a temporary file of their own: every
// write succeeds and the file ends as one of them, whole.
TEST_F(AtomicFileTest, WritersAtOnceNeverShareATemporaryFile)
{
    const fs::path target = directory / "shared";
    constexpr int kWriters = 4;
    constexpr int kWrites = 20;
    std::vector<std::string> contents;
    for (int writer = 0; writer < kWriters; ++writer)
        contents.push_back(std::string(16 * 1024, static_cast<char>('a' + writer)));
    std::vector<int> failures(kWriters, 0);
    std::vector<std::thread> threads;
    for (int writer = 0; writer < kWriters; ++writer)
        threads.emplace_back([&, writer] {
            for (int i = 0; i < kWrites; ++i)
                failures[writer] += writeFileAtomically(target, contents[writer]).empty() ? 0 : 1;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kWriters, 0));
    const std::string last = contentsOf(target);
    EXPECT_NE(std::find(contents.begin(), contents.end(), last), contents.end());
    EXPECT_EQ(names(), std::set<std::string>{"shared"});
}

} // namespace

// Replays the fuzz targets' committed inputs through the same drivers and
// checks in the ordinary build, so that an input that once broke the core
// keeps being run by every test pass, with or without clang.

#include "../fuzz/LibraryDriver.h"
#include "../fuzz/NotationDriver.h"
#include "../fuzz/ReceiveDriver.h"
#include "EngineProbe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Driver = std::string (*)(const std::uint8_t*, std::size_t);

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string run(Driver driver, const std::string& input)
{
    return driver(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

// Every input under tests/fuzz/corpus/<target>, the seeds and the findings alike.
void replayCorpus(const char* target, Driver driver)
{
    const fs::path dir = fs::path(TOLVANE_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / target;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file())
            continue;
        EXPECT_EQ(run(driver, readFile(entry.path())), "") << entry.path();
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

TEST(FuzzCorpus, MessageStreamsKeepTheEngineConsistent)
{
    replayCorpus("fuzz_receive", fuzzcheck::runReceive);
}

TEST(FuzzCorpus, NotationsRingOnEveryStage)
{
    replayCorpus("fuzz_notation", fuzzcheck::runNotation);
}

TEST(FuzzCorpus, LibraryFilesGiveRecordsNumberedFromZero)
{
    replayCorpus("fuzz_library", fuzzcheck::runLibrary);
}

// The checks themselves must see a broken state, or a quiet corpus proves nothing.
TEST(FuzzChecks, SeeARowThatIsNoPermutation)
{
    FakeHost host;
    RingerController controller(host, "Tolvane");
    EngineState& engine = EngineProbe::state(controller);
    engine.bellCount = 4;
    engine.ringing = true;
    engine.currentRow = "1224";
    EXPECT_NE(fuzzcheck::checkController(controller), "");
    engine.currentRow = "2143";
    EXPECT_EQ(fuzzcheck::checkController(controller), "");
    engine.pendingBell = 3;
    EXPECT_NE(fuzzcheck::checkController(controller), "");
    engine.bellTable[2].ownBell = true;
    EXPECT_EQ(fuzzcheck::checkController(controller), "");
    engine.struckBells = "33";
    EXPECT_NE(fuzzcheck::checkController(controller), "");
}

TEST(FuzzChecks, AcceptTrueChangesOnAnyStage)
{
    EXPECT_EQ(fuzzcheck::checkApplyChange("12345678", "x", 8), "");
    EXPECT_EQ(fuzzcheck::checkApplyChange("1234", "14", -3), "");
    EXPECT_EQ(fuzzcheck::checkApplyChange("1234567890ET??", "1T", 40), "");
}

}  // namespace

#include "method/MethodLibrary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<MethodDef> recordsOf(const MethodLibrary& library)
{
    std::vector<MethodDef> records;
    int expectedNumber = 0;
    for (const auto& [number, record] : library) {
        EXPECT_EQ(number, expectedNumber++) << "record numbers must have no gaps";
        records.push_back(record);
    }
    return records;
}

std::vector<MethodDef> read(const std::string& contents)
{
    std::istringstream input(contents);
    return recordsOf(readMethodLibrary(input));
}

// --- Splitting columns ---------------------------------------------------------

struct SplitCase {
    std::string line;
    std::vector<std::string> columns;
};

void PrintTo(const SplitCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.line);
}

class SplitFields : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitFields, EverySeparatorSeparates)
{
    std::map<int, std::string> expected;
    for (const auto& column : GetParam().columns)
        expected[static_cast<int>(expected.size())] = column;
    EXPECT_EQ(splitFields(GetParam().line, '\t'), expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, SplitFields, testing::Values(
    SplitCase{"", {""}},
    SplitCase{"abc", {"abc"}},
    SplitCase{"a\tb", {"a", "b"}},
    SplitCase{"\t\t", {"", "", ""}},
    SplitCase{"a\t\tb\t", {"a", "", "b", ""}},
    SplitCase{" a \t b ", {" a ", " b "}}));

TEST(SplitFieldsSeparator, OnlyTheGivenCharacterSeparates)
{
    EXPECT_EQ(splitFields("a,b\tc", ','), (std::map<int, std::string>{{0, "a"}, {1, "b\tc"}}));
}

// --- Reading records -----------------------------------------------------------

struct ReadCase {
    std::string name;
    std::string contents;
    std::vector<MethodDef> records;
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.name;
}

class ReadMethodLibrary : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadMethodLibrary, GivesRecordsInFileOrder)
{
    EXPECT_EQ(read(GetParam().contents), GetParam().records);
}

const std::string kPlainBob = "Plain Bob Minor\t6\tx16x16x16,12\t14\t1234\t";

INSTANTIATE_TEST_SUITE_P(Files, ReadMethodLibrary, testing::Values(
    ReadCase{"EmptyFile", "", {}},
    ReadCase{"OnlyEmptyLines", "\n\n\r\n\n", {}},
    ReadCase{"TooFewColumns", "name only\nname\t6\n", {}},
    ReadCase{"ThreeColumns", "A\t6\tx16\n", {{"A", "x16", "", ""}}},
    ReadCase{"FourColumns", "A\t6\tx16\t14\n", {{"A", "x16", "14", ""}}},
    ReadCase{"EightColumns", "A\t6\tx16\t14\t1234\tnote\tmore\tmore\n", {{"A", "x16", "14", "1234"}}},
    ReadCase{"SixColumns", kPlainBob + "\n", {{"Plain Bob Minor", "x16x16x16,12", "14", "1234"}}},
    ReadCase{"TwoTabsOnly", "\t\t\n", {{"", "", "", ""}}},
    ReadCase{"SameNameTwice", "A\t1\tx\nA\t2\t12\n", {{"A", "x", "", ""}, {"A", "12", "", ""}}},
    ReadCase{"SkippedLineLeavesNoGap", "A\t1\tx\n# comment\n\nB\t2\t12\n",
             {{"A", "x", "", ""}, {"B", "12", "", ""}}},
    ReadCase{"CommentLookalikeIsRecord", "#\t\tx\n", {{"#", "x", "", ""}}},
    ReadCase{"LastLineWithoutTerminator", "A\t1\tx\nB\t2\t12", {{"A", "x", "", ""}, {"B", "12", "", ""}}},
    ReadCase{"LineFeedNotInNotation", "A\t1\tx16\n", {{"A", "x16", "", ""}}},
    ReadCase{"CarriageReturnLineFeed", "A\t1\tx16\r\nB\t2\t12\t14\r\n",
             {{"A", "x16", "", ""}, {"B", "12", "14", ""}}},
    ReadCase{"LoneCarriageReturnKept", "A\t1\tx\r16\n", {{"A", "x\r16", "", ""}}},
    ReadCase{"NothingTrimmed", " A \t1\t x16 \t 14\n", {{" A ", " x16 ", " 14", ""}}},
    ReadCase{"SecondColumnNotChecked", "A\tsix\tx\n", {{"A", "x", "", ""}}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(ReadMethodLibraryLongLines, LineOfMaximumLengthIsOneRecord)
{
    const std::string notation(kMaxLibraryLineLength - 4, 'x');
    const auto records = read("A\t1\t" + notation + "\r\nB\t2\t12\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].placeNotation, notation);
    EXPECT_EQ(records[1].name, "B");
}

TEST(ReadMethodLibraryLongLines, LongerLineIsReadAsSeveralLines)
{
    const std::string firstPiece = "A\t1\t" + std::string(kMaxLibraryLineLength - 4, 'x');
    const auto records = read(firstPiece + "B\t2\t12\t14\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].placeNotation, std::string(kMaxLibraryLineLength - 4, 'x'));
    EXPECT_EQ(records[1], (MethodDef{"B", "12", "14", ""}));
}

TEST(ReadMethodLibraryLongLines, PieceWithoutTabsIsSkipped)
{
    const auto records = read(std::string(kMaxLibraryLineLength, 'a') + "\t1\tx\n");
    EXPECT_EQ(records, (std::vector<MethodDef>{{"", "x", "", ""}}));
}

TEST(ReadMethodLibraryLongLines, VeryLongLineIsCutIntoManyPieces)
{
    std::string line;
    for (int i = 0; i < 100; ++i)
        line += "A\t1\t" + std::string(kMaxLibraryLineLength - 4, 'x');
    EXPECT_EQ(read(line).size(), 100u);
}

// --- Record lookup -------------------------------------------------------------

TEST(MethodLibraryLookup, RecordsAreNumberedFromZeroInOrderAdded)
{
    MethodLibrary library;
    library.add({"A", "x", "", ""});
    library.add({"A", "12", "", ""});
    ASSERT_NE(library.methodAt(1), nullptr);
    EXPECT_EQ(library.methodAt(1)->placeNotation, "12");
    EXPECT_EQ(library.methodAt(2), nullptr);
    EXPECT_EQ(library.methodAt(-1), nullptr);
    EXPECT_EQ(library.size(), 2u);
}

// --- Loading from a file -------------------------------------------------------

class LoadMethodLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        directory = std::filesystem::path(testing::TempDir()) / (std::string("tolvane_") + test->name());
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::filesystem::path write(const std::string& fileName, const std::string& contents)
    {
        const auto path = directory / fileName;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    std::filesystem::path directory;
};

TEST_F(LoadMethodLibrary, FirstFileThatOpensIsRead)
{
    const auto first = write(kMethodLibraryFileName, kPlainBob + "\r\nB\t2\t12");
    const auto second = write("other.txt", "C\t3\tx\n");
    const auto library = loadMethodLibrary({directory / "missing.txt", directory, first, second});
    EXPECT_EQ(recordsOf(library), (std::vector<MethodDef>{{"Plain Bob Minor", "x16x16x16,12", "14", "1234"},
                                                          {"B", "12", "", ""}}));
}

TEST_F(LoadMethodLibrary, NoFileGivesEmptyLibrary)
{
    EXPECT_TRUE(loadMethodLibrary({directory / "missing.txt"}).empty());
    EXPECT_TRUE(loadMethodLibrary({}).empty());
}

}  // namespace

namespace {

TEST(MethodTitledInAnyCase, FindsATitleOnlyWhenOneTitleMatches)
{
    std::istringstream file("Plain Bob Minor\t1\tx16x16x16,12\n"
                            "Plain Bob Minor\t2\tsecond\n"
                            "Grandsire Doubles\t3\t3.1.5.1.5.1.5.1.5.1\n"
                            "grandsire doubles\t4\tother\n"
                            "\xC9toile Minor\t5\tx16\n");
    const MethodLibrary library = readMethodLibrary(file);
    const struct {
        const char* typed;
        const char* notation;  // of the record found; "" none
    } cases[] = {
        {"plain bob minor", "x16x16x16,12"}, {"PLAIN BOB MINOR", "x16x16x16,12"},
        {"GRANDSIRE DOUBLES", ""},  // two titles differ only in case
        {"\xE9TOILE minor", "x16"},  // Latin-1 capitals fold too
        {"plain bob", ""}, {"", ""},
    };
    for (const auto& c : cases) {
        const MethodDef* found = library.methodTitledInAnyCase(c.typed);
        EXPECT_EQ(found ? found->placeNotation : "", c.notation) << c.typed;
    }
}

} // namespace

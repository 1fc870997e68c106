// Writes the seed corpus of the fuzz targets: real message streams built with
// the project's builders, real notations and library lines. Run it again only
// when the input layout of a driver changes; the files are committed.
//
// Usage: fuzz_seeds <corpus directory>   (holds fuzz_receive/, fuzz_notation/, ...)

#include "method/PlaceNotation.h"
#include "protocol/Messages.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string rounds(int bells)
{
    return std::string(kBellSymbols.substr(0, static_cast<std::size_t>(bells)));
}

// Receive input: stage and mode, our bells, the chunk schedule, the stream.
std::string receiveInput(int stage, int mode, unsigned ourBells, const std::vector<std::uint8_t>& schedule,
                         const std::string& stream)
{
    std::string input;
    input.push_back(static_cast<char>(stage + 13 * mode));
    input.push_back(static_cast<char>(ourBells & 0xFF));
    input.push_back(static_cast<char>(ourBells >> 8));
    input.push_back(static_cast<char>(schedule.size() - 1));
    for (std::uint8_t entry : schedule)
        input.push_back(static_cast<char>(entry));
    return input + stream;
}

std::uint8_t entry(unsigned event, unsigned chunk)
{
    return static_cast<std::uint8_t>(event << 5 | chunk);
}

std::string towerAndJoin(int stage, const std::string& band, const std::string& ours)
{
    std::string s;
    s += makeTowerEntry(2, "St Mary", "Eight bells").bytes();
    s += makeTowerEntry(2, "All Saints", "Six bells").bytes();
    s += makeJoinConfirmation("All Saints").bytes();
    s += makeBellAssignment(stage, "Band", band).bytes();
    s += makeBellAssignment(stage, "Tolvane", ours).bytes();
    return s;
}

// The band's strikes of the plain course of Plain Bob Major from rounds; our
// bells are left to the strike timer.
std::string bandRinging(const std::string& ours, int rows)
{
    const std::vector<std::string> lead = {"x", "18", "x", "18", "x", "18", "x", "18",
                                           "x", "18", "x", "18", "x", "18", "x", "12"};
    std::string s = makeCall("Here's treble").bytes();
    std::string row = rounds(8);
    for (int r = 0; r < rows; ++r) {
        const bool handstroke = r % 2 == 0;
        for (char symbol : row)
            if (ours.find(symbol) == std::string::npos)
                s += makeStrike(static_cast<int>(kBellSymbols.find(symbol)) + 1, handstroke, 0, 0).bytes();
        if (r >= 1)
            row = applyChange(row, lead[static_cast<std::size_t>(r - 1) % lead.size()], 8);
    }
    return s;
}

void receiveSeeds(const fs::path& dir)
{
    // Joining, then ringing with us on the tenor, a message per chunk.
    write(dir / "join_and_ring_tenor",
          receiveInput(8, 0, 0x80, {entry(3, 14)}, towerAndJoin(8, "1234567", "8") + bandRinging("8", 60)));
    // The same stream cut in odd pieces, with boxes taking the next read.
    write(dir / "ragged_chunks_nested",
          receiveInput(8, 0, 0x42, {entry(6, 3), entry(3, 5), entry(0, 1), entry(3, 17), entry(2, 26), entry(3, 0)},
                       towerAndJoin(8, "134568", "27") + bandRinging("27", 24)));
    // Mode 1 with the calls of the tower, a server text first.
    std::string calls = makeServerText("Tower is busy").bytes() + towerAndJoin(8, "1357", "2468");
    for (const char* word : {"Here's treble", "Go", "Bob", "Single", "Extreme", "bob", "That's All", "Stand"})
        calls += makeCall(word).bytes() + makeStrike(1, true, 0, 0).bytes() + makeStrike(3, true, 0, 0).bytes();
    write(dir / "calls_mode1", receiveInput(8, 1, 0xAA, {entry(3, 0), entry(4, 2), entry(1, 30)}, calls));
    // Frames and fields the server should never send.
    std::string bad;
    bad += makeBellAssignment(-3, "Tolvane", "12").bytes();
    bad += makeBellAssignment(6, "Tolvane", "1e2").bytes();
    bad += makeStrike(13, true, 0, 0).bytes() + makeStrike(-1, true, 0, 0).bytes();
    bad += makeStrike(2, true, 7, 0).bytes().substr(0, 10);
    bad.replace(bad.size() - 10, 2, std::string("\x0a\x00", 2));
    NetMessage unexpected;
    unexpected.init(8, 8, 1);
    bad += unexpected.bytes();
    bad += std::string("\x03\x00\x04\x00\x01\x00\x00\x00", 8);  // length 3: the stream is lost
    write(dir / "bad_frames", receiveInput(6, 0, 0x01, {entry(0, 0)}, bad));
    // All eight bells ours: the timer and the echo do all the ringing.
    std::string idle = makeCall("Here's treble").bytes();
    for (int i = 0; i < 200; ++i)
        idle += makeHello().bytes();
    write(dir / "robot_rings_all", receiveInput(8, 0, 0xFF, {entry(3, 6)}, idle));
    // Sends the socket takes in part, then refuses.
    write(dir / "partial_sends",
          receiveInput(6, 0, 0x3F, {entry(5, 3), entry(3, 14), entry(7, 2), entry(3, 14), entry(7, 0)}, idle));
}

void notationSeeds(const fs::path& dir)
{
    const auto input = [](std::vector<std::string> fields) {
        std::string s;
        for (std::size_t i = 0; i < fields.size(); ++i)
            s += (i ? std::string(1, '\0') : std::string()) + fields[i];
        return s;
    };
    write(dir / "plain_bob_major", input({"x18x18x18x18,12", "14", "1234", "sbpbbpsp", "", std::string("\0", 1)}));
    write(dir / "grandsire_triples", input({"3.1.7.1.7.1.7.1.7.1.7.1.7.1", "3.1", "3.123", "bbs", "", "\x01\x09\x0d"}));
    write(dir / "stedman_triples", input({"3.1.7.3.1.3|1.3.7.1.3.1", "~3.5", "~3.567", "bpsbp", "", "\x01"}));
    write(dir / "erin_caters", input({"9.3.1.3.1.3", "+1.7", "+1.789", "", "", std::string("\0\x15\x1a", 3)}));
    write(dir / "cambridge_start", input({"x38x14x1258x36x14x58x16x78,12", "14", "1234", "", "125",
                                          std::string("\0\x0d", 2)}));
    write(dir / "bristol_maximus", input({"x5Tx14.5Tx5T.36.14x7T.58.16x9T.70.18x18.9Tx18x1T,1T", "14", "1234", "b",
                                          "18", std::string("\0", 1), "1234567890ET", "1T", "\x0c"}));
    write(dir / "odd_notation", input({",x|+|~2-,&x16", "14|16|12", "", "BPS2b3s", "21436587", "\x01\x08",
                                       "2143", "x", "\x04"}));
}

void librarySeeds(const fs::path& dir)
{
    write(dir / "records",
          "Plain Bob Minor\t6\tx16x16x16,12\t14\t1234\n"
          "Stedman Triples\t7\t3.1.7.3.1.3|1.3.7.1.3.1\t~3.5\t~3.567\r\n"
          "Reverse Bob Minimus\t4\tx14x34,14\t\t1234\n");
    write(dir / "skipped_and_short", "\n\nno tabs here\none\ttab\n\t\t\nA\t1\tx\tb\ts\tsixth\tseventh\teighth");
    write(dir / "long_line", "Long\t8\t" + std::string(1100, 'x') + "\t14\r\n\t\t\r\r\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds <corpus directory>\n";
        return 2;
    }
    const fs::path root = argv[1];
    receiveSeeds(root / "fuzz_receive");
    notationSeeds(root / "fuzz_notation");
    librarySeeds(root / "fuzz_library");
    return 0;
}

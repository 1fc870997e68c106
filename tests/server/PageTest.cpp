// The tower page's API over loopback: what the captain can change, what
// anyone else cannot, bad input refused whole, and the setup kept across a
// restart.

#include "LoopbackHarness.h"
#include "PageClient.h"
#include "server/TowerState.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

using nlohmann::json;

constexpr int kWaitMs = 3000;
const std::string kSixBells = "Ash:Six bells:6";
const std::vector<std::string> kPageOn{"--http", "127.0.0.1:0", "--tower", kSixBells, "--conductor", "off"};

std::vector<std::string> with(std::vector<std::string> arguments, const std::vector<std::string>& more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// The ringer of each bell, as the page reads them.
json bellRingers(const PageClient& page)
{
    return page.get("/api/tower?tower=Ash").json().value("bellRingers", json());
}

// The next assignment naming `ringer`, as the client hears it.
std::optional<std::string> assignedTo(RawClient& client, const std::string& ringer)
{
    const auto message = client.nextMatching(
        [&](const NetMessage& m) {
            return messageType(m) == static_cast<unsigned>(MessageType::BellAssignment) &&
                   textOf(m, layout::bellAssignment::kRingerName) == ringer;
        },
        kWaitMs);
    return message ? std::optional<std::string>(textOf(*message, layout::bellAssignment::kBells)) : std::nullopt;
}

// Takes what the client has been sent so far, so that what follows is news.
void drain(RawClient& client)
{
    while (client.next(200))
        ;
}

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/tolvane-page-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// ---------------------------------------------------------------------------
// What the captain changes

TEST(PageTest, ABellHandedOutIsAnnouncedToEveryClientInTheTower)
{
    ServerProcess server(kPageOn);
    PageClient page(server);
    ASSERT_TRUE(page.ready());
    RawClient alice(server.port());
    RawClient bob(server.port());
    alice.join("Ash", "Alice");
    bob.join("Ash", "Bob");
    drain(alice);
    drain(bob);

    EXPECT_EQ(page.post("/api/bell?tower=Ash", R"({"bell": 3, "ringer": "Alice"})").status, 200);
    EXPECT_EQ(assignedTo(bob, "Alice"), "3");
    EXPECT_EQ(assignedTo(bob, kBandName), "12456");
    EXPECT_EQ(bellRingers(page), json::parse(R"(["Band","Band","Alice","Band","Band","Band"])"));
    drain(alice);

    // Taken from one ringer and given to another, then back to the band.
    EXPECT_EQ(page.post("/api/bell?tower=Ash", R"({"bell": 3, "ringer": "Bob"})").status, 200);
    EXPECT_EQ(assignedTo(alice, "Alice"), "");
    EXPECT_EQ(assignedTo(alice, "Bob"), "3");
    drain(alice);
    EXPECT_EQ(page.post("/api/bell?tower=Ash", R"({"bell": 3, "ringer": "Band"})").status, 200);
    EXPECT_EQ(assignedTo(alice, kBandName), "123456");
}

TEST(PageTest, ACaptainsCallIsRelayedToTheTowerAsACall)
{
    ServerProcess server(kPageOn);
    PageClient page(server);
    RawClient alice(server.port());
    alice.join("Ash", "Alice");
    for (const char* text : {"Here's treble", "Bob", "That's All", "Stand"}) {
        EXPECT_EQ(page.post("/api/call?tower=Ash", json{{"call", text}}.dump()).status, 200) << text;
        const auto heard = alice.nextOfType(MessageType::Call, kWaitMs);
        ASSERT_TRUE(heard.has_value()) << text;
        EXPECT_EQ(textOf(*heard, layout::call::kText), text);
    }
}

TEST(PageTest, TheBandAsSetIsReadBack)
{
    ServerProcess server(kPageOn);
    PageClient page(server);
    const auto reply = page.post("/api/band?tower=Ash",
                                 R"({"method": "Plain Bob Minor", "pealMinutes": 150, "sdMs": 5, "conductor": true})");
    EXPECT_EQ(reply.status, 200) << reply.body;
    const json band = page.get("/api/tower?tower=Ash").json().value("band", json());
    EXPECT_EQ(band, json::parse(R"({"method": "Plain Bob Minor", "pealMinutes": 150.0, "sdMs": 5.0, "conductor": true})"));
    // The search offers the tower's stage only.
    const json found = page.get("/api/methods?q=" + PageClient::escaped("plain BOB") + "&tower=Ash").json();
    EXPECT_NE(std::find(found.begin(), found.end(), "Plain Bob Minor"), found.end()) << found;
    EXPECT_EQ(std::find(found.begin(), found.end(), "Plain Bob Major"), found.end()) << found;
    // A part of the band changed alone leaves the rest.
    EXPECT_EQ(page.post("/api/band?tower=Ash", R"({"sdMs": 12})").status, 200);
    EXPECT_EQ(page.get("/api/tower?tower=Ash").json()["band"]["pealMinutes"], 150.0);
}

// A band formed anew mid-touch would not know where the ringing is.
TEST(PageTest, ABandChangedWhileRingingWaitsForTheStandAndTheTouchIsShown)
{
    ServerProcess server(with(kPageOn, {"--mode", "1", "--peal-minutes", "30"}));
    PageClient page(server);
    RawClient alice(server.port());
    alice.join("Ash", "Alice");
    const auto tower = [&] { return page.get("/api/tower?tower=Ash").json(); };
    const auto waitFor = [&](const std::function<bool(const json&)>& wanted) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!wanted(tower()) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return wanted(tower());
    };
    ASSERT_EQ(page.post("/api/call?tower=Ash", R"({"call": "Here's treble"})").status, 200);
    ASSERT_TRUE(waitFor([](const json& t) { return t.value("ringing", false); }));

    const PageReply reply = page.post("/api/band?tower=Ash", R"({"method": "Cambridge Surprise Minor"})");
    EXPECT_EQ(reply.json().value("message", ""), "The band changes once it stands") << reply.body;
    const json ringing = tower();
    EXPECT_EQ(ringing["band"]["method"], "Plain Bob Minor");
    EXPECT_EQ(ringing["nextBand"]["method"], "Cambridge Surprise Minor");

    ASSERT_TRUE(waitFor([](const json& t) { return t["rows"].size() >= 2; })) << "rows rung before the stand";
    ASSERT_EQ(page.post("/api/call?tower=Ash", R"({"call": "That's All"})").status, 200);
    ASSERT_EQ(page.post("/api/call?tower=Ash", R"({"call": "Stand"})").status, 200);
    EXPECT_TRUE(waitFor([](const json& t) { return t["band"]["method"] == "Cambridge Surprise Minor"; }));
    EXPECT_FALSE(tower().contains("nextBand"));

    // The touch that stood is on the page in the log's own striking lines, with its chart.
    ASSERT_TRUE(waitFor([](const json& t) { return t["touches"] == 1; }));
    json logged = json::array();
    for (const std::string& line : server.lines())
        if (const auto at = line.find("] striking touch 1: "); at != std::string::npos)
            logged.push_back(line.substr(at + std::string("] striking touch 1: ").size()));
    const json touches = page.get("/api/touches?tower=Ash").json();
    ASSERT_EQ(touches.size(), 1u);
    EXPECT_FALSE(logged.empty());
    EXPECT_EQ(touches[0]["lines"], logged);
    // The same figures as numbers, for the page's table.
    const json& band = touches[0]["band"];
    ASSERT_TRUE(band["handstroke"]["rmsMs"].is_number()) << touches[0].dump();
    EXPECT_EQ(band["count"].get<int>(), band["handstroke"]["count"].get<int>() + band["backstroke"]["count"].get<int>());
    EXPECT_TRUE(touches[0]["rows"]["handstrokeGap"]["mean"].is_number());
    EXPECT_TRUE(touches[0]["rows"]["rowsSkipped"].is_number());
    EXPECT_TRUE(touches[0]["ringers"].is_array());
    const PageReply chart = page.get("/api/chart?tower=Ash&touch=1");
    EXPECT_EQ(chart.status, 200);
    EXPECT_NE(chart.body.find("<svg"), std::string::npos);
}

// ---------------------------------------------------------------------------
// What is refused

TEST(PageTest, WithoutTheKeyNothingChanges)
{
    ServerProcess server(kPageOn);
    PageClient page(server);
    RawClient alice(server.port());
    alice.join("Ash", "Alice");
    const json before = page.get("/api/tower?tower=Ash").json();
    for (const std::string& key : std::vector<std::string>{"", "wrong", page.key() + "x"}) {
        EXPECT_EQ(page.postWithKey("/api/bell?tower=Ash", R"({"bell": 1, "ringer": "Alice"})", key).status, 403);
        EXPECT_EQ(page.postWithKey("/api/band?tower=Ash", R"({"sdMs": 1})", key).status, 403);
        EXPECT_EQ(page.postWithKey("/api/call?tower=Ash", R"({"call": "Bob"})", key).status, 403);
    }
    EXPECT_EQ(page.get("/api/tower?tower=Ash").json(), before);
    EXPECT_FALSE(alice.nextOfType(MessageType::Call, 300).has_value());
    // Reading needs no key; the key in the address serves as in the header.
    EXPECT_EQ(page.get("/api/towers").status, 200);
    EXPECT_EQ(page.postWithKey("/api/call?tower=Ash&key=" + page.key(), R"({"call": "Bob"})", "").status, 200);
}

TEST(PageTest, BadInputIsRefusedNamingWhatIsWrongAndChangesNothing)
{
    ServerProcess server(kPageOn);
    PageClient page(server);
    RawClient alice(server.port());
    alice.join("Ash", "Alice");
    const json before = page.get("/api/tower?tower=Ash").json();
    struct Case {
        std::string path;
        std::string body;
        long status;
        std::string named;
    };
    const std::vector<Case> cases{
        {"/api/bell?tower=Ash", R"({"bell": 0, "ringer": "Alice"})", 400, "bell"},
        {"/api/bell?tower=Ash", R"({"bell": 7, "ringer": "Alice"})", 400, "bell"},
        {"/api/bell?tower=Ash", R"({"bell": "3", "ringer": "Alice"})", 400, "bell"},
        {"/api/bell?tower=Ash", R"({"bell": 2.5, "ringer": "Alice"})", 400, "bell"},
        {"/api/bell?tower=Ash", R"({"bell": 3})", 400, "ringer"},
        {"/api/bell?tower=Ash", R"({"bell": 3, "ringer": "Zed"})", 404, "Zed"},
        {"/api/bell?tower=Oak", R"({"bell": 3, "ringer": "Alice"})", 404, "Oak"},
        {"/api/call?tower=Ash", R"({"call": "Bobb"})", 400, "call"},
        {"/api/call?tower=Ash", R"({"call": 1})", 400, "call"},
        {"/api/band?tower=Ash", R"({"method": "Nonesuch Surprise Minor"})", 400, "method"},
        {"/api/band?tower=Ash", R"({"method": "Plain Bob Major"})", 400, "method"},
        {"/api/band?tower=Ash", R"({"pealMinutes": 0})", 400, "pealMinutes"},
        {"/api/band?tower=Ash", R"({"pealMinutes": 1e300})", 400, "pealMinutes"},
        {"/api/band?tower=Ash", R"({"sdMs": -1})", 400, "sdMs"},
        {"/api/band?tower=Ash", R"({"conductor": "yes"})", 400, "conductor"},
        {"/api/band?tower=Ash", R"({"speed": 3})", 400, "speed"},
        {"/api/band?tower=Ash", R"({"sdMs": 5, "bogus": 1})", 400, "bogus"},
        {"/api/call?tower=Ash", "not json", 400, "body"},
        {"/api/call?tower=Ash", R"(["Bob"])", 400, "body"},
        {"/api/call?tower=Ash", R"({"call": "Bob")", 400, "body"},
        {"/api/call?tower=Ash", R"({"call": "Bob", "pad": ")" + std::string(17 * 1024, 'x') + "\"}", 400,
         "16 KiB"},
        {"/api/nothing?tower=Ash", "{}", 404, "/api/nothing"},
    };
    for (const Case& c : cases) {
        const PageReply reply = page.post(c.path, c.body);
        EXPECT_EQ(reply.status, c.status) << c.path << " " << c.body.substr(0, 60);
        EXPECT_NE(reply.json().value("error", std::string()).find(c.named), std::string::npos)
            << c.path << " " << c.body.substr(0, 60) << " -> " << reply.body;
    }
    EXPECT_EQ(page.get("/api/tower?tower=Ash").json(), before);
    EXPECT_FALSE(alice.nextOfType(MessageType::Call, 300).has_value());
    EXPECT_EQ(page.get("/api/tower?tower=Oak").status, 404);
    EXPECT_EQ(page.get("/api/chart?tower=Ash&touch=1").status, 404);
}

TEST(PageTest, NamesFromTheNetworkComeBackAsTextWhateverTheirBytes)
{
    ServerProcess server(with(kPageOn, {"--tower", "<i>&\"Oak\":Tags:6"}));
    PageClient page(server);
    RawClient first(server.port());
    RawClient second(server.port());
    first.join("Ash", "<b>x</b>");
    second.join("Ash", std::string("bad \xff\xfe utf-8 \x01"));
    const PageReply reply = page.get("/api/tower?tower=Ash");
    ASSERT_EQ(reply.status, 200);
    const json tower = reply.json();
    ASSERT_FALSE(tower.is_discarded()) << reply.body;
    EXPECT_EQ(tower["ringers"][0], "<b>x</b>");
    EXPECT_EQ(tower["ringers"].size(), 2u);
    EXPECT_EQ(page.get("/api/tower?tower=" + PageClient::escaped("<i>&\"Oak\"")).status, 200);
    // The page is served whatever tower it names; names reach it only as JSON.
    const PageReply html = page.get("/tower/" + PageClient::escaped("<b>x</b>"));
    EXPECT_EQ(html.status, 200);
    EXPECT_EQ(html.body.find("<b>x</b>"), std::string::npos);
}

// A browser that holds connections open, or sends a byte at a time, does
// not hold up the strikes the server relays.
TEST(PageTest, IdleAndTrickledConnectionsDoNotHoldUpTheRinging)
{
    ServerProcess server(with(kPageOn, {"--ringer", "Alice=1", "--ringer", "Bob=2"}));
    PageClient page(server);
    const int pagePort = std::stoi(page.base().substr(page.base().rfind(':') + 1));
    std::vector<std::unique_ptr<RawClient>> browsers;
    for (int i = 0; i < 80; ++i)
        browsers.push_back(std::make_unique<RawClient>(pagePort));
    browsers.front()->sendBytes("G");
    RawClient alice(server.port());
    RawClient bob(server.port());
    alice.join("Ash", "Alice");
    bob.join("Ash", "Bob");
    for (int stroke = 0; stroke < 3; ++stroke) {
        browsers.front()->sendBytes("E");
        alice.send(makeStrike(1, stroke % 2 == 0, 0, 0));
        const auto heard = bob.nextMatching(
            [](const NetMessage& m) {
                return messageType(m) == static_cast<unsigned>(MessageType::Strike) && wordOf(m, layout::strike::kBell) == 1;
            },
            kWaitMs);
        EXPECT_TRUE(heard.has_value()) << "strike " << stroke << " relayed";
    }
    // Once they go, the page serves again as soon as the server has seen them close.
    browsers.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    long status = 0;
    while (status != 200 && Clock::now() < deadline) {
        status = page.get("/api/towers").status;
        if (status != 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(status, 200);
}

// ---------------------------------------------------------------------------
// Where the page is, and where it is not

TEST(PageTest, OffMeansNoPageAndATakenAddressAskedForStopsTheServer)
{
    ServerProcess off({"--http", "off", "--tower", kSixBells});
    ASSERT_NE(off.port(), 0);
    EXPECT_FALSE(off.logged("tower page"));
    EXPECT_FALSE(off.logged("key="));

    ServerProcess first(kPageOn);
    PageClient page(first);
    const std::string taken = page.base().substr(std::string("http://").size());
    ServerProcess second({"--http", taken, "--tower", kSixBells});
    EXPECT_EQ(second.waitExit(kWaitMs), 1);
    EXPECT_NE(second.errors().find("tower page: cannot listen on " + taken), std::string::npos) << second.errors();
}

TEST(PageTest, TheKeyFileIsMadeForItsOwnerAloneAndOneOthersCanReadIsRefused)
{
    TempDir dir;
    const std::string path = dir.file("key");
    {
        ServerProcess server(with(kPageOn, {"--captain-key-file", path}));
        PageClient page(server);
        ASSERT_TRUE(page.ready());
        struct stat status{};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        std::ifstream file(path);
        std::string kept;
        std::getline(file, kept);
        EXPECT_EQ(kept, page.key());
    }
    chmod(path.c_str(), 0644);
    ServerProcess refused(with(kPageOn, {"--captain-key-file", path}));
    EXPECT_EQ(refused.waitExit(kWaitMs), 2);
    EXPECT_NE(refused.errors().find("can be read by others"), std::string::npos) << refused.errors();
}

// ---------------------------------------------------------------------------
// The state file

TEST(PageStateTest, TheSetupSurvivesARestart)
{
    TempDir dir;
    const std::vector<std::string> arguments = with(kPageOn, {"--state", dir.file("state.json")});
    {
        ServerProcess server(arguments);
        PageClient page(server);
        RawClient alice(server.port());
        alice.join("Ash", "Alice");
        ASSERT_EQ(page.post("/api/bell?tower=Ash", R"({"bell": 3, "ringer": "Alice"})").status, 200);
        ASSERT_EQ(page.post("/api/band?tower=Ash", R"({"method": "Plain Bob Minor", "pealMinutes": 150})").status, 200);
        server.signal(SIGTERM);
        ASSERT_EQ(server.waitExit(kWaitMs), 0);
    }
    ServerProcess server(arguments);
    PageClient page(server);
    const json tower = page.get("/api/tower?tower=Ash").json();
    EXPECT_EQ(tower["band"]["method"], "Plain Bob Minor");
    EXPECT_EQ(tower["band"]["pealMinutes"], 150.0);
    RawClient alice(server.port());
    alice.join("Ash", "Alice");
    EXPECT_EQ(assignedTo(alice, "Alice"), "3") << "her bell is kept by her name";
}

TEST(PageStateTest, ADamagedStateFileIsSetAsideAndTheServerStartsAfresh)
{
    TempDir dir;
    const std::string path = dir.file("state.json");
    std::ofstream(path) << R"({"format": 1, "towers": {"Ash": {"bells": {"Alice": [3, 99]}})";
    ServerProcess server(with(kPageOn, {"--state", path}));
    PageClient page(server);
    ASSERT_TRUE(page.ready());
    EXPECT_TRUE(server.logged("the state file " + path + " is damaged"));
    EXPECT_TRUE(std::filesystem::exists(path + ".damaged"));
    EXPECT_EQ(page.get("/api/tower?tower=Ash").json()["bellRingers"][2], "Band");
    // The next change writes a whole new file.
    ASSERT_EQ(page.post("/api/band?tower=Ash", R"({"sdMs": 7})").status, 200);
    std::ifstream written(path);
    const json state = json::parse(written, nullptr, false);
    EXPECT_EQ(state["towers"]["Ash"]["band"]["sdMs"], 7.0);
}

}  // namespace

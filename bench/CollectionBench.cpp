// Figures for the Central Council's collection at full size: a synthetic
// collection of some 17,000 methods, made by renaming the shipped methods
// and ringing their leads from other starts, is imported, loaded as at
// start-up and searched as a ringer types. Prints the figures; not a test.

#include "method/MethodCollection.h"
#include "method/MethodLibrary.h"
#include "method/MethodSearch.h"

#include <malloc.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMethods = 17000;
constexpr const char* kSyllables[] = {"Al", "ber", "Cam", "den", "Es", "for", "Glou", "ham", "Ip", "ley",
                                      "Lin", "mor", "Nor", "ton", "Ox", "pen", "Stam", "wick", "York", "bury"};

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Bytes the heap has handed out and not had back.
long heapKilobytes()
{
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

std::string nameFor(int n)
{
    std::string name;
    for (int k = 0; k < 4; ++k, n /= 20)
        name += kSyllables[n % 20];
    name[0] = static_cast<char>(name[0] & ~0x20);
    return name;
}

// The shipped notations as the collection writes them: "-" for a cross.
std::vector<std::pair<std::string, std::string>> shippedMethods(const fs::path& library)
{
    std::ifstream in(library, std::ios::binary);
    std::vector<std::pair<std::string, std::string>> methods;
    for (const auto& [number, m] : readMethodLibrary(in)) {
        if (m.placeNotation.find('|') != std::string::npos)
            continue;
        std::string notation = m.placeNotation;
        std::replace(notation.begin(), notation.end(), 'x', '-');
        methods.emplace_back(m.name, notation);
    }
    return methods;
}

// Each method in its own set, with the elements a real entry carries.
std::string syntheticCollection(const std::vector<std::pair<std::string, std::string>>& shipped)
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<collection xmlns=\"http://www.cccbr.org.uk/methods/schemas/2007/05/methods\">\n";
    for (int i = 0; i < kMethods; ++i) {
        const auto& [title, notation] = shipped[static_cast<std::size_t>(i) % shipped.size()];
        const std::size_t word = title.rfind(' ');
        const std::string stageWord = title.substr(word + 1);
        const std::string rest = title.substr(title.find(' ') + 1);
        const char* classification = rest.find("Surprise") != std::string::npos ? "Surprise" : "Bob";
        const int stage = stageWord == "Minimus" ? 4 : stageWord == "Doubles" ? 5 : stageWord == "Minor" ? 6
                        : stageWord == "Triples" ? 7 : stageWord == "Major" ? 8 : stageWord == "Caters" ? 9
                        : stageWord == "Royal" ? 10 : stageWord == "Cinques" ? 11 : 12;
        xml << "<methodSet><properties><stage>" << stage << "</stage><classification>" << classification
            << "</classification><lengthOfLead>24</lengthOfLead><numberOfHunts>1</numberOfHunts>"
               "<huntbellPath>1.2.3.4.4.3.2.1</huntbellPath><symmetry>palindromic double</symmetry></properties>"
               "<method id=\"m" << i << "\"><name>" << nameFor(i) << "</name><title>" << nameFor(i) << ' ' << rest
            << "</title><notation>" << notation << "</notation><leadHeadCode>b</leadHeadCode>"
               "<performances><firstTowerbellPeal><date>1950-01-01</date><location><room>St Mary</room>"
               "<town>Somewhere</town><county>Shire</county></location></firstTowerbellPeal></performances>"
               "</method></methodSet>\n";
    }
    xml << "</collection>\n";
    return xml.str();
}

fs::path zipOf(const fs::path& xml)
{
    const fs::path archivePath = xml.string() + ".zip";
    int code = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    zip_file_add(archive, "CCCBR_methods.xml", zip_source_file(archive, xml.c_str(), 0, -1), 0);
    zip_close(archive);
    return archivePath;
}

}  // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("tolvane-collection-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path libraryFile = fs::path(TOLVANE_SOURCE_DIR) / "data" / kMethodLibraryFileName;
    const fs::path xmlFile = dir / "CCCBR_methods.xml";
    std::ofstream(xmlFile, std::ios::binary) << syntheticCollection(shippedMethods(libraryFile));
    const fs::path zipFile = zipOf(xmlFile);
    std::printf("synthetic collection: %d methods, %.1f MB of XML, %.1f MB zipped\n", kMethods,
                static_cast<double>(fs::file_size(xmlFile)) / 1e6, static_cast<double>(fs::file_size(zipFile)) / 1e6);

    const fs::path store = dir / "imported-methods.txt";
    for (const fs::path& file : {xmlFile, zipFile}) {
        const auto start = std::chrono::steady_clock::now();
        const CollectionRead read = readMethodCollection(file);
        std::ofstream out(store, std::ios::binary);
        writeImportedMethods(out, read.methods, "bench");
        out.close();
        std::printf("import of %s (read, calls derived, stored): %.0f ms; %s\n", file.extension().c_str(),
                    millisecondsSince(start), describeCollectionRead(read).c_str());
    }

    const long before = heapKilobytes();
    auto start = std::chrono::steady_clock::now();
    std::ifstream shippedIn(libraryFile, std::ios::binary);
    MethodLibrary library = readMethodLibrary(shippedIn);
    const double shippedOnly = millisecondsSince(start);
    start = std::chrono::steady_clock::now();
    std::ifstream storeIn(store, std::ios::binary);
    library.addMissing(readImportedMethods(storeIn));
    std::printf("start-up: methods.txt %.1f ms; the imported methods add %.1f ms (%zu records in all)\n", shippedOnly,
                millisecondsSince(start), library.size());
    const long loaded = heapKilobytes();

    start = std::chrono::steady_clock::now();
    const MethodSearch search(library);
    std::printf("search index (each opening of Method Setup): %.1f ms\n", millisecondsSince(start));
    std::printf("memory: library %ld KB, with the search index %ld KB\n", loaded - before,
                heapKilobytes() - before);

    std::vector<double> times;
    for (const std::string& typed : {std::string("Cambridge Surprise Major"), std::string("surprise royal"),
                                     std::string("Camalber bob"), std::string("xyz")}) {
        for (std::size_t length = 1; length <= typed.size(); ++length) {
            start = std::chrono::steady_clock::now();
            const auto found = search.find(typed.substr(0, length), 50);
            times.push_back(millisecondsSince(start));
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("keystroke in the Method field (search, best 50): median %.2f ms, worst %.2f ms over %zu keystrokes\n",
                times[times.size() / 2], times.back(), times.size());
    fs::remove_all(dir);
}

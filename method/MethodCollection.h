#pragma once

// The Central Council's methods collection: one XML file, often zipped, of
// method sets whose shared properties each method may override. Reading it
// gives library records with the calls ringers use for each method.

#include "method/MethodLibrary.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a reading of the collection came to. When `error` is set, nothing was
// taken: a damaged or hostile file must not half-replace a good import.
struct CollectionRead {
    std::vector<MethodDef> methods;
    int tooManyBells = 0;
    int unnamed = 0;
    int noStage = 0;
    int badNotation = 0;
    // A later method of a title already taken: the library finds a method by
    // its title, so the first keeps it and the later one is left out.
    int repeatedTitle = 0;
    std::string error;
};

// Limits far above the real collection (some 20 MB of XML, 5 levels deep),
// so that a hostile file is refused before it can cost much memory or time.
inline constexpr std::uint64_t kMaxCollectionBytes = 256u * 1024u * 1024u;
inline constexpr std::size_t kMaxCollectionMethods = 250000;
inline constexpr int kMaxCollectionDepth = 32;
inline constexpr std::size_t kMaxCollectionValueBytes = 4096;
inline constexpr std::size_t kMaxCollectionTokenBytes = 1024u * 1024u;
// What the methods taken may hold in all (the real collection stores a few
// MB): a set's long notation is given to every method of the set, so a small
// file could otherwise be stored and loaded as hundreds of MB.
inline constexpr std::size_t kMaxCollectionStoredBytes = 16u * 1024u * 1024u;

inline constexpr const char* kCollectionCancelledText = "cancelled";

// Told how far the reading is (bytes of XML taken, out of `total` when known,
// else 0); returning false abandons it.
using CollectionProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Reads the collection from a file as downloaded, zipped or not.
CollectionRead readMethodCollection(const std::filesystem::path& file, const CollectionProgress& progress = {});
// Reads the collection from its XML text.
CollectionRead readMethodCollectionXml(std::string_view xml);

// The namespace of the Central Council's collection; a collection in no
// namespace is taken as theirs too.
inline constexpr std::string_view kCollectionNamespace = "http://www.cccbr.org.uk/methods/schemas/2007/05/methods";

// Names in the collection are UTF-8; the library holds Latin-1 bytes.
// Characters beyond Latin-1 become '?', and control characters, C1 ones
// included (tabs and line ends would break the library's lines), a space.
std::string latin1FromUtf8(std::string_view text);

// One summary line of a reading, for the user.
std::string describeCollectionRead(const CollectionRead& read);

// The changes of one lead of a collection notation ("-" a cross, a comma
// between the two halves of a symmetric lead, each rung forwards and back
// without repeating its last change), every place named; nothing when the
// notation is not good on `stage` bells.
std::optional<std::vector<std::string>> collectionLeadChanges(std::string_view notation, int stage);
// A collection notation in the library's own notation, every place named;
// nothing when it is not good on `stage` bells.
std::optional<std::string> libraryNotation(std::string_view notation, int stage);

struct StandardCalls {
    std::string bob;
    std::string single;
};
// The calls ringers use, in the library's notation for calls, for a method of
// `stage` bells and `hunts` hunt bells whose lead ends with `leadChanges`
// (every place named): a bob and single in place of the lead-end change for one
// hunt bell, in place of the last two for two; none for other methods, and no
// call that would ring the lead end unchanged.
StandardCalls standardCalls(int stage, int hunts, const std::vector<std::string>& leadChanges);

// The number of bells that lie where they started after one lead.
int huntBellsOf(const std::vector<std::string>& leadChanges, int stage);

#include "method/MethodCollection.h"

#include "method/PlaceNotation.h"

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <memory>
#include <unordered_set>

namespace {

constexpr std::size_t kReadChunkBytes = 256 * 1024;
// Between an element's namespace and its local name, as the parser gives
// them: a space, which neither may hold.
constexpr XML_Char kNamespaceSeparator = ' ';

// The store must read back every method the import takes. Of a stored line,
// the title and the class are each at most one value; the notation at most
// four, as naming every place can double a change and the half of a
// symmetric lead is written forwards and back; the calls and the stage are a
// few bytes.
static_assert(kMaxImportedLineLength >= 6 * kMaxCollectionValueBytes + 64);

// The symbols of places beyond the twelfth: such methods are counted, not read.
constexpr std::string_view kHighBellSymbols = "ABCDFGHJKL";

// --- Notation ----------------------------------------------------------------

int placeOfSymbol(char c)
{
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (const auto at = kBellSymbols.find(upper); at != std::string_view::npos)
        return static_cast<int>(at) + 1;
    if (const auto at = kHighBellSymbols.find(upper); at != std::string_view::npos)
        return kMaxBells + 1 + static_cast<int>(at);
    return 0;
}

// One change with every place named: the places given, strictly rising,
// plus the lead and back places a pair cannot fill; nothing when the bells
// between two places cannot pair off.
std::optional<std::string> explicitChange(std::string_view token, int stage)
{
    std::vector<int> places;
    for (char c : token) {
        const int place = placeOfSymbol(c);
        if (place < 1 || place > stage || (!places.empty() && place <= places.back()))
            return std::nullopt;
        places.push_back(place);
    }
    if (places.empty())
        return std::nullopt;
    if ((places.front() - 1) % 2 == 1)
        places.insert(places.begin(), 1);
    for (std::size_t i = 1; i < places.size(); ++i)
        if ((places[i] - places[i - 1] - 1) % 2 == 1)
            return std::nullopt;
    if ((stage - places.back()) % 2 == 1)
        places.push_back(stage);
    std::string change;
    for (int place : places)
        change.push_back(kBellSymbols[static_cast<std::size_t>(place - 1)]);
    return change;
}

bool isCross(char c)
{
    return c == '-' || c == 'x' || c == 'X';
}

// The changes of one comma-separated part, as written.
std::optional<std::vector<std::string>> partChanges(std::string_view part, int stage)
{
    std::vector<std::string> changes;
    std::string token;
    auto endToken = [&]() -> bool {
        if (token.empty())
            return true;
        auto change = explicitChange(token, stage);
        token.clear();
        if (!change)
            return false;
        changes.push_back(std::move(*change));
        return true;
    };
    for (char c : part) {
        if (c == ' ')
            continue;
        if (c == '.' || isCross(c)) {
            if (!endToken())
                return std::nullopt;
            if (isCross(c)) {
                if (stage % 2 == 1)
                    return std::nullopt;
                changes.emplace_back("x");
            }
            continue;
        }
        token.push_back(c);
    }
    if (!endToken() || changes.empty())
        return std::nullopt;
    return changes;
}

std::vector<std::string> rungForwardsAndBack(std::vector<std::string> changes)
{
    for (std::size_t i = changes.size() - 1; i-- > 0;)
        changes.push_back(changes[i]);
    return changes;
}

std::optional<std::vector<std::vector<std::string>>> notationParts(std::string_view notation, int stage)
{
    if (stage < 3 || stage > kMaxBells || notation.size() > kMaxCollectionValueBytes)
        return std::nullopt;
    const std::size_t comma = notation.find(',');
    std::vector<std::vector<std::string>> parts;
    for (std::string_view part : {notation.substr(0, comma),
                                  comma == std::string_view::npos ? std::string_view() : notation.substr(comma + 1)}) {
        if (part.empty() && !parts.empty() && comma == std::string_view::npos)
            break;
        auto changes = partChanges(part, stage);
        if (!changes)
            return std::nullopt;
        parts.push_back(std::move(*changes));
    }
    return parts;
}

// Changes joined the way the library writes them: "x" needs no dot beside it.
std::string joinChanges(const std::vector<std::string>& changes)
{
    std::string text;
    for (const std::string& change : changes) {
        if (!text.empty() && text.back() != 'x' && change != "x")
            text.push_back('.');
        text += change;
    }
    return text;
}

}  // namespace

std::optional<std::vector<std::string>> collectionLeadChanges(std::string_view notation, int stage)
{
    const auto parts = notationParts(notation, stage);
    if (!parts)
        return std::nullopt;
    if (parts->size() == 1)
        return parts->front();
    std::vector<std::string> lead = rungForwardsAndBack((*parts)[0]);
    for (std::string& change : rungForwardsAndBack((*parts)[1]))
        lead.push_back(std::move(change));
    return lead;
}

std::optional<std::string> libraryNotation(std::string_view notation, int stage)
{
    const auto parts = notationParts(notation, stage);
    if (!parts)
        return std::nullopt;
    if (parts->size() == 1)
        return joinChanges(parts->front());
    // The library's comma mirrors everything before it and then goes on, so
    // the second half is written out in full.
    std::vector<std::string> first = (*parts)[0];
    const std::vector<std::string> second = rungForwardsAndBack((*parts)[1]);
    if (first.size() > 1)
        return joinChanges(first) + "," + joinChanges(second);
    first.insert(first.end(), second.begin(), second.end());
    return joinChanges(first);
}

int huntBellsOf(const std::vector<std::string>& leadChanges, int stage)
{
    const std::string rounds(kBellSymbols.substr(0, static_cast<std::size_t>(stage)));
    std::string row = rounds;
    for (const std::string& change : leadChanges)
        row = applyChange(row, change == "x" ? "" : change, stage);
    int hunts = 0;
    for (std::size_t i = 0; i < row.size(); ++i)
        hunts += row[i] == rounds[i];
    return hunts;
}

StandardCalls standardCalls(int stage, int hunts, const std::vector<std::string>& leadChanges)
{
    if (stage < 4 || stage > kMaxBells || leadChanges.size() < 2)
        return {};
    const std::string back(1, kBellSymbols[static_cast<std::size_t>(stage - 1)]);
    StandardCalls calls;
    if (hunts == 1) {
        const bool even = stage % 2 == 0;
        calls.bob = even ? "14" : "14" + back;
        calls.single = even ? "1234" : stage == 5 ? "123" : "1234" + back;
        if (leadChanges.back() == calls.bob)
            calls.bob.clear();
        if (leadChanges.back() == calls.single)
            calls.single.clear();
    } else if (hunts == 2) {
        const bool endsAsBob = leadChanges[leadChanges.size() - 2] == explicitChange("3", stage) &&
                               leadChanges.back() == explicitChange("1", stage);
        calls.bob = endsAsBob ? "" : "3.1";
        calls.single = "3.123";
    }
    return calls;
}

namespace {

// --- The XML -----------------------------------------------------------------

// The fields a set's properties give to each of its methods, and a method's own.
struct MethodFields {
    std::map<std::string, std::string, std::less<>> values;
    bool titleNil = false;
};

constexpr std::array kCapturedFields{std::string_view("title"), std::string_view("notation"),
                                     std::string_view("stage"), std::string_view("classification"),
                                     std::string_view("numberOfHunts")};

std::string_view localName(const XML_Char* name)
{
    std::string_view text(name);
    if (const auto separator = text.rfind(kNamespaceSeparator); separator != std::string_view::npos)
        text.remove_prefix(separator + 1);
    return text;
}

std::string_view namespaceOf(const XML_Char* name)
{
    const std::string_view text(name);
    const auto separator = text.rfind(kNamespaceSeparator);
    return separator == std::string_view::npos ? std::string_view() : text.substr(0, separator);
}

// Text from the file, fit to quote in a message.
std::string quoted(std::string_view text)
{
    constexpr std::size_t kMaxQuoted = 100;
    std::string out = "\"";
    for (char c : text.substr(0, kMaxQuoted))
        out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    return out + (text.size() > kMaxQuoted ? "...\"" : "\"");
}

bool isTrue(std::string_view value)
{
    return value == "true" || value == "1";
}

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

int wholeNumber(const std::string* text, int otherwise)
{
    if (!text || text->empty() || text->size() > 4 || text->find_first_not_of("0123456789") != std::string::npos)
        return otherwise;
    return std::stoi(*text);
}

class CollectionParser {
public:
    CollectionParser() : parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator))
    {
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), &CollectionParser::onStart, &CollectionParser::onEnd);
        XML_SetCharacterDataHandler(parser.get(), &CollectionParser::onText);
        XML_SetStartDoctypeDeclHandler(parser.get(), &CollectionParser::onDoctype);
        XML_SetEntityDeclHandler(parser.get(), &CollectionParser::onEntity);
        XML_SetCommentHandler(parser.get(), &CollectionParser::onComment);
        XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    }

    // False once the reading has failed; `last` ends the document.
    bool feed(const char* bytes, std::size_t size, bool last)
    {
        if (!result.error.empty())
            return false;
        fed += size;
        if (fed > kMaxCollectionBytes)
            return fail("the file is larger than " + std::to_string(kMaxCollectionBytes >> 20) + " MB");
        if (XML_Parse(parser.get(), bytes, static_cast<int>(size), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            if (result.error.empty())
                fail(XML_ErrorString(XML_GetErrorCode(parser.get())));
            return false;
        }
        // A single tag, attribute or comment of megabytes is no collection's:
        // refused before the parser can buffer more of it.
        if (fed - lastEvent > kMaxCollectionTokenBytes)
            return fail("an XML item is longer than " + std::to_string(kMaxCollectionTokenBytes >> 10) + " KB");
        if (last && !sawCollection)
            return fail("no methods collection in the file");
        return true;
    }

    std::uint64_t bytesFed() const { return fed; }

    CollectionRead finish()
    {
        if (!result.error.empty())
            result.methods.clear();
        return std::move(result);
    }

    bool fail(const std::string& why)
    {
        if (result.error.empty())
            result.error = "line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " + why;
        XML_StopParser(parser.get(), XML_FALSE);
        return false;
    }

    // No place in the file is to blame: the user stopped the reading, or
    // the file could not be read.
    void stop(const std::string& why)
    {
        if (result.error.empty())
            result.error = why;
    }

private:
    static CollectionParser& self(void* data) { return *static_cast<CollectionParser*>(data); }

    void noteEvent() { lastEvent = static_cast<std::uint64_t>(std::max<XML_Index>(XML_GetCurrentByteIndex(parser.get()), 0)); }

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes)
    {
        CollectionParser& p = self(data);
        p.noteEvent();
        if (++p.depth > kMaxCollectionDepth) {
            p.fail("elements nested more than " + std::to_string(kMaxCollectionDepth) + " deep");
            return;
        }
        if (localName(name) == "collection")
            p.checkNamespace(namespaceOf(name));
        p.startElement(localName(name), attributes);
    }

    static void XMLCALL onEnd(void* data, const XML_Char* name)
    {
        CollectionParser& p = self(data);
        p.noteEvent();
        p.endElement(localName(name));
        --p.depth;
    }

    static void XMLCALL onText(void* data, const XML_Char* text, int length)
    {
        CollectionParser& p = self(data);
        p.noteEvent();
        if (p.captured.empty())
            return;
        if (p.text.size() + static_cast<std::size_t>(length) > kMaxCollectionValueBytes) {
            p.fail("a " + p.captured + " is longer than " + std::to_string(kMaxCollectionValueBytes) + " bytes");
            return;
        }
        p.text.append(text, static_cast<std::size_t>(length));
    }

    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        self(data).fail("the file declares a document type, which a methods collection never does");
    }

    static void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*)
    {
        self(data).fail("the file declares entities, which a methods collection never does");
    }

    static void XMLCALL onComment(void* data, const XML_Char*) { self(data).noteEvent(); }

    // Another body's file of the same shape need not mean the same by its
    // fields, so it is not read as the Council's.
    void checkNamespace(std::string_view uri)
    {
        if (!uri.empty() && uri != kCollectionNamespace)
            fail("the collection is in the namespace " + quoted(uri) + ", not the Central Council's " +
                 quoted(kCollectionNamespace));
    }

    // Only the direct children of a set's properties or of a method are its
    // fields: a <title> inside a method's <references> names another work.
    void startElement(std::string_view name, const XML_Char** attributes)
    {
        if (name == "collection")
            sawCollection = true;
        if (name == "methodSet") {
            setFields = {};
        } else if (name == "properties" && !inMethod && !inProperties) {
            inProperties = true;
            propertiesDepth = depth;
        } else if (name == "method" && !inProperties && !inMethod) {
            inMethod = true;
            methodFields = {};
            methodDepth = depth;
        } else if ((inMethod && depth == methodDepth + 1) || (inProperties && depth == propertiesDepth + 1)) {
            startField(name, attributes);
        }
    }

    void startField(std::string_view name, const XML_Char** attributes)
    {
        if (std::find(kCapturedFields.begin(), kCapturedFields.end(), name) == kCapturedFields.end())
            return;
        captured = std::string(name);
        text.clear();
        std::string prefix;
        for (const XML_Char** a = attributes; a[0] && a[1]; a += 2) {
            const std::string_view attribute = localName(a[0]);
            if (attribute == "nil" && isTrue(a[1]) && name == "title")
                fields().titleNil = true;
            else if (attribute == "little" && isTrue(a[1]))
                prefix += "Little ";
            else if (attribute == "differential" && isTrue(a[1]))
                prefix += "Differential ";
        }
        text = prefix;
    }

    MethodFields& fields() { return inMethod ? methodFields : setFields; }

    void endElement(std::string_view name)
    {
        if (!captured.empty() && name == captured) {
            fields().values[captured] = trimmed(text);
            captured.clear();
        } else if (name == "properties" && inProperties && depth == propertiesDepth) {
            inProperties = false;
        } else if (name == "methodSet" && !inMethod) {
            // A method outside any set must not take the last set's properties.
            setFields = {};
        } else if (name == "method" && inMethod && depth == methodDepth) {
            inMethod = false;
            takeMethod();
        }
    }

    const std::string* field(std::string_view name) const
    {
        for (const MethodFields* source : {&methodFields, &setFields})
            if (const auto it = source->values.find(name); it != source->values.end())
                return &it->second;
        return nullptr;
    }

    void takeMethod()
    {
        const std::string* title = field("title");
        if (methodFields.titleNil || !title || title->empty()) {
            ++result.unnamed;
            return;
        }
        const int stage = wholeNumber(field("stage"), 0);
        if (stage > kMaxBells) {
            ++result.tooManyBells;
            return;
        }
        if (stage == 0) {
            ++result.noStage;
            return;
        }
        const std::string* notation = field("notation");
        const WorkedLead& worked = workOut(notation ? *notation : std::string(), stage,
                                           wholeNumber(field("numberOfHunts"), -1));
        if (!worked.notation) {
            ++result.badNotation;
            return;
        }
        if (result.methods.size() >= kMaxCollectionMethods) {
            fail("more than " + std::to_string(kMaxCollectionMethods) + " methods");
            return;
        }
        MethodDef record{latin1FromUtf8(*title), *worked.notation, worked.calls.bob, worked.calls.single};
        if (!titlesTaken.insert(record.name).second) {
            ++result.repeatedTitle;
            return;
        }
        record.stage = stage;
        if (const std::string* classification = field("classification"))
            record.classification = latin1FromUtf8(*classification);
        record.imported = true;
        storedBytes += record.name.size() + record.placeNotation.size() + record.bobNotation.size() +
                       record.singleNotation.size() + record.classification.size();
        if (storedBytes > kMaxCollectionStoredBytes) {
            fail("the methods would take more than " + std::to_string(kMaxCollectionStoredBytes >> 20) + " MB");
            return;
        }
        result.methods.push_back(std::move(record));
    }

    // A lead worked out, with its calls: the methods of a set often share
    // their notation, and one worked out is not worked out again.
    struct WorkedLead {
        std::string given;
        int stage = 0;
        int hunts = -1;  // as the collection gives it; -1 counted from the lead
        std::optional<std::string> notation;  // the library's; nothing when bad
        StandardCalls calls;
    };

    const WorkedLead& workOut(const std::string& given, int stage, int hunts)
    {
        if (lastLead && lastLead->given == given && lastLead->stage == stage && lastLead->hunts == hunts)
            return *lastLead;
        lastLead = WorkedLead{given, stage, hunts, std::nullopt, {}};
        if (const auto lead = collectionLeadChanges(given, stage)) {
            lastLead->calls = standardCalls(stage, hunts >= 0 ? hunts : huntBellsOf(*lead, stage), *lead);
            lastLead->notation = libraryNotation(given, stage);
        }
        return *lastLead;
    }

    struct ParserFree {
        void operator()(XML_Parser p) const { XML_ParserFree(p); }
    };
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser;
    CollectionRead result;
    MethodFields setFields;
    MethodFields methodFields;
    std::string captured;  // the field whose text is being gathered, if any
    std::string text;
    int depth = 0;
    int methodDepth = 0;
    int propertiesDepth = 0;
    bool inProperties = false;
    bool inMethod = false;
    bool sawCollection = false;
    std::uint64_t fed = 0;
    std::uint64_t lastEvent = 0;
    std::size_t storedBytes = 0;
    std::optional<WorkedLead> lastLead;
    std::unordered_set<std::string> titlesTaken;  // as stored, which is how they are looked up
};

// --- Files ---------------------------------------------------------------------

constexpr const char* kDamagedZipText = "the zip archive is damaged";

bool looksZipped(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    return in.gcount() == 4 && std::string_view(magic, 4) == std::string_view("PK\x03\x04", 4);
}

// `readChunk` gives the bytes read, 0 at the end or -1 when reading failed,
// and `unreadable` then says why.
template <typename ReadChunk, typename Unreadable>
CollectionRead parseChunks(ReadChunk readChunk, Unreadable unreadable, std::uint64_t total,
                           const CollectionProgress& progress)
{
    CollectionParser parser;
    std::vector<char> buffer(kReadChunkBytes);
    for (;;) {
        const long got = readChunk(buffer.data(), buffer.size());
        if (got < 0) {
            parser.stop(unreadable());
            break;
        }
        if (!parser.feed(buffer.data(), static_cast<std::size_t>(got), got == 0) || got == 0)
            break;
        if (progress && !progress(parser.bytesFed(), total)) {
            parser.stop(kCollectionCancelledText);
            break;
        }
    }
    return parser.finish();
}

CollectionRead failed(std::string why)
{
    CollectionRead read;
    read.error = std::move(why);
    return read;
}

// The archive's first member named *.xml, or its only member.
std::optional<zip_uint64_t> collectionMember(zip_t* archive)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* named = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
        const std::string_view name = named ? named : "";
        if (name.size() > 4 && name.substr(name.size() - 4) == ".xml")
            return static_cast<zip_uint64_t>(i);
    }
    if (count == 1)
        return 0;
    return std::nullopt;
}

CollectionRead readZipped(const std::filesystem::path& file, const CollectionProgress& progress)
{
    int code = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(zip_open(file.c_str(), ZIP_RDONLY, &code), &zip_discard);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const std::string why = std::string(kDamagedZipText) + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        return failed(why);
    }
    const auto member = collectionMember(archive.get());
    if (!member)
        return failed("the zip archive holds no .xml file");
    zip_stat_t stat;
    zip_stat_init(&stat);
    const std::uint64_t total = zip_stat_index(archive.get(), *member, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)
                                    ? stat.size
                                    : 0;
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> entry(zip_fopen_index(archive.get(), *member, 0), &zip_fclose);
    if (!entry)
        return failed(std::string("the zipped file cannot be opened: ") + zip_strerror(archive.get()));
    // The size the archive claims is only used for progress: the parser
    // counts what it is given and stops at its own limit.
    return parseChunks([&](char* to, std::size_t size) { return static_cast<long>(zip_fread(entry.get(), to, size)); },
                       [&] { return std::string(kDamagedZipText) + ": " + zip_file_strerror(entry.get()); }, total,
                       progress);
}

}  // namespace

CollectionRead readMethodCollection(const std::filesystem::path& file, const CollectionProgress& progress)
{
    if (file.empty())
        return failed("no file was named");
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        return failed(file.string() + " is a directory");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return failed(file.string() + " cannot be opened");
    if (looksZipped(file))
        return readZipped(file, progress);
    const auto size = std::filesystem::file_size(file, error);
    return parseChunks(
        [&](char* to, std::size_t bytes) {
            in.read(to, static_cast<std::streamsize>(bytes));
            return in.bad() ? -1L : static_cast<long>(in.gcount());
        },
        [&] { return file.string() + " could not be read to its end"; }, error ? 0 : static_cast<std::uint64_t>(size),
        progress);
}

CollectionRead readMethodCollectionXml(std::string_view xml)
{
    std::size_t at = 0;
    return parseChunks(
        [&](char* to, std::size_t bytes) {
            const std::size_t n = std::min(bytes, xml.size() - at);
            std::copy_n(xml.data() + at, n, to);
            at += n;
            return static_cast<long>(n);
        },
        [] { return std::string(); }, xml.size(), {});
}

std::string latin1FromUtf8(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        unsigned code = lead;
        std::size_t length = 1;
        if (lead >= 0xC0 && lead < 0xE0 && i + 1 < text.size()) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            length = 2;
        } else if (lead >= 0xE0) {
            code = 0x100;
            length = lead >= 0xF0 ? 4 : 3;
        }
        const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
        out.push_back(control ? ' ' : code > 0xFF ? '?' : static_cast<char>(code));
        i += length;
    }
    return out;
}

std::string describeCollectionRead(const CollectionRead& read)
{
    if (!read.error.empty())
        return "Methods not imported: " + read.error;
    return std::to_string(read.methods.size()) + " methods imported; skipped: " + std::to_string(read.tooManyBells) +
           " on more than 12 bells, " + std::to_string(read.unnamed) + " unnamed, " +
           std::to_string(read.badNotation) + " with a bad notation" +
           (read.noStage > 0 ? ", " + std::to_string(read.noStage) + " with no stage" : "") +
           (read.repeatedTitle > 0 ? ", " + std::to_string(read.repeatedTitle) + " repeating an earlier title" : "");
}

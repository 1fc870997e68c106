// libFuzzer entry point for the reader of the Central Council's collection:
// any bytes end in methods or a message, never a crash; what is taken is a
// record the library can store, read back and ring.

#include "method/MethodCollection.h"
#include "method/PlaceNotation.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace {

[[noreturn]] void broken(const char* rule)
{
    std::fprintf(stderr, "fuzz_collection: %s\n", rule);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const CollectionRead read = readMethodCollectionXml(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.error.empty() && !read.methods.empty())
        broken("methods kept from a failed reading");
    for (const MethodDef& m : read.methods) {
        if (m.name.empty() || m.name.find_first_of("\t\r\n") != std::string::npos)
            broken("a title the library's lines cannot hold");
        if (m.stage < 3 || m.stage > kMaxBells)
            broken("a stage the engine cannot ring");
        MessageList messages;
        if (parsePlaceNotation(m.placeNotation, messages).empty() || !messages.texts.empty())
            broken("a notation the library cannot parse");
    }
    std::stringstream store;
    writeImportedMethods(store, read.methods, "fuzz");
    if (readImportedMethods(store) != read.methods)
        broken("methods the store does not read back as they were taken");
    return 0;
}

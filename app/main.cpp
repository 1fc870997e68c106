#include "app/CommandLine.h"
#include "app/HeadlessRinger.h"
#include "app/MethodStore.h"
#include "app/RingerApp.h"
#include "app/SettingsFile.h"
#include "app/WriteSound.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool displayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

int runHeadless(int& argc, char** argv, const Options& options)
{
    QCoreApplication app(argc, argv);
    HeadlessRinger ringer(options);
    return runShell(ringer, [&app] { app.exec(); });
}

// --import-methods and --method-info: one answer, then exit.
int runMethodCommand(int& argc, char** argv, const Options& options)
{
    // For the program's directory, where the library travels.
    QCoreApplication app(argc, argv);
    if (options.importMethods) {
        const ImportOutcome outcome = importMethods(*options.importMethods);
        std::fprintf(outcome.imported ? stdout : stderr, "%s%s\n", outcome.imported ? "" : "tolvane: ",
                     outcome.summary.c_str());
        return outcome.imported ? 0 : 1;
    }
    const LoadedLibrary loaded = loadLibraryWithImports(methodLibraryCandidates());
    const std::string info = methodInfo(loaded, *options.methodInfo);
    if (info.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", methodNotFoundText(loaded.library, *options.methodInfo).c_str());
        return 2;
    }
    std::fputs(info.c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Copied before Qt takes its own options out of argv.
    const std::vector<std::string> arguments(argv, argv + argc);
    ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tolvane: %s\nTry 'tolvane --help' for more information.\n", parsed.error.c_str());
        return 2;
    }
    Options& options = parsed.options;
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tolvane %s\n", TOLVANE_VERSION);
        return 0;
    }
    if (options.importMethods || options.methodInfo)
        return runMethodCommand(argc, argv, options);
    const LoadedSettings saved = loadSettings();
    for (const std::string& problem : saved.problems)
        std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
    const bool serverUnset = !options.serverChosen && !saved.settings.serverHost;
    applySavedSettings(options, saved.settings);
    if (options.writeSound) {
        const std::string error = writeSoundFile(options);
        if (!error.empty())
            std::fprintf(stderr, "tolvane: %s\n", error.c_str());
        return error.empty() ? 0 : 1;
    }
    blockTerminationSignals();
    if (!options.headless && !displayAvailable()) {
        std::fprintf(stderr, "tolvane: no display found; running headless\n");
        options.headless = true;
    }
    if (options.headless)
        return runHeadless(argc, argv, options);
    RingerApp app(argc, argv);
    return app.run(options, serverUnset);
}

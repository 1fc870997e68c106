#include "app/SettingsFile.h"

#include <QSettings>

namespace {

constexpr const char* kHostKey = "server/host";
constexpr const char* kPortKey = "server/port";
constexpr const char* kRhythmKey = "rhythm/rhythm";
constexpr const char* kHandstrokeGapKey = "rhythm/handstrokeGap";
constexpr const char* kInertiaKey = "rhythm/inertia";
constexpr const char* kPersonBellKey = "person/bell";
constexpr const char* kReconnectKey = "connection/reconnect";
constexpr const char* kSoundKey = "sound/on";
constexpr const char* kVolumeKey = "sound/volume";
constexpr const char* kTenorNoteKey = "sound/tenorNote";

QSettings settingsFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tolvane"),
                     QStringLiteral("tolvane"));
}

// The file's text as a line of a terminal: control bytes become '?'.
std::string printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

// The saved text of `key` as the user wrote it. An unquoted comma makes Qt
// read the value as a list ("1,5" is {"1", "5"}): joined again, it is said
// as written rather than as an empty text.
std::string savedText(const QSettings& file, const char* key)
{
    const QVariant value = file.value(QLatin1String(key));
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                                   : value.toString();
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The saved text of `key` put through `parse`; nothing when the key is absent
// or its value is not good, which is then added to `problems`.
template <typename Parse>
auto readValue(const QSettings& file, const char* key, Parse parse, std::vector<std::string>& problems)
    -> decltype(parse(std::string()))
{
    if (!file.contains(QLatin1String(key)))
        return std::nullopt;
    const std::string value = savedText(file, key);
    auto parsed = parse(value);
    if (!parsed)
        problems.push_back(std::string("ignoring the saved ") + key + " '" + printable(value) + "'");
    return parsed;
}

std::optional<std::string> parseHost(const std::string& text)
{
    return isValidServerHost(text) ? std::optional(text) : std::nullopt;
}

std::optional<int> parsePort(const std::string& text)
{
    bool ok = false;
    const int port = QString::fromStdString(text).toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? std::optional(port) : std::nullopt;
}

} // namespace

LoadedSettings loadSettings()
{
    const QSettings file = settingsFile();
    LoadedSettings loaded;
    SavedSettings& saved = loaded.settings;
    // An empty host is how a user removes the saved server by hand.
    if (!savedText(file, kHostKey).empty()) {
        saved.serverHost = readValue(file, kHostKey, parseHost, loaded.problems);
        saved.serverPort = readValue(file, kPortKey, parsePort, loaded.problems).value_or(kServerPort);
    }
    saved.rhythm = readValue(file, kRhythmKey, parseRhythm, loaded.problems);
    saved.handstrokeGap = readValue(file, kHandstrokeGapKey, parseHandstrokeGap, loaded.problems);
    saved.inertia = readValue(file, kInertiaKey, parseInertia, loaded.problems);
    saved.personBells = readValue(file, kPersonBellKey, parsePersonBells, loaded.problems);
    saved.reconnect = readValue(file, kReconnectKey, parseOnOff, loaded.problems);
    saved.sound = readValue(file, kSoundKey, parseOnOff, loaded.problems);
    saved.soundVolume = readValue(file, kVolumeKey, parseVolume, loaded.problems);
    saved.tenorNote = readValue(file, kTenorNoteKey, parseTenorNote, loaded.problems);
    return loaded;
}

void saveSettings(const SavedSettings& settings)
{
    QSettings file = settingsFile();
    if (settings.serverHost) {
        file.setValue(QLatin1String(kHostKey), QString::fromLatin1(settings.serverHost->c_str()));
        file.setValue(QLatin1String(kPortKey), settings.serverPort);
    } else {
        file.remove(QStringLiteral("server"));
    }
    if (settings.rhythm)
        file.setValue(QLatin1String(kRhythmKey), QLatin1String(rhythmName(*settings.rhythm)));
    if (settings.handstrokeGap)
        file.setValue(QLatin1String(kHandstrokeGapKey), *settings.handstrokeGap);
    if (settings.inertia)
        file.setValue(QLatin1String(kInertiaKey), *settings.inertia);
    // One bell is kept as a number, as it always was; two as "5,6".
    const PersonBells bells = settings.personBells.value_or(PersonBells{});
    if (bells[1] != 0)
        file.setValue(QLatin1String(kPersonBellKey), QString::fromStdString(personBellsText(bells)));
    else if (bells[0] != 0)
        file.setValue(QLatin1String(kPersonBellKey), bells[0]);
    else
        file.remove(QLatin1String(kPersonBellKey));
    if (settings.reconnect)
        file.setValue(QLatin1String(kReconnectKey), *settings.reconnect);
    if (settings.sound)
        file.setValue(QLatin1String(kSoundKey), *settings.sound);
    if (settings.soundVolume)
        file.setValue(QLatin1String(kVolumeKey), *settings.soundVolume);
    if (settings.tenorNote)
        file.setValue(QLatin1String(kTenorNoteKey), QString::fromLatin1(settings.tenorNote->c_str()));
}

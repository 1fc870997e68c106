#include "server/Tower.h"

#include "protocol/Messages.h"

namespace {

template <typename Entry>
void keepLast(std::deque<Entry>& entries, Entry entry, std::size_t count)
{
    entries.push_back(std::move(entry));
    while (entries.size() > count)
        entries.pop_front();
}

}  // namespace

std::string strikingReportPath(const std::string& path, int tower, int touch)
{
    const std::string extension = ".svg";
    const bool svg = path.size() >= extension.size() && path.ends_with(extension);
    std::string name = svg ? path.substr(0, path.size() - extension.size()) : path;
    if (tower > 0)
        name += "-tower" + std::to_string(tower + 1);
    if (touch > 1)
        name += "-" + std::to_string(touch);
    return svg ? name + extension : name;
}

Tower::Tower(TowerHost& host, int index, TowerSetup setup, const std::map<std::string, std::set<int>>& ringers)
    : index(index), state(setup.config, ringers), setup(std::move(setup)), host_(host)
{
    band = std::make_unique<Band>(this->setup.band, this->setup.method, *this);
}

void Tower::replaceBand(const BandSettings& settings, std::shared_ptr<const CompiledMethod> method, Micros now)
{
    setup.band = settings;
    setup.method = std::move(method);
    band = std::make_unique<Band>(setup.band, setup.method, *this);
    band->setClients(state.clientBells(), !state.empty(), now);
}

void Tower::strike(int bell, bool handstroke)
{
    host_.broadcast(*this, makeStrike(bell, handstroke, 0, 0));
}

void Tower::call(const std::string& text)
{
    host_.broadcast(*this, makeCall(text));
}

void Tower::text(const std::string& text)
{
    keepLast(notices, text, kNoticesKept);
    host_.broadcast(*this, makeServerText(text));
}

void Tower::log(const std::string& line)
{
    // The page shows a touch's striking in the very lines the log gives it.
    const std::string striking = "striking touch ";
    if (line.starts_with(striking)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos)
            strikingLines_.push_back(line.substr(colon + 2));
    }
    host_.log("[" + name() + "] " + line);
}

void Tower::rowRung(int number, bool handstroke, const std::string& row, const std::vector<int>& offsetsMs)
{
    keepLast(rows, RowHeard{number, handstroke, row, offsetsMs}, kRowsKept);
}

void Tower::struck(int touch, const std::vector<striking::Blow>& blows, const striking::StrikingReport& report,
                   const striking::RowFigures& rows)
{
    TouchStruck struck{touch, std::move(strikingLines_), {}, report.ringers, report.band, report.bandStrokes, rows};
    strikingLines_.clear();
    std::vector<std::string> clients;
    for (const striking::RingerStats& ringer : report.ringers)
        if (ringer.ringer != kBandName)
            clients.push_back(ringer.ringer);
    if (host_.wantsCharts())
        struck.svg = striking::strikingChartSvg(blows, report, name() + ", touch " + std::to_string(touch), clients);
    host_.touchStood(*this, struck);
    if (host_.showsTouches())
        keepLast(touches, std::move(struck), kTouchesKept);
}

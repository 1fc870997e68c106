#include "server/TowerPage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

using nlohmann::json;

namespace {

// Names come from the network and may be any bytes: invalid UTF-8 is
// replaced rather than allowed to abort the answer.
std::string text(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

HttpResponse answer(int status, const json& value)
{
    return {status, "application/json", text(value)};
}

HttpResponse failure(int status, const std::string& message)
{
    return answer(status, json{{"error", message}});
}

// Equal keys compare in the same time whatever the first difference.
bool sameKey(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

json ringerOfEachBell(const Tower& tower)
{
    const auto holders = tower.state.clientBells();
    json bells = json::array();
    for (int bell = 1; bell <= tower.state.config().bells; ++bell) {
        const auto holder = holders.find(bell);
        bells.push_back(holder != holders.end() ? holder->second : std::string(kBandName));
    }
    return bells;
}

json bandOf(const BandChoice& choice)
{
    return {{"method", choice.method},
            {"pealMinutes", choice.pealMinutes},
            {"sdMs", choice.sdMs},
            {"conductor", choice.conductor}};
}

json summary(const Tower& tower)
{
    json ringers = json::array();
    for (int id : tower.state.clients())
        ringers.push_back(tower.state.ringerOf(id));
    return {{"name", tower.name()},
            {"description", tower.state.config().description},
            {"bells", tower.state.config().bells},
            {"ringers", ringers},
            {"ringing", tower.band->ringing()},
            {"method", tower.setup.choice.method}};
}

json details(const Tower& tower)
{
    json result = summary(tower);
    result["bellRingers"] = ringerOfEachBell(tower);
    result["band"] = bandOf(tower.setup.choice);
    if (tower.pendingBand)
        result["nextBand"] = bandOf(tower.pendingBand->choice);
    result["row"] = tower.band->ringing() ? tower.band->currentRow() : std::string();
    json rows = json::array();
    for (const RowHeard& row : tower.rows)
        rows.push_back({{"number", row.number},
                        {"stroke", row.handstroke ? "H" : "B"},
                        {"row", row.row},
                        {"offsetsMs", row.offsetsMs}});
    result["rows"] = rows;
    result["notices"] = tower.notices;
    result["touches"] = tower.touches.size();
    return result;
}

json statsOf(const striking::Stats& stats)
{
    return {{"rmsMs", stats.rmsMs}, {"meanMs", stats.meanMs}, {"sdMs", stats.sdMs}, {"count", stats.count},
            {"faults", stats.faults}};
}

json strokesOf(const striking::Stats& all, const striking::StrokeStats& strokes)
{
    json figures = statsOf(all);
    figures["handstroke"] = statsOf(strokes.hand);
    figures["backstroke"] = statsOf(strokes.back);
    return figures;
}

json rowsOf(const striking::RowFigures& rows)
{
    const auto lengths = [](const striking::RowLengths& row) {
        return json{{"meanMs", row.meanMs}, {"sdMs", row.sdMs}, {"count", row.count}};
    };
    const auto pull = [](const striking::Pull& pull) {
        return pull.row < 0 ? json(nullptr) : json{{"row", pull.row}, {"lengthMs", pull.lengthMs}};
    };
    return {{"handstrokeRows", lengths(rows.handstrokeRows)}, {"backstrokeRows", lengths(rows.backstrokeRows)},
            {"quickestPull", pull(rows.quickestPull)},      {"slowestPull", pull(rows.slowestPull)},
            {"handstrokeGap", {{"mean", rows.gapMean}, {"sd", rows.gapSd}, {"count", rows.gaps}}},
            {"intervalMs", rows.intervalMs},                 {"rowsSkipped", rows.rowsSkipped}};
}

json touchesOf(const Tower& tower)
{
    json touches = json::array();
    for (const TouchStruck& touch : tower.touches) {
        json ringers = json::array();
        for (const striking::RingerStats& ringer : touch.ringers) {
            json figures = strokesOf(ringer.stats, ringer.strokes);
            figures["ringer"] = ringer.ringer;
            figures["bells"] = ringer.bells;
            ringers.push_back(std::move(figures));
        }
        touches.push_back({{"number", touch.number},
                           {"lines", touch.lines},
                           {"ringers", std::move(ringers)},
                           {"band", strokesOf(touch.band, touch.bandStrokes)},
                           {"rows", rowsOf(touch.rows)}});
    }
    return touches;
}

Tower* findTower(TowerDesk& desk, const std::string& name)
{
    const auto& towers = desk.towers();
    const auto found = std::find_if(towers.begin(), towers.end(), [&](const auto& t) { return t->name() == name; });
    return found != towers.end() ? found->get() : nullptr;
}

// A whole number in [low, high], or nothing.
std::optional<int> wholeNumber(const json& value, int low, int high)
{
    if (!value.is_number_integer())
        return std::nullopt;
    const auto number = value.get<long long>();
    if (number < low || number > high)
        return std::nullopt;
    return static_cast<int>(number);
}

std::optional<double> numberIn(const json& value, double low, double high)
{
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number) || number < low || number > high)
        return std::nullopt;
    return number;
}

// The band as changed by `body`, or the field that is wrong.
std::optional<BandChoice> bandChange(const json& body, BandChoice choice, const TowerDesk& desk, std::string& error)
{
    for (const auto& [field, value] : body.items()) {
        if (field == "method") {
            if (!value.is_string() || !desk.knowsMethod(value.get<std::string>())) {
                error = "method: no such method in the library";
                return std::nullopt;
            }
            choice.method = value.get<std::string>();
        } else if (field == "pealMinutes") {
            const auto minutes = numberIn(value, kMinPealMinutes, kMaxPealMinutes);
            if (!minutes) {
                error = "pealMinutes: a number of minutes from 1 to 100000";
                return std::nullopt;
            }
            choice.pealMinutes = *minutes;
        } else if (field == "sdMs") {
            const auto sd = numberIn(value, 0, kMaxBandSdMs);
            if (!sd) {
                error = "sdMs: a number of ms from 0 to 1000";
                return std::nullopt;
            }
            choice.sdMs = *sd;
        } else if (field == "conductor") {
            if (!value.is_boolean()) {
                error = "conductor: true or false";
                return std::nullopt;
            }
            choice.conductor = value.get<bool>();
        } else {
            error = field + ": not a setting of the band";
            return std::nullopt;
        }
    }
    return choice;
}

HttpResponse fromDesk(const DeskAnswer& result)
{
    if (result.status != 200)
        return failure(result.status, result.message);
    return answer(200, json{{"ok", true}, {"message", result.message}});
}

}  // namespace

TowerPage::TowerPage(TowerDesk& desk, std::string captainKey) : desk_(desk), key_(std::move(captainKey)) {}

HttpResponse TowerPage::handle(const HttpRequest& request)
{
    if (request.method == "POST")
        return change(request);
    if (request.method == "GET" || request.method == "HEAD")
        return read(request);
    return failure(405, "only GET and POST are served");
}

bool TowerPage::hasKey(const HttpRequest& request) const
{
    const auto given = request.header("X-Captain-Key");
    const auto inQuery = request.query("key");
    return (given && sameKey(*given, key_)) || (inQuery && sameKey(*inQuery, key_));
}

HttpResponse TowerPage::read(const HttpRequest& request)
{
    const std::string& path = request.path;
    if (path == "/" || path.starts_with("/tower/"))
        return {200, "text/html; charset=utf-8", page::kHtml};
    if (path == "/page.css")
        return {200, "text/css; charset=utf-8", page::kCss};
    if (path == "/page.js")
        return {200, "text/javascript; charset=utf-8", page::kScript};
    if (path == "/api/towers") {
        json towers = json::array();
        for (const auto& tower : desk_.towers())
            towers.push_back(summary(*tower));
        return answer(200, towers);
    }
    if (path == "/api/methods") {
        const std::string part = request.query("q").value_or("");
        const Tower* tower = findTower(desk_, request.query("tower").value_or(""));
        return answer(200, desk_.findMethods(part, tower != nullptr ? tower->state.config().bells : 0, 20));
    }
    const bool towerRoute = path == "/api/tower" || path == "/api/touches" || path == "/api/chart";
    if (!towerRoute)
        return failure(404, "no page " + path);
    const std::string name = request.query("tower").value_or("");
    const Tower* tower = findTower(desk_, name);
    if (tower == nullptr)
        return failure(404, "no tower called " + name);
    if (path == "/api/tower")
        return answer(200, details(*tower));
    if (path == "/api/touches")
        return answer(200, touchesOf(*tower));
    const std::string number = request.query("touch").value_or("");
    for (const TouchStruck& touch : tower->touches)
        if (std::to_string(touch.number) == number)
            return {200, "image/svg+xml", touch.svg};
    return failure(404, "no touch " + number + " in " + name);
}

HttpResponse TowerPage::change(const HttpRequest& request)
{
    const std::string& path = request.path;
    if (path != "/api/bell" && path != "/api/band" && path != "/api/call")
        return failure(404, "no page " + path);
    if (!hasKey(request))
        return failure(403, "the captain's key is needed to change anything");
    if (request.bodyTooLarge)
        return failure(400, "body: over 16 KiB");
    const json body = json::parse(request.body, nullptr, false);
    if (!body.is_object())
        return failure(400, "body: not a JSON object");
    const std::string name = request.query("tower").value_or("");
    Tower* tower = findTower(desk_, name);
    if (tower == nullptr)
        return failure(404, "no tower called " + name);

    if (path == "/api/bell") {
        const int bells = tower->state.config().bells;
        const auto bell = wholeNumber(body.value("bell", json()), 1, bells);
        if (!bell)
            return failure(400, "bell: a bell of the tower, 1 to " + std::to_string(bells));
        const json ringer = body.value("ringer", json());
        if (!ringer.is_string())
            return failure(400, "ringer: a ringer's name, or \"Band\"");
        return fromDesk(desk_.assignBell(*tower, *bell, ringer.get<std::string>()));
    }
    if (path == "/api/band") {
        std::string error;
        const BandChoice current = tower->pendingBand ? tower->pendingBand->choice : tower->setup.choice;
        const auto choice = bandChange(body, current, desk_, error);
        if (!choice)
            return failure(400, error);
        return fromDesk(desk_.setBand(*tower, *choice));
    }
    const json call = body.value("call", json());
    const auto known = std::find_if(std::begin(kCaptainCalls), std::end(kCaptainCalls),
                                    [&](const CaptainCall& c) { return call.is_string() && call == c.text; });
    if (known == std::end(kCaptainCalls))
        return failure(400, "call: one of Here's treble, Go, Bob, Single, That's All, Stand");
    return fromDesk(desk_.call(*tower, known->text));
}

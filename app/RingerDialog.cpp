#include "app/RingerDialog.h"

#include "app/MethodStore.h"
#include "app/SettingsFile.h"

#include "dialogs/ChartWindow.h"
#include "dialogs/Latin1.h"
#include "dialogs/MethodSetupFlow.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/PersonStrip.h"
#include "dialogs/RowsView.h"
#include "dialogs/TowerDialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressDialog>
#include <QPushButton>
#include <QKeyEvent>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// Past this many waiting texts a flood is only counted.
constexpr std::size_t kMaxWaitingTexts = 50;

// The calls, on the keys ringers already know them by, with the words sent.
struct CallKey {
    Qt::Key key;
    const char* caption;
    const char* words;
};
constexpr std::array kCallKeys{
    CallKey{Qt::Key_L, "Look to", "Here's treble"}, CallKey{Qt::Key_G, "Go", "Go"},
    CallKey{Qt::Key_B, "Bob", "Bob"},               CallKey{Qt::Key_N, "Single", "Single"},
    CallKey{Qt::Key_T, "That's all", "That's All"}, CallKey{Qt::Key_S, "Stand", "Stand"},
};
constexpr int kCallShownMs = 2000;

QLabel* valueLabel(QWidget* parent, const char* name, const QString& start)
{
    auto* label = new QLabel(start, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);  // the window has no default button
    return b;
}

// "own +2 ±6 ms · band ±22 ms", rounded to whole milliseconds.
QString strikingText(double ownMean, double ownSd, double bandSd)
{
    return QStringLiteral("own %1 \u00b1%2 ms \u00b7 band \u00b1%3 ms")
        .arg(QString::asprintf("%+.0f", ownMean), QString::number(ownSd, 'f', 0), QString::number(bandSd, 'f', 0));
}

// "you +5 ±30 ms · own +2 ±6 ms · band ±22 ms": the person's figure first,
// then those there are blows for.
QString strikingTextWithPerson(const StrikingFigures& figures)
{
    QStringList parts;
    parts << QStringLiteral("you %1 \u00b1%2 ms")
                 .arg(QString::asprintf("%+.0f", figures.person.meanMs), QString::number(figures.person.sdMs, 'f', 0));
    if (figures.own.count > 0)
        parts << QStringLiteral("own %1 \u00b1%2 ms")
                     .arg(QString::asprintf("%+.0f", figures.own.meanMs), QString::number(figures.own.sdMs, 'f', 0));
    if (figures.band.count > 0)
        parts << QStringLiteral("band \u00b1%1 ms").arg(QString::number(figures.band.sdMs, 'f', 0));
    return parts.join(QStringLiteral(" \u00b7 "));
}

// "hand ±6 ms · back ±7 ms" (root mean square errors), or empty with no blows.
QString strokeSplit(const striking::StrokeStats& strokes)
{
    if (strokes.hand.count == 0 && strokes.back.count == 0)
        return {};
    return QStringLiteral("hand \u00b1%1 ms \u00b7 back \u00b1%2 ms")
        .arg(QString::number(strokes.hand.rmsMs, 'f', 0), QString::number(strokes.back.rmsMs, 'f', 0));
}

// With Control, Alt or Meta a key is a shortcut, not a bell or a call.
bool plainKey(const QKeyEvent& key)
{
    return !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

std::optional<KeyEvent::Key> bellKey(const QKeyEvent& key)
{
    if (!plainKey(key))
        return std::nullopt;
    switch (key.key()) {
    case Qt::Key_Space:
        return KeyEvent::Key::Space;
    case Qt::Key_J:
        return KeyEvent::Key::J;
    case Qt::Key_F:
        return KeyEvent::Key::F;
    default:
        return std::nullopt;
    }
}

const CallKey* callKey(const QKeyEvent& key)
{
    if (!plainKey(key))
        return nullptr;
    const auto found = std::find_if(kCallKeys.begin(), kCallKeys.end(),
                                    [&](const CallKey& call) { return call.key == key.key(); });
    return found == kCallKeys.end() ? nullptr : &*found;
}

// "Bell 5: +3 ±20 ms"
QString bellFigure(const striking::BellStats& bell)
{
    return QStringLiteral("Bell %1: %2 \u00b1%3 ms")
        .arg(QString::number(bell.bell), QString::asprintf("%+.0f", bell.stats.meanMs),
             QString::number(bell.stats.sdMs, 'f', 0));
}

QString panelText(const std::string& rows)
{
    return latin1Text(rows).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// A text too long for the line is cut short there and shown whole in the tool
// tip, as plain text: a tool tip would take markup in a server's text for its own.
void showElided(QLabel* label, const QString& text, int width)
{
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, width));
    label->setToolTip(QStringLiteral("<qt>%1</qt>").arg(text.toHtmlEscaped()));
}

// A value is saved only when the user changed it in the dialog.
template <typename T>
void saveIfChanged(std::optional<T>& saved, const T& chosen, const T& shown)
{
    if (chosen != shown)
        saved = chosen;
}

} // namespace

QIcon bellIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bell;
    bell.moveTo(32, 6);
    bell.cubicTo(18, 6, 16, 18, 16, 30);
    bell.cubicTo(16, 40, 12, 46, 6, 50);
    bell.lineTo(58, 50);
    bell.cubicTo(52, 46, 48, 40, 48, 30);
    bell.cubicTo(48, 18, 46, 6, 32, 6);
    painter.setPen(QPen(QColor(0x5a, 0x3b, 0x0e), 2.5));
    painter.setBrush(QColor(0xc8, 0x92, 0x2e));
    painter.drawPath(bell);
    painter.drawEllipse(QPointF(32, 54), 5, 5);
    painter.drawRoundedRect(QRectF(28, 1, 8, 6), 2, 2);
    return QIcon(pixmap);
}

RingerDialog::RingerDialog(Options options) : QDialog(nullptr), RingerShell(std::move(options))
{
    setWindowTitle(QStringLiteral("Tolvane"));
    setWindowIcon(bellIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    buildControls();
    buildMenuBar();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    qApp->installEventFilter(this);
}

void RingerDialog::buildControls()
{
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(8);

    auto* setMethodButton = button(this, "setMethodButton", tr("Set Method"));
    auto* stopButton = button(this, "stopButton", tr("Stop"));
    auto* fasterButton = button(this, "fasterButton", tr("Faster"));
    auto* slowerButton = button(this, "slowerButton", tr("Slower"));
    speedAdjustmentValue = valueLabel(this, "speedAdjustmentValue", QStringLiteral("0"));
    pealSpeedValue = valueLabel(this, "pealSpeedValue", QString());
    changesRungValue = valueLabel(this, "changesRungValue", QStringLiteral("0"));
    changeInLeadValue = valueLabel(this, "changeInLeadValue", QStringLiteral("0"));
    strikingValue = valueLabel(this, "strikingValue", QStringLiteral("\u2013"));
    strikingValue->setToolTip(tr("Mean and spread of our own blows, and the spread of the band's, over the last "
                                 "few rows, against the rhythm fitted from them"));
    // Room for the longest peal speed and striking figures, so the window keeps its size.
    pealSpeedValue->setMinimumWidth(pealSpeedValue->fontMetrics().horizontalAdvance(QStringLiteral("888 hours 88 minutes")));
    strikingValue->setMinimumWidth(
        strikingValue->fontMetrics().horizontalAdvance(strikingText(-888, 888, 888)));
    // Longer figures are elided to that width, never widen the window.
    strikingValue->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // What is rung can be long: it takes the width it is given, elided.
    ringingValue = new QLabel(this);
    ringingValue->setObjectName("ringingValue");
    ringingValue->setTextFormat(Qt::PlainText);
    ringingValue->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    ringingValue->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    lastChangesView = new RowsView(this);
    lastChangesView->setObjectName("lastChangesView");
    lastChangesView->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lastChangesView->setFrameShape(QFrame::StyledPanel);
    lastChangesView->setFrameShadow(QFrame::Sunken);
    QFont rows = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    rows.setPointSizeF(rows.pointSizeF() * 1.15);
    lastChangesView->setFont(rows);
    const QFontMetrics metrics(rows);
    // Ten rows always fit, so the window never changes size as they arrive.
    lastChangesView->setFixedHeight(metrics.lineSpacing() * 10 + 2 * lastChangesView->frameWidth() + 16);
    lastChangesView->setMinimumWidth(metrics.horizontalAdvance(QString(16, QLatin1Char('0'))));

    int row = 0;
    grid->addWidget(setMethodButton, row, 0);
    grid->addWidget(stopButton, row++, 1);
    grid->addWidget(new QLabel(tr("Speed Adjustment"), this), row, 0);
    grid->addWidget(speedAdjustmentValue, row++, 1);
    grid->addWidget(new QLabel(tr("Peal Speed"), this), row, 0);
    grid->addWidget(pealSpeedValue, row++, 1);
    grid->addWidget(fasterButton, row, 0);
    grid->addWidget(slowerButton, row++, 1);
    grid->addWidget(new QLabel(tr("Changes Rung"), this), row, 0);
    grid->addWidget(changesRungValue, row++, 1);
    grid->addWidget(new QLabel(tr("Change in Lead"), this), row, 0);
    grid->addWidget(changeInLeadValue, row++, 1);
    grid->addWidget(new QLabel(tr("Striking"), this), row, 0);
    grid->addWidget(strikingValue, row++, 1);
    grid->addWidget(ringingValue, row++, 0, 1, 2);
    auto* heading = new QLabel(tr("Last 10 Changes"), this);
    heading->setAlignment(Qt::AlignHCenter);
    grid->addWidget(heading, row++, 0, 1, 2);
    grid->addWidget(lastChangesView, row++, 0, 1, 2);
    personStrip = new PersonStrip(this);
    personStrip->setFont(rows);
    personStrip->hide();
    grid->addWidget(personStrip, row++, 0, 1, 2);
    callView = new QLabel(this);
    callView->setObjectName("callView");
    callView->setTextFormat(Qt::PlainText);
    callView->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    callView->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont callFont = font();
    callFont.setPointSizeF(callFont.pointSizeF() * 1.8);
    callFont.setBold(true);
    callView->setFont(callFont);
    // Room for a call at all times, so that the window keeps its size as calls come and go.
    callView->setFixedHeight(QFontMetrics(callFont).lineSpacing());
    grid->addWidget(callView, row++, 0, 1, 2);
    callShown.setSingleShot(true);
    callShown.setInterval(kCallShownMs);
    connect(&callShown, &QTimer::timeout, this, [this] {
        callView->clear();
        callView->setToolTip({});
    });
    grid->addLayout(callButtons(), row++, 0, 1, 2);
    statusLine = new QLabel(this);
    statusLine->setObjectName("statusLine");
    statusLine->setTextFormat(Qt::PlainText);
    statusLine->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    statusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // Its line is kept when empty, so the window keeps its size as texts come.
    statusLine->setFixedHeight(statusLine->fontMetrics().lineSpacing());
    grid->addWidget(statusLine, row++, 0, 1, 2);

    setTabOrder(setMethodButton, stopButton);
    setTabOrder(stopButton, fasterButton);
    setTabOrder(fasterButton, slowerButton);

    connect(setMethodButton, &QPushButton::clicked, this, [this] { setMethod(); });
    connect(stopButton, &QPushButton::clicked, this, [this] { controller().stopPressed(); });
    connect(fasterButton, &QPushButton::clicked, this, [this] { controller().fasterPressed(); });
    connect(slowerButton, &QPushButton::clicked, this, [this] { controller().slowerPressed(); });
}

// Under the rows, each showing its key. They never take the focus: Space
// must not press one, and the buttons above keep their order.
QLayout* RingerDialog::callButtons()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    for (const CallKey& call : kCallKeys) {
        const QChar key = QKeySequence(call.key).toString().at(0);
        auto* b = button(this, "", QStringLiteral("%1 %2").arg(key, tr(call.caption)));
        b->setObjectName(QStringLiteral("callButton%1").arg(key));
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolTip(tr("Calls \"%1\" (key %2)").arg(QString::fromLatin1(call.words), key));
        connect(b, &QPushButton::clicked, this, [this, words = call.words] { makeCall(words); });
        row->addWidget(b);
    }
    return row;
}

void RingerDialog::setMethod()
{
    const EngineState& state = controller().ringing();
    int highestOwnBell = 0;
    for (int bell = 1; bell <= state.bellCount; ++bell)
        if (state.bellTable[static_cast<std::size_t>(bell - 1)].ownBell)
            highestOwnBell = bell;
    const auto chosen = runMethodSetup(this, controller().settings(), controller().methodLibrary(), state.bellCount,
                                       highestOwnBell);
    if (chosen && controller().running()) {
        controller().applySettings(*chosen);
        showWhatIsRung();
    }
}

// Alt+R and Alt+H open the menus: neither is a call key, and the call keys
// act only without Alt. The menu bar never takes the focus, so Space and the
// letters still reach the bells and the calls.
void RingerDialog::buildMenuBar()
{
    auto* bar = new QMenuBar(this);
    bar->setObjectName("menuBar");
    bar->setFocusPolicy(Qt::NoFocus);
    QMenu* ringing = bar->addMenu(tr("&Ringing"));
    ringing->setObjectName("ringingMenu");
    ringing->addAction(tr("Set &Method..."), this, [this] { setMethod(); });
    ringing->addAction(tr("&Options..."), this, [this] { editOptions(); });
    ringing->addAction(tr("&Import methods..."), this, [this] { chooseMethodsToImport(); });
    chartAction = ringing->addAction(tr("Striking &chart..."), this, [this] { openStrikingChart(); });
    chartAction->setEnabled(false);
    chartAction->setToolTip(tr("Once a touch you rang in has come round"));
    ringing->addSeparator();
    ringing->addAction(tr("&Quit"), QKeySequence::Quit, this, [this] { reject(); });
    QMenu* help = bar->addMenu(tr("&Help"));
    help->setObjectName("helpMenu");
    help->addAction(tr("&Keys"), this, [this] { showKeys(); });
    help->addAction(tr("&About Tolvane"), this, [this] { showAbout(); });
    layout()->setMenuBar(bar);
}

void RingerDialog::showKeys()
{
    showMessage("Space, J or F strikes your bell; with two bells F strikes the first and J the second.\n\n"
                "L Look to, G Go, B Bob, N Single, T That's all, S Stand: the calls, as the buttons "
                "under the rows make them.\n\n"
                "These keys work wherever the focus is in this window, without Ctrl or Alt. "
                "Alt+R opens the Ringing menu, Alt+H this Help menu; Escape or Ctrl+Q ends the run.");
}

void RingerDialog::showAbout()
{
    showMessage("Tolvane " TOLVANE_VERSION "\n\nA robot ringer for online change ringing: it joins a tower on a "
                "ringing server and rings its bells in the method set, with you on the keyboard if you wish.");
}

void RingerDialog::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(tr("Options..."), this, [this] { editOptions(); });
    menu.addAction(tr("Import methods..."), this, [this] { chooseMethodsToImport(); });
    if (!strikingChart.empty())
        menu.addAction(tr("Striking chart..."), this, [this] { openStrikingChart(); });
    menu.exec(event->globalPos());
}

void RingerDialog::chooseMethodsToImport()
{
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Import the Central Council's methods collection"), QString(),
        tr("Methods collection (*.xml *.zip);;All files (*)"));
    if (!file.isEmpty())
        importMethodsFrom(file);
}

// Read on this thread: the progress dialog's steps run the event loop, so the
// bells keep ringing while a large file is read.
void RingerDialog::importMethodsFrom(const QString& file)
{
    constexpr int kSteps = 1000;
    QProgressDialog progress(tr("Importing methods..."), tr("Cancel"), 0, kSteps, this);
    progress.setObjectName("importProgress");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    const ImportOutcome outcome =
        importMethods(file.toStdString(), [&progress](std::uint64_t done, std::uint64_t total) {
            if (total > 0)
                progress.setValue(static_cast<int>(std::min(done, total) * kSteps / total));
            else
                QCoreApplication::processEvents();
            return !progress.wasCanceled();
        });
    progress.reset();
    if (outcome.imported)
        controller().setLibrary(loadLibraryWithImports(methodLibraryCandidates()).library);
    showMessage(outcome.summary);
}

// The server goes to the file only: the connection is made once, at start-up.
// The rhythm takes effect from the next touch, the sound at once. Only what the user changed in
// the dialog is saved: the values this run took from its command line are
// shown, but saving them would make one run's overrides stick for good.
void RingerDialog::editOptions()
{
    SavedSettings saved = loadSettings().settings;
    const RhythmSettings shown = rhythmSettings();
    OptionsDialog dialog(this);
    dialog.serverHost = saved.serverHost.value_or("");
    dialog.serverPort = saved.serverPort;
    dialog.defaultServerHost = kMainServerHost;
    const SoundSettings shownSound = soundSettings();
    dialog.rhythm = shown;
    dialog.personBells = personBells();
    const bool reconnectShown = controller().reconnectEnabled();
    dialog.reconnect = reconnectShown;
    dialog.sound = shownSound;
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.reconnect != reconnectShown) {
        saved.reconnect = dialog.reconnect;
        controller().setReconnect(dialog.reconnect);
    }
    const bool serverChanged = dialog.serverHost != saved.serverHost.value_or("") || dialog.serverPort != saved.serverPort;
    saved.serverHost = dialog.serverHost.empty() ? std::nullopt : std::optional(dialog.serverHost);
    saved.serverPort = dialog.serverPort;
    const RhythmSettings& chosen = dialog.rhythm;
    saveIfChanged(saved.rhythm, chosen.rhythm, shown.rhythm);
    saveIfChanged(saved.handstrokeGap, chosen.handstrokeGap, shown.handstrokeGap);
    saveIfChanged(saved.inertia, chosen.inertia, shown.inertia);
    saveIfChanged(saved.personBells, dialog.personBells, personBells());
    const SoundSettings& sound = dialog.sound;
    saveIfChanged(saved.sound, sound.on, shownSound.on);
    saveIfChanged(saved.soundVolume, sound.volume, shownSound.volume);
    saveIfChanged(saved.tenorNote, sound.tenorNote, shownSound.tenorNote);
    saveSettings(saved);
    setRhythmSettings(chosen);
    setPersonBells(dialog.personBells);
    setSoundSettings(sound);
    // Before a tower is joined a wrong server can still be put right.
    if (serverChanged && controller().running() && controller().joinedTower().empty())
        connectTo(dialog.serverHost.empty() ? kMainServerHost : dialog.serverHost, dialog.serverPort);
}

// ---------------------------------------------------------------------------
// Messages: modal, one at a time

void RingerDialog::showMessage(const std::string& text)
{
    offerText({text});
}

void RingerDialog::showMessageThen(const std::string& text, const std::function<void()>& then)
{
    if (!ringsByHand()) {
        offerText({text, 1, then});
        return;
    }
    showInStatusLine(text);
    then();
}

// Joined, with a bell of the person's: before the join a refusal's box and
// the tower choice after it are what is wanted.
bool RingerDialog::ringsByHand() const
{
    return !controller().joinedTower().empty() && hasPersonBell();
}

// Chosen now, or still in force for the touch being rung.
bool RingerDialog::hasPersonBell() const
{
    return personBells()[0] != 0 || controller().ringing().hands[0].bell != 0;
}

void RingerDialog::showInStatusLine(const std::string& text)
{
    showElided(statusLine, latin1Text(text).simplified(), lastChangesView->width());
    showPersonStrip();
}

void RingerDialog::showFinalMessage(const std::string& text)
{
    offerText({text, 1, {}, true});
}

void RingerDialog::offerText(PendingText pending)
{
    if (runOver)
        return;
    if (boxOpen) {
        queueText(std::move(pending));
        return;
    }
    boxOpen = true;
    showBox(pending);
    while (!waitingTexts.empty()) {
        const PendingText next = std::move(waitingTexts.front());
        waitingTexts.pop_front();
        showBox(next);
    }
    boxOpen = false;
    if (runOver)
        QDialog::done(QDialog::Rejected);
}

void RingerDialog::queueText(PendingText pending)
{
    if (!waitingTexts.empty()) {
        PendingText& last = waitingTexts.back();
        if (last.counted == 0 && last.text == pending.text) {
            ++last.times;
            if (pending.then && !last.then)
                last.then = pending.then;
            last.final = last.final || pending.final;
            return;
        }
    }
    // The text that ends the run always gets its box. Past the bound any
    // other is only counted, a follow-up too: a server can send texts that
    // have one without end. The count's box runs the first follow-up it
    // stands for (as a repeated text does), so a refusal still brings back
    // the tower choice.
    if (waitingTexts.size() >= kMaxWaitingTexts && !pending.final) {
        if (waitingTexts.back().counted == 0)
            waitingTexts.push_back({});
        PendingText& count = waitingTexts.back();
        ++count.counted;
        if (pending.then && !count.then)
            count.then = std::move(pending.then);
        return;
    }
    waitingTexts.push_back(std::move(pending));
}

namespace {

QString countedText(int counted)
{
    if (counted == 1)
        return QStringLiteral("1 further message came while this window was busy.");
    return QStringLiteral("%1 further messages came while this window was busy.").arg(counted);
}

} // namespace

void RingerDialog::showBox(const PendingText& pending)
{
    QString text = pending.counted > 0 ? countedText(pending.counted) : latin1Text(pending.text);
    if (pending.times > 1)
        text += QStringLiteral("\n\n(%1 times)").arg(pending.times);
    // Over the window it interrupts, so that it stacks above that dialog.
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, topWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
    if (pending.then) {
        // The box is gone: what its follow-up opens (the tower choice) may
        // show texts of its own, and takes any still waiting.
        boxOpen = false;
        pending.then();
        boxOpen = true;
    }
}

QWidget* RingerDialog::topWindow()
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal : this;
}

// ---------------------------------------------------------------------------
// Displays and the end of the run

void RingerDialog::showSpeed(const std::string& adjustment, const std::string& pealSpeed)
{
    speedAdjustmentValue->setText(QString::fromLatin1(adjustment.c_str()));
    pealSpeedValue->setText(QString::fromLatin1(pealSpeed.c_str()));
    showWhatIsRung();
}

void RingerDialog::showChanges(const ChangeDisplay& display)
{
    showPersonStrip();
    changesRungValue->setText(QString::number(display.changesRung));
    changeInLeadValue->setText(QString::number(display.changeInLead));
    lastChangesView->setText(panelText(display.lastChanges));
    markBellsInRows();
}

// Tolvane's bells in bold, the person's in bold and their line's colour.
void RingerDialog::markBellsInRows()
{
    const EngineState& state = controller().ringing();
    QMap<QChar, RowsView::Mark> marks;
    for (int bell = 1; bell <= state.bellCount; ++bell)
        if (state.bellTable[static_cast<std::size_t>(bell - 1)].ownBell)
            marks.insert(bellSymbol(bell), {});
    for (int hand = 0; hand < 2; ++hand)
        if (const int bell = state.hands[static_cast<std::size_t>(hand)].bell; bell != 0)
            marks.insert(bellSymbol(bell), {true, PersonStrip::pathColour(hand)});
    lastChangesView->setMarks(marks);
}

// While a touch is rung the figures are the last rows'; once it has ended,
// the whole touch's, said as such, until the next begins.
void RingerDialog::showStriking(const StrikingSummary& summary)
{
    if (!summary.chartSvg.empty()) {
        strikingChart = summary.chartSvg;
        chartAction->setEnabled(true);
    }
    // The count "Changes Rung" shows: the engine has already counted on
    // past the last row when it says the touch has ended.
    if (summary.touchEnded) {
        showInStatusLine("Touch ended: " + changesRungValue->text().toStdString() + " changes");
        touchEndSaid = true;
    } else if (std::exchange(touchEndSaid, false)) {
        statusLine->clear();  // the next touch is under way
    }
    const StrikingFigures& figures = summary.touchEnded ? summary.touch : summary.recent;
    const QString prefix = summary.touchEnded ? tr("touch: ") : QString();
    if (figures.person.count > 0) {
        showStrikingFigures(prefix + strikingTextWithPerson(figures), figures, summary.touchEnded);
        return;
    }
    if (figures.own.count == 0 || figures.band.count == 0)
        return;
    showStrikingFigures(prefix + strikingText(figures.own.meanMs, figures.own.sdMs, figures.band.sdMs), figures,
                        summary.touchEnded);
}

// Elided to the line; the tool tip has it whole, with each of the person's
// bells and the hand and back split of theirs and of Tolvane's.
void RingerDialog::showStrikingFigures(const QString& text, const StrikingFigures& figures, bool wholeTouch)
{
    const int width = std::max(strikingValue->width(), strikingValue->minimumWidth());
    strikingValue->setText(strikingValue->fontMetrics().elidedText(text, Qt::ElideRight, width));
    QStringList lines{text};
    if (figures.person.count > 0)
        lines << (wholeTouch ? tr("You: mean and spread of your blows; then our own and the band's, over the whole "
                                  "touch, against the rhythm fitted from them")
                             : tr("You: mean and spread of your blows; then our own and the band's, over the last "
                                  "few rows, against the rhythm fitted from them"));
    for (const striking::BellStats& bell : figures.personBells)
        lines << bellFigure(bell);
    if (const QString split = strokeSplit(figures.personStrokes); !split.isEmpty())
        lines << tr("You at %1").arg(split);
    if (const QString split = strokeSplit(figures.ownStrokes); !split.isEmpty())
        lines << tr("Tolvane at %1").arg(split);
    strikingValue->setToolTip(lines.join(QLatin1Char('\n')));
}

// "Tolvane Tower · bells 7, 8 · Plain Bob Major": the tower joined, our bells
// and the method set. Tower names come from the server: plain text only.
// Refreshed when the bells are assigned (which shows the speed) and when a
// method is set, not with every row.
void RingerDialog::showWhatIsRung()
{
    const RingerController& run = controller();
    QStringList parts;
    if (!run.joinedTower().empty())
        parts << latin1Text(run.joinedTower());
    QStringList bells;
    const EngineState& state = run.ringing();
    for (int bell = 1; bell <= state.bellCount; ++bell)
        if (state.bellTable[static_cast<std::size_t>(bell - 1)].ownBell)
            bells << QString::number(bell);
    if (!bells.isEmpty())
        parts << (bells.size() == 1 ? tr("bell %1") : tr("bells %1")).arg(bells.join(QStringLiteral(", ")));
    const MethodSettings& method = run.settings();
    if (const MethodDef* record =
            run.methodLibrary().methodRinging(method.placeNotation, method.bobNotation, method.singleNotation))
        parts << latin1Text(record->name);
    else if (!method.placeNotation.empty())
        parts << latin1Text(method.placeNotation);
    const QString text = parts.join(QStringLiteral(" \u00b7 "));
    if (text == ringingText)
        return;
    ringingText = text;
    showElided(ringingValue, text, lastChangesView->width());
}

void RingerDialog::showReconnecting(const std::string& text)
{
    // A refusal carries the server's own words, which may be long.
    ringingText = latin1Text(text);
    showElided(ringingValue, ringingText, lastChangesView->width());
}

void RingerDialog::endRun()
{
    runOver = true;
    // The user wants out at once; the server's last texts are still shown,
    // the one that ended the run among them.
    const bool byUser = runEndedByUser();
    if (byUser)
        waitingTexts.clear();
    closeOtherWindows(byUser);
    if (!boxOpen && waitingTexts.empty())
        QDialog::done(QDialog::Rejected);
}

// Every dialog open in a nested loop returns from it as the stack unwinds;
// their callers check that the run is over before going on.
void RingerDialog::closeOtherWindows(bool boxesToo)
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (!dialog || dialog == this || !dialog->isVisible())
            continue;
        if (!boxesToo && qobject_cast<QMessageBox*>(dialog))
            continue;
        dialog->done(QDialog::Rejected);
    }
}

void RingerDialog::connectFailedWith(const std::string& failure)
{
    if (options().serverChosen) {
        RingerShell::connectFailedWith(failure);
        return;
    }
    offerText({failure, 1, [this] { offerAnotherServer(); }});
}

void RingerDialog::offerAnotherServer()
{
    if (!controller().running())
        return;
    Options chosen = options();
    if (askForServer(chosen, chosen.serverHost, chosen.serverPort, this)) {
        connectTo(chosen.serverHost, chosen.serverPort);
        return;
    }
    if (controller().running())
        endUnconnected();
}

bool askForServer(Options& options, const std::string& host, int port, QWidget* parent)
{
    OptionsDialog dialog(parent);
    dialog.askForServerOnly();
    dialog.serverHost = host;
    dialog.serverPort = port;
    dialog.defaultServerHost = kLocalServerHost;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options.serverHost = dialog.serverHost.empty() ? kLocalServerHost : dialog.serverHost;
    options.serverPort = dialog.serverPort;
    SavedSettings saved = loadSettings().settings;
    saved.serverHost = options.serverHost;
    saved.serverPort = options.serverPort;
    saveSettings(saved);
    return true;
}

void RingerDialog::reject()
{
    userEndsRun();
}

TowerChoice RingerDialog::askForTower(const TowerList& towers, bool)
{
    // Its request for a selection waits its turn with every other text. The
    // choice may open over a box (the list came while it was open): texts
    // then show over the choice, not behind it.
    TowerDialog dialog(towers, topWindow(), [this](const std::string& text) { showMessage(text); });
    const bool boxBeneath = std::exchange(boxOpen, false);
    const int result = dialog.exec();
    boxOpen = boxBeneath;
    if (result != QDialog::Accepted)
        return TowerChoice::cancel();
    return TowerChoice::join(dialog.selectedTower);
}

// ---------------------------------------------------------------------------
// The bell a person rings

// Bells chosen, or dropped, while a touch is rung take effect with the next:
// until then the keys go on striking the bells in force.
void RingerDialog::setPersonBells(const PersonBells& bells)
{
    RingerShell::setPersonBells(bells);
    const auto& hands = controller().ringing().hands;
    if (bells[0] != 0 && (bells[0] != hands[0].bell || bells[1] != hands[1].bell))
        personStrip->showNote(bells[1] != 0
                                  ? tr("Bells %1 and %2 are yours from the next touch").arg(bells[0]).arg(bells[1])
                                  : tr("Bell %1 is yours from the next touch").arg(bells[0]));
    showPersonStrip();
}

void RingerDialog::heardCall(const std::string& words)
{
    showElided(callView, latin1Text(words).simplified(), lastChangesView->width());
    callShown.start();
}

// The call goes to the server only: it is obeyed when the server relays it
// back, as everyone's is. Why it could not be sent is said once, not at
// every press.
void RingerDialog::makeCall(const char* words)
{
    const std::string notSent = controller().sendPersonsCall(words);
    if (notSent == std::exchange(callNotSentSaid, notSent) || notSent.empty())
        return;
    showInStatusLine(notSent);
}

void RingerDialog::showPersonPath(const PersonPath& path)
{
    personStrip->showPath(path);
    showPersonStrip();
}

void RingerDialog::showPersonStrip()
{
    personStrip->setVisible(hasPersonBell());
}

bool RingerDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (takeKey(watched, event))
        return true;
    return QDialog::eventFilter(watched, event);
}

// A key for this window, whichever of its widgets has the focus; never one
// meant for a box, dialog or menu over it, where the letters are typed.
bool RingerDialog::takeKey(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowDeactivate && watched == this) {
        // Keys let go in another window are never heard here.
        releaseKeys();
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activePopupWidget())
        return false;
    const auto& keyEvent = static_cast<const QKeyEvent&>(*event);
    const auto bell = controller().ringing().hands[0].bell != 0 ? bellKey(keyEvent) : std::nullopt;
    const CallKey* call = bell ? nullptr : callKey(keyEvent);
    if (!bell && !call)
        return false;
    // Taken before any shortcut or widget sees it; the first widget it is
    // sent to is the last, as it goes no further.
    if (type == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    const bool down = type == QEvent::KeyPress;
    const bool repeat = isRepeat(keyEvent);
    if (bell) {
        controller().keyPressed(*bell, down, repeat);
        return true;
    }
    // A key held down calls once, even when its release went to another window.
    if (!down) {
        if (!repeat)
            callKeysHeld.erase(keyEvent.key());
    } else if (!repeat && callKeysHeld.insert(keyEvent.key()).second) {
        makeCall(call->words);
    }
    return true;
}

// X repeats a held key as a release and a press at one instant, which Qt
// does not always mark as a repeat: such a press is a repeat all the same.
bool RingerDialog::isRepeat(const QKeyEvent& event)
{
    if (event.isAutoRepeat())
        return true;
    const auto at = static_cast<unsigned long>(event.timestamp());
    if (event.type() == QEvent::KeyRelease) {
        keyReleasedAt[event.key()] = at;
        return false;
    }
    const auto released = keyReleasedAt.find(event.key());
    return at != 0 && released != keyReleasedAt.end() && at == released->second;
}

void RingerDialog::releaseKeys()
{
    for (const auto key : {KeyEvent::Key::Space, KeyEvent::Key::J, KeyEvent::Key::F})
        controller().keyPressed(key, false, false);
    callKeysHeld.clear();
}

// One chart window at a time, showing the latest chart.
ChartWindow* RingerDialog::openStrikingChart()
{
    if (strikingChart.empty())
        return nullptr;
    if (!chartWindow)
        chartWindow = new ChartWindow(this);
    chartWindow->setAttribute(Qt::WA_DeleteOnClose);
    if (!chartWindow->showChart(QByteArray::fromStdString(strikingChart))) {
        showMessage("The striking chart could not be drawn.");
        return nullptr;
    }
    chartWindow->show();
    chartWindow->raise();
    return chartWindow;
}

#include "ui/SettingsWindowController.h"

#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Geo.h"
#include "schedule/Scheduler.h"
#include "schedule/SolarCalc.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/WebAddress.h"
#include "ui/FlippedView.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSysInfo>
#include <QTextLayout>
#include <QTimer>

#include <cmath>
#include <unordered_map>

namespace {

// The fill of the credits link and the report button: a dark red.
QColor darkRed()
{
    return QColor::fromRgbF(0.3f, 0.05f, 0.05f, 1.0f);
}

const char* const kAuthorSite = "marren.dev";

// At most `maxLines` lines of `text` wrapped at word boundaries within `width`; the rest is
// left out, as a two-line label cuts it.
QString firstLines(const QString& text, const QFont& font, qreal width, int maxLines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (int i = 0; i < maxLines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    const bool cut = layout.createLine().isValid();
    layout.endLayout();
    return cut ? lines.join(QLatin1Char('\n')) : text;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

}  // namespace

SettingsWindowController& SettingsWindowController::shared()
{
    static auto* instance = new SettingsWindowController;
    return *instance;
}

SettingsWindowController::SettingsWindowController(QObject* parent)
    : QObject(parent)
    , openURL([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
}

SettingsWindowController::~SettingsWindowController()
{
    NotificationCenter::shared().removeObservers(this);
    if (keyMonitor_ && qApp)
        qApp->removeEventFilter(this);
    delete window_.data();
}

void SettingsWindowController::show()
{
    if (!window_) {
        auto* window = new QWidget(nullptr,
            Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        window->setObjectName(QStringLiteral("settingsWindow"));
        window->setWindowTitle(QStringLiteral("Ambrano"));
        window->setFixedSize(W, H);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, Theme::veskBlack());
        window->setPalette(palette);
        window->setAutoFillBackground(true);
        // Closing only hides it; it is kept for the life of the process.
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->installEventFilter(this);

        auto* content = new FlippedView(window);
        content->setGeometry(0, 0, W, H);
        content->setAutoFillBackground(true);
        content->setPalette(palette);

        window_ = window;
        content_ = content;
        NotificationCenter::shared().addObserver(QString::fromLatin1(Localization::didChange), this, [this] { rebuild(); });
    }

    rebuild();

    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window_->move(area.x() + (area.width() - W) / 2, area.y() + (area.height() - H) / 2);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QLabel* SettingsWindowController::makeLabel(
    const QString& text, qreal size, int weight, const QColor& color, int x, int y, int w, int h)
{
    auto* label = new QLabel(text, content_);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFont(Theme::systemFont(size, static_cast<QFont::Weight>(weight)));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(x, y, w, h);
    label->show();
    return label;
}

QCheckBox* SettingsWindowController::makeCheck(
    const QString& title, bool on, void (SettingsWindowController::*action)(const QCheckBox*))
{
    auto* check = new QCheckBox(QStringLiteral("  ") + title, content_);
    check->setChecked(on);
    // Drawn light on the dark window.
    check->setFont(Theme::systemFont(12, QFont::Normal));
    QPalette palette = check->palette();
    palette.setColor(QPalette::WindowText, Theme::veskWhite());
    palette.setColor(QPalette::ButtonText, Theme::veskWhite());
    check->setPalette(palette);
    connect(check, &QCheckBox::clicked, this, [this, check, action] { (this->*action)(check); });
    check->show();
    return check;
}

void SettingsWindowController::rebuild()
{
    if (!window_ || !content_)
        return;

    // The old controls go at once from the window; one of them may be the sender of the
    // click that led here, so each is deleted only once control is back in the event loop.
    const QList<QWidget*> old = content_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : old) {
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }
    flags_.clear();
    ++buildCount_;

    const int x = pad;
    const QColor white = Theme::veskWhite();
    const QColor gray = Theme::veskGray();

    makeLabel(QStringLiteral("Ambrano — ") + L(QStringLiteral("settings")), 16, Theme::heavy, Theme::veskRed(), x, 18, cw, 24)
        ->setObjectName(QStringLiteral("title"));

    makeLabel(L(QStringLiteral("language")).toUpper(), 10, Theme::heavy, gray, x, 58, cw, 14)
        ->setObjectName(QStringLiteral("languageHeader"));
    const Lang current = Localization::shared().lang();
    const QString flagTitles[] = {QStringLiteral("🇪🇸"), QStringLiteral("🇬🇧"), QStringLiteral("🇦🇩")};
    int i = 0;
    for (Lang lang : allLangs()) {
        auto* button = new VeskFlatButton(flagTitles[i], content_);
        button->setFlagMode(true);
        button->setBg(Theme::veskBlack());
        button->setFontSize(17);
        button->setActive(lang == current);
        button->updateTitle();
        button->setGeometry(x + i * 42, 76, 36, 30);
        button->setObjectName(QStringLiteral("flag_") + rawValue(lang));
        connect(button, &QAbstractButton::clicked, this, [this, button] { flagTapped(button); });
        button->show();
        flags_.push_back({button, lang});
        ++i;
    }

    makeLabel(L(QStringLiteral("general")).toUpper(), 10, Theme::heavy, gray, x, 124, cw, 14)
        ->setObjectName(QStringLiteral("generalHeader"));
    dimCheck_ = makeCheck(L(QStringLiteral("extreme_dim")), AppSettings::extremeDim(), &SettingsWindowController::dimToggled);
    dimCheck_->setGeometry(x, 146, cw, 22);
    dimCheck_->setObjectName(QStringLiteral("dimCheck"));

    hkLabel_ = makeLabel(QString(), 12, QFont::Normal, white, x, 176, 302, 18);
    hkLabel_->setObjectName(QStringLiteral("hkLabel"));
    recordButton_ = new VeskFlatButton(L(QStringLiteral("record")), content_);
    recordButton_->setBg(Theme::veskPanel());
    recordButton_->setFontSize(11);
    recordButton_->updateTitle();
    recordButton_->setGeometry(332, 172, 84, 24);
    recordButton_->setObjectName(QStringLiteral("recordButton"));
    connect(recordButton_, &QAbstractButton::clicked, this, [this] { toggleRecord(); });
    recordButton_->show();
    // A recording under way goes on through a rebuild; the new controls say so.
    if (recording_) {
        recordButton_->setTitleStr(QStringLiteral("✕"));
        hkLabel_->setText(L(QStringLiteral("hotkey")) + QStringLiteral(":  ") + L(QStringLiteral("recording")));
    } else {
        hkLabel_->setText(hotKeyLine());
    }

    makeLabel(L(QStringLiteral("auto_short")), 10, Theme::heavy, gray, x, 212, cw, 14)
        ->setObjectName(QStringLiteral("autoHeader"));
    autoCheck_ = makeCheck(L(QStringLiteral("auto_schedule")), AppSettings::autoSchedule(), &SettingsWindowController::autoToggled);
    autoCheck_->setGeometry(x, 232, cw, 22);
    autoCheck_->setObjectName(QStringLiteral("autoCheck"));
    useSolarCheck_ = makeCheck(L(QStringLiteral("use_solar")), AppSettings::useSolar(), &SettingsWindowController::solarToggled);
    useSolarCheck_->setGeometry(x, 256, cw, 22);
    useSolarCheck_->setObjectName(QStringLiteral("useSolarCheck"));

    auto* detect = new VeskFlatButton(L(QStringLiteral("detect_location")), content_);
    detect->setBg(Theme::veskPanel());
    detect->setFontSize(11);
    detect->updateTitle();
    detect->setGeometry(x, 282, 150, 24);
    detect->setObjectName(QStringLiteral("detectButton"));
    connect(detect, &QAbstractButton::clicked, this, [this] { detectLocationTapped(); });
    detect->show();
    locLabel_ = makeLabel(locationStatus(), 11, QFont::Normal, gray, 186, 284, 230, 18);
    locLabel_->setObjectName(QStringLiteral("locLabel"));

    makeLabel(L(QStringLiteral("schedule_hours")), 11, QFont::Normal, gray, x, 320, cw, 16)
        ->setObjectName(QStringLiteral("hoursHeader"));
    const QString columnKeys[] = {QStringLiteral("day"), QStringLiteral("evening"), QStringLiteral("night")};
    const int hours[] = {AppSettings::dayStart(), AppSettings::eveningStart(), AppSettings::nightStart()};
    QStringList items;
    for (int hour = 0; hour < 24; ++hour)
        items << QString::asprintf("%02d:00", hour);
    for (int column = 0; column < 3; ++column) {
        const int left = qRound(x + column * cw / 3.0);
        makeLabel(L(columnKeys[column]), 10, Theme::heavy, white, left, 344, qRound(cw / 3.0), 14)
            ->setObjectName(QStringLiteral("hourLabel%1").arg(column));
        auto* popup = new QComboBox(content_);
        popup->addItems(items);
        popup->setCurrentIndex(hours[column]);
        popup->setEditable(false);
        popup->setProperty("tag", column);
        popup->setGeometry(left, 360, 78, 24);
        popup->setObjectName(QStringLiteral("hourPopup%1").arg(column));
        connect(popup, &QComboBox::activated, this, [this, popup] { hourChanged(popup); });
        popup->show();
    }

    makeLabel(QStringLiteral("MARREN"), 10, Theme::heavy, gray, x, 404, cw, 14)->setObjectName(QStringLiteral("author"));
    const Tips::About about = Tips::shared().aboutInfo();
    aboutURL_ = about.url;
    const QFont creditsFont = Theme::systemFont(13, Theme::medium);
    QLabel* credits = makeLabel(firstLines(about.text, creditsFont, cw, 2), 13, Theme::medium, white, x, 424, cw, 40);
    credits->setWordWrap(true);
    credits->setObjectName(QStringLiteral("credits"));

    auto* link = new VeskFlatButton(QString::fromLatin1(kAuthorSite) + QStringLiteral("  ↗"), content_);
    link->setBg(darkRed());
    link->setFontSize(12);
    link->updateTitle();
    link->setGeometry(x, 470, 150, 28);
    link->setObjectName(QStringLiteral("aboutLink"));
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QAbstractButton::clicked, this, [this] { openAbout(); });
    link->show();

    feedbackButton_ = new VeskFlatButton(L(QStringLiteral("copy_feedback")), content_);
    feedbackButton_->setBg(darkRed());
    feedbackButton_->setFontSize(11);
    feedbackButton_->updateTitle();
    feedbackButton_->setGeometry(x, 524, cw, 38);
    feedbackButton_->setObjectName(QStringLiteral("feedbackButton"));
    connect(feedbackButton_, &QAbstractButton::clicked, this, [this] { copyFeedback(); });
    feedbackButton_->show();

    QLabel* body = makeLabel(L(QStringLiteral("about_body")), 10, QFont::Normal, gray, x, 576, cw, 60);
    body->setWordWrap(true);
    body->setObjectName(QStringLiteral("aboutBody"));
}

void SettingsWindowController::flagTapped(const VeskFlatButton* sender)
{
    for (const Flag& flag : flags_) {
        if (flag.btn && flag.btn.data() == sender) {
            Localization::shared().set(flag.lang);
            return;
        }
    }
}

void SettingsWindowController::dimToggled(const QCheckBox* sender)
{
    AppSettings::setExtremeDim(sender->isChecked());
}

void SettingsWindowController::autoToggled(const QCheckBox* sender)
{
    AppSettings::setAutoSchedule(sender->isChecked());
    Scheduler::shared().refresh();
}

void SettingsWindowController::solarToggled(const QCheckBox* sender)
{
    AppSettings::setUseSolar(sender->isChecked());
    if (AppSettings::useSolar() && !AppSettings::hasLocation())
        startLocationLookup();
    // Until a location arrives the schedule runs on the fixed hours.
    Scheduler::shared().refresh();
}

void SettingsWindowController::detectLocationTapped()
{
    startLocationLookup();
}

void SettingsWindowController::startLocationLookup()
{
    if (locLabel_)
        locLabel_->setText(L(QStringLiteral("detecting")));
    QPointer<SettingsWindowController> self(this);
    Geo::detect([self](bool ok) {
        if (self && self->locLabel_)
            self->locLabel_->setText(self->locationStatus());
        if (ok)
            Scheduler::shared().refresh();
    });
}

void SettingsWindowController::hourChanged(const QComboBox* sender)
{
    const int hour = sender->currentIndex();
    switch (sender->property("tag").toInt()) {
    case 0:
        AppSettings::setDayStart(hour);
        break;
    case 1:
        AppSettings::setEveningStart(hour);
        break;
    default:
        AppSettings::setNightStart(hour);
        break;
    }
    Scheduler::shared().refresh();
}

void SettingsWindowController::openAbout()
{
    if (!aboutURL_)
        return;
    const QUrl url(*aboutURL_, QUrl::StrictMode);
    if (!isWebAddress(url))
        return;
    if (openURL)
        openURL(url);
}

void SettingsWindowController::copyFeedback()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(feedbackBundle());
    if (feedbackButton_)
        feedbackButton_->setTitleStr(L(QStringLiteral("copied")));
    QPointer<SettingsWindowController> self(this);
    QTimer::singleShot(copiedResetMs, this, [self] {
        if (self && self->feedbackButton_)
            self->feedbackButton_->setTitleStr(L(QStringLiteral("copy_feedback")));
    });
}

QString SettingsWindowController::hotKeyLine() const
{
    // A shortcut nothing can deliver is not shown as if it worked.
    const HotKey& hotKey = HotKey::shared();
    return L(QStringLiteral("hotkey")) + QStringLiteral(":  ")
        + (hotKey.canGrab() ? hotKey.label() : L(QStringLiteral("hotkey_unavailable")));
}

QString SettingsWindowController::locationStatus() const
{
    if (!AppSettings::hasLocation())
        return L(QStringLiteral("no_location"));
    const QString place = QStringLiteral("📍 ") + AppSettings::locationName();
    const auto times = SolarCalc::sunTimes(AppSettings::latitude(), AppSettings::longitude(), QDateTime::currentDateTime());
    if (!times)
        return place;
    const QString pattern = QStringLiteral("HH:mm");
    return place + QStringLiteral("  ☀ ") + times->sunrise.toLocalTime().toString(pattern) + QStringLiteral("  🌙 ")
        + times->sunset.toLocalTime().toString(pattern);
}

// Recording a shortcut.

void SettingsWindowController::toggleRecord()
{
    if (recording_) {
        stopRecording();
        return;
    }
    recording_ = true;
    if (recordButton_)
        recordButton_->setTitleStr(QStringLiteral("✕"));
    if (hkLabel_)
        hkLabel_->setText(L(QStringLiteral("hotkey")) + QStringLiteral(":  ") + L(QStringLiteral("recording")));
    // Sees every key press sent to this application, whichever window has the focus.
    qApp->installEventFilter(this);
    keyMonitor_ = true;
}

void SettingsWindowController::stopRecording()
{
    recording_ = false;
    if (keyMonitor_) {
        qApp->removeEventFilter(this);
        keyMonitor_ = false;
    }
    if (recordButton_)
        recordButton_->setTitleStr(L(QStringLiteral("record")));
    if (hkLabel_)
        hkLabel_->setText(hotKeyLine());
}

bool SettingsWindowController::eventFilter(QObject* watched, QEvent* event)
{
    // A closed window stops a recording: no key of the application would get through.
    if (watched == window_ && event->type() == QEvent::Hide && recording_)
        stopRecording();

    if (!keyMonitor_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so no shortcut of the application fires; the press follows as a key press.
        event->accept();
        return true;
    case QEvent::KeyPress:
        handleRecordedKey(*static_cast<QKeyEvent*>(event));
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void SettingsWindowController::handleRecordedKey(const QKeyEvent& key)
{
    if (key.key() == Qt::Key_Escape) {
        stopRecording();
        return;
    }
    // Only the device-independent part of the flags counts.
    const std::uint32_t mods = HotKey::carbonMods(modifierFlags(key.modifiers()) & 0xFFFF0000u);
    const std::optional<std::uint32_t> code
        = key.modifiers().testFlag(Qt::KeypadModifier) ? std::nullopt : virtualKeyCode(key.key());
    // A key without modifier, a modifier alone, or a key no shortcut can use: keep waiting.
    if (mods == 0 || !code)
        return;
    HotKey::shared().rebind(*code, mods);
    stopRecording();
}

std::uint64_t SettingsWindowController::modifierFlags(Qt::KeyboardModifiers modifiers)
{
    std::uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= ModifierFlag::shift;
    if (modifiers & Qt::ControlModifier)
        flags |= ModifierFlag::control;
    if (modifiers & Qt::AltModifier)
        flags |= ModifierFlag::option;
    // Qt on X11 reports Super as Meta.
    if (modifiers & Qt::MetaModifier)
        flags |= ModifierFlag::command;
    return flags;
}

std::optional<std::uint32_t> SettingsWindowController::virtualKeyCode(int qtKey)
{
    static const std::unordered_map<int, std::uint32_t> codes = {
        {Qt::Key_A, 0}, {Qt::Key_B, 11}, {Qt::Key_C, 8}, {Qt::Key_D, 2}, {Qt::Key_E, 14}, {Qt::Key_F, 3},
        {Qt::Key_G, 5}, {Qt::Key_H, 4}, {Qt::Key_I, 34}, {Qt::Key_J, 38}, {Qt::Key_K, 40}, {Qt::Key_L, 37},
        {Qt::Key_M, 46}, {Qt::Key_N, 45}, {Qt::Key_O, 31}, {Qt::Key_P, 35}, {Qt::Key_Q, 12}, {Qt::Key_R, 15},
        {Qt::Key_S, 1}, {Qt::Key_T, 17}, {Qt::Key_U, 32}, {Qt::Key_V, 9}, {Qt::Key_W, 13}, {Qt::Key_X, 7},
        {Qt::Key_Y, 16}, {Qt::Key_Z, 6},
        {Qt::Key_0, 29}, {Qt::Key_1, 18}, {Qt::Key_2, 19}, {Qt::Key_3, 20}, {Qt::Key_4, 21}, {Qt::Key_5, 23},
        {Qt::Key_6, 22}, {Qt::Key_7, 26}, {Qt::Key_8, 28}, {Qt::Key_9, 25},
        // With Shift held Qt names the shifted symbol; these are its key on a US keyboard.
        {Qt::Key_ParenRight, 29}, {Qt::Key_Exclam, 18}, {Qt::Key_At, 19}, {Qt::Key_NumberSign, 20},
        {Qt::Key_Dollar, 21}, {Qt::Key_Percent, 23}, {Qt::Key_AsciiCircum, 22}, {Qt::Key_Ampersand, 26},
        {Qt::Key_Asterisk, 28}, {Qt::Key_ParenLeft, 25},
        {Qt::Key_Minus, 27}, {Qt::Key_Underscore, 27}, {Qt::Key_Equal, 24}, {Qt::Key_Plus, 24},
        {Qt::Key_BracketLeft, 33}, {Qt::Key_BraceLeft, 33}, {Qt::Key_BracketRight, 30}, {Qt::Key_BraceRight, 30},
        {Qt::Key_Semicolon, 41}, {Qt::Key_Colon, 41}, {Qt::Key_Apostrophe, 39}, {Qt::Key_QuoteDbl, 39},
        {Qt::Key_Backslash, 42}, {Qt::Key_Bar, 42}, {Qt::Key_Comma, 43}, {Qt::Key_Less, 43},
        {Qt::Key_Period, 47}, {Qt::Key_Greater, 47}, {Qt::Key_Slash, 44}, {Qt::Key_Question, 44},
        {Qt::Key_QuoteLeft, 50}, {Qt::Key_AsciiTilde, 50},
        {Qt::Key_Space, 49}, {Qt::Key_Return, 36}, {Qt::Key_Tab, 48}, {Qt::Key_Backtab, 48},
        {Qt::Key_Backspace, 51}, {Qt::Key_Delete, 117}, {Qt::Key_Escape, 53},
        {Qt::Key_Left, 123}, {Qt::Key_Right, 124}, {Qt::Key_Down, 125}, {Qt::Key_Up, 126},
        {Qt::Key_Home, 115}, {Qt::Key_End, 119}, {Qt::Key_PageUp, 116}, {Qt::Key_PageDown, 121},
        {Qt::Key_F1, 122}, {Qt::Key_F2, 120}, {Qt::Key_F3, 99}, {Qt::Key_F4, 118}, {Qt::Key_F5, 96},
        {Qt::Key_F6, 97}, {Qt::Key_F7, 98}, {Qt::Key_F8, 100}, {Qt::Key_F9, 101}, {Qt::Key_F10, 109},
        {Qt::Key_F11, 103}, {Qt::Key_F12, 111},
    };
    const auto it = codes.find(qtKey);
    if (it == codes.end())
        return std::nullopt;
    return it->second;
}

// The support report.

QString SettingsWindowController::feedbackBundle()
{
    const QString version = QStringLiteral(AMBRANO_VERSION);
    QString report = QStringLiteral("Ambrano (por Marren) ") + (version.isEmpty() ? QStringLiteral("?") : version);
    report += QStringLiteral("\nPlatform: ") + QSysInfo::prettyProductName() + QStringLiteral(" (")
        + QSysInfo::currentCpuArchitecture() + QStringLiteral(")\nDisplays:\n");

    QStringList displayLines;
    VeskEngine& engine = VeskEngine::shared();
    if (DisplayServices* displays = engine.displayServices()) {
        for (DisplayID id : displays->activeDisplays()) {
            displayLines << QStringLiteral("  - %1 %2 %3x%4")
                                .arg(id)
                                .arg(displays->isBuiltin(id) ? QStringLiteral("builtin") : QStringLiteral("external"))
                                .arg(displays->pixelsWide(id))
                                .arg(displays->pixelsHigh(id));
        }
    }
    report += displayLines.join(QLatin1Char('\n'));

    report += QStringLiteral("\nPWM-safe available: ") + boolText(PWMSafe::shared().available())
        + QStringLiteral("   DDC available: ") + boolText(DDC::shared().available());
    report += QStringLiteral("\nSettings: warmth=%1 brightness=%2")
                  .arg(static_cast<long long>(std::trunc(engine.warmth())))
                  .arg(static_cast<long long>(std::trunc(engine.brightness())));
    report += QStringLiteral(" on=") + boolText(engine.enabled()) + QStringLiteral(" pwm=") + boolText(engine.pwmSafe)
        + QStringLiteral(" extremeDim=") + boolText(AppSettings::extremeDim()) + QStringLiteral(" lang=")
        + rawValue(Localization::shared().lang());
    report += QStringLiteral("\n--- log ---\n") + EventLog::shared().dump();
    return report;
}

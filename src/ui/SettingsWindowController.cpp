#include "ui/SettingsWindowController.h"

#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Geo.h"
#include "schedule/Scheduler.h"
#include "schedule/SolarCalc.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/KeyCodes.h"
#include "system/SupportReport.h"
#include "system/WebAddress.h"
#include "ui/FlippedView.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTextLayout>
#include <QTimer>

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

// Qt's modifiers in the window system's flag bits that HotKey::carbonMods reads.
std::uint64_t modifierFlags(Qt::KeyboardModifiers modifiers)
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

// The key the user pressed, never the character Shift or the layout made of it: the hot-key
// service reads the hardware key at its unshifted level. An event without a key number
// (synthetic, or another platform) is read by its keysym, except a shifted character that
// is not a letter: which key made it depends on the layout.
std::optional<std::uint32_t> recordedKeyCode(const QKeyEvent& key)
{
    if (key.modifiers().testFlag(Qt::KeypadModifier))
        return std::nullopt;
    if (key.nativeScanCode() != 0)
        return HotKey::shared().keyCodeForNativeKey(key.nativeScanCode(), key.nativeModifiers());
    const quint32 sym = key.nativeVirtualKey();
    const bool letter = (sym >= 'A' && sym <= 'Z') || (sym >= 'a' && sym <= 'z');
    if (sym == 0 || (key.modifiers().testFlag(Qt::ShiftModifier) && sym < 0x100 && !letter))
        return std::nullopt;
    if (const auto found = KeyCodes::byKeysym(sym))
        return found->code;
    return std::nullopt;
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
    hkTakenLabel_ = makeLabel(QString(), 10, QFont::Normal, Theme::veskRed(), x, 196, cw, 14);
    hkTakenLabel_->setObjectName(QStringLiteral("hkTakenLabel"));
    // A recording under way goes on through a rebuild; the new controls say so.
    if (recording_)
        recordButton_->setTitleStr(QStringLiteral("✕"));
    showHotKey();

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
    clipboard->setText(SupportReport::text());
    if (feedbackButton_)
        feedbackButton_->setTitleStr(L(QStringLiteral("copied")));
    QPointer<SettingsWindowController> self(this);
    QTimer::singleShot(copiedResetMs, this, [self] {
        if (self && self->feedbackButton_)
            self->feedbackButton_->setTitleStr(L(QStringLiteral("copy_feedback")));
    });
}

void SettingsWindowController::showHotKey()
{
    const QString prefix = L(QStringLiteral("hotkey")) + QStringLiteral(":  ");
    if (hkLabel_) {
        // A shortcut nothing can deliver is not shown as if it worked.
        const QString shown = HotKey::shared().canGrab() ? HotKey::shared().label() : L(QStringLiteral("hotkey_unavailable"));
        const QString text = prefix + (recording_ ? L(QStringLiteral("recording")) : shown);
        // Four modifier names and a long key name do not fit at the usual size.
        QFont font = Theme::systemFont(12, QFont::Normal);
        for (qreal size = 11; size >= 9 && QFontMetricsF(font).horizontalAdvance(text) > hkLabel_->width(); --size)
            font = Theme::systemFont(size, QFont::Normal);
        hkLabel_->setFont(font);
        hkLabel_->setText(text);
    }
    if (!hkTakenLabel_)
        return;
    const auto refused = HotKey::shared().refused();
    hkTakenLabel_->setText(refused && !recording_
            ? L(QStringLiteral("hotkey_taken")).replace(QStringLiteral("%@"), HotKey::describe(refused->first, refused->second))
            : QString());
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
    showHotKey();
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
    showHotKey();
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
    const std::uint32_t mods = HotKey::carbonMods(modifierFlags(key.modifiers()));
    const std::optional<std::uint32_t> code = recordedKeyCode(key);
    // A key without modifier, a modifier alone, or a key no shortcut can use: keep waiting.
    if (mods == 0 || !code)
        return;
    // A combination another program holds is not taken; the line below the shortcut says so.
    HotKey::shared().rebind(*code, mods);
    stopRecording();
}

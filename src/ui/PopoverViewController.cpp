#include "ui/PopoverViewController.h"

#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Scheduler.h"
#include "system/ConflictDetector.h"
#include "system/WebAddress.h"
#include "ui/ClickableArea.h"
#include "ui/DisplayWarning.h"
#include "ui/FlippedView.h"
#include "ui/MiniToggle.h"
#include "ui/RoundedImageView.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"
#include "ui/VeskSlider.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QEvent>
#include <QFontMetricsF>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPalette>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

const QString kAuthor = QStringLiteral("Marren");
const QString kProductName = QStringLiteral("Ambrano");

// Content column.
constexpr int left = 20;
constexpr int columnWidth = 332;
constexpr int columnRight = left + columnWidth;

// Bottom area.
constexpr int bottomTop = 560;
constexpr int imageSide = 66;
constexpr int besideImageX = 98;
constexpr int besideImageWidth = 254;
constexpr int barHeight = 24;
constexpr int barPitch = 30;  // bar plus its 6-pixel gap
constexpr int bottomMargin = 10;

// A decoded tip image may take at most this much memory (a small file can describe a huge
// picture).
constexpr int imageAllocationLimitMiB = 64;
constexpr int maxCachedImageSide = 3 * imageSide;

QColor amber() { return QColor::fromRgbF(0.55f, 0.28f, 0.0f); }

// Frames are given with fractional edges; widgets sit on whole pixels. Rounding both edges
// (not the width) keeps neighbours' gaps and a right edge at the column's end exact.
QRect frame(double x, double y, double w, double h)
{
    const int x0 = static_cast<int>(std::lround(x));
    const int y0 = static_cast<int>(std::lround(y));
    return QRect(x0, y0, static_cast<int>(std::lround(x + w)) - x0, static_cast<int>(std::lround(y + h)) - y0);
}

void setTextColor(QLabel* label, const QColor& color)
{
    if (!label)
        return;
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    label->setPalette(pal);
}

QString flagEmoji(char a, char b)
{
    // Two regional indicator symbols.
    const char32_t codes[] = {0x1F1E6u + static_cast<char32_t>(a - 'A'), 0x1F1E6u + static_cast<char32_t>(b - 'A')};
    return QString::fromUcs4(codes, 2);
}

// Height of a wrapped text in the label's font at the given width, with 4 pixels to spare.
int textHeight(const QLabel* label, int width, Qt::Alignment alignment)
{
    if (!label)
        return 40;
    const QFontMetricsF metrics(label->font());
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, width, 1e6), int(alignment) | Qt::TextWordWrap, label->text());
    return static_cast<int>(std::ceil(bounds.height())) + 4;
}

}  // namespace

PopoverViewController::Services PopoverViewController::Services::shared()
{
    Services s;
    s.engine = &VeskEngine::shared();
    s.pwmSafe = &PWMSafe::shared();
    s.tips = &Tips::shared();
    s.scheduler = &Scheduler::shared();
    s.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    return s;
}

PopoverViewController::PopoverViewController(Services services, QObject* parent)
    : QObject(parent)
    , services_(std::move(services))
    , network_(new QNetworkAccessManager(this))
{
}

PopoverViewController::~PopoverViewController()
{
    // The views call back into this controller; they go with it.
    if (root_) {
        root_->removeEventFilter(this);
        delete root_.data();
    }
}

double PopoverViewController::dayWarmth() { return VeskEngine::warmthForKelvin(4000); }
double PopoverViewController::eveningWarmth() { return VeskEngine::warmthForKelvin(2700); }

std::pair<QString, QString> PopoverViewController::creditsParts(const QString& subtitle)
{
    const qsizetype at = subtitle.indexOf(kAuthor);
    if (at >= 0)
        return {subtitle.left(at), kAuthor};
    return {subtitle + u' ', kAuthor};
}

QString PopoverViewController::twoLineCaption(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == u' ')
        ++start;
    const QString rest = text.mid(start);
    const qsizetype blank = rest.indexOf(u' ');
    if (blank < 0)
        return rest;
    return rest.left(blank) + u'\n' + rest.mid(blank + 1);
}

QString PopoverViewController::percentText(double value)
{
    // The C library's rounding (62.5 gives 62), not Qt's own formatter's (63).
    char text[32];
    std::snprintf(text, sizeof text, "%.0f%%", value);
    return QString::fromLatin1(text);
}

double PopoverViewController::titleFontSize()
{
    const double w = QFontMetricsF(Theme::systemFont(100, Theme::heavy)).horizontalAdvance(kProductName);
    if (w <= 0)
        return 24.0;
    return std::min(232.0 / w * 100.0, 24.0);
}

FlippedView* PopoverViewController::view()
{
    if (!root_)
        loadView();
    return root_;
}

void PopoverViewController::loadView()
{
    root_ = new FlippedView;
    rootObject_ = root_.data();
    connect(root_, &QObject::destroyed, this, [this] { rootObject_ = nullptr; });
    root_->setObjectName(QStringLiteral("popoverRoot"));
    root_->resize(width, initialHeight);
    root_->setAutoFillBackground(true);
    QPalette pal = root_->palette();
    pal.setColor(QPalette::Window, Theme::veskBlack());
    root_->setPalette(pal);
    root_->installEventFilter(this);
    preferredSize_ = QSize(width, initialHeight);

    build();
    refresh();

    QPointer<PopoverViewController> self(this);
    services_.engine->onWarmthAnim = [self](double w) {
        if (!self || !self->warmthSlider_)
            return;
        self->warmthSlider_->setDoubleValue(w);
        if (self->warmthValue_)
            self->warmthValue_->setText(percentText(w));
        self->setPresetHighlights(self->services_.engine->warmth());
    };

    NotificationCenter& center = NotificationCenter::shared();
    center.addObserver(QString::fromLatin1(Localization::didChange), this, [self] {
        if (self)
            self->relocalize();
    });
    center.addObserver(QString::fromLatin1(AppSettings::didChange), this, [self] {
        if (self)
            self->settingsChanged();
    });
    center.addObserver(QString::fromLatin1(NotificationName::veskPWMState), this, [self] {
        if (self)
            self->refresh();
    });
    center.addObserver(QString::fromLatin1(NotificationName::veskDisplayProblems), this, [self] {
        if (self)
            self->refresh();
    });
}

bool PopoverViewController::eventFilter(QObject* watched, QEvent* event)
{
    // The root view is shown and hidden with the popup that holds it.
    // By address only: the root may be half destroyed when its last events come.
    if (watched == rootObject_) {
        if (event->type() == QEvent::Show)
            viewWillAppear();
        else if (event->type() == QEvent::Hide)
            viewDidDisappear();
    }
    return QObject::eventFilter(watched, event);
}

void PopoverViewController::clearViews()
{
    // Later, not now: the view whose click started a rebuild (a language flag) is still
    // inside its own event handler.
    const QList<QWidget*> children = root_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }
    presets_.clear();
    flags_.clear();
}

QLabel* PopoverViewController::makeLabel(
    const QString& text, const QFont& font, const QColor& color, Qt::Alignment alignment, QRect geometry)
{
    auto* label = new QLabel(root_);
    label->setTextFormat(Qt::PlainText);  // a tip from the feed is text, never markup
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setAutoFillBackground(false);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setText(text);
    setTextColor(label, color);
    label->setGeometry(geometry);
    label->show();
    return label;
}

void PopoverViewController::build()
{
    clearViews();
    QPointer<PopoverViewController> self(this);
    VeskEngine& engine = *services_.engine;
    const QFont caption = Theme::systemFont(13.75, Theme::heavy);
    const QFont value = Theme::systemFont(13.75, Theme::bold);

    title_ = makeLabel(kProductName, Theme::systemFont(titleFontSize(), Theme::heavy), Theme::veskRed(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(20, 12, 232, 30));

    const QString flagTitles[] = {flagEmoji('E', 'S'), flagEmoji('G', 'B'), flagEmoji('A', 'D')};
    const Lang flagLangs[] = {Lang::es, Lang::en, Lang::ca};
    for (int i = 0; i < 3; ++i) {
        auto* button = new VeskFlatButton(flagTitles[i], root_);
        QPointer<VeskFlatButton> sender(button);
        connect(button, &QAbstractButton::clicked, this, [this, sender] { flagTapped(sender); });
        button->setFlagMode(true);
        button->setBg(Theme::veskBlack());
        button->setFontSize(15);
        button->updateTitle();
        button->setGeometry(260 + 32 * i, 15, 28, 24);
        button->show();
        flags_.push_back({button, flagLangs[i]});
    }

    // Credits: "by " then the underlined name, which is also the link.
    const auto [prefix, name] = creditsParts(L(QStringLiteral("subtitle")));
    const QFont creditsFont = Theme::systemFont(17, Theme::bold);
    subtitle_ = new QLabel(root_);
    subtitle_->setTextFormat(Qt::RichText);
    subtitle_->setTextInteractionFlags(Qt::NoTextInteraction);
    subtitle_->setFont(creditsFont);
    subtitle_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    subtitle_->setText(QStringLiteral("<span style=\"white-space:pre\">%1</span><u>%2</u>")
                           .arg(prefix.toHtmlEscaped(), name.toHtmlEscaped()));
    setTextColor(subtitle_, Theme::veskGray());
    subtitle_->setGeometry(20, 41, 332, 20);
    subtitle_->show();

    const QFontMetricsF creditsMetrics(creditsFont);
    const double pw = creditsMetrics.horizontalAdvance(prefix);
    const double nw = creditsMetrics.horizontalAdvance(name);
    const Tips::About about = services_.tips->aboutInfo();
    authorURL_ = about.url.value_or(QString::fromLatin1(defaultAuthorURL));
    authorLink_ = new ClickableArea(root_);
    authorLink_->setShowLink(true);
    authorLink_->setGeometry(frame(20 + pw, 38, nw + 6, 24));
    // Holds only the address.
    authorLink_->onClick = [open = services_.openURL, address = authorURL_] {
        const QUrl url(address, QUrl::StrictMode);
        if (isWebAddress(url) && open)
            open(url);
    };
    authorLink_->show();

    settingsButton_ = new VeskFlatButton(QStringLiteral("\u2699\uFE0F"), [this] { openSettingsFromPopover(); }, root_);
    settingsButton_->setFlagMode(true);
    settingsButton_->setBg(Theme::veskBlack());
    settingsButton_->setFontSize(17);
    settingsButton_->updateTitle();
    settingsButton_->setGeometry(322, 40, 28, 26);
    settingsButton_->show();

    warmthLabel_ = makeLabel(L(QStringLiteral("warmth")), caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        QRect(20, 110, 150, 16));
    warmthValue_ = makeLabel(QString(), value, Theme::veskRed(), Qt::AlignRight | Qt::AlignVCenter, QRect(242, 110, 110, 16));
    warmthSlider_ = new VeskSlider(root_);
    warmthSlider_->setDoubleRange(0, 100);
    warmthSlider_->setDoubleValue(engine.warmth());
    warmthSlider_->onChange = [this] { warmthChanged(); };
    warmthSlider_->setGeometry(20, 130, 332, 20);
    warmthSlider_->show();

    brightLabel_ = makeLabel(L(QStringLiteral("brightness")), caption, Theme::veskWhite(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(20, 162, 150, 16));
    brightValue_ = makeLabel(QString(), value, Theme::veskRed(), Qt::AlignRight | Qt::AlignVCenter, QRect(242, 162, 110, 16));
    brightSlider_ = new VeskSlider(root_);
    brightSlider_->setDoubleRange(AppSettings::brightnessFloor(), 100);
    brightSlider_->setDoubleValue(engine.brightness());
    brightSlider_->onChange = [this] { brightChanged(); };
    brightSlider_->setGeometry(20, 182, 332, 20);
    brightSlider_->show();

    const std::pair<const char*, double> presetTable[] = {
        {"day", dayWarmth()}, {"evening", eveningWarmth()}, {"night", nightWarmth}};
    for (int i = 0; i < 3; ++i) {
        const QString key = QString::fromLatin1(presetTable[i].first);
        auto* button = new VeskFlatButton(L(key), root_);
        QPointer<VeskFlatButton> sender(button);
        connect(button, &QAbstractButton::clicked, this, [this, sender] { presetTapped(sender); });
        button->setFontSize(13.75);
        button->setCornerRadius(4.5);
        button->updateTitle();
        button->setGeometry(frame(20 + i * 340.0 / 3, 246, 316.0 / 3, 36));
        button->show();
        presets_.push_back({button, key, presetTable[i].second});
    }

    // The two switch rows, centred as a group on the longer caption.
    const QFontMetricsF captionMetrics(caption);
    const QString pwmText = L(QStringLiteral("pwm"));
    const QString autoText = L(QStringLiteral("auto_short"));
    const double longest = std::max(std::floor(captionMetrics.horizontalAdvance(pwmText)),
        std::floor(captionMetrics.horizontalAdvance(autoText)));
    const double sx = (columnWidth - (longest + 58)) * 0.5 + left;

    pwmSwitch_ = new MiniToggle(root_);
    pwmSwitch_->setGeometry(frame(sx, 323, 46, 26));
    pwmSwitch_->onToggle = [self] {
        if (self)
            self->pwmToggled();
    };
    pwmSwitch_->show();
    pwmLabel_ = makeLabel(pwmText, caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        frame(sx + 58, 328, columnRight - (sx + 58), 20));

    autoSwitch_ = new MiniToggle(root_);
    autoSwitch_->setGeometry(frame(sx, 357, 46, 26));
    autoSwitch_->onToggle = [self] {
        if (self)
            self->autoToggled();
    };
    autoSwitch_->show();
    autoLabel_ = makeLabel(autoText, caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        frame(sx + 58, 362, columnRight - (sx + 58), 20));

    themeSwitch_ = new ThemeSwitch(root_);
    themeSwitch_->setGeometry(104, 428, 164, 79);
    themeSwitch_->onToggle = [self] {
        if (self)
            self->themeToggled();
    };
    themeSwitch_->sync(engine.enabled());
    themeSwitch_->show();

    // Two lines each, centred on the switch's middle (y 467.5): 446 to 489.
    const QFont filterFont = Theme::systemFont(17, Theme::heavy);
    filterOffLabel_ = makeLabel(twoLineCaption(L(QStringLiteral("filter_off"))), filterFont, Theme::veskGray(),
        Qt::AlignRight | Qt::AlignVCenter, QRect(6, 446, 94, 43));
    filterOffLabel_->setWordWrap(true);
    filterOnLabel_ = makeLabel(twoLineCaption(L(QStringLiteral("filter_on"))), filterFont, Theme::veskGray(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(272, 446, 94, 43));
    filterOnLabel_->setWordWrap(true);

    flickerBar_ = new VeskFlatButton(QString(), [this] { enablePWM(); }, root_);
    flickerBar_->setBg(amber());
    flickerBar_->setFg(Theme::veskWhite());
    flickerBar_->setFontSize(9);
    flickerBar_->updateTitle();
    flickerBar_->setGeometry(20, bottomTop, columnWidth, barHeight);
    flickerBar_->hide();

    conflictBar_ = new VeskFlatButton(QString(), [this] { veskTapped(); }, root_);
    conflictBar_->setBg(Theme::veskRed());
    conflictBar_->setFontSize(9);
    conflictBar_->updateTitle();
    // It informs; a click does nothing.
    conflictBar_->setEnabled(false);
    conflictBar_->setGeometry(20, bottomTop, columnWidth, barHeight);
    conflictBar_->hide();

    tipLabel_ = makeLabel(QString(), Theme::systemFont(17.8125, Theme::medium), Theme::veskGray(), Qt::AlignHCenter | Qt::AlignTop,
        QRect(20, bottomTop, columnWidth, 40));
    tipLabel_->setWordWrap(true);

    tipImageView_ = new RoundedImageView(root_);
    tipImageView_->setCornerRadius(8);
    tipImageView_->hide();

    tipLinkOverlay_ = new ClickableArea(root_);
    tipLinkOverlay_->onClick = [self] {
        if (self && self->currentLinkURL_)
            self->openLink(*self->currentLinkURL_);
    };
    tipLinkOverlay_->show();

    showMessage(services_.tips->next());
}

void PopoverViewController::setPresetHighlights(double warmth)
{
    for (const Preset& preset : presets_) {
        if (preset.btn)
            preset.btn->setActive(std::abs(warmth - preset.warmth) < 2.0);
    }
}

void PopoverViewController::refresh()
{
    if (!root_)
        return;
    VeskEngine& engine = *services_.engine;
    const double warmth = engine.warmth();
    const bool enabled = engine.enabled();

    warmthValue_->setText(percentText(warmth));
    brightValue_->setText(percentText(engine.brightness()));
    warmthSlider_->setDoubleValue(warmth);
    setPresetHighlights(warmth);
    const Lang current = Localization::shared().lang();
    for (const Flag& flag : flags_) {
        if (flag.btn)
            flag.btn->setActive(flag.lang == current);
    }
    themeSwitch_->sync(enabled);
    setTextColor(filterOffLabel_, enabled ? Theme::veskGray() : Theme::veskWhite());
    setTextColor(filterOnLabel_, enabled ? Theme::veskWhite() : Theme::veskGray());

    pwmSwitch_->setOn(engine.pwmSafe);
    autoSwitch_->setOn(AppSettings::autoSchedule());
    const bool available = services_.pwmSafe->available();
    pwmSwitch_->setEnabled(available);
    setTextColor(pwmLabel_, available ? Theme::veskWhite() : Theme::veskGray());

    QString pwmText = L(QStringLiteral("pwm"));
    if (engine.pwmSafe) {
        const PWMState state = services_.pwmSafe->state();
        if (state == PWMState::unsupported)
            pwmText += QStringLiteral(" \u00B7 ") + L(QStringLiteral("unsupported"));
        else if (state == PWMState::waiting)
            pwmText += QStringLiteral(" \u00B7 ") + L(QStringLiteral("waiting"));
    }
    pwmLabel_->setText(pwmText);

    refreshBars();
    relayoutBottom();
}

void PopoverViewController::refreshBars()
{
    flickerBar_->hide();
    if (!services_.engine->pwmSafe) {
        // Single precision, strict: a level of exactly 0.3 is mild, exactly 0.6 is fine.
        if (const std::optional<float> level = services_.pwmSafe->builtinHardwareBrightness()) {
            if (*level < 0.3f) {
                flickerBar_->setTitleStr(L(QStringLiteral("flicker_severe")));
                flickerBar_->show();
            } else if (*level < 0.6f) {
                flickerBar_->setTitleStr(L(QStringLiteral("flicker_mild")));
                flickerBar_->show();
            }
        }
    }

    // Outputs the guard gave up on: another program keeps writing their colours.
    QStringList taken;
    for (const VeskEngine::DisplayProblem& problem : services_.engine->displayProblems()) {
        if (problem.result == GammaResult::heldByOther)
            taken.append(QString::fromStdString(problem.name));
    }
    const std::optional<QString> name = ConflictDetector::conflicting();
    if (!taken.isEmpty()) {
        const QString outputs = taken.join(QStringLiteral(", "));
        conflictBar_->setTitleStr(name ? L(QStringLiteral("colours_taken_by")).arg(*name, outputs)
                                       : L(QStringLiteral("colours_taken")).arg(outputs));
        conflictBar_->show();
    } else if (name) {
        QString text = L(QStringLiteral("conflict"));
        text.replace(QStringLiteral("%@"), *name);
        conflictBar_->setTitleStr(text);
        conflictBar_->show();
    } else if (const std::optional<QString> text = DisplayWarning::text(*services_.engine)) {
        // Colours that could not be set share the bar: the filter must not look as if it worked.
        conflictBar_->setTitleStr(*text);
        conflictBar_->show();
    } else {
        conflictBar_->hide();
    }
}

void PopoverViewController::showMessage(const TipMessage& tip)
{
    if (!tipLabel_)
        return;
    tipLabel_->setText(tip.text);
    std::optional<QColor> color;
    if (tip.colorHex)
        color = Theme::colorFromHex(*tip.colorHex);
    setTextColor(tipLabel_, color.value_or(Theme::veskGray()));
    currentLinkURL_ = tip.linkURL;
    loadImage(tip.imageURL);
    relayoutBottom();
}

void PopoverViewController::loadImage(const std::optional<QString>& address)
{
    currentImageURL_ = address;
    currentImage_.reset();
    const QUrl url = address ? QUrl(*address, QUrl::StrictMode) : QUrl();
    if (!address || !isWebAddress(url)) {
        relayoutBottom();
        return;
    }
    if (auto it = imageCache_.constFind(*address); it != imageCache_.constEnd()) {
        currentImage_ = it.value();
        relayoutBottom();
        return;
    }

    QNetworkReply* reply = network_->get(QNetworkRequest(url));
    // The body is taken out as it arrives and the reply may hold little of its own, so no
    // more than the limit is ever kept; a body that grows past it, whatever length it
    // announced, is abandoned.
    reply->setReadBufferSize(64 * 1024);
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    auto take = [reply, body, tooLarge] {
        if (*tooLarge)
            return;
        const QByteArray more = reply->readAll();
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (body->size() + more.size() > maxImageBytes || announced > maxImageBytes) {
            *tooLarge = true;
            body->clear();
            reply->abort();
            return;
        }
        body->append(more);
    };
    connect(reply, &QNetworkReply::readyRead, reply, take);
    const QString key = *address;
    QPointer<PopoverViewController> self(this);
    connect(reply, &QNetworkReply::finished, this, [self, reply, body, tooLarge, take, key] {
        reply->deleteLater();
        take();
        if (!self || *tooLarge)
            return;
        // The status is not looked at: whatever came back is used if it is a picture.
        QByteArray data = std::move(*body);
        if (data.isEmpty())
            return;
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        reader.setAllocationLimit(imageAllocationLimitMiB);
        QImage image = reader.read();
        if (image.isNull())
            return;
        // Only ever shown 66 pixels wide: keep no more than a sharp copy for a 3x screen, so
        // the cache stays small whatever the feed points at.
        if (image.width() > maxCachedImageSide || image.height() > maxCachedImageSide)
            image = image.scaled(maxCachedImageSide, maxCachedImageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QPixmap pixmap = QPixmap::fromImage(image);
        self->imageCache_.insert(key, pixmap);
        // Only for the tip still on show; a tip that has moved on keeps its text alone.
        if (self->currentImageURL_ == key) {
            self->currentImage_ = pixmap;
            self->relayoutBottom();
        }
    });
}

void PopoverViewController::relayoutBottom()
{
    if (!root_ || !tipLabel_)
        return;
    const bool showTip = flickerBar_->isHidden() && conflictBar_->isHidden();
    tipLabel_->setHidden(!showTip);

    int bottom = bottomTop;
    if (showTip && currentImage_) {
        tipImageView_->setImage(*currentImage_);
        tipImageView_->show();
        const int textH = textHeight(tipLabel_, besideImageWidth, Qt::AlignLeft);
        const int blockH = std::max(textH, imageSide);
        tipImageView_->setGeometry(frame(left, bottomTop + (blockH - imageSide) / 2.0, imageSide, imageSide));
        tipLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        tipLabel_->setGeometry(frame(besideImageX, bottomTop + (blockH - textH) / 2.0, besideImageWidth, textH));
        bottom = bottomTop + blockH;
    } else if (showTip) {
        tipImageView_->hide();
        const int textH = textHeight(tipLabel_, columnWidth, Qt::AlignHCenter);
        tipLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        tipLabel_->setGeometry(left, bottomTop, columnWidth, textH);
        bottom = bottomTop + textH;
    } else {
        tipImageView_->hide();
        int y = bottomTop;
        if (!flickerBar_->isHidden()) {
            flickerBar_->setGeometry(left, bottomTop, columnWidth, barHeight);
            y += barPitch;
        }
        if (!conflictBar_->isHidden()) {
            conflictBar_->setGeometry(left, y, columnWidth, barHeight);
            y += barPitch;
        }
        bottom = y - (barPitch - barHeight);
    }

    tipLinkOverlay_->setHidden(!showTip);
    tipLinkOverlay_->setGeometry(left, bottomTop, columnWidth, std::max(bottom - bottomTop, 0));
    tipLinkOverlay_->setShowLink(showTip && currentLinkURL_.has_value());
    tipLinkOverlay_->raise();

    const int height = bottom + bottomMargin;
    if (height != preferredSize_.height()) {
        preferredSize_ = QSize(width, height);
        root_->resize(preferredSize_);
        if (onPreferredContentSizeChange)
            onPreferredContentSizeChange(preferredSize_);
    }
}

void PopoverViewController::openLink(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    // Only web addresses: a feed must not be able to start local files or other handlers.
    if (!isWebAddress(url))
        return;
    if (services_.openURL)
        services_.openURL(url);
}

void PopoverViewController::viewWillAppear()
{
    refresh();
    showMessage(services_.tips->next());

    QPointer<PopoverViewController> self(this);
    delete tick_.data();
    tick_ = new QTimer(this);
    tick_->setInterval(refreshIntervalMs);
    connect(tick_, &QTimer::timeout, this, [self] {
        if (self)
            self->refresh();
    });
    tick_->start();

    delete tipTimer_.data();
    tipTimer_ = new QTimer(this);
    tipTimer_->setInterval(tipIntervalMs);
    connect(tipTimer_, &QTimer::timeout, this, [self] {
        if (self)
            self->showMessage(self->services_.tips->next());
    });
    tipTimer_->start();
}

void PopoverViewController::viewDidDisappear()
{
    delete tick_.data();
    delete tipTimer_.data();
    tick_ = nullptr;
    tipTimer_ = nullptr;
}

void PopoverViewController::relocalize()
{
    if (!root_)
        return;
    build();
    refresh();
}

void PopoverViewController::settingsChanged()
{
    if (brightSlider_)
        brightSlider_->setDoubleRange(AppSettings::brightnessFloor(), 100);
    refresh();
}

void PopoverViewController::flagTapped(VeskFlatButton* sender)
{
    for (const Flag& flag : flags_) {
        if (sender && flag.btn == sender) {
            // Announces the change, which rebuilds this panel.
            Localization::shared().set(flag.lang);
            return;
        }
    }
}

void PopoverViewController::openSettingsFromPopover()
{
    NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskOpenSettings));
}

void PopoverViewController::warmthChanged()
{
    VeskEngine& engine = *services_.engine;
    engine.setWarmth(warmthSlider_->doubleValue());
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::brightChanged()
{
    VeskEngine& engine = *services_.engine;
    engine.setBrightness(brightSlider_->doubleValue());
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::presetTapped(VeskFlatButton* sender)
{
    for (const Preset& preset : presets_) {
        if (sender && preset.btn == sender) {
            // Turns the filter on by itself.
            services_.engine->animateWarmth(preset.warmth, 0.35);
            break;
        }
    }
    refresh();
}

void PopoverViewController::pwmToggled()
{
    VeskEngine& engine = *services_.engine;
    const bool on = pwmSwitch_->isOn();
    engine.pwmSafe = on;
    // Both block for a while (verification polls, DDC traffic): never on this thread.
    if (on)
        services_.pwmSafe->enableInBackground();
    else
        services_.pwmSafe->disableInBackground();
    if (on && !engine.enabled())
        engine.setEnabled(true);
}

void PopoverViewController::enablePWM()
{
    VeskEngine& engine = *services_.engine;
    pwmSwitch_->setOn(true);
    engine.pwmSafe = true;
    services_.pwmSafe->enableInBackground();
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::autoToggled()
{
    AppSettings::setAutoSchedule(autoSwitch_->isOn());
    services_.scheduler->refresh();
    refresh();
}

void PopoverViewController::themeToggled()
{
    VeskEngine& engine = *services_.engine;
    engine.toggle();
    refresh();
    if (engine.enabled()) {
        if (const std::optional<TipMessage> message = services_.tips->activationMessage())
            showMessage(*message);
    }
}

void PopoverViewController::veskTapped()
{
    services_.engine->toggle();
    refresh();
}

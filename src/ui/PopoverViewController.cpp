#include "ui/PopoverViewController.h"

#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "engine/WarmthPresets.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Scheduler.h"
#include "system/ConflictDetector.h"
#include "system/WebAddress.h"
#include "ui/DisplayWarning.h"

#include <QDesktopServices>
#include <QEvent>
#include <QPalette>

#include <cmath>
#include <cstdio>

namespace {

// The widgets repaint on every set; a refresh sets only what changed, so a slider step
// repaints the slider and its value and nothing else.
void setActive(VeskFlatButton* button, bool active)
{
    if (button && button->active() != active)
        button->setActive(active);
}

void setOn(MiniToggle* toggle, bool on)
{
    if (toggle->isOn() != on)
        toggle->setOn(on);
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
    , pictures_(new TipPictures(PanelLayout::imageSide, this))
{
    pictures_->onLoaded = [this](const QString& address, const QPixmap& picture) {
        // Only for the tip still on show; a tip that has moved on keeps its text alone.
        if (currentImageURL_ == address) {
            currentImage_ = picture;
            relayoutBottom();
        }
    };
}

PopoverViewController::~PopoverViewController()
{
    // The views call back into this controller; they go with it.
    if (root_) {
        root_->removeEventFilter(this);
        delete root_.data();
    }
}


QString PopoverViewController::percentText(double value)
{
    // The C library's rounding (62.5 gives 62), not Qt's own formatter's (63).
    char text[32];
    std::snprintf(text, sizeof text, "%.0f%%", value);
    return QString::fromLatin1(text);
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
    root_->resize(PanelLayout::width, PanelLayout::initialHeight);
    root_->setAutoFillBackground(true);
    QPalette pal = root_->palette();
    pal.setColor(QPalette::Window, Theme::veskBlack());
    root_->setPalette(pal);
    root_->installEventFilter(this);
    preferredSize_ = QSize(PanelLayout::width, PanelLayout::initialHeight);

    build();
    readSystem();

    QPointer<PopoverViewController> self(this);
    services_.engine->onWarmthAnim = [self](double w) {
        if (!self || !self->layout_.warmthSlider)
            return;
        self->layout_.warmthSlider->setDoubleValue(w);
        if (self->layout_.warmthValue)
            self->layout_.warmthValue->setText(percentText(w));
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
    // PWM-safe moves the backlight: read it again, not the process list.
    center.addObserver(QString::fromLatin1(NotificationName::veskPWMState), this, [self] {
        if (!self)
            return;
        self->readHardware();
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

void PopoverViewController::build()
{
    QPointer<PopoverViewController> self(this);
    auto call = [self](void (PopoverViewController::*action)()) {
        return [self, action] {
            if (self)
                (self.data()->*action)();
        };
    };
    PanelLayout::Actions actions;
    actions.flagTapped = [self](VeskFlatButton* sender) {
        if (self)
            self->flagTapped(sender);
    };
    actions.presetTapped = [self](VeskFlatButton* sender) {
        if (self)
            self->presetTapped(sender);
    };
    actions.openSettings = call(&PopoverViewController::openSettingsFromPopover);
    actions.warmthChanged = call(&PopoverViewController::warmthChanged);
    actions.brightChanged = call(&PopoverViewController::brightChanged);
    actions.pwmToggled = call(&PopoverViewController::pwmToggled);
    actions.autoToggled = call(&PopoverViewController::autoToggled);
    actions.themeToggled = call(&PopoverViewController::themeToggled);
    actions.flickerBarClicked = call(&PopoverViewController::enablePWM);
    actions.conflictBarClicked = call(&PopoverViewController::veskTapped);
    actions.tipLinkClicked = [self] {
        if (self && self->currentLinkURL_)
            self->openLink(*self->currentLinkURL_);
    };
    const Tips::About about = services_.tips->aboutInfo();
    authorURL_ = about.url.value_or(QString::fromLatin1(defaultAuthorURL));
    // Holds only the address.
    actions.authorLinkClicked = [open = services_.openURL, address = authorURL_] {
        const QUrl url(address, QUrl::StrictMode);
        if (isWebAddress(url) && open)
            open(url);
    };

    const VeskEngine& engine = *services_.engine;
    layout_.build(root_, {engine.warmth(), engine.brightness(), AppSettings::brightnessFloor(), engine.enabled()},
        {{"day", WarmthPresets::day()}, {"evening", WarmthPresets::evening()}, {"night", WarmthPresets::night}}, actions);
    showMessage(services_.tips->next());
}

void PopoverViewController::setPresetHighlights(double warmth)
{
    for (const Preset& preset : layout_.presets)
        setActive(preset.btn, std::abs(warmth - preset.warmth) < 2.0);
}

void PopoverViewController::readSystem()
{
    readings_.conflict = ConflictDetector::conflicting();
    readHardware();
    refresh();
}

void PopoverViewController::readHardware()
{
    readings_.pwmAvailable = services_.pwmSafe->available();
    readings_.hardwareLevel = services_.pwmSafe->builtinHardwareBrightness();
}

void PopoverViewController::refresh()
{
    if (!root_)
        return;
    VeskEngine& engine = *services_.engine;
    const double warmth = engine.warmth();
    const bool enabled = engine.enabled();

    layout_.warmthValue->setText(percentText(warmth));
    layout_.brightValue->setText(percentText(engine.brightness()));
    layout_.warmthSlider->setDoubleValue(warmth);
    setPresetHighlights(warmth);
    const Lang current = Localization::shared().lang();
    for (const Flag& flag : layout_.flags)
        setActive(flag.btn, flag.lang == current);
    layout_.themeSwitch->sync(enabled);
    PanelLayout::setTextColor(layout_.filterOffLabel, enabled ? Theme::veskGray() : Theme::veskWhite());
    PanelLayout::setTextColor(layout_.filterOnLabel, enabled ? Theme::veskWhite() : Theme::veskGray());

    setOn(layout_.pwmSwitch, engine.pwmSafe);
    setOn(layout_.autoSwitch, AppSettings::autoSchedule());
    const bool available = readings_.pwmAvailable;
    layout_.pwmSwitch->setEnabled(available);
    PanelLayout::setTextColor(layout_.pwmLabel, available ? Theme::veskWhite() : Theme::veskGray());

    QString pwmText = L(QStringLiteral("pwm"));
    if (engine.pwmSafe) {
        const PWMState state = services_.pwmSafe->state();
        if (state == PWMState::unsupported)
            pwmText += QStringLiteral(" \u00B7 ") + L(QStringLiteral("unsupported"));
        else if (state == PWMState::waiting)
            pwmText += QStringLiteral(" \u00B7 ") + L(QStringLiteral("waiting"));
    }
    layout_.pwmLabel->setText(pwmText);

    refreshBars();
    relayoutBottom();
}

void PopoverViewController::refreshBars()
{
    VeskFlatButton* flickerBar = layout_.flickerBar;
    flickerBar->hide();
    if (!services_.engine->pwmSafe) {
        // Single precision, strict: a level of exactly 0.3 is mild, exactly 0.6 is fine.
        if (const std::optional<float> level = readings_.hardwareLevel) {
            if (*level < 0.3f) {
                flickerBar->setTitleStr(L(QStringLiteral("flicker_severe")));
                flickerBar->show();
            } else if (*level < 0.6f) {
                flickerBar->setTitleStr(L(QStringLiteral("flicker_mild")));
                flickerBar->show();
            }
        }
    }

    // Outputs the guard gave up on: another program keeps writing their colours.
    VeskFlatButton* conflictBar = layout_.conflictBar;
    QStringList taken;
    for (const VeskEngine::DisplayProblem& problem : services_.engine->displayProblems()) {
        if (problem.result == GammaResult::heldByOther)
            taken.append(QString::fromStdString(problem.name));
    }
    if (!taken.isEmpty()) {
        const QString outputs = taken.join(QStringLiteral(", "));
        conflictBar->setTitleStr(readings_.conflict ? L(QStringLiteral("colours_taken_by")).arg(*readings_.conflict, outputs)
                                                    : L(QStringLiteral("colours_taken")).arg(outputs));
        conflictBar->show();
    } else if (readings_.conflict) {
        QString text = L(QStringLiteral("conflict"));
        text.replace(QStringLiteral("%@"), *readings_.conflict);
        conflictBar->setTitleStr(text);
        conflictBar->show();
    } else if (const std::optional<QString> text = DisplayWarning::text(*services_.engine)) {
        // Colours that could not be set share the bar: the filter must not look as if it worked.
        conflictBar->setTitleStr(*text);
        conflictBar->show();
    } else {
        conflictBar->hide();
    }
}

void PopoverViewController::showMessage(const TipMessage& tip)
{
    QLabel* label = layout_.tipLabel;
    if (!label)
        return;
    label->setText(tip.text);
    std::optional<QColor> color;
    if (tip.colorHex)
        color = Theme::colorFromHex(*tip.colorHex);
    PanelLayout::setTextColor(label, color.value_or(Theme::veskGray()));
    currentLinkURL_ = tip.linkURL;
    loadImage(tip.imageURL);
}

void PopoverViewController::loadImage(const std::optional<QString>& address)
{
    currentImageURL_ = address;
    // Laid out without the picture until it has arrived.
    currentImage_ = address ? pictures_->picture(*address) : std::nullopt;
    relayoutBottom();
}

void PopoverViewController::relayoutBottom()
{
    if (!root_ || !layout_.tipLabel)
        return;
    const int height = layout_.layoutBottom(currentImage_, currentLinkURL_.has_value());
    if (height != preferredSize_.height()) {
        preferredSize_ = QSize(PanelLayout::width, height);
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
    readSystem();
    showMessage(services_.tips->next());

    QPointer<PopoverViewController> self(this);
    delete tick_.data();
    tick_ = new QTimer(this);
    tick_->setInterval(refreshIntervalMs);
    connect(tick_, &QTimer::timeout, this, [self] {
        if (self)
            self->readSystem();
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
    if (layout_.brightSlider)
        layout_.brightSlider->setDoubleRange(AppSettings::brightnessFloor(), 100);
    refresh();
}

void PopoverViewController::flagTapped(VeskFlatButton* sender)
{
    for (const Flag& flag : layout_.flags) {
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
    engine.setWarmth(layout_.warmthSlider->doubleValue());
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::brightChanged()
{
    VeskEngine& engine = *services_.engine;
    engine.setBrightness(layout_.brightSlider->doubleValue());
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::presetTapped(VeskFlatButton* sender)
{
    for (const Preset& preset : layout_.presets) {
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
    const bool on = layout_.pwmSwitch->isOn();
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
    layout_.pwmSwitch->setOn(true);
    engine.pwmSafe = true;
    services_.pwmSafe->enableInBackground();
    if (!engine.enabled())
        engine.setEnabled(true);
    refresh();
}

void PopoverViewController::autoToggled()
{
    AppSettings::setAutoSchedule(layout_.autoSwitch->isOn());
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

#include "ui/PanelLayout.h"

#include <QFontMetricsF>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

const QString kAuthor = QStringLiteral("Marren");
const QString kProductName = QStringLiteral("Ambrano");

// Content column.
constexpr int left = 20;
constexpr int columnWidth = 332;
constexpr int columnRight = left + columnWidth;

// Bottom area.
constexpr int bottomTop = 560;
constexpr int imageSide = PanelLayout::imageSide;
constexpr int besideImageX = 98;
constexpr int besideImageWidth = 254;
constexpr int barHeight = 24;
constexpr int barPitch = 30;  // bar plus its 6-pixel gap
constexpr int bottomMargin = 10;

QColor amber() { return QColor::fromRgbF(0.55f, 0.28f, 0.0f); }

// Frames are given with fractional edges; widgets sit on whole pixels. Rounding both edges
// (not the width) keeps neighbours' gaps and a right edge at the column's end exact.
QRect frame(double x, double y, double w, double h)
{
    const int x0 = static_cast<int>(std::lround(x));
    const int y0 = static_cast<int>(std::lround(y));
    return QRect(x0, y0, static_cast<int>(std::lround(x + w)) - x0, static_cast<int>(std::lround(y + h)) - y0);
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

// A call that may be empty.
void run(const std::function<void()>& action)
{
    if (action)
        action();
}

}  // namespace

std::pair<QString, QString> PanelLayout::creditsParts(const QString& subtitle)
{
    const qsizetype at = subtitle.indexOf(kAuthor);
    if (at >= 0)
        return {subtitle.left(at), kAuthor};
    return {subtitle + u' ', kAuthor};
}

QString PanelLayout::twoLineCaption(const QString& text)
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

double PanelLayout::titleFontSize()
{
    const double w = QFontMetricsF(Theme::systemFont(100, Theme::heavy)).horizontalAdvance(kProductName);
    if (w <= 0)
        return 24.0;
    return std::min(232.0 / w * 100.0, 24.0);
}

void PanelLayout::setTextColor(QLabel* label, const QColor& color)
{
    if (!label)
        return;
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    label->setPalette(pal);
}

void PanelLayout::clear(QWidget* root)
{
    // Later, not now: the view whose click started a rebuild (a language flag) is still
    // inside its own event handler.
    const QList<QWidget*> children = root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }
    presets.clear();
    flags.clear();
}

QLabel* PanelLayout::makeLabel(
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

void PanelLayout::build(QWidget* root, const Start& start, const std::vector<PresetEntry>& presetTable, const Actions& actions)
{
    root_ = root;
    clear(root);
    const QFont caption = Theme::systemFont(13.75, Theme::heavy);
    const QFont value = Theme::systemFont(13.75, Theme::bold);

    title = makeLabel(kProductName, Theme::systemFont(titleFontSize(), Theme::heavy), Theme::veskRed(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(20, 12, 232, 30));

    const QString flagTitles[] = {flagEmoji('E', 'S'), flagEmoji('G', 'B'), flagEmoji('A', 'D')};
    const Lang flagLangs[] = {Lang::es, Lang::en, Lang::ca};
    for (int i = 0; i < 3; ++i) {
        auto* button = new VeskFlatButton(flagTitles[i], root);
        QObject::connect(button, &QAbstractButton::clicked, button, [tapped = actions.flagTapped, button] {
            if (tapped)
                tapped(button);
        });
        button->setFlagMode(true);
        button->setBg(Theme::veskBlack());
        button->setFontSize(15);
        button->updateTitle();
        button->setGeometry(260 + 32 * i, 15, 28, 24);
        button->show();
        flags.push_back({button, flagLangs[i]});
    }

    // Credits: "by " then the underlined name, which is also the link.
    const auto [prefix, name] = creditsParts(L(QStringLiteral("subtitle")));
    const QFont creditsFont = Theme::systemFont(17, Theme::bold);
    subtitle = new QLabel(root);
    subtitle->setTextFormat(Qt::RichText);
    subtitle->setTextInteractionFlags(Qt::NoTextInteraction);
    subtitle->setFont(creditsFont);
    subtitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    subtitle->setText(QStringLiteral("<span style=\"white-space:pre\">%1</span><u>%2</u>")
                          .arg(prefix.toHtmlEscaped(), name.toHtmlEscaped()));
    setTextColor(subtitle, Theme::veskGray());
    subtitle->setGeometry(20, 41, 332, 20);
    subtitle->show();

    const QFontMetricsF creditsMetrics(creditsFont);
    const double pw = creditsMetrics.horizontalAdvance(prefix);
    const double nw = creditsMetrics.horizontalAdvance(name);
    authorLink = new ClickableArea(root);
    authorLink->setShowLink(true);
    authorLink->setGeometry(frame(20 + pw, 38, nw + 6, 24));
    authorLink->onClick = actions.authorLinkClicked;
    authorLink->show();

    settingsButton = new VeskFlatButton(QStringLiteral("\u2699\uFE0F"), [a = actions.openSettings] { run(a); }, root);
    settingsButton->setFlagMode(true);
    settingsButton->setBg(Theme::veskBlack());
    settingsButton->setFontSize(17);
    settingsButton->updateTitle();
    settingsButton->setGeometry(322, 40, 28, 26);
    settingsButton->show();

    warmthLabel = makeLabel(L(QStringLiteral("warmth")), caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        QRect(20, 110, 150, 16));
    warmthValue = makeLabel(QString(), value, Theme::veskRed(), Qt::AlignRight | Qt::AlignVCenter, QRect(242, 110, 110, 16));
    warmthSlider = new VeskSlider(root);
    warmthSlider->setDoubleRange(0, 100);
    warmthSlider->setDoubleValue(start.warmth);
    warmthSlider->onChange = actions.warmthChanged;
    warmthSlider->setGeometry(20, 130, 332, 20);
    warmthSlider->show();

    brightLabel = makeLabel(L(QStringLiteral("brightness")), caption, Theme::veskWhite(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(20, 162, 150, 16));
    brightValue = makeLabel(QString(), value, Theme::veskRed(), Qt::AlignRight | Qt::AlignVCenter, QRect(242, 162, 110, 16));
    brightSlider = new VeskSlider(root);
    brightSlider->setDoubleRange(start.brightnessFloor, 100);
    brightSlider->setDoubleValue(start.brightness);
    brightSlider->onChange = actions.brightChanged;
    brightSlider->setGeometry(20, 182, 332, 20);
    brightSlider->show();

    for (int i = 0; i < static_cast<int>(presetTable.size()); ++i) {
        const QString key = QString::fromLatin1(presetTable[i].key);
        auto* button = new VeskFlatButton(L(key), root);
        QObject::connect(button, &QAbstractButton::clicked, button, [tapped = actions.presetTapped, button] {
            if (tapped)
                tapped(button);
        });
        button->setFontSize(13.75);
        button->setCornerRadius(4.5);
        button->updateTitle();
        button->setGeometry(frame(20 + i * 340.0 / 3, 246, 316.0 / 3, 36));
        button->show();
        presets.push_back({button, key, presetTable[i].warmth});
    }

    // The two switch rows, centred as a group on the longer caption.
    const QFontMetricsF captionMetrics(caption);
    const QString pwmText = L(QStringLiteral("pwm"));
    const QString autoText = L(QStringLiteral("auto_short"));
    const double longest = std::max(std::floor(captionMetrics.horizontalAdvance(pwmText)),
        std::floor(captionMetrics.horizontalAdvance(autoText)));
    const double sx = (columnWidth - (longest + 58)) * 0.5 + left;

    pwmSwitch = new MiniToggle(root);
    pwmSwitch->setGeometry(frame(sx, 323, 46, 26));
    pwmSwitch->onToggle = actions.pwmToggled;
    pwmSwitch->show();
    pwmLabel = makeLabel(pwmText, caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        frame(sx + 58, 328, columnRight - (sx + 58), 20));

    autoSwitch = new MiniToggle(root);
    autoSwitch->setGeometry(frame(sx, 357, 46, 26));
    autoSwitch->onToggle = actions.autoToggled;
    autoSwitch->show();
    autoLabel = makeLabel(autoText, caption, Theme::veskWhite(), Qt::AlignLeft | Qt::AlignVCenter,
        frame(sx + 58, 362, columnRight - (sx + 58), 20));

    themeSwitch = new ThemeSwitch(root);
    themeSwitch->setGeometry(104, 428, 164, 79);
    themeSwitch->onToggle = actions.themeToggled;
    themeSwitch->sync(start.enabled);
    themeSwitch->show();

    // Two lines each, centred on the switch's middle (y 467.5): 446 to 489.
    const QFont filterFont = Theme::systemFont(17, Theme::heavy);
    filterOffLabel = makeLabel(twoLineCaption(L(QStringLiteral("filter_off"))), filterFont, Theme::veskGray(),
        Qt::AlignRight | Qt::AlignVCenter, QRect(6, 446, 94, 43));
    filterOffLabel->setWordWrap(true);
    filterOnLabel = makeLabel(twoLineCaption(L(QStringLiteral("filter_on"))), filterFont, Theme::veskGray(),
        Qt::AlignLeft | Qt::AlignVCenter, QRect(272, 446, 94, 43));
    filterOnLabel->setWordWrap(true);

    flickerBar = new VeskFlatButton(QString(), [a = actions.flickerBarClicked] { run(a); }, root);
    flickerBar->setBg(amber());
    flickerBar->setFg(Theme::veskWhite());
    flickerBar->setFontSize(9);
    flickerBar->updateTitle();
    flickerBar->setGeometry(20, bottomTop, columnWidth, barHeight);
    flickerBar->hide();

    conflictBar = new VeskFlatButton(QString(), [a = actions.conflictBarClicked] { run(a); }, root);
    conflictBar->setBg(Theme::veskRed());
    conflictBar->setFontSize(9);
    conflictBar->updateTitle();
    // It informs; a click does nothing.
    conflictBar->setEnabled(false);
    conflictBar->setGeometry(20, bottomTop, columnWidth, barHeight);
    conflictBar->hide();

    tipLabel = makeLabel(QString(), Theme::systemFont(17.8125, Theme::medium), Theme::veskGray(), Qt::AlignHCenter | Qt::AlignTop,
        QRect(20, bottomTop, columnWidth, 40));
    tipLabel->setWordWrap(true);

    tipImageView = new RoundedImageView(root);
    tipImageView->setCornerRadius(8);
    tipImageView->hide();

    tipLinkOverlay = new ClickableArea(root);
    tipLinkOverlay->onClick = actions.tipLinkClicked;
    tipLinkOverlay->show();
}

int PanelLayout::layoutBottom(const std::optional<QPixmap>& picture, bool hasLink)
{
    const bool showTip = flickerBar->isHidden() && conflictBar->isHidden();
    tipLabel->setHidden(!showTip);

    int bottom = bottomTop;
    if (showTip && picture) {
        tipImageView->setImage(*picture);
        tipImageView->show();
        const int textH = textHeight(tipLabel, besideImageWidth, Qt::AlignLeft);
        const int blockH = std::max(textH, imageSide);
        tipImageView->setGeometry(frame(left, bottomTop + (blockH - imageSide) / 2.0, imageSide, imageSide));
        tipLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        tipLabel->setGeometry(frame(besideImageX, bottomTop + (blockH - textH) / 2.0, besideImageWidth, textH));
        bottom = bottomTop + blockH;
    } else if (showTip) {
        tipImageView->hide();
        const int textH = textHeight(tipLabel, columnWidth, Qt::AlignHCenter);
        tipLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        tipLabel->setGeometry(left, bottomTop, columnWidth, textH);
        bottom = bottomTop + textH;
    } else {
        tipImageView->hide();
        int y = bottomTop;
        if (!flickerBar->isHidden()) {
            flickerBar->setGeometry(left, bottomTop, columnWidth, barHeight);
            y += barPitch;
        }
        if (!conflictBar->isHidden()) {
            conflictBar->setGeometry(left, y, columnWidth, barHeight);
            y += barPitch;
        }
        bottom = y - (barPitch - barHeight);
    }

    tipLinkOverlay->setHidden(!showTip);
    tipLinkOverlay->setGeometry(left, bottomTop, columnWidth, std::max(bottom - bottomTop, 0));
    tipLinkOverlay->setShowLink(showTip && hasLink);
    tipLinkOverlay->raise();
    return bottom + bottomMargin;
}

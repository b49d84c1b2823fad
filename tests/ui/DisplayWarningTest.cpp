// What the user is told when colours could not be set: the tray icon's state and the sentence.
#include "engine/VeskEngine.h"
#include "platform/NoDisplayServices.h"
#include "system/Localization.h"
#include "ui/DisplayWarning.h"

#include "FakeDisplayServices.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayWarningTest, TheIconIsRedOnlyWhereADisplayShowsTheFilter)
{
    Localization::shared().set(Lang::en);
    using R = GammaResult;
    const struct {
        std::vector<R> results;  // displays 1, 2, …
        bool on;
        bool visible;
        const char* text;  // nullptr: no warning
    } cases[] = {
        {{R::applied, R::applied}, true, true, nullptr},
        {{R::applied, R::heldByOther}, true, true, nullptr},
        {{R::unsupported, R::heldByOther, R::unsupported}, true, false, "⚠︎ Colours cannot be set on OUT-1, OUT-3"},
        {{R::unsupported}, true, false, "⚠︎ Colours cannot be set on OUT-1"},
        {{R::unsupported}, false, false, nullptr},
        {{}, true, false, nullptr},
    };
    for (const auto& c : cases) {
        FakeDisplayServices displays;
        for (size_t i = 0; i < c.results.size(); ++i) {
            displays.addDisplay(static_cast<DisplayID>(i + 1));
            displays.displays.back().result = c.results[i];
        }
        VeskEngine engine;
        engine.setDisplayServices(&displays);
        engine.setEnabled(c.on);
        const std::optional<QString> text = DisplayWarning::text(engine);
        EXPECT_EQ(DisplayWarning::filterVisible(engine), c.visible) << c.results.size();
        EXPECT_EQ(text.value_or(QString()), c.text ? QString::fromUtf8(c.text) : QString()) << c.results.size();
    }
}

TEST(DisplayWarningTest, ASessionWithoutGammaPointsToTheDesktopsOwnNightLight)
{
    const struct {
        Lang lang;
        const char* text;
    } cases[] = {
        {Lang::en, "⚠︎ Desktop blocks colour changes — use its Night Light"},
        {Lang::es, "⚠︎ El escritorio bloquea el color — usa su Luz nocturna"},
        {Lang::ca, "⚠︎ L'escriptori bloqueja el color — usa la Llum nocturna"},
    };
    NoDisplayServices none;
    VeskEngine engine;
    engine.setDisplayServices(&none);
    engine.setEnabled(true);
    EXPECT_FALSE(DisplayWarning::filterVisible(engine));
    for (const auto& c : cases) {
        Localization::shared().set(c.lang);
        EXPECT_EQ(DisplayWarning::text(engine), QString::fromUtf8(c.text));
    }
    Localization::shared().set(Lang::es);
}

}  // namespace

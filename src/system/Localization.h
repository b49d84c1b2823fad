#pragma once
// One string table in three languages; the choice persists in the settings store.

#include <QString>

#include <optional>
#include <vector>

enum class Lang { es, en, ca };

QString rawValue(Lang lang);
std::optional<Lang> langFromRawValue(const QString& raw);
// Every language, in the order of the flag buttons.
const std::vector<Lang>& allLangs();

class Localization {
public:
    static constexpr const char* didChange = "VeskLangChanged";

    static Localization& shared();

    Lang lang() const { return lang_; }
    // Stores the choice and announces it; setting the current language does nothing.
    void set(Lang lang);
    // The text for key in the current language, else English, else the key itself.
    QString t(const QString& key) const;

    // Builds a fresh instance from the settings store (the shared one is built once).
    Localization();

private:
    struct Entry {
        const char* key;
        const char* en;
        const char* es;
        const char* ca;
    };
    static const std::vector<Entry>& table();
    static constexpr const char* defaultsKey = "vesk.lang";

    Lang lang_ = Lang::es;
};

// The one way the program gets a visible text.
QString L(const QString& key);

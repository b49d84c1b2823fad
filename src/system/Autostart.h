#pragma once
// Starting the program with the desktop session: an XDG autostart entry of our own,
// $XDG_CONFIG_HOME/autostart/ambrano.desktop. Its presence is the setting.

#include <QString>

class Autostart {
public:
    static QString defaultPath();

    explicit Autostart(QString path = defaultPath());

    bool enabled() const;
    // Writes the entry that starts `program` (an absolute path) in one step; false when it
    // cannot be written or the path cannot be put in an entry.
    bool enable(const QString& program);
    // Removes our entry, nothing else; false when it is still there.
    bool disable();

private:
    QString path_;
};

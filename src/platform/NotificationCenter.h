#pragma once
// Named notifications without payload, delivered synchronously on the posting (main) thread.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

namespace NotificationName {
inline constexpr const char* veskOpenSettings = "VeskOpenSettings";
inline constexpr const char* veskPWMState = "VeskPWMState";
inline constexpr const char* veskDisplayProblems = "VeskDisplayProblems";
}  // namespace NotificationName

class NotificationCenter {
public:
    static NotificationCenter& shared();

    // The observer lives as long as context does; the handler runs inside post().
    void addObserver(const QString& name, QObject* context, std::function<void()> handler);
    void removeObservers(QObject* context);
    void post(const QString& name);
    int observerCount(const QString& name) const;

private:
    struct Entry {
        QString name;
        QPointer<QObject> context;
        std::function<void()> handler;
    };
    void dropDeadEntries();

    std::vector<Entry> entries_;
};

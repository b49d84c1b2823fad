#include "platform/NotificationCenter.h"

#include <algorithm>

NotificationCenter& NotificationCenter::shared()
{
    static NotificationCenter instance;
    return instance;
}

void NotificationCenter::addObserver(const QString& name, QObject* context, std::function<void()> handler)
{
    dropDeadEntries();
    entries_.push_back({name, QPointer<QObject>(context), std::move(handler)});
}

void NotificationCenter::removeObservers(QObject* context)
{
    std::erase_if(entries_, [context](const Entry& e) { return e.context == context; });
}

void NotificationCenter::post(const QString& name)
{
    // Copy first: a handler may add or remove observers (a rebuild does both).
    std::vector<Entry> matching;
    for (const Entry& e : entries_) {
        if (e.name == name && e.context)
            matching.push_back(e);
    }
    for (const Entry& e : matching) {
        if (e.context)
            e.handler();
    }
}

int NotificationCenter::observerCount(const QString& name) const
{
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
        [&name](const Entry& e) { return e.name == name && e.context; }));
}

void NotificationCenter::dropDeadEntries()
{
    std::erase_if(entries_, [](const Entry& e) { return e.context.isNull(); });
}

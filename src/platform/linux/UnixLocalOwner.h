#pragma once
// The peer's user id from SO_PEERCRED; the folder's owner and mode from stat.

#include "platform/LocalOwner.h"

class UnixLocalOwner : public LocalOwner {
public:
    bool peerIsOwner(qintptr socketDescriptor) override;
    bool folderIsPrivate(const QString& path) override;
};

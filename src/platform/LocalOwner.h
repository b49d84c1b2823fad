#pragma once
// Who is on the other end of a local socket, and whether a folder is this user's alone:
// the command-line control channel accepts requests from this user only.

#include <QString>
#include <QtGlobal>

class LocalOwner {
public:
    virtual ~LocalOwner() = default;

    // The process connected to this socket runs as the same user as we do.
    virtual bool peerIsOwner(qintptr socketDescriptor) = 0;
    // The folder exists, is ours and nobody else may enter it.
    virtual bool folderIsPrivate(const QString& path) = 0;
};

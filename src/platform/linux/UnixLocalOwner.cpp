#include "platform/linux/UnixLocalOwner.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

bool UnixLocalOwner::peerIsOwner(qintptr socketDescriptor)
{
#ifdef __APPLE__
    uid_t uid = 0;
    gid_t gid = 0;
    if (getpeereid(static_cast<int>(socketDescriptor), &uid, &gid) != 0)
        return false;
    return uid == getuid();
#else
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials)
        return false;
    return credentials.uid == getuid();
#endif
}

bool UnixLocalOwner::folderIsPrivate(const QString& path)
{
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

#include "platform/linux/X11DisplayServices.h"

#include "platform/linux/PanelConnectors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

bool hasPanelConnectorType(Display* dpy, RROutput output)
{
    const Atom property = XInternAtom(dpy, "ConnectorType", True);
    if (property == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    bool panel = false;
    if (XRRGetOutputProperty(dpy, output, property, 0, 1, False, False, AnyPropertyType, &type, &format,
            &count, &remaining, &data) == Success && data) {
        if (type == XA_ATOM && format == 32 && count == 1) {
            char* name = XGetAtomName(dpy, static_cast<Atom>(reinterpret_cast<long*>(data)[0]));
            panel = name && std::strcmp(name, "Panel") == 0;
            if (name)
                XFree(name);
        }
        XFree(data);
    }
    return panel;
}

QJsonArray toJson(const std::vector<std::uint16_t>& channel)
{
    QJsonArray array;
    for (std::uint16_t v : channel)
        array.append(static_cast<int>(v));
    return array;
}

std::vector<std::uint16_t> fromJson(const QJsonArray& array)
{
    std::vector<std::uint16_t> channel;
    channel.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& v : array) {
        const int x = v.toInt(-1);
        if (x < 0 || x > 65535)
            return {};
        channel.push_back(static_cast<std::uint16_t>(x));
    }
    return channel;
}

bool sameTables(const TransferTables& a, const TransferTables& b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Where versions before one backup per display kept theirs.
const char* const sharedBackupName = "ambrano-gamma.json";

}  // namespace

QString X11DisplayServices::defaultBackupFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

QString X11DisplayServices::normalizedDisplayName(const QString& displayName)
{
    const qsizetype colon = displayName.lastIndexOf(u':');
    if (colon < 0)
        return displayName;
    QString host = displayName.left(colon);
    QString number = displayName.mid(colon + 1);
    const qsizetype dot = number.indexOf(u'.');
    if (dot >= 0)
        number.truncate(dot);  // the screen: one server, one set of CRTCs
    if (host == QLatin1String("unix"))
        host.clear();
    return host + u':' + number;
}

QString X11DisplayServices::backupFileName(const QString& displayName)
{
    QString key = normalizedDisplayName(displayName);
    if (key.startsWith(u':'))
        key.remove(0, 1);
    key.replace(u'/', u'_');
    return QStringLiteral("ambrano-gamma-%1.json").arg(key);
}

X11DisplayServices::X11DisplayServices(X11Connection& connection, QString backupFolder)
    : connection_(connection)
    , backupFolder_(std::move(backupFolder))
    , backupPath_(backupFolder_ + u'/' + backupFileName(connection_.displayName()))
{
    Display* dpy = connection_.display();
    if (XRRQueryExtension(dpy, &eventBase_, &errorBase_)) {
        XRRSelectInput(dpy, connection_.root(),
            RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    connection_.addListener(this, [this](XEvent& event) { onEvent(event); });
    restoreFromBackup(backupPath_);
    restoreFromBackup(backupFolder_ + u'/' + QLatin1String(sharedBackupName));
}

X11DisplayServices::~X11DisplayServices()
{
    connection_.removeListeners(this);
}

const std::vector<X11DisplayServices::Head>& X11DisplayServices::heads()
{
    // Pending RandR events invalidate the cache before it is used.
    connection_.dispatchPending();
    if (headsValid_)
        return heads_;
    heads_.clear();
    Display* dpy = connection_.display();
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, connection_.root());
    if (!res)
        return heads_;
    for (int c = 0; c < res->ncrtc; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        if (!crtc)
            continue;
        if (crtc->mode != None && crtc->noutput > 0) {
            Head head;
            head.crtc = res->crtcs[c];
            head.width = crtc->width;
            head.height = crtc->height;
            RROutput chosen = crtc->outputs[0];
            for (int o = 0; o < crtc->noutput; ++o) {
                XRROutputInfo* info = XRRGetOutputInfo(dpy, res, crtc->outputs[o]);
                const bool connected = info && info->connection == RR_Connected;
                if (info)
                    XRRFreeOutputInfo(info);
                if (connected) {
                    chosen = crtc->outputs[o];
                    break;
                }
            }
            head.id = static_cast<DisplayID>(chosen);
            if (XRROutputInfo* info = XRRGetOutputInfo(dpy, res, chosen)) {
                head.outputName = QString::fromLocal8Bit(info->name, info->nameLen);
                XRRFreeOutputInfo(info);
            }
            head.builtin = isPanelConnector(head.outputName) || hasPanelConnectorType(dpy, chosen);
            heads_.push_back(head);
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
    headsValid_ = true;
    connection_.deliverQueuedLater();
    return heads_;
}

const X11DisplayServices::Head* X11DisplayServices::find(DisplayID display)
{
    for (const Head& head : heads()) {
        if (head.id == display)
            return &head;
    }
    return nullptr;
}

std::vector<DisplayID> X11DisplayServices::activeDisplays()
{
    std::vector<DisplayID> ids;
    for (const Head& head : heads())
        ids.push_back(head.id);
    return ids;
}

std::optional<GammaRamp> X11DisplayServices::readRamp(RRCrtc crtc)
{
    // One round trip: the reply carries the size (0 for a CRTC without gamma). The guard
    // reads every CRTC every period, so a second one per read would double its cost.
    XRRCrtcGamma* gamma = XRRGetCrtcGamma(connection_.display(), crtc);
    if (!gamma)
        return std::nullopt;
    if (gamma->size <= 0) {
        XRRFreeGamma(gamma);
        return std::nullopt;
    }
    GammaRamp ramp;
    ramp.red.assign(gamma->red, gamma->red + gamma->size);
    ramp.green.assign(gamma->green, gamma->green + gamma->size);
    ramp.blue.assign(gamma->blue, gamma->blue + gamma->size);
    XRRFreeGamma(gamma);
    return ramp;
}

bool X11DisplayServices::writeRamp(RRCrtc crtc, const GammaRamp& ramp)
{
    const int size = ramp.size();
    if (size <= 0)
        return false;
    XRRCrtcGamma* gamma = XRRAllocGamma(size);
    if (!gamma)
        return false;
    std::copy(ramp.red.begin(), ramp.red.end(), gamma->red);
    std::copy(ramp.green.begin(), ramp.green.end(), gamma->green);
    std::copy(ramp.blue.begin(), ramp.blue.end(), gamma->blue);
    XRRSetCrtcGamma(connection_.display(), crtc, gamma);
    XRRFreeGamma(gamma);
    XFlush(connection_.display());
    return true;
}

GammaResult X11DisplayServices::setTransferTables(DisplayID display, const TransferTables& tables)
{
    const Head* head = find(display);
    if (!head)
        return GammaResult::unsupported;
    const RRCrtc crtc = head->crtc;
    auto written = written_.find(crtc);
    if (written != written_.end() && written->second.contested) {
        // The same tables again (a reconfiguration, a wake) would only restart the flicker
        // war; new ones are the user asking, and guarding starts afresh.
        if (sameTables(written->second.tables, tables))
            return GammaResult::heldByOther;
        written->second.contested = false;
        guard_.forget(crtc);
    }
    auto saved = originals_.find(crtc);
    if (saved == originals_.end()) {
        std::optional<GammaRamp> original = readRamp(crtc);
        if (!original)
            return GammaResult::unsupported;
        // Some drivers report all zeros at start; restoring that would black the screen.
        if (original->isAllZero())
            original = GammaRamp::identity(original->size());
        saved = originals_.emplace(crtc, std::move(*original)).first;
        writeBackup();
    }
    GammaRamp ramp = GammaRamp::fromTables(tables, saved->second.size());
    const bool ok = writeRamp(crtc, ramp);
    if (ok)
        written_[crtc] = Written{tables, std::move(ramp), false};
    updateGuard();
    connection_.deliverQueuedLater();
    return ok ? GammaResult::applied : GammaResult::unsupported;
}

std::string X11DisplayServices::name(DisplayID display)
{
    const Head* head = find(display);
    return head ? head->outputName.toStdString() : std::string();
}

void X11DisplayServices::restoreColorProfiles()
{
    written_.clear();
    guard_.forgetAll();
    updateGuard();
    if (originals_.empty())
        return;
    for (const auto& [crtc, ramp] : originals_)
        writeRamp(crtc, ramp);
    originals_.clear();
    connection_.syncAndTakeError();  // make sure the server has them before the backup goes
    QFile::remove(backupPath_);
    connection_.deliverQueuedLater();
}

void X11DisplayServices::registerReconfigurationCallback(ReconfigurationCallback callback)
{
    callback_ = std::move(callback);
}

void X11DisplayServices::registerGammaResultCallback(GammaResultCallback callback)
{
    resultCallback_ = std::move(callback);
}

void X11DisplayServices::registerLogCallback(LogCallback callback)
{
    logCallback_ = std::move(callback);
}

void X11DisplayServices::log(const QString& line)
{
    if (logCallback_)
        logCallback_(line.toStdString());
}

void X11DisplayServices::updateGuard()
{
    guard_.watch(std::any_of(written_.begin(), written_.end(), [](const auto& entry) { return !entry.second.contested; }));
}

void X11DisplayServices::guardCheck()
{
    // Our own writes go through this connection in order, so a read after one sees it: only
    // another client can make a CRTC differ from what we last wrote.
    const std::vector<Head> current = heads();  // a copy: the callbacks below may list again
    std::vector<DisplayID> givenUp;
    for (const Head& head : current) {
        auto written = written_.find(head.crtc);
        if (written == written_.end() || written->second.contested)
            continue;
        const std::optional<GammaRamp> now = readRamp(head.crtc);
        if (!now || X11GammaGuard::holds(*now, written->second.ramp))
            continue;
        if (guard_.resetSeen(head.crtc, monotonicMs()) == X11GammaGuard::Verdict::giveUp) {
            written->second.contested = true;
            givenUp.push_back(head.id);
            log(QStringLiteral("guard: another program keeps changing the colours of %1, stopped re-applying").arg(head.outputName));
            continue;
        }
        if (now->size() != written->second.ramp.size())
            written->second.ramp = GammaRamp::fromTables(written->second.tables, now->size());
        writeRamp(head.crtc, written->second.ramp);
        log(QStringLiteral("guard: ramps reset on %1, re-applied").arg(head.outputName));
    }
    updateGuard();
    connection_.deliverQueuedLater();
    for (DisplayID display : givenUp) {
        if (resultCallback_)
            resultCallback_(display, GammaResult::heldByOther);
    }
}

bool X11DisplayServices::isBuiltin(DisplayID display)
{
    const Head* head = find(display);
    return head && head->builtin;
}

std::uint32_t X11DisplayServices::pixelsWide(DisplayID display)
{
    const Head* head = find(display);
    return head ? head->width : 0;
}

std::uint32_t X11DisplayServices::pixelsHigh(DisplayID display)
{
    const Head* head = find(display);
    return head ? head->height : 0;
}

void X11DisplayServices::onEvent(XEvent& event)
{
    if (eventBase_ == 0 && errorBase_ == 0)
        return;
    DisplayID affected = 0;
    if (event.type == eventBase_ + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event);
    } else if (event.type == eventBase_ + RRNotify) {
        const auto* notify = reinterpret_cast<XRRNotifyEvent*>(&event);
        if (notify->subtype == RRNotify_CrtcChange) {
            affected = static_cast<DisplayID>(reinterpret_cast<XRRCrtcChangeNotifyEvent*>(&event)->crtc);
        } else if (notify->subtype == RRNotify_OutputChange) {
            affected = static_cast<DisplayID>(reinterpret_cast<XRROutputChangeNotifyEvent*>(&event)->output);
        } else {
            return;
        }
    } else {
        return;
    }
    headsValid_ = false;
    if (callback_)
        callback_(affected);
}

void X11DisplayServices::writeBackup() const
{
    QJsonArray crtcs;
    for (const auto& [crtc, ramp] : originals_) {
        QJsonObject entry;
        entry.insert(QStringLiteral("crtc"), static_cast<qint64>(crtc));
        entry.insert(QStringLiteral("red"), toJson(ramp.red));
        entry.insert(QStringLiteral("green"), toJson(ramp.green));
        entry.insert(QStringLiteral("blue"), toJson(ramp.blue));
        crtcs.append(entry);
    }
    QJsonObject root;
    root.insert(QStringLiteral("display"), connection_.displayName());
    root.insert(QStringLiteral("crtcs"), crtcs);
    QDir().mkpath(QFileInfo(backupPath_).absolutePath());
    QSaveFile file(backupPath_);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.commit();
}

void X11DisplayServices::restoreFromBackup(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    file.close();
    const QJsonObject root = doc.object();
    // Another display's originals are for a start on that display to put back.
    if (normalizedDisplayName(root.value(QStringLiteral("display")).toString())
        != normalizedDisplayName(connection_.displayName()))
        return;
    Display* dpy = connection_.display();
    for (const QJsonValue& value : root.value(QStringLiteral("crtcs")).toArray()) {
        const QJsonObject entry = value.toObject();
        const auto crtc = static_cast<RRCrtc>(entry.value(QStringLiteral("crtc")).toInteger());
        GammaRamp ramp{fromJson(entry.value(QStringLiteral("red")).toArray()),
            fromJson(entry.value(QStringLiteral("green")).toArray()),
            fromJson(entry.value(QStringLiteral("blue")).toArray())};
        // Only a ramp that still fits the CRTC goes back.
        if (crtc == 0 || ramp.size() == 0 || ramp.green.size() != ramp.red.size()
            || ramp.blue.size() != ramp.red.size() || XRRGetCrtcGammaSize(dpy, crtc) != ramp.size())
            continue;
        writeRamp(crtc, ramp);
    }
    connection_.syncAndTakeError();
    QFile::remove(path);
}

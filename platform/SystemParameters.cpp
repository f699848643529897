#include "SystemParameters.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace {

bool active = true;
bool inhibited = false;
uint cookie = 0;

QDBusInterface* ScreenSaverInterface() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return nullptr;
    static QDBusInterface* saver =
        new QDBusInterface("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                           "org.freedesktop.ScreenSaver", bus);
    return saver->isValid() ? saver : nullptr;
}

void Inhibit() {
    if (inhibited)
        return;
    if (QDBusInterface* saver = ScreenSaverInterface()) {
        const QDBusReply<uint> reply =
            saver->call("Inhibit", QStringLiteral("Zelka"), QStringLiteral("benchmark running"));
        if (reply.isValid()) {
            cookie = reply.value();
            inhibited = true;
        }
    }
}

void Release() {
    if (!inhibited)
        return;
    if (QDBusInterface* saver = ScreenSaverInterface())
        saver->call("UnInhibit", cookie);
    inhibited = false;
}

} // namespace

BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, void* pvParam, UINT) {
    switch (uiAction) {
    case SPI_GETSCREENSAVEACTIVE:
        if (!pvParam)
            return 0;
        *static_cast<BOOL*>(pvParam) = active ? 1 : 0;
        return 1;
    case SPI_SETSCREENSAVEACTIVE:
        active = uiParam != 0;
        if (active)
            Release();
        else
            Inhibit();
        return 1;
    default:
        return 0;
    }
}

bool ScreenSaverInhibitedForTests() {
    return inhibited;
}

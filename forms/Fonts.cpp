#include "Fonts.h"

#include <QFile>
#include <fontconfig/fontconfig.h>

bool InstallFontAliases() {
    QFile conf(":/fonts/zelka-fonts.conf");
    if (!conf.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = conf.readAll();
    FcConfig* config = FcConfigGetCurrent();
    return config && FcConfigParseAndLoadFromMemory(
                         config, reinterpret_cast<const FcChar8*>(text.constData()), FcTrue);
}

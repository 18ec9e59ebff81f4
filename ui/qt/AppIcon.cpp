#include "ui/qt/AppIcon.h"

#include <QtGlobal>

// The resources live in this static library: register them explicitly.
static void InitVarnisResources()
{
    Q_INIT_RESOURCE(varnis);
}

namespace varnis {

QIcon AppIcon()
{
    InitVarnisResources();
    QIcon icon;
    for (const int nSize : {16, 32, 48, 128})
        icon.addFile(QStringLiteral(":/varnis/icons/varnis-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}

}  // namespace varnis

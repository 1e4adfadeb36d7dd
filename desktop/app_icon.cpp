#include "app_icon.h"

// The resources live in a static library; nothing would pull them into the program otherwise.
static bool InitResources() {
    Q_INIT_RESOURCE(orbix_loader);
    return true;
}

QIcon AppIcon() {
    static const bool ready = InitResources();
    (void)ready;
    QIcon icon;
    for (int size : {16, 32, 64, 128})
        icon.addFile(QStringLiteral(":/icons/orbix-loader-%1.png").arg(size), QSize(size, size));
    return icon;
}

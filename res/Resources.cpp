// Access to the compiled-in pictures.
#include "Resources.h"

#include <QSize>
#include <QString>

// Q_INIT_RESOURCE declares a function of the global namespace, so it cannot sit in a namespace.
static void RegisterCompiledResources() {
    Q_INIT_RESOURCE(resources);
}

void InitResources() {
    // Registering twice would stack a second copy of the tree; once is enough for the process.
    static const bool registered = (RegisterCompiledResources(), true);
    (void)registered;
}

QIcon AppIcon() {
    // Built from the PNG copies rather than app-icon.ico: reading .ico needs an image format
    // plugin that a minimal Qt installation may lack.
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/res/app-icon_%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap StatePicturesBitmap() {
    return QPixmap(QStringLiteral(":/res/state-pictures.bmp"));
}

QPixmap FileTypeBitmap() {
    return QPixmap(QStringLiteral(":/res/file-type-pictures.bmp"));
}

QPixmap TreeStatePicturesBitmap() {
    return QPixmap(QStringLiteral(":/res/tree-state-pictures.bmp"));
}

QPixmap FolderBitmap() {
    return QPixmap(QStringLiteral(":/res/folder-picture.bmp"));
}

QPixmap BannerBitmap() {
    return QPixmap(QStringLiteral(":/res/banner.bmp"));
}

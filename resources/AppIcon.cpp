#include "resources/AppIcon.h"

#include "resources/DialogTemplate.h"

#include <QImageReader>

// The images live in this static library; a static library's resources register only when
// something asks for them.
static void registerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

QIcon AppIcon() {
    registerResources();
    QIcon icon;
    if (QImageReader::supportedImageFormats().contains("svg"))
        icon.addFile(QString::fromLatin1(AppIconPath));
    for (const char* png :
         {":/icons/wendrake-16.png", ":/icons/wendrake-32.png", ":/icons/wendrake-64.png"})
        icon.addFile(QString::fromLatin1(png));
    return icon;
}

QIcon IconFromResource(const QString& path) {
    registerResources();
    if (path == QLatin1String(AppIconPath))
        return AppIcon();
    return QIcon(path);
}

#include "resources/AppIcon.h"

#include "resources/DialogTemplate.h"

#include <QImageReader>

QIcon AppIcon() {
    QIcon icon;
    if (QImageReader::supportedImageFormats().contains("svg"))
        icon.addFile(QString::fromLatin1(AppIconPath));
    for (const char* png :
         {":/icons/wendrake-16.png", ":/icons/wendrake-32.png", ":/icons/wendrake-64.png"})
        icon.addFile(QString::fromLatin1(png));
    return icon;
}

QIcon IconFromResource(const QString& path) {
    if (path == QLatin1String(AppIconPath))
        return AppIcon();
    return QIcon(path);
}

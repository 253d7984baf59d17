#pragma once

#include <QIcon>
#include <QString>

// Icon resource 128. The SVG is the artwork; the PNG renderings stand in where Qt has no SVG
// image plugin (it is a separate package on Debian).
QIcon AppIcon();

// The icon behind a resource path of a template's icon control.
QIcon IconFromResource(const QString& path);

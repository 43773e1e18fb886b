#include "app/UDroppedFiles.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace quarvex {

namespace {
QString LocalFile(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    const QString host = url.host();
    if (!host.isEmpty() && host != "localhost")
        return {};
    return QFileInfo(url.path()).absoluteFilePath();
}
} // namespace

QStringList DroppedLocalFiles(const QMimeData& mime)
{
    QStringList files;
    for (const QUrl& url : mime.urls())
        if (const QString file = LocalFile(url); !file.isEmpty())
            files << file;
    return files;
}

bool IsKmlOrKmzName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : name.mid(dot).toUpper();
    return extension == ".KML" || extension == ".KMZ";
}

} // namespace quarvex

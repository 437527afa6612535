#include "imagesnapshot.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace
{

QByteArray sha256Hex(const QByteArray &contents)
{
    return QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex();
}

} // namespace

ImageSnapshot::ImageSnapshot(QObject *parent)
    : QObject(parent)
{
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &ImageSnapshot::originalTouched);
}

bool ImageSnapshot::take(const QString &path)
{
    QFile image(path);
    if (QFileInfo(path).isDir() || !image.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    const QByteArray contents = image.readAll();
    if (image.error() != QFileDevice::NoError) {
        problem = QStringLiteral("cannot read %1: %2").arg(path, image.errorString());
        return false;
    }
    QFile kept(folder.filePath(QFileInfo(path).fileName()));
    if (!folder.isValid() || !kept.open(QIODevice::WriteOnly)
        || kept.write(contents) != contents.size() || !kept.flush()) {
        problem = QStringLiteral("cannot keep a copy of %1: %2")
                      .arg(path, folder.isValid() ? kept.errorString() : folder.errorString());
        return false;
    }
    original = path;
    copy = kept.fileName();
    bytes = contents.size();
    digest = sha256Hex(contents);
    watcher.addPath(original);
    return true;
}

QString ImageSnapshot::path() const { return copy; }

QString ImageSnapshot::fileName() const { return QFileInfo(copy).fileName(); }

qint64 ImageSnapshot::size() const { return bytes; }

QByteArray ImageSnapshot::sha256() const { return digest; }

QString ImageSnapshot::errorString() const { return problem; }

void ImageSnapshot::originalTouched()
{
    // A touch, or a rebuild that wrote the same bytes, changes nothing that
    // a board would get. A file replaced by a rename is a new file: the
    // watch follows the name.
    QFile image(original);
    if (image.open(QIODevice::ReadOnly) && sha256Hex(image.readAll()) == digest) {
        if (!watcher.files().contains(original))
            watcher.addPath(original);
        return;
    }
    watcher.removePath(original);
    emit changedOnDisk();
}

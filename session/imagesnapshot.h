#ifndef IMAGESNAPSHOT_H
#define IMAGESNAPSHOT_H

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

// The image of a run, taken once at its start: a private copy that nothing
// else writes, and the size and SHA-256 of exactly those bytes. A build
// that overwrites the image during a production run would otherwise send a
// mix of old and new boards, while the log claims one digest for them all.
class ImageSnapshot : public QObject
{
    Q_OBJECT

public:
    explicit ImageSnapshot(QObject *parent = nullptr);

    // False with errorString() when the image cannot be read or kept.
    bool take(const QString &path);
    // The copy, under the original's file name: the name the board's
    // receiver is sent.
    QString path() const;
    QString fileName() const;
    qint64 size() const;
    // Lower-case hex.
    QByteArray sha256() const;
    QString errorString() const;

signals:
    // Once, when the original's contents differ from the copy.
    void changedOnDisk();

private:
    void originalTouched();

    QTemporaryDir folder;
    QFileSystemWatcher watcher;
    QString original;
    QString copy;
    qint64 bytes = 0;
    QByteArray digest;
    QString problem;
};

#endif

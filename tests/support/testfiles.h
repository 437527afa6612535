#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The same bytes for the same size and seed, so a test can make them again
// to compare with what arrived.
QByteArray randomBytes(int size, quint32 seed = 0);
bool writeFile(const QString &path, const QByteArray &contents);
// The contents, or "(missing)" when the file cannot be read.
QByteArray readFile(const QString &path);
// Every entry of a folder, hidden ones included, sorted by name.
QStringList folderEntries(const QString &path);
// How many descriptors a running process holds open, from /proc; -1 when
// that cannot be read.
int openDescriptors(qint64 pid);

#endif

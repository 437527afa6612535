#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>
#include <QStringList>

QByteArray randomBytes(int size);
bool writeFile(const QString &path, const QByteArray &contents);
// The contents, or "(missing)" when the file cannot be read.
QByteArray readFile(const QString &path);
// Every entry of a folder, hidden ones included, sorted by name.
QStringList folderEntries(const QString &path);

#endif

#pragma once
// Files in the test binary's scratch folder (see ScratchFolder.h).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

namespace testsupport {

inline QString scratchPath(const QString& name)
{
    return QDir(qEnvironmentVariable("KESTRINE_TEST_SCRATCH")).filePath(name);
}

// The file's bytes; empty when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the bytes to a scratch file, making its folders; returns its path.
inline QString writeScratchFile(const QString& name, const QByteArray& bytes)
{
    const QString path = scratchPath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

} // namespace testsupport

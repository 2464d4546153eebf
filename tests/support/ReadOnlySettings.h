#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <unistd.h>

// The settings folder as a player finds it when it is read-only: files
// readable, nothing writable. Root writes anywhere, so as root the test takes
// the identity of "nobody" (65534) for as long as this lives.
class ReadOnlySettings
{
public:
    explicit ReadOnlySettings(const QString &iniFile) : m_folder(QFileInfo(iniFile).absolutePath())
    {
        for (QString path = m_folder; path.size() > 1; path = QFileInfo(path).absolutePath()) {
            if (path == QDir::tempPath())
                break;
            m_opened << path;
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
        }
        if (::geteuid() == 0)
            m_droppedRoot = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~ReadOnlySettings()
    {
        if (m_droppedRoot) {
            [[maybe_unused]] int restored = ::seteuid(0);
            restored = ::setegid(0);
        }
        for (const QString &path : std::as_const(m_opened))
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

private:
    QString m_folder;
    QStringList m_opened;
    bool m_droppedRoot = false;
};


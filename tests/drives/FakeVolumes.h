#pragma once

#include "platform/VolumeServices.h"

#include <QHash>
#include <QStringList>

// Volume services of a made-up machine: each letter has a type, a label, a
// network name and a size (or no disk). Free-space queries are recorded.
class FakeVolumes : public VolumeServices
{
public:
    struct Drive
    {
        quint32 type = win::DRIVE_FIXED;
        std::optional<QString> label = QString();
        std::optional<QString> networkName;
        std::optional<DiskSpace> space = DiskSpace{1000, 4000, 1000};
    };

    Drive &operator[](char letter) { return m_drives[QLatin1Char(letter)]; }
    void setNoDisk(char letter) { m_drives[QLatin1Char(letter)].space.reset(); }

    quint32 logicalDrives() const override
    {
        quint32 mask = 0;
        for (auto it = m_drives.cbegin(); it != m_drives.cend(); ++it)
            mask |= 1u << (it.key().unicode() - u'a');
        return mask;
    }
    quint32 driveType(const QString &rootPath) const override
    {
        const Drive *drive = find(rootPath);
        return drive ? drive->type : win::DRIVE_NO_ROOT_DIR;
    }
    std::optional<QString> volumeLabel(const QString &rootPath) const override
    {
        labelQueries.append(rootPath);
        const Drive *drive = find(rootPath);
        return drive ? drive->label : std::nullopt;
    }
    std::optional<QString> networkName(const QString &localName) const override
    {
        const Drive *drive = find(localName);
        return drive ? drive->networkName : std::nullopt;
    }
    std::optional<DiskSpace> diskFreeSpace(const QString &rootPath) const override
    {
        spaceQueries.append(rootPath);
        const Drive *drive = find(rootPath);
        return drive ? drive->space : std::nullopt;
    }

    mutable QStringList spaceQueries;
    mutable QStringList labelQueries;

private:
    const Drive *find(const QString &root) const
    {
        const std::optional<QChar> letter = letterOfRoot(root);
        if (!letter)
            return nullptr;
        const auto it = m_drives.constFind(*letter);
        return it == m_drives.constEnd() ? nullptr : &*it;
    }

    QHash<QChar, Drive> m_drives;
};

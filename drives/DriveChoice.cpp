#include "drives/DriveChoice.h"
#include "platform/AsciiCase.h"

#include "platform/DriveContext.h"
#include "platform/PosixPath.h"

#include <QDir>
#include <QFile>
#include <QScopedValueRollback>

namespace {

QByteArray currentFolder()
{
    return QFile::encodeName(QDir::currentPath());
}

} // namespace

DriveChoice::DriveChoice(DriveChoiceHost &host, std::shared_ptr<const DriveContext> drives,
                         std::shared_ptr<const VolumeServices> volumes)
    : m_host(host), m_drives(drives),
      m_volumes(volumes ? std::move(volumes)
                        : std::make_shared<const SystemVolumeServices>(std::move(drives)))
{
    const QByteArray folder = currentFolder();
    m_listDrive = m_drives->map()->driveOf(folder);
    if (!m_listDrive.isNull())
        m_lastFolder.insert(m_listDrive, folder);
}

QChar DriveChoice::startupDrive(const DriveMap &map, const QByteArray &folder)
{
    const QChar drive = map.driveOf(folder);
    const std::optional<QByteArray> driveFolder = drive.isNull() ? std::nullopt : map.folder(drive);
    const bool wholeMachine = drive.isNull() || (driveFolder && posix::cleanPath(*driveFolder) == "/");
    const QChar c = QLatin1Char('c');
    const std::optional<QByteArray> cFolder = map.folder(c);
    if (wholeMachine && cFolder && posix::cleanPath(*cFolder) != "/")
        return c;
    return drive;
}

void DriveChoice::DriveComboBox1Change()
{
    const QChar drive = m_host.selectorDrive();
    // With no drive the message names none.
    const QString s = drive.isNull() ? QString() : QString(drive) + QLatin1Char(':');

    // The nested run of a reset finds the drive that has just passed the
    // check, so it neither checks again nor can it show a second message.
    if (!m_resetting && !IsDiskInDrive(drive)) {
        m_host.showMissingDiskMessage(QStringLiteral("There is no disk in drive ") + s);
        const QChar target = usableDriveAfterFailure(drive);
        const QScopedValueRollback<bool> resetting(m_resetting, true);
        m_host.setSelectorDrive(target);
    }

    setDirectoryListDrive(m_host.selectorDrive());
    const QChar shown = m_host.selectorDrive();
    m_host.setSelectedDrive(shown.isNull() ? QString() : QString(shown));
}

QChar DriveChoice::usableDriveAfterFailure(QChar failed) const
{
    // C when it is listed and holds a disk, else the first listed drive that
    // does; only listed drives, so the selector shows the drive it is set to.
    const QList<QChar> listed = m_host.selectorDrives();
    QList<QChar> candidates;
    if (listed.contains(QLatin1Char('c')))
        candidates.append(QLatin1Char('c'));
    for (QChar letter : listed) {
        if (letter != QLatin1Char('c'))
            candidates.append(letter);
    }
    for (QChar letter : candidates) {
        if (AsciiCase::upper(letter) != AsciiCase::upper(failed) && IsDiskInDrive(letter))
            return letter;
    }
    return QChar();
}

bool DriveChoice::IsDiskInDrive(QChar letter) const
{
    // There are no critical-error dialogs to suppress here: a drive without
    // media simply fails the query.
    return m_volumes->diskFreeSpace(QString(letter) + QStringLiteral(":\\")).has_value();
}

void DriveChoice::setDirectoryListDrive(QChar letter)
{
    if (AsciiCase::upper(letter) == AsciiCase::upper(m_listDrive) || letter.isNull())
        return;
    const QChar drive = AsciiCase::lower(letter);
    const std::shared_ptr<const DriveMap> snapshot = m_drives->map();
    const DriveMap &map = *snapshot;
    const std::optional<QByteArray> root = map.folder(drive);
    if (!root)
        return;

    const QByteArray leaving = currentFolder();
    if (!m_listDrive.isNull() && map.driveOf(leaving) == m_listDrive)
        m_lastFolder.insert(m_listDrive, leaving);

    const QByteArray remembered = m_lastFolder.value(drive);
    if (remembered.isEmpty() || !QDir::setCurrent(QFile::decodeName(remembered))) {
        if (!QDir::setCurrent(QFile::decodeName(*root)))
            return;
    }
    m_listDrive = drive;
}

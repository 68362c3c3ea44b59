#pragma once

#include "platform/VolumeServices.h"

#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

// What the drive choice needs of the main window. TForm2 implements it by
// forwarding to DriveComboBox1, a message box and its module state.
class DriveChoiceHost
{
public:
    virtual ~DriveChoiceHost() = default;

    // The selector's drive: a lower-case letter, or a null QChar for none.
    virtual QChar selectorDrive() const = 0;
    // The letters the selector lists, in its order.
    virtual QList<QChar> selectorDrives() const = 0;
    // Sets the selector's drive (a null QChar for none). When this changes
    // the drive, the selector raises its change event at once, and the
    // change handler runs again, nested, before this call returns.
    virtual void setSelectorDrive(QChar drive) = 0;
    // Shows `text` in a modal message box with one OK button, titled with the
    // application's title; returns when the user has dismissed it.
    virtual void showMissingDiskMessage(const QString &text) = 0;
    // Stores `drive` (one lower-case letter, or empty) in SelectedDrive.
    virtual void setSelectedDrive(const QString &drive) = 0;
};

// The drive choice of the main window: the change handler of the drive
// selector with its disk check, and the hidden directory list, kept as the
// process's current folder.
class DriveChoice
{
public:
    // The hidden list starts on the process's current folder. The drives are
    // those of `drives`; without volume services, the machine's own over
    // those drives are used.
    DriveChoice(DriveChoiceHost &host, std::shared_ptr<const DriveContext> drives,
                std::shared_ptr<const VolumeServices> volumes = {});

    // The selector's change handler. Checks that the selector's drive holds a
    // disk; when it does not, says so ("There is no disk in drive " and the
    // drive) and puts the selector back on C, or, when C cannot be used, on
    // the first listed drive that passes the check, or on no drive at all.
    // Then moves the hidden list to the selector's drive and stores that
    // drive in SelectedDrive, so SelectedDrive always names the selector's
    // drive when a run ends.
    void DriveComboBox1Change();

    // The drive the selector starts on: that of the start-up folder, but c:
    // when the folder lies on the drive that maps / or on no drive (on this
    // system the start-up folder is usually the home folder, and a scan of
    // / would walk the whole machine, other Wine prefixes included). When
    // the map has no c:, the folder's drive (or none).
    static QChar startupDrive(const DriveMap &map, const QByteArray &folder);

    // Whether the drive of a letter (either case) holds a readable volume:
    // any answer to the free-space query, a zero-size volume too. A failed or
    // timed-out query, or no letter at all, means no disk.
    bool IsDiskInDrive(QChar letter) const;

    // The hidden directory list: moves the process's current folder to drive
    // x when x is not the drive of the list's current folder. The folder is
    // the one last current on that drive (at start-up, the start-up folder),
    // else the drive's root. A folder that cannot be entered leaves the
    // current folder as it was: nothing in the program depends on it.
    void setDirectoryListDrive(QChar letter);
    // The drive of the list's current folder (a lower-case letter or none).
    QChar directoryListDrive() const { return m_listDrive; }

private:
    QChar usableDriveAfterFailure(QChar failed) const;

    DriveChoiceHost &m_host;
    std::shared_ptr<const DriveContext> m_drives;
    std::shared_ptr<const VolumeServices> m_volumes;
    QChar m_listDrive;
    QHash<QChar, QByteArray> m_lastFolder; // per drive
    bool m_resetting = false;
};

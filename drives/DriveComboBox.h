#pragma once

#include "platform/VolumeServices.h"

#include <QChar>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QPainter;

// The drive selector: an owner-drawn drop-down list of the machine's drives,
// each entry a small picture of the drive's kind and a text made of the
// lower-case letter, a colon and the bracketed volume label or network name
// ("c: [system]", "z: \\server\share", "a:" for removable drives). Its
// list opens below the field and shows at most 8 entries at a time.
//
// It keeps the chosen drive (a lower-case letter or none) and raises
// changed():
//  - whenever setDrive() gets past its change test, including the setDrive()
//    of window creation, which always passes because no entry is selected
//    then;
//  - when the user completes the choice of an entry (mouse, arrow keys,
//    type-ahead): once from setDrive() when the drive changes and once more
//    in any case, so choosing another drive raises it twice and re-choosing
//    the selected one once;
//  - when the user presses Backspace.
// The owner connects changed() directly: handlers may call setDrive() and so
// run again, nested, before the outer run goes on.
class TDriveComboBox : public QComboBox
{
    Q_OBJECT

public:
    // The five drive pictures, bitmap resources of the same names.
    enum class Picture { None = -1, Floppy = 0, Hard, Network, CdRom, Ram };

    // The drive starts as the drive of the process's current folder; the
    // entries are built only when the window is created (createWindow()).
    // The drives are those of `drives`; without volume services, the
    // machine's own over those drives are used.
    TDriveComboBox(QWidget *parent, std::shared_ptr<const DriveContext> drives,
                   std::shared_ptr<const VolumeServices> volumes = {});
    ~TDriveComboBox() override;

    // The selector's drive: a lower-case letter, or a null QChar for none.
    QChar drive() const { return m_drive; }
    // Goes on only when no entry is selected or `letter` and the drive differ
    // (compared in upper case); then stores the letter in lower case (none
    // for a null QChar, which also clears the selection), selects the first
    // entry of that letter if there is one, and raises changed().
    void setDrive(QChar letter);

    // Window creation: builds the entries (leaving none selected) and sets
    // the drive again, which raises changed() once. Runs once, the first
    // time it is called or the selector is shown, whichever comes first; a
    // change of font after that builds the entries again the same way.
    void createWindow();
    bool isWindowCreated() const { return m_windowCreated; }

    // The letters of the entries, in order.
    QList<QChar> drives() const;
    Picture entryPicture(int index) const;
    static QString pictureName(Picture picture);
    // The picture as drawn: its blue background made transparent.
    QImage picture(Picture picture) const;
    // One height for every entry: the larger of the font's cell height and
    // the height of the FLOPPY picture (11).
    int entryHeight() const;

    // Draws one entry into `rect` as the list and the closed field show it.
    void drawEntry(QPainter &painter, int index, const QRect &rect, bool selected, bool focused) const;

    // The clock of the type-ahead search, in milliseconds; tests set their own.
    void setClock(std::function<qint64()> clock);

    const std::shared_ptr<const VolumeServices> &volumeServices() const { return m_volumes; }

signals:
    void changed();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildEntries();
    QString bracketedLabel(QChar letter) const;
    QString networkName(QChar letter) const;
    void userChose(int index);
    void typeAhead(const QString &text);

    std::shared_ptr<const VolumeServices> m_volumes;
    std::array<QImage, 5> m_pictures;
    QChar m_drive;
    bool m_windowCreated = false;
    QString m_search;
    std::optional<qint64> m_lastKey;
    QElapsedTimer m_timer;
    std::function<qint64()> m_clock;
};

#pragma once

#include "app/ScanResults.h"
#include "app/ScanWindow.h"
#include "drives/DriveChoice.h"
#include "review/ReviewHost.h"
#include "shell/ShellUi.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

#include <memory>

class BusyAnimation;
class ChangeJournal;
class QCheckBox;
class QLabel;
class ResultReview;
class ShellLinkService;
class ShellServices;
class ShortcutScan;
class TCheckListBox;
class TDriveComboBox;
class TImageButton;
class TListBox;
class TURLLabel;
class WindowScan;

// The main window's module state: BrokenCount, BrokenCountText,
// SelectedDrive and ShortcutPaths, shared by the scan, the review and the
// drive choice. Plain module-level state, not fields of the window.
extern ScanResults Form2State;

// The main window: every control of the fixed 800 x 600 layout, the
// creation and close handlers, and the program's named operations, which
// forward to the subsystem folders. It is the host those folders talk to.
class TForm2 : public QWidget, public ScanWindow, public ReviewHost, public DriveChoiceHost, public ShellUi
{
    Q_OBJECT
public:
    // Every part of the window works with `drives`; without them the window
    // loads its own (the Wine prefix of the environment, else the built-in
    // rules, over this machine's mounts).
    explicit TForm2(QWidget *parent = nullptr, std::shared_ptr<const DriveContext> drives = nullptr);
    ~TForm2() override;

    // Creation handler: runs once, after every form-defined control exists
    // and before the window is first shown. A failing step raises its error.
    void FormCreate();
    // Close handler: releases ShortcutPaths.
    void FormClose();

    // The program's named operations.
    void ScanShortcuts(QObject *sender = nullptr);
    void ScanFolder(const QString &folder, const QString &pattern, bool recurse);
    void CheckShortcut(const QString &shortcutPath, QString &targetPath);
    void CheckListBox1onClick(QObject *sender = nullptr);
    void CheckListBox1DblClick(QObject *sender = nullptr);
    void ListBox1onclick(QObject *sender = nullptr);
    void ListBox1DblClick(QObject *sender = nullptr);
    void DeleteCheckedShortcuts(QObject *sender = nullptr);
    void DriveComboBox1Change(QObject *sender = nullptr);
    bool IsDiskInDrive(QChar letter);

    // The shell link service every scan and click uses.
    ShellLinkService &linkService() { return *m_links; }
    const std::shared_ptr<const DriveContext> &drives() const { return m_drives; }
    bool isScanning() const;

    // Form-defined controls, in declaration order.
    TListBox *ListBox1 = nullptr;
    TCheckListBox *CheckListBox1 = nullptr;
    TDriveComboBox *DriveComboBox1 = nullptr;
    TListBox *DirectoryListBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    TURLLabel *URLLabel1 = nullptr;
    TURLLabel *URLLabel2 = nullptr;
    QLabel *Image2 = nullptr;
    BusyAnimation *WebBrowser1 = nullptr;
    // Picture buttons made by FormCreate.
    TImageButton *Btscan = nullptr;
    TImageButton *Btdelete = nullptr;
    // The line beside the count: what the last scan repaired and could not
    // read; a click on it names every one. After a scan that repaired
    // anything it offers "Undo repairs" (on the line and in its menu).
    QLabel *ReportLine = nullptr;
    static inline const QString UndoRepairsText = QStringLiteral("Undo repairs");

    // Whether the last scan's repairs can be undone, and the undo itself:
    // after a confirmation, every shortcut the scan repaired that is still
    // as the scan left it gets its old bytes back (journalled, so the undo
    // can be undone from the command line); the line and a message say
    // what was put back and what was left as it is.
    bool canUndoRepairs() const;
    void undoRepairs();

    // ScanWindow.
    void setWaitCursor(bool on) override;
    void setBusyIndicatorLeft(int left) override;
    void setLabel1Text(const QString &text) override;
    void setReportLine(const QString &text, const QStringList &details) override;
    void SetButtonEnabled(ScanWindow::Button button, bool enabled) override;
    void clearListBox() override;
    void appendToListBox(const QString &text) override;
    int listBoxWidth() const override;
    void setListBoxExtent(int pixels) override;
    void clearCheckList() override;
    void appendToCheckList(const QString &text) override;
    int checkListCount() const override;
    QString checkListItem(int index) const override;
    void setCheckListTicked(int index, bool ticked) override;
    void setCheckListUpdates(bool on) override;
    int checkListTextWidth(const QString &text) const override;
    void setCheckListExtent(int pixels) override;
    bool ignoreRemoteShortcuts() const override;
    void dispatchPendingEvents() override;
    bool closing() const override;

    // ReviewHost.
    int entryCount(ResultList list) const override;
    QString entry(ResultList list, int index) const override;
    int selectedIndex(ResultList list) const override;
    bool isTicked(int index) const override;
    void setToolTip(ResultList list, const QString &text) override;
    void removeEntry(ResultList list, int index) override;
    void setCountLine(const QString &text) override { setLabel1Text(text); }
    void setDeleteEnabled(bool enabled) override;
    QStringList &shortcutPaths() override;

    // DriveChoiceHost.
    QChar selectorDrive() const override;
    QList<QChar> selectorDrives() const override;
    void setSelectorDrive(QChar drive) override;
    void showMissingDiskMessage(const QString &text) override;
    void setSelectedDrive(const QString &drive) override;

    // ShellUi.
    bool confirmDelete(const QStringList &paths, const QString &question, int launchers) override;
    void showMessage(const QString &text) override;
    void openUrl(const QUrl &url) override;

    // The window's fixed client area.
    static constexpr int FormWidth = 800;
    static constexpr int FormHeight = 600;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createFormControls();
    void fitFooterSentence();
    void startBusyAnimation();
    void createPictureButtons();
    void showReportDetails();
    void showReportLine();
    TListBox *list(ResultList which) const;

    std::shared_ptr<const DriveContext> m_drives;
    std::unique_ptr<ShellLinkService> m_links;
    std::unique_ptr<ShellServices> m_shell;
    std::unique_ptr<ShortcutScan> m_scan;
    std::unique_ptr<WindowScan> m_windowScan;
    QString m_reportText;
    QStringList m_reportDetails;
    // The journal of the last scan, while its repairs can be undone.
    std::shared_ptr<ChangeJournal> m_undoJournal;
    std::unique_ptr<ResultReview> m_review;
    std::unique_ptr<DriveChoice> m_driveChoice;
    bool m_closing = false;
    // While a scan fills the check list, it is repainted at most once every
    // ListRepaintMs: an entry that comes while a repaint is held back shows
    // with the next one.
    static constexpr int ListRepaintMs = 40;
    QTimer m_listRepaint;
    // The check list's entries' widths in its font, measured as they come.
    QHash<QString, int> m_textWidths;
};

// The texts of the form definition.
namespace FormTexts {
extern const QString Label2;
extern const QString Label3;
// Label5's sentence: a run of `leadingSpaces` that URLLabel2 covers, the
// words, and a run of `closingSpaces` that URLLabel1 covers before the
// closing full stop.
QString Label5(int leadingSpaces, int closingSpaces);
extern const QString URLLabel1;
extern const QString URLLabel2;
extern const QString URLLabel1Url;
extern const QString URLLabel2Url;
} // namespace FormTexts

#include "app/TForm2.h"

#include "app/Dialogs.h"
#include "app/StartupFiles.h"
#include "app/TListBox.h"
#include "app/WindowScan.h"
#include "controls/BusyAnimation.h"
#include "controls/ImageButton.h"
#include "controls/URLLabel.h"
#include "drives/DriveComboBox.h"
#include "platform/DriveContext.h"
#include "resources/JpegDecoder.h"
#include "resources/Resources.h"
#include "review/ResultReview.h"
#include "scan/ShortcutScan.h"
#include "shell/ChangeJournal.h"
#include "shell/JournalUndo.h"
#include "shell/ShellLinkService.h"
#include "shell/ShellServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

#include <exception>

namespace FormTexts {
const QString Label2 = QStringLiteral("Ignore remote shortcuts");
const QString Label3 = QStringLiteral(
    "Linkmend will scan all shortcuts and automatically repair and resolve any broken links. Just select "
    "the drive you wish to scan and click \u201CScan Shortcuts.\u201D Any shortcuts that cannot be repaired "
    "will appear as broken. These broken shortcuts can be deleted or you can investigate them individually "
    "by double clicking on the path in the window above.");
QString Label5(int leadingSpaces, int closingSpaces)
{
    return QString(leadingSpaces, QLatin1Char(' ')) +
           QStringLiteral("is a free utility from Tessivane. Tessivane also makes") +
           QString(closingSpaces, QLatin1Char(' ')) + QStringLiteral(".");
}
const QString URLLabel1 = QStringLiteral("Zorbital");
const QString URLLabel2 = QStringLiteral("Linkmend");
const QString URLLabel1Url =
    QStringLiteral("http://www.zorbital.example/?utm_medium=app&utm_campaign=linkmend");
const QString URLLabel2Url =
    QStringLiteral("http://www.tessivane.example/?utm_medium=app&utm_campaign=linkmend");
} // namespace FormTexts

namespace {

QFont formFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QRect &bounds, const QString &text, bool autoSize)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(bounds);
    if (autoSize)
        label->resize(label->sizeHint().width(), bounds.height());
    return label;
}

TURLLabel *makeLink(QWidget *parent, const char *name, QPoint at, const QString &caption, const QString &url)
{
    auto *link = new TURLLabel(parent);
    link->setObjectName(QLatin1String(name));
    QFont font = formFont();
    font.setUnderline(true);
    link->setFont(font);
    QPalette blue = link->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    link->setPalette(blue);
    link->setText(caption);
    link->setURL(url);
    link->setParams(QString());
    link->setGeometry(at.x(), at.y(), link->sizeHint().width(), 14);
    return link;
}

// Where a word-wrapped label draws the character at `index` of its text,
// relative to the label: its lines laid out as the label lays them out
// (at the font's leading from each other, each on a whole pixel).
QPointF wrappedTextPosition(const QLabel &label, int index)
{
    QTextLayout layout(label.text(), label.font());
    QTextOption option(label.alignment());
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const qreal leading = QFontMetricsF(label.font()).leading();
    const QRect contents = label.contentsRect();
    qreal y = -leading;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(contents.width());
        y = std::ceil(y + leading);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    const QTextLine line = layout.lineForTextPosition(index);
    if (!line.isValid())
        return contents.topLeft();
    return contents.topLeft() + QPointF(line.cursorToX(index), line.y());
}

QPixmap picture(const char *resource)
{
    return QPixmap::fromImage(decodeJpeg(Resources::data(QLatin1String(resource))));
}

} // namespace

ScanResults Form2State;

TForm2::TForm2(QWidget *parent, std::shared_ptr<const DriveContext> drives)
    : QWidget(parent), m_drives(drives ? std::move(drives) : DriveContext::load())
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Linkmend"));
    // A fixed-size window with only a close button in its caption bar, that
    // keeps its own taskbar entry (a normal top-level window, not a tool
    // window, which would lose it on Linux).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(FormWidth, FormHeight);
    move(0, 0);
    setFont(formFont());
    createFormControls();

    m_listRepaint.setSingleShot(true);
    m_listRepaint.setInterval(ListRepaintMs);
    connect(&m_listRepaint, &QTimer::timeout, this, [this] { CheckListBox1->setUpdatesEnabled(true); });

    m_links = std::make_unique<ShellLinkService>(m_drives);
    m_shell = ShellServices::create(*this, m_drives);
    m_scan = std::make_unique<ShortcutScan>(*m_links, m_drives);
    m_windowScan = std::make_unique<WindowScan>(*this, Form2State, *m_scan);
    m_review = std::make_unique<ResultReview>(*this, *m_links, *m_shell);
    m_driveChoice = std::make_unique<DriveChoice>(*this, m_drives, DriveComboBox1->volumeServices());
    // The link labels' addresses go through the shell services, which
    // decide what may be opened.
    for (TURLLabel *link : {URLLabel1, URLLabel2})
        link->setOpener([this](const QString &address) { m_shell->openWebAddress(address); });
}

TForm2::~TForm2() = default;

void TForm2::createFormControls()
{
    // Windowless controls first, in the form's order: later ones lie over
    // earlier ones.
    Image1 = makeLabel(this, "Image1", QRect(0, 0, 800, 600), QString(), false);
    Image1->setPixmap(picture("BACKGROUND"));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1 = makeLabel(this, "Label1", QRect(20, 112, 0, 14), QString(), true);
    Label2 = makeLabel(this, "Label2", QRect(36, 463, 0, 14), FormTexts::Label2, true);
    Label3 = makeLabel(this, "Label3", QRect(18, 515, 396, 73), FormTexts::Label3, false);
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4 = makeLabel(this, "Label4", QRect(0, 0, 0, 0), QString(), true);
    Label5 = makeLabel(this, "Label5", QRect(467, 515, 318, 28), QString(), false);
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    URLLabel1 = makeLink(this, "URLLabel1", QPoint(608, 528), FormTexts::URLLabel1, FormTexts::URLLabel1Url);
    URLLabel2 = makeLink(this, "URLLabel2", QPoint(467, 515), FormTexts::URLLabel2, FormTexts::URLLabel2Url);
    fitFooterSentence();
    Image2 = makeLabel(this, "Image2", QRect(200, 421, 57, 56), QString(), false);
    Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image2->setPixmap(picture("SPHERE"));
    // Right-aligned on the count's line, hidden until a scan has something
    // to say there.
    ReportLine = makeLabel(this, "ReportLine", QRect(380, 112, 400, 14), QString(), false);
    ReportLine->setAlignment(Qt::AlignRight | Qt::AlignTop);
    ReportLine->setTextFormat(Qt::RichText);
    ReportLine->hide();
    connect(ReportLine, &QLabel::linkActivated, this, [this](const QString &link) {
        if (link == QLatin1String("undo"))
            undoRepairs();
        else
            showReportDetails();
    });
    // Its menu: every entry it names, and the undo of the scan's repairs.
    ReportLine->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ReportLine, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("Show all"), this, [this] { showReportDetails(); });
        QAction *undo = menu.addAction(UndoRepairsText, this, [this] { undoRepairs(); });
        undo->setEnabled(canUndoRepairs());
        menu.exec(ReportLine->mapToGlobal(at));
    });

    // Windowed controls.
    // ListBox1, DirectoryListBox1 and the busy animation at rest lie beyond
    // the window's right edge, out of sight. They are hidden as well: a
    // window manager that makes the window larger than its fixed size (as
    // tiling ones do) would show them otherwise.
    ListBox1 = new TListBox(this, 14);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(840, 135, 113, 280);
    ListBox1->hide();

    CheckListBox1 = new TCheckListBox(this, 14);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(18, 132, 762, 280);
    CheckListBox1->setFont(formFont());
    QPalette red = CheckListBox1->palette();
    red.setColor(QPalette::Text, Qt::red);
    CheckListBox1->setPalette(red);

    // The selector takes its start drive from the process's current folder,
    // so it is made before anything could change that folder.
    DriveComboBox1 = new TDriveComboBox(this, m_drives);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(18, 430, 153, 20);

    DirectoryListBox1 = new TListBox(this, 16);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setGeometry(832, 433, 145, 97);
    DirectoryListBox1->hide();

    CheckBox1 = new QCheckBox(this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(18, 463, 17, 16);

    WebBrowser1 = new BusyAnimation(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setGeometry(881, 421, 56, 56);
    WebBrowser1->setFocusPolicy(Qt::TabFocus);
    setBusyIndicatorLeft(WebBrowser1->x());

    for (QLabel *label : findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
        label->setFocusPolicy(Qt::NoFocus);

    setTabOrder(ListBox1, CheckListBox1);
    setTabOrder(CheckListBox1, DriveComboBox1);
    setTabOrder(DriveComboBox1, DirectoryListBox1);
    setTabOrder(DirectoryListBox1, CheckBox1);
    setTabOrder(CheckBox1, WebBrowser1);

    connect(ListBox1, &TListBox::userSelectionChanged, this, [this] { ListBox1onclick(ListBox1); });
    connect(ListBox1, &QListWidget::doubleClicked, this, [this] { ListBox1DblClick(ListBox1); });
    connect(CheckListBox1, &TListBox::userSelectionChanged, this,
            [this] { CheckListBox1onClick(CheckListBox1); });
    connect(CheckListBox1, &QListWidget::doubleClicked, this,
            [this] { CheckListBox1DblClick(CheckListBox1); });
    // Direct connection: the handler re-enters itself through the reset.
    connect(DriveComboBox1, &TDriveComboBox::changed, this, [this] { DriveComboBox1Change(DriveComboBox1); });
}

void TForm2::fitFooterSentence()
{
    // The link labels lie over runs of spaces in Label5's sentence. Each run
    // is as wide as its label's caption plus one space on each side that
    // meets a word, in whole spaces of Label5's font, so that the sentence
    // reads with ordinary word gaps around the two names.
    const qreal space = std::max(1.0, QFontMetricsF(Label5->font()).horizontalAdvance(QLatin1Char(' ')));
    const auto spacesFor = [space](qreal width) { return qRound(width / space); };
    const auto captionWidth = [](const QLabel *link) {
        return QFontMetricsF(link->font()).horizontalAdvance(link->text());
    };
    const int closingSpaces = spacesFor(captionWidth(URLLabel1) + 2 * space);
    Label5->setText(FormTexts::Label5(spacesFor(captionWidth(URLLabel2) + space), closingSpaces));

    // URLLabel2 opens the first line where it stands. URLLabel1 goes one
    // space into its run, on the line where Label5's wrapping puts the run.
    const int closingRun = int(Label5->text().size()) - 1 - closingSpaces;
    const QPointF at = wrappedTextPosition(*Label5, closingRun) + QPointF(space, 0);
    URLLabel1->move(Label5->pos() + at.toPoint());
}

void TForm2::FormCreate()
{
    // The page and the animated picture: cosmetic files, so a failure to
    // write them (or to start the animation) is reported once and creation
    // goes on; the still picture then shows at the indicator's place.
    try {
        StartupFiles::startUp(*WebBrowser1);
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
    }

    // Labels draw only their text over the background picture.
    for (QLabel *label : {Label1, Label2, Label3, Label4, Label5, static_cast<QLabel *>(URLLabel1),
                          static_cast<QLabel *>(URLLabel2), ReportLine}) {
        label->setAutoFillBackground(false);
        label->setAttribute(Qt::WA_TranslucentBackground);
    }

    createPictureButtons();
}

void TForm2::createPictureButtons()
{
    Btscan =
        new TImageButton(this, QStringLiteral("Btscan"), [this](QObject *sender) { ScanShortcuts(sender); });
    Btscan->PlaceButton(290, 421, 194, 58, QStringLiteral("Btscan"), false, QString());
    Btscan->SetImageStates(true, true, true, false);
    Btdelete = new TImageButton(this, QStringLiteral("Btdelete"),
                                [this](QObject *sender) { DeleteCheckedShortcuts(sender); });
    Btdelete->PlaceButton(498, 421, 286, 58, QStringLiteral("Btdelete"), false, QString());
    Btdelete->SetImageStates(true, true, true, false);
    Btdelete->SetButtonEnabled(false);

    // The picture buttons lie above the pictures and labels, below every
    // windowed control.
    for (QWidget *windowed :
         {static_cast<QWidget *>(ListBox1), static_cast<QWidget *>(CheckListBox1),
          static_cast<QWidget *>(DriveComboBox1), static_cast<QWidget *>(DirectoryListBox1),
          static_cast<QWidget *>(CheckBox1), static_cast<QWidget *>(WebBrowser1)})
        windowed->raise();
}

void TForm2::FormClose()
{
    Form2State.ShortcutPaths.reset();
}

void TForm2::closeEvent(QCloseEvent *event)
{
    FormClose();
    m_closing = true;
    event->accept();
}

bool TForm2::isScanning() const
{
    return m_scan->isScanning();
}

void TForm2::ScanShortcuts(QObject *)
{
    if (isScanning() || m_closing)
        return;
    // Each scan is a run of the change journal: every repair it makes is
    // recorded before it is made, and the run can be undone as a whole.
    m_undoJournal.reset();
    const auto journal =
        std::make_shared<ChangeJournal>(QStringLiteral("window scan of %1:").arg(Form2State.SelectedDrive));
    m_links->setJournal(journal);
    m_windowScan->ScanShortcuts();
    if (journal->replaceCount() > 0 && !m_closing) {
        m_undoJournal = journal;
        showReportLine();
    }
}

bool TForm2::canUndoRepairs() const
{
    return m_undoJournal && !isScanning();
}

void TForm2::undoRepairs()
{
    if (!canUndoRepairs())
        return;
    const std::optional<JournalRun> run = ChangeJournal::read(m_undoJournal->filePath());
    if (!run) {
        Dialogs::current().showMessage(
            QStringLiteral("The journal of this scan cannot be read any more, so its "
                           "repairs cannot be undone here."));
        return;
    }
    const int repairs = m_undoJournal->replaceCount();
    if (!Dialogs::current().askYesNo(
            repairs == 1
                ? QStringLiteral("Put back the shortcut this scan repaired, as it was before?")
                : QStringLiteral("Put back the %1 shortcuts this scan repaired, as they were before?")
                      .arg(repairs)))
        return;
    setWaitCursor(true);
    const JournalUndo::Report report = JournalUndo(JournalUndo::journalFor(*run)).undo(*run);
    setWaitCursor(false);
    // The repairs are undone; their shortcuts point where they did before.
    m_undoJournal.reset();

    using Result = JournalUndo::Item::Result;
    QStringList details;
    for (const JournalUndo::Item &item : report.items) {
        const QString path = item.winPath.isEmpty() ? QFile::decodeName(item.path) : item.winPath;
        switch (item.result) {
        case Result::Restored:
            details << QStringLiteral("Put back: %1").arg(path);
            break;
        case Result::AlreadyAsBefore:
            break;
        case Result::ChangedSince:
        case Result::Gone:
        case Result::Failed:
            details << QStringLiteral("Left as it is: %1 (%2)").arg(path, item.reason);
            break;
        }
    }
    const int restored = report.count(Result::Restored);
    const int left = report.left();
    const QString line = (restored == 1 ? QStringLiteral("1 repair undone")
                                        : QStringLiteral("%1 repairs undone").arg(restored)) +
                         report.leftText();
    setReportLine(line, details);
    QString message = line + QLatin1Char('.');
    if (restored > 0)
        message += QStringLiteral(" Scan again to list the shortcuts that are broken now.");
    if (left > 0)
        message +=
            QLatin1Char('\n') + details.filter(QStringLiteral("Left as it is: ")).join(QLatin1Char('\n'));
    Dialogs::current().showMessage(message);
}
void TForm2::ScanFolder(const QString &folder, const QString &pattern, bool recurse)
{
    m_windowScan->ScanFolder(folder, pattern, recurse);
}
void TForm2::CheckShortcut(const QString &shortcutPath, QString &targetPath)
{
    m_windowScan->CheckShortcut(shortcutPath, targetPath);
}
void TForm2::CheckListBox1onClick(QObject *)
{
    m_review->showTarget(ResultList::CheckList);
}
void TForm2::CheckListBox1DblClick(QObject *)
{
    m_review->openFolderOf(ResultList::CheckList);
}
void TForm2::ListBox1onclick(QObject *)
{
    m_review->showTarget(ResultList::PlainList);
}
void TForm2::ListBox1DblClick(QObject *)
{
    m_review->openFolderOf(ResultList::PlainList);
}
void TForm2::DeleteCheckedShortcuts(QObject *)
{
    m_review->deleteTicked();
}
void TForm2::DriveComboBox1Change(QObject *)
{
    m_driveChoice->DriveComboBox1Change();
}
bool TForm2::IsDiskInDrive(QChar letter)
{
    return m_driveChoice->IsDiskInDrive(letter);
}

// ScanWindow.
void TForm2::setWaitCursor(bool on)
{
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}
void TForm2::setBusyIndicatorLeft(int left)
{
    // Shown exactly while its left edge lies within the window's 800 pixels:
    // a scan moves it in, and out again when it ends.
    WebBrowser1->move(left, WebBrowser1->y());
    WebBrowser1->setVisible(left >= 0 && left < FormWidth);
}
void TForm2::setLabel1Text(const QString &text)
{
    Label1->setText(text);
    Label1->resize(Label1->sizeHint().width(), Label1->height());
}
void TForm2::setReportLine(const QString &text, const QStringList &details)
{
    m_reportText = text;
    m_reportDetails = details;
    showReportLine();
}
void TForm2::showReportLine()
{
    const QString &text = m_reportText;
    const QStringList &details = m_reportDetails;
    if (text.isEmpty()) {
        ReportLine->clear();
        ReportLine->setToolTip(QString());
        ReportLine->hide();
        return;
    }
    // After a scan that repaired anything, the line offers to undo it.
    ReportLine->setText(QStringLiteral("<a href=\"details\">%1</a>").arg(text.toHtmlEscaped()) +
                        (canUndoRepairs()
                             ? QStringLiteral(" &nbsp; <a href=\"undo\">%1</a>").arg(UndoRepairsText)
                             : QString()));
    // It ends at the list's right edge; a long line takes room to the left,
    // up to the count.
    const int right = ReportLine->geometry().right();
    const int room = right - (Label1->geometry().right() + 12);
    const int width = std::clamp(ReportLine->sizeHint().width(), std::min(400, room), std::max(room, 0));
    ReportLine->setGeometry(right - width + 1, ReportLine->y(), width, ReportLine->height());
    // The hint names the first of them; the click names every one.
    constexpr qsizetype HintLines = 20;
    QStringList hint = details.mid(0, HintLines);
    if (details.size() > HintLines)
        hint << QStringLiteral("and %1 more (click to see them all)").arg(details.size() - HintLines);
    ReportLine->setToolTip(hint.join(QLatin1Char('\n')));
    ReportLine->show();
}
void TForm2::showReportDetails()
{
    if (!m_reportDetails.isEmpty())
        Dialogs::current().showMessage(m_reportDetails.join(QLatin1Char('\n')));
}
void TForm2::SetButtonEnabled(ScanWindow::Button button, bool enabled)
{
    TImageButton *target = button == ScanWindow::Button::Btscan ? Btscan : Btdelete;
    if (target)
        target->SetButtonEnabled(enabled);
}
void TForm2::clearListBox()
{
    ListBox1->clear();
}
void TForm2::appendToListBox(const QString &text)
{
    ListBox1->addItem(text);
}
int TForm2::listBoxWidth() const
{
    return ListBox1->width();
}
void TForm2::setListBoxExtent(int pixels)
{
    ListBox1->setHorizontalExtent(pixels);
}
void TForm2::clearCheckList()
{
    CheckListBox1->clear();
    m_textWidths.clear();
}
void TForm2::appendToCheckList(const QString &text)
{
    CheckListBox1->addEntry(text);
    // Measured now, between two entries of the walk, rather than all at
    // once when the scan ends and sets the list's extent.
    m_textWidths.insert(text, CheckListBox1->fontMetrics().horizontalAdvance(text));
    // A list of hundreds of entries takes about a millisecond to paint; one
    // repaint for every entry found would cost a large drive's scan half a
    // second. The first entry after a quiet spell shows at once.
    if (m_listRepaint.isActive())
        CheckListBox1->setUpdatesEnabled(false);
    else
        m_listRepaint.start();
}
int TForm2::checkListCount() const
{
    return CheckListBox1->count();
}
QString TForm2::checkListItem(int index) const
{
    return CheckListBox1->item(index)->text();
}
void TForm2::setCheckListTicked(int index, bool ticked)
{
    CheckListBox1->setChecked(index, ticked);
}
void TForm2::setCheckListUpdates(bool on)
{
    m_listRepaint.stop();
    if (!on) {
        CheckListBox1->setUpdatesEnabled(false);
        return;
    }
    // Shown with the window's next paint: the picture buttons that the scan
    // enables right after repaint at once, and would paint the whole list
    // with them while the scan's clean-up waits.
    QTimer::singleShot(0, CheckListBox1, [list = CheckListBox1] { list->setUpdatesEnabled(true); });
}
int TForm2::checkListTextWidth(const QString &text) const
{
    if (const auto known = m_textWidths.constFind(text); known != m_textWidths.cend())
        return known.value();
    return CheckListBox1->fontMetrics().horizontalAdvance(text);
}
void TForm2::setCheckListExtent(int pixels)
{
    CheckListBox1->setHorizontalExtent(pixels);
}
bool TForm2::ignoreRemoteShortcuts() const
{
    return CheckBox1->isChecked();
}
void TForm2::dispatchPendingEvents()
{
    // The walk asks after every entry it takes, some hundred thousand times on
    // a large drive, and one dispatch costs several microseconds even when
    // nothing waits: the event loop polls its sources with a system call
    // each time, which made it the largest single cost of a scan. Nothing
    // tells for free whether an event waits, so the walk's requests are
    // served at most once every DispatchIntervalMs: when that much time has
    // passed since the last dispatch, every pending event is dispatched as
    // before, between two entries. The window therefore never waits longer
    // for its events than one entry's work plus this interval, far less
    // than a frame of the busy animation or anything a user could notice.
    constexpr qint64 DispatchIntervalMs = 2;
    static QElapsedTimer sinceLastDispatch;
    if (sinceLastDispatch.isValid() && sinceLastDispatch.elapsed() < DispatchIntervalMs)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceLastDispatch.start();
}
bool TForm2::closing() const
{
    return m_closing;
}

// ReviewHost.
TListBox *TForm2::list(ResultList which) const
{
    return which == ResultList::PlainList ? ListBox1 : static_cast<TListBox *>(CheckListBox1);
}
int TForm2::entryCount(ResultList which) const
{
    return list(which)->count();
}
QString TForm2::entry(ResultList which, int index) const
{
    return list(which)->item(index)->text();
}
int TForm2::selectedIndex(ResultList which) const
{
    return list(which)->selectedIndex();
}
bool TForm2::isTicked(int index) const
{
    return CheckListBox1->isChecked(index);
}
void TForm2::setToolTip(ResultList which, const QString &text)
{
    list(which)->setToolTip(text);
}
void TForm2::removeEntry(ResultList which, int index)
{
    delete list(which)->takeItem(index);
}
void TForm2::setDeleteEnabled(bool enabled)
{
    if (Btdelete)
        Btdelete->SetButtonEnabled(enabled);
}
QStringList &TForm2::shortcutPaths()
{
    if (!Form2State.ShortcutPaths)
        Form2State.ShortcutPaths = std::make_unique<QStringList>();
    return *Form2State.ShortcutPaths;
}

// DriveChoiceHost.
QChar TForm2::selectorDrive() const
{
    return DriveComboBox1->drive();
}
QList<QChar> TForm2::selectorDrives() const
{
    return DriveComboBox1->drives();
}
void TForm2::setSelectorDrive(QChar drive)
{
    DriveComboBox1->setDrive(drive);
}
void TForm2::showMissingDiskMessage(const QString &text)
{
    Dialogs::current().showMessage(text);
}
void TForm2::setSelectedDrive(const QString &drive)
{
    Form2State.SelectedDrive = drive;
}

// ShellUi.
bool TForm2::confirmDelete(const QStringList &, const QString &question, int)
{
    return Dialogs::current().askYesNo(question);
}
void TForm2::showMessage(const QString &text)
{
    Dialogs::current().showMessage(text);
}
void TForm2::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

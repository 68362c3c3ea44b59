#include "app/TForm2.h"

#include "app/TListBox.h"
#include "resources/Resources.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>

namespace FormTexts {
const QString Label2 = QStringLiteral("Ignore remote shortcuts");
const QString Label3 = QStringLiteral(
    "Linkmend will scan all shortcuts and automatically repair and resolve any broken links. Just select "
    "the drive you wish to scan and click \u201CScan Shortcuts.\u201D Any shortcuts that cannot be repaired "
    "will appear as broken. These broken shortcuts can be deleted or you can investigate them individually "
    "by double clicking on the path in the window above.");
const QString Label5 = QString(31, QLatin1Char(' ')) +
                       QStringLiteral("is a free utility from Tessivane. Tessivane also makes") +
                       QString(19, QLatin1Char(' ')) + QStringLiteral(".");
const QString URLLabel1 = QStringLiteral("Zorbital");
const QString URLLabel2 = QStringLiteral("Linkmend");
const QString URLLabel1Url = QStringLiteral("http://www.zorbital.example/?utm_medium=app&utm_campaign=linkmend");
const QString URLLabel2Url = QStringLiteral("http://www.tessivane.example/?utm_medium=app&utm_campaign=linkmend");
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

} // namespace

TForm2::TForm2(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Linkmend"));
    // A fixed-size window with only a close button in its caption bar, that
    // keeps its own taskbar entry (a normal top-level window, not a tool
    // window, which would lose it on Linux).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(800, 600);
    move(0, 0);
    setFont(formFont());
    createFormControls();
}

TForm2::~TForm2() = default;

void TForm2::createFormControls()
{
    // Windowless controls first, in the form's order: later ones lie over
    // earlier ones.
    Image1 = makeLabel(this, "Image1", QRect(0, 0, 800, 600), QString(), false);
    Label1 = makeLabel(this, "Label1", QRect(20, 112, 0, 14), QString(), true);
    Label2 = makeLabel(this, "Label2", QRect(36, 463, 0, 14), FormTexts::Label2, true);
    Label3 = makeLabel(this, "Label3", QRect(18, 515, 396, 73), FormTexts::Label3, false);
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4 = makeLabel(this, "Label4", QRect(0, 0, 0, 0), QString(), true);
    Label5 = makeLabel(this, "Label5", QRect(467, 515, 318, 28), FormTexts::Label5, false);
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    URLLabel1 = makeLabel(this, "URLLabel1", QRect(608, 528, 0, 14), FormTexts::URLLabel1, true);
    URLLabel2 = makeLabel(this, "URLLabel2", QRect(467, 515, 0, 14), FormTexts::URLLabel2, true);
    Image2 = makeLabel(this, "Image2", QRect(200, 421, 57, 56), QString(), false);
    Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Windowed controls.
    ListBox1 = new TListBox(this, 14);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(840, 135, 113, 280);

    CheckListBox1 = new TCheckListBox(this, 14);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(18, 132, 762, 280);
    QFont listFont = formFont();
    CheckListBox1->setFont(listFont);
    QPalette red = CheckListBox1->palette();
    red.setColor(QPalette::Text, Qt::red);
    CheckListBox1->setPalette(red);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(18, 430, 153, 20);

    DirectoryListBox1 = new TListBox(this, 16);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setGeometry(832, 433, 145, 97);
    DirectoryListBox1->hide();

    CheckBox1 = new QCheckBox(this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(18, 463, 17, 16);

    WebBrowser1 = new QWidget(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setGeometry(881, 421, 56, 56);
    WebBrowser1->setFocusPolicy(Qt::TabFocus);

    for (QWidget *w : {static_cast<QWidget *>(Image1), static_cast<QWidget *>(Label1), static_cast<QWidget *>(Label2),
                       static_cast<QWidget *>(Label3), static_cast<QWidget *>(Label4), static_cast<QWidget *>(Label5),
                       static_cast<QWidget *>(URLLabel1), static_cast<QWidget *>(URLLabel2),
                       static_cast<QWidget *>(Image2)})
        w->setFocusPolicy(Qt::NoFocus);

    ListBox1->setToolTip(QString());
    CheckListBox1->setToolTip(QString());

    setTabOrder(ListBox1, CheckListBox1);
    setTabOrder(CheckListBox1, DriveComboBox1);
    setTabOrder(DriveComboBox1, DirectoryListBox1);
    setTabOrder(DirectoryListBox1, CheckBox1);
    setTabOrder(CheckBox1, WebBrowser1);
}

void TForm2::FormCreate()
{
    // Labels draw only their text over the background picture.
    for (QLabel *label : {Label1, Label2, Label3, Label4, Label5, URLLabel1, URLLabel2}) {
        label->setAutoFillBackground(false);
        label->setAttribute(Qt::WA_TranslucentBackground);
    }
}

void TForm2::FormClose() {}

void TForm2::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

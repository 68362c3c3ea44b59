#include "drives/DriveComboBox.h"
#include "drives/DriveChoice.h"
#include "platform/AsciiCase.h"

#include "platform/DriveMap.h"
#include "platform/WinPath.h"
#include "resources/Resources.h"
#include "winpath/WinPathText.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr qint64 TypeAheadPauseMs = 500;
// Room left of the text for an entry without a picture.
constexpr int NoPictureWidth = 16;
constexpr int FloppyHeight = 11;

// A drive picture with every pixel of its bottom-left pixel's colour (the
// blue background) made transparent, so it shows the entry's background.
// A picture that cannot be loaded is drawn as none.
QImage loadPicture(const QString &name)
{
    if (!Resources::contains(name))
        return {};
    QImage image = QImage::fromData(Resources::data(name), "BMP");
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == key)
                image.setPixel(x, y, qRgba(0, 0, 0, 0));
        }
    }
    return image;
}

// Draws the popup list's entries the same way as the closed field.
class DriveEntryDelegate : public QStyledItemDelegate
{
public:
    explicit DriveEntryDelegate(TDriveComboBox *combo) : QStyledItemDelegate(combo), m_combo(combo) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        m_combo->drawEntry(*painter, index.row(), option.rect, option.state.testFlag(QStyle::State_Selected),
                           option.state.testFlag(QStyle::State_HasFocus));
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        return {m_combo->fontMetrics().horizontalAdvance(text) + NoPictureWidth + 8, m_combo->entryHeight()};
    }

private:
    TDriveComboBox *m_combo;
};

// Opens the entries as a list below the field that shows at most
// maxVisibleItems of them and scrolls the rest, as a drop-down list does.
// Styles that open a menu over the field instead (Fusion among them) show
// every entry at once and ignore that limit.
class DropDownListStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == QStyle::SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TDriveComboBox::TDriveComboBox(QWidget *parent, std::shared_ptr<const DriveContext> drives,
                               std::shared_ptr<const VolumeServices> volumes)
    : QComboBox(parent),
      m_volumes(volumes ? std::move(volumes) : std::make_shared<const SystemVolumeServices>(drives))
{
    setEditable(false);
    auto *dropDownList = new DropDownListStyle;
    dropDownList->setParent(this);
    setStyle(dropDownList);
    setMaxVisibleItems(8);
    setItemDelegate(new DriveEntryDelegate(this));

    for (int i = 0; i < int(m_pictures.size()); ++i)
        m_pictures[i] = loadPicture(pictureName(Picture(i)));

    // The drive of the process's current folder, unless that is the whole
    // machine (or no drive): then c:.
    m_drive = DriveChoice::startupDrive(*drives->map(), QFile::encodeName(QDir::currentPath()));

    m_timer.start();
    m_clock = [this] { return m_timer.elapsed(); };

    connect(this, &QComboBox::activated, this, &TDriveComboBox::userChose);
}

TDriveComboBox::~TDriveComboBox() = default;

QString TDriveComboBox::pictureName(Picture picture)
{
    switch (picture) {
    case Picture::Floppy:
        return QStringLiteral("FLOPPY");
    case Picture::Hard:
        return QStringLiteral("HARD");
    case Picture::Network:
        return QStringLiteral("NETWORK");
    case Picture::CdRom:
        return QStringLiteral("CDROM");
    case Picture::Ram:
        return QStringLiteral("RAM");
    case Picture::None:
        break;
    }
    return QString();
}

QImage TDriveComboBox::picture(Picture picture) const
{
    return picture == Picture::None ? QImage() : m_pictures[int(picture)];
}

TDriveComboBox::Picture TDriveComboBox::entryPicture(int index) const
{
    if (index < 0 || index >= count())
        return Picture::None;
    bool ok = false;
    const int value = itemData(index).toInt(&ok);
    return ok && value >= 0 && value < int(m_pictures.size()) ? Picture(value) : Picture::None;
}

int TDriveComboBox::entryHeight() const
{
    const QImage &floppy = m_pictures[int(Picture::Floppy)];
    return std::max(fontMetrics().height(), floppy.isNull() ? FloppyHeight : floppy.height());
}

QList<QChar> TDriveComboBox::drives() const
{
    QList<QChar> letters;
    for (int i = 0; i < count(); ++i)
        letters.append(itemText(i).at(0));
    return letters;
}

void TDriveComboBox::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

void TDriveComboBox::setDrive(QChar letter)
{
    if (currentIndex() >= 0 && AsciiCase::upper(letter) == AsciiCase::upper(m_drive))
        return;
    if (letter.isNull()) {
        m_drive = QChar();
        setCurrentIndex(-1);
    } else {
        m_drive = AsciiCase::lower(letter);
        const QString root = WinPath::driveRoot(m_drive);
        for (int i = 0; i < count(); ++i) {
            if (WinPathText::sameDrive(itemText(i), root)) {
                setCurrentIndex(i);
                break;
            }
        }
    }
    emit changed();
}

void TDriveComboBox::createWindow()
{
    if (m_windowCreated)
        return;
    m_windowCreated = true;
    buildEntries();
    setDrive(m_drive);
}

void TDriveComboBox::buildEntries()
{
    clear();
    const quint32 mask = m_volumes->logicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(mask & (quint32(1) << i)))
            continue;
        const QChar letter(char16_t(u'a' + i));
        const QString root = WinPath::driveRoot(letter);
        const QString drivePart = WinPathText::drivePart(root);
        switch (m_volumes->driveType(root)) {
        case win::DRIVE_REMOVABLE:
            // The medium is not touched: no label is read.
            addItem(drivePart, int(Picture::Floppy));
            break;
        case win::DRIVE_FIXED:
            addItem(drivePart + QLatin1Char(' ') + bracketedLabel(letter), int(Picture::Hard));
            break;
        case win::DRIVE_REMOTE:
            addItem(drivePart + QLatin1Char(' ') + networkName(letter), int(Picture::Network));
            break;
        case win::DRIVE_CDROM:
            addItem(drivePart + QLatin1Char(' ') + bracketedLabel(letter), int(Picture::CdRom));
            break;
        case win::DRIVE_RAMDISK:
            addItem(drivePart + QLatin1Char(' ') + bracketedLabel(letter), int(Picture::Ram));
            break;
        default:
            break;
        }
    }
    // Adding the first entry selects it; a fresh list has no selection.
    setCurrentIndex(-1);
}

QString TDriveComboBox::bracketedLabel(QChar letter) const
{
    const QString label = m_volumes->volumeLabel(WinPath::driveRoot(letter)).value_or(QString());
    return QLatin1Char('[') + QLocale().toLower(label) + QLatin1Char(']');
}

QString TDriveComboBox::networkName(QChar letter) const
{
    const QString localName = QString(QChar(AsciiCase::upper(letter))) + QLatin1Char(':');
    if (const std::optional<QString> name = m_volumes->networkName(localName))
        return QLocale().toLower(*name);
    return bracketedLabel(letter);
}

void TDriveComboBox::userChose(int index)
{
    if (index < 0 || index >= count())
        return;
    // The click step: the drive follows the chosen entry, raising changed()
    // when it changes; the select step raises it again in any case.
    setDrive(itemText(index).at(0));
    emit changed();
}

void TDriveComboBox::typeAhead(const QString &text)
{
    const qint64 now = m_clock();
    if (!m_lastKey || now - *m_lastKey >= TypeAheadPauseMs)
        m_search.clear();
    m_lastKey = now;
    m_search += text;
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).startsWith(m_search, Qt::CaseInsensitive)) {
            if (i != currentIndex()) {
                setCurrentIndex(i);
                userChose(i);
            }
            return;
        }
    }
}

void TDriveComboBox::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers commandKeys = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event->key() == Qt::Key_Backspace && !(event->modifiers() & commandKeys)) {
        event->accept();
        m_search.chop(1);
        m_lastKey = m_clock();
        emit changed();
        return;
    }
    const QString text = event->text();
    if (!text.isEmpty() && !(event->modifiers() & commandKeys) && text.at(0).isPrint() &&
        !text.at(0).isSpace()) {
        event->accept();
        typeAhead(text);
        return;
    }
    QComboBox::keyPressEvent(event);
}

void TDriveComboBox::showEvent(QShowEvent *event)
{
    QComboBox::showEvent(event);
    createWindow();
}

void TDriveComboBox::changeEvent(QEvent *event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_windowCreated) {
        // A new font means a new entry height: the window is made again, with
        // its entries and the set drive of window creation.
        buildEntries();
        setDrive(m_drive);
    }
}

void TDriveComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);

    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() < 0) {
        painter.fillRect(field, palette().brush(QPalette::Base));
        return;
    }
    const bool focused = hasFocus();
    drawEntry(painter, currentIndex(), field, focused, focused);
}

void TDriveComboBox::drawEntry(QPainter &painter, int index, const QRect &rect, bool selected,
                               bool focused) const
{
    const QColor background = palette().color(selected ? QPalette::Highlight : QPalette::Base);
    const QColor foreground = palette().color(selected ? QPalette::HighlightedText : QPalette::Text);

    painter.save();
    painter.fillRect(rect, background);

    const QImage image = picture(entryPicture(index));
    int textLeft = rect.left() + NoPictureWidth + 6;
    if (!image.isNull()) {
        const int top = rect.top();
        const int bottom = rect.top() + rect.height();
        painter.drawImage(QPoint(rect.left() + 2, (top + bottom - image.height()) / 2), image);
        textLeft = rect.left() + image.width() + 6;
    }

    if (index >= 0 && index < count()) {
        const QRect textRect(QPoint(textLeft, rect.top()), QPoint(rect.right(), rect.bottom()));
        painter.setFont(font());
        painter.setPen(foreground);
        // No mnemonic processing: an "&" shows as itself.
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, itemText(index));
    }

    if (focused) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect;
        option.backgroundColor = background;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    painter.restore();
}

#include "app/TListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace {

// Gives every entry the list's fixed height.
class FixedHeightDelegate : public QStyledItemDelegate
{
public:
    FixedHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), m_height(height) {}
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(m_height);
        return size;
    }

private:
    int m_height;
};

} // namespace

TListBox::TListBox(QWidget *parent, int itemHeight) : QListWidget(parent), m_itemHeight(itemHeight)
{
    setItemDelegate(new FixedHeightDelegate(itemHeight, this));
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::StyledPanel);
}

void TListBox::setHorizontalExtent(int pixels)
{
    m_extent = pixels;
    updateGeometries();
}

int TListBox::selectedIndex() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void TListBox::updateGeometries()
{
    // The scroll range follows the extent the program set, not the entries.
    // The base class first sets the range it computes from the entries; with
    // the bar shown "as needed", the two ranges made it hide and show the
    // bar by turns, and each turn asked for another layout, for ever (a busy
    // window once the extent was set). So the range the base class sets is
    // not announced, and the bar shows exactly while the extent exceeds the
    // list's width.
    QScrollBar *bar = horizontalScrollBar();
    {
        const QSignalBlocker quiet(bar);
        QListWidget::updateGeometries();
    }
    const int range = qMax(0, m_extent - viewport()->width());
    bar->setRange(0, range);
    bar->setPageStep(viewport()->width());
    const Qt::ScrollBarPolicy policy = range > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (horizontalScrollBarPolicy() != policy)
        setHorizontalScrollBarPolicy(policy);
}

void TListBox::mousePressEvent(QMouseEvent *event)
{
    const int before = selectedIndex();
    QListWidget::mousePressEvent(event);
    // A click on an entry notifies even when it was selected already, as a
    // list box does; a click on empty space below the entries does not.
    if (selectedIndex() != before || indexAt(event->position().toPoint()).isValid())
        emit userSelectionChanged();
}

void TListBox::keyPressEvent(QKeyEvent *event)
{
    const int before = selectedIndex();
    QListWidget::keyPressEvent(event);
    if (selectedIndex() != before)
        emit userSelectionChanged();
}

TCheckListBox::TCheckListBox(QWidget *parent, int itemHeight) : TListBox(parent, itemHeight) {}

void TCheckListBox::addEntry(const QString &text)
{
    auto *entry = new QListWidgetItem(text, this);
    entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    entry->setCheckState(Qt::Unchecked);
}

bool TCheckListBox::isChecked(int index) const
{
    const QListWidgetItem *entry = item(index);
    return entry && entry->checkState() == Qt::Checked;
}

void TCheckListBox::setChecked(int index, bool checked)
{
    if (QListWidgetItem *entry = item(index))
        entry->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

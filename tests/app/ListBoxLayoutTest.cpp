#include "app/TListBox.h"

#include <QApplication>
#include <QScrollBar>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// Counts the events that reach one widget and its children.
class EventCounter : public QObject
{
public:
    int count = 0;
    QWidget *watched = nullptr;

protected:
    bool eventFilter(QObject *object, QEvent *) override
    {
        if (watched && (object == watched || watched->isAncestorOf(qobject_cast<QWidget *>(object))))
            ++count;
        return false;
    }
};

int eventsWhileIdle(QWidget *list)
{
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    EventCounter counter;
    counter.watched = list;
    qApp->installEventFilter(&counter);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    qApp->removeEventFilter(&counter);
    return counter.count;
}

} // namespace

// With an extent wider than the list the bar shows; the layout then settles
// instead of hiding and showing the bar by turns at every dispatch, whatever
// the entries (none, narrow or wide ones).
TEST(ListBoxLayout, SettlesAndShowsTheBarExactlyWhileTheExtentExceedsTheWidth)
{
    QWidget window;
    window.resize(800, 600);
    auto *list = new TListBox(&window, 14);
    list->setGeometry(10, 135, 113, 280);
    window.show();

    list->setHorizontalExtent(313);
    EXPECT_EQ(eventsWhileIdle(list), 0);
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 313 - list->viewport()->width());

    list->addItem(QStringLiteral("c:\\a.lnk"));
    EXPECT_EQ(eventsWhileIdle(list), 0);
    list->addItem(QStringLiteral("c:\\a folder with a long name\\and another one\\shortcut.lnk"));
    EXPECT_EQ(eventsWhileIdle(list), 0);
    list->clear();
    EXPECT_EQ(eventsWhileIdle(list), 0);
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible());

    list->setHorizontalExtent(50);
    EXPECT_EQ(eventsWhileIdle(list), 0);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
}

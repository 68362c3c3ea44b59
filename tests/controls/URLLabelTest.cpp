#include "controls/URLLabel.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

// Stands in for the owner's opener: records every address handed to it.
struct OpenedUrls
{
    QStringList urls;
    void watch(TURLLabel &label)
    {
        label.setOpener([this](const QString &address) { urls << address; });
    }
};

void mouse(QWidget &w, QEvent::Type type, Qt::MouseButton which, QPointF at = QPointF(2, 2))
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(which) : Qt::NoButton;
    QMouseEvent event(type, at, w.mapToGlobal(at), which, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void click(QWidget &w, Qt::MouseButton which = Qt::LeftButton, QPointF releaseAt = QPointF(2, 2))
{
    mouse(w, QEvent::MouseButtonPress, which);
    mouse(w, QEvent::MouseButtonRelease, which, releaseAt);
}

const QString Address = QStringLiteral("http://www.zorbital.example/?utm_medium=app&utm_campaign=linkmend");

TEST(URLLabel, ShowsTheHandPointerFromConstruction)
{
    TURLLabel label;
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(label.URL().isEmpty());
    EXPECT_TRUE(label.Params().isEmpty());
    // Both are properties, settable by name like any label property.
    EXPECT_TRUE(label.setProperty("URL", Address));
    EXPECT_EQ(label.URL(), Address);
}

TEST(URLLabel, LeftClickOpensExactlyTheAddress)
{
    OpenedUrls opened;
    QWidget window;
    TURLLabel label(&window);
    opened.watch(label);
    label.setText(QStringLiteral("Zorbital"));
    label.resize(70, 14);
    label.setURL(Address);
    click(label);
    EXPECT_EQ(opened.urls, QStringList{Address});

    // Parameters are not part of the address a desktop handler opens.
    label.setParams(QStringLiteral("--new-window"));
    click(label);
    EXPECT_EQ(opened.urls, (QStringList{Address, Address}));
}

TEST(URLLabel, OnlyALeftPressAndReleaseOverTheLabelOpens)
{
    OpenedUrls opened;
    TURLLabel label;
    opened.watch(label);
    label.resize(70, 14);
    label.setURL(Address);
    click(label, Qt::RightButton);
    click(label, Qt::MiddleButton);
    click(label, Qt::LeftButton, QPointF(200, 2));            // released outside
    mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton); // no press first
    EXPECT_TRUE(opened.urls.isEmpty());
}

TEST(URLLabel, EmptyAddressOrNoOpenerIsNoError)
{
    OpenedUrls opened;
    TURLLabel label;
    opened.watch(label);
    label.resize(70, 14);
    click(label);
    EXPECT_TRUE(opened.urls.isEmpty() || opened.urls[0].isEmpty());
    TURLLabel alone;
    alone.resize(70, 14);
    alone.setURL(Address);
    click(alone); // nobody to open it: nothing happens
}

} // namespace

#include "controls/BusyAnimation.h"
#include "resources/Resources.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString writeAnimation(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("example.gif"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Resources::data(QStringLiteral("example")));
    return path;
}

TEST(BusyAnimation, ShortDelaysPlayAsATenthOfASecond)
{
    EXPECT_EQ(BusyAnimation::playDelay(0), 100);
    EXPECT_EQ(BusyAnimation::playDelay(10), 100);
    EXPECT_EQ(BusyAnimation::playDelay(19), 100);
    EXPECT_EQ(BusyAnimation::playDelay(20), 20);
    EXPECT_EQ(BusyAnimation::playDelay(70), 70);
}

TEST(BusyAnimation, LoopsThroughTheFiveFramesAtTheBrowsersPace)
{
    QTemporaryDir dir;
    BusyAnimation animation;
    ASSERT_TRUE(animation.start(writeAnimation(dir))) << animation.errorString().toStdString();
    EXPECT_TRUE(animation.isStarted());
    EXPECT_EQ(animation.frameCount(), 5);
    EXPECT_EQ(animation.currentFrame(), 0);
    for (int expected : {1, 2, 3, 4, 0, 1}) {
        EXPECT_EQ(animation.advance(), 100); // the file says 1 hundredth
        EXPECT_EQ(animation.currentFrame(), expected);
    }
}

TEST(BusyAnimation, RunsOnlyWhileSomePartOfItIsInView)
{
    QTemporaryDir dir;
    QWidget window;
    window.resize(800, 600);
    BusyAnimation animation(&window);
    animation.setGeometry(881, 421, 56, 56);
    window.show();
    ASSERT_TRUE(animation.start(writeAnimation(dir)));
    EXPECT_FALSE(animation.isRunning());
    animation.move(199, 421);
    EXPECT_TRUE(animation.isRunning());
    animation.move(881, 421);
    EXPECT_FALSE(animation.isRunning());
    animation.move(199, 421);
    window.hide();
    EXPECT_FALSE(animation.isRunning());
}

TEST(BusyAnimation, UnreadablePictureLeavesTheWidgetEmpty)
{
    QTemporaryDir dir;
    BusyAnimation animation;
    animation.resize(56, 56);
    EXPECT_FALSE(animation.start(dir.filePath(QStringLiteral("missing.gif"))));
    EXPECT_FALSE(animation.errorString().isEmpty());
    EXPECT_TRUE(animation.errorString().contains(QStringLiteral("missing.gif")));

    QFile junk(dir.filePath(QStringLiteral("junk.gif")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("GIF89a and then nothing sensible");
    junk.close();
    EXPECT_FALSE(animation.start(junk.fileName()));
    EXPECT_FALSE(animation.isStarted());
    EXPECT_FALSE(animation.isRunning());

    // Nothing is drawn, so the still picture beneath shows.
    QImage canvas(56, 56, QImage::Format_ARGB32);
    canvas.fill(Qt::magenta);
    animation.render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(canvas.pixel(28, 28), QColor(Qt::magenta).rgba());
}

TEST(BusyAnimation, PaintsTheBallTiledOverTheBackdrop)
{
    QTemporaryDir dir;
    BusyAnimation animation;
    animation.resize(56, 56);
    ASSERT_TRUE(animation.start(writeAnimation(dir)));
    QImage canvas(56, 56, QImage::Format_ARGB32);
    canvas.fill(Qt::magenta);
    animation.render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(canvas.pixel(0, 0), animation.backdrop().rgba()); // transparent corner
    const QColor centre = canvas.pixelColor(28, 34);
    EXPECT_GT(centre.blue(), centre.red() + 60); // the blue ball
    // The 55-row picture repeats from its top in the 56th row, as a page
    // background does.
    EXPECT_EQ(canvas.pixel(28, 55), canvas.pixel(28, 0));
}

} // namespace

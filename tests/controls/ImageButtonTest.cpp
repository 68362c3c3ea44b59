#include "TestPictures.h"

#include "controls/ImageButton.h"
#include "resources/JpegDecoder.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

// Test pictures, told apart by width: the base family and the alternate
// family of a toggle-mode button.
constexpr int Base = 10, Over = 11, Click = 12, Disabled = 13, Alt = 20, AltOver = 21, AltClick = 22;

class ImageButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        add("TBase", Base);
        add("TBASE_over", Over);
        add("tbase_CLICK", Click);
        add("TBASE_DISABLED", Disabled);
        add("TAlt", Alt);
        add("TALT_OVER", AltOver);
        add("TALT_CLICK", AltClick);
        window.resize(400, 300);
    }
    void TearDown() override
    {
        for (const QString &name : added)
            Resources::registerForTest(name, {});
    }
    void add(const char *name, int width)
    {
        Resources::registerForTest(QLatin1String(name), solidJpeg(width, 8));
        added << QLatin1String(name);
    }

    // A plain-mode button with every state picture, as the main window makes
    // its two.
    TImageButton &plainButton()
    {
        button = std::make_unique<TImageButton>(&window, QStringLiteral("Btest"), [this](QObject *sender) {
            ++clicks;
            lastSender = sender;
        });
        button->PlaceButton(10, 20, 40, 12, QStringLiteral("tbase"), false, QString());
        button->SetImageStates(true, true, true, false);
        return *button;
    }
    TImageButton &toggleButton(bool useOver = true)
    {
        button = std::make_unique<TImageButton>(&window, QStringLiteral("Btoggle"),
                                                [this](QObject *) { ++clicks; });
        button->PlaceButton(10, 20, 40, 12, QStringLiteral("tbase"), true, QStringLiteral("talt"));
        button->SetImageStates(true, useOver, true, false);
        return *button;
    }

    static void enter(TImageButton &b)
    {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(&b, &event);
    }
    static void leave(TImageButton &b)
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&b, &event);
    }
    static void mouse(TImageButton &b, QEvent::Type type, Qt::MouseButton which, QPointF at = QPointF(3, 3))
    {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::MouseButtons(which) : Qt::NoButton;
        QMouseEvent event(type, at, b.mapToGlobal(at), which, held, Qt::NoModifier);
        QApplication::sendEvent(&b, &event);
    }
    static void press(TImageButton &b, Qt::MouseButton which = Qt::LeftButton)
    {
        mouse(b, QEvent::MouseButtonPress, which);
    }
    static void release(TImageButton &b, Qt::MouseButton which = Qt::LeftButton, QPointF at = QPointF(3, 3))
    {
        mouse(b, QEvent::MouseButtonRelease, which, at);
    }
    static void click(TImageButton &b)
    {
        press(b);
        release(b);
    }
    static int shown(const TImageButton &b) { return b.picture().isNull() ? 0 : b.picture().width(); }

    QWidget window;
    std::unique_ptr<TImageButton> button;
    QStringList added;
    int clicks = 0;
    QObject *lastSender = nullptr;
};

TEST_F(ImageButtonTest, StartsEmptyAndPlaceButtonShowsTheBasePicture)
{
    TImageButton b(&window, QStringLiteral("Btscan"), nullptr);
    EXPECT_EQ(b.objectName(), QStringLiteral("Btscan"));
    EXPECT_EQ(b.parentWidget(), &window);
    EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(b.picture().isNull());
    EXPECT_TRUE(b.BaseImageName().isEmpty());
    EXPECT_FALSE(b.Toggled() || b.UseClickImage() || b.UseOverImage() || b.UseDisabledImage() ||
                 b.RestoreOnClick() || b.ToggleMode());

    b.PlaceButton(290, 421, 194, 58, QStringLiteral("Btscan"), false, QString());
    EXPECT_EQ(b.geometry(), QRect(290, 421, 194, 58));
    EXPECT_EQ(b.BaseImageName(), QStringLiteral("Btscan"));
    // "Btscan" finds BTSCAN: names compare without regard to case.
    EXPECT_EQ(b.picture(), decodeJpeg(Resources::data(QStringLiteral("BTSCAN"))));
    EXPECT_EQ(b.picture().size(), QSize(194, 56));

    // Setting the state pictures shows nothing new.
    const QImage before = b.picture();
    b.SetImageStates(true, true, true, false);
    EXPECT_EQ(b.picture(), before);
    EXPECT_TRUE(b.UseClickImage() && b.UseOverImage() && b.UseDisabledImage());
    EXPECT_FALSE(b.RestoreOnClick());

    b.SetButtonEnabled(false);
    EXPECT_EQ(b.picture(), decodeJpeg(Resources::data(QStringLiteral("BTSCAN_DISABLED"))));
}

TEST_F(ImageButtonTest, PlainButtonRunsThroughTheStateTable)
{
    TImageButton &b = plainButton();
    EXPECT_EQ(shown(b), Base); // idle after PlaceButton
    enter(b);
    EXPECT_EQ(shown(b), Over); // hover
    press(b);
    EXPECT_EQ(shown(b), Click); // pressed
    EXPECT_EQ(clicks, 0);
    release(b);
    // The click keeps the pressed picture and calls the handler with the
    // button as sender.
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(lastSender, &b);
    EXPECT_EQ(shown(b), Click);
    leave(b);
    EXPECT_EQ(shown(b), Base); // leaving clears the pressed picture
    b.SetButtonEnabled(false);
    EXPECT_EQ(shown(b), Disabled);
    EXPECT_FALSE(b.isEnabled());
    b.SetButtonEnabled(true);
    EXPECT_EQ(shown(b), Base);
    EXPECT_TRUE(b.isEnabled());
}

TEST_F(ImageButtonTest, DisabledButtonIgnoresEnterLeaveAndPresses)
{
    TImageButton &b = plainButton();
    b.SetButtonEnabled(false);
    enter(b);
    EXPECT_EQ(shown(b), Disabled);
    leave(b);
    EXPECT_EQ(shown(b), Disabled);
    click(b);
    EXPECT_EQ(shown(b), Disabled);
    EXPECT_EQ(clicks, 0);

    // Disabling twice gives the same state as once.
    b.SetButtonEnabled(false);
    EXPECT_EQ(shown(b), Disabled);
    EXPECT_FALSE(b.isEnabled());

    // Enabled again with the pointer still over it: the base picture; the
    // hover picture returns with the next entry.
    b.SetButtonEnabled(true);
    EXPECT_EQ(shown(b), Base);
    enter(b);
    EXPECT_EQ(shown(b), Over);
}

TEST_F(ImageButtonTest, DisablingWithoutADisabledPictureKeepsWhatWasShown)
{
    TImageButton &b = plainButton();
    b.SetImageStates(true, true, false, false);
    enter(b);
    b.SetButtonEnabled(false);
    EXPECT_EQ(shown(b), Over);
    b.SetButtonEnabled(true);
    press(b);
    b.SetButtonEnabled(false);
    EXPECT_EQ(shown(b), Click);
}

TEST_F(ImageButtonTest, WithoutHoverPictureEnterDoesNothingButLeaveShowsTheBase)
{
    TImageButton &b = plainButton();
    b.SetImageStates(true, false, true, false);
    enter(b);
    EXPECT_EQ(shown(b), Base);
    press(b);
    EXPECT_EQ(shown(b), Click);
    leave(b);
    EXPECT_EQ(shown(b), Base);
}

TEST_F(ImageButtonTest, EveryMouseButtonShowsThePressedPictureButOnlyLeftClicks)
{
    TImageButton &b = plainButton();
    press(b, Qt::RightButton);
    EXPECT_EQ(shown(b), Click);
    release(b, Qt::RightButton);
    EXPECT_EQ(shown(b), Click); // stays until the pointer leaves
    EXPECT_EQ(clicks, 0);
    leave(b);
    press(b, Qt::MiddleButton);
    release(b, Qt::MiddleButton);
    EXPECT_EQ(shown(b), Click);
    EXPECT_EQ(clicks, 0);

    // A left press released outside the control is no click either.
    press(b);
    release(b, Qt::LeftButton, QPointF(100, 100));
    EXPECT_EQ(clicks, 0);
    // Nor is a release without a press on the control.
    release(b);
    EXPECT_EQ(clicks, 0);

    // Without a pressed picture a press changes nothing.
    leave(b);
    b.SetImageStates(false, true, true, false);
    press(b);
    EXPECT_EQ(shown(b), Base);
}

TEST_F(ImageButtonTest, RestoreOnClickShowsTheBasePictureAfterAClick)
{
    TImageButton &b = plainButton();
    b.SetImageStates(true, true, true, true);
    enter(b);
    press(b);
    EXPECT_EQ(shown(b), Click);
    release(b);
    EXPECT_EQ(shown(b), Base);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b.Toggled()); // plain mode never toggles
}

TEST_F(ImageButtonTest, ToggleModeSwitchesBetweenBaseAndAlternatePictures)
{
    TImageButton &b = toggleButton();
    EXPECT_TRUE(b.ToggleMode());
    EXPECT_EQ(b.AltImageName(), QStringLiteral("talt"));
    EXPECT_EQ(shown(b), Base);

    click(b);
    EXPECT_TRUE(b.Toggled());
    EXPECT_EQ(shown(b), Alt);
    EXPECT_EQ(clicks, 1);
    enter(b);
    EXPECT_EQ(shown(b), AltOver);
    press(b);
    EXPECT_EQ(shown(b), AltClick);
    leave(b);
    EXPECT_EQ(shown(b), Alt); // toggled, with a hover picture: the alternate
    // Disabled shows the base family's disabled picture even when toggled.
    b.SetButtonEnabled(false);
    EXPECT_EQ(shown(b), Disabled);
    // Enabling shows the base picture and keeps Toggled ...
    b.SetButtonEnabled(true);
    EXPECT_EQ(shown(b), Base);
    EXPECT_TRUE(b.Toggled());
    // ... and the next click shows the base picture again and clears it.
    click(b);
    EXPECT_FALSE(b.Toggled());
    EXPECT_EQ(shown(b), Base);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ImageButtonTest, ToggledWithoutHoverPictureKeepsThePictureOnLeave)
{
    TImageButton &b = toggleButton(false);
    click(b);
    press(b);
    EXPECT_EQ(shown(b), AltClick);
    leave(b);
    EXPECT_EQ(shown(b), AltClick);
    enter(b);
    EXPECT_EQ(shown(b), AltClick);
}

TEST_F(ImageButtonTest, PlaceButtonClearsToggled)
{
    TImageButton &b = toggleButton();
    click(b);
    ASSERT_TRUE(b.Toggled());
    b.PlaceButton(0, 0, 30, 10, QStringLiteral("TBASE"), true, QStringLiteral("TALT"));
    EXPECT_FALSE(b.Toggled());
    EXPECT_EQ(shown(b), Base);
}

TEST_F(ImageButtonTest, MissingPictureLeavesThePictureShown)
{
    TImageButton &b = plainButton();
    b.LoadStateImage(QStringLiteral("NO_SUCH_PICTURE"));
    EXPECT_EQ(shown(b), Base);
    b.LoadStateImage(QString());
    EXPECT_EQ(shown(b), Base);

    // An empty base name finds nothing and so shows nothing.
    TImageButton empty(&window, QStringLiteral("Bempty"), nullptr);
    empty.PlaceButton(0, 0, 10, 10, QString(), false, QString());
    empty.SetImageStates(true, true, true, false);
    enter(empty);
    empty.SetButtonEnabled(false);
    EXPECT_TRUE(empty.picture().isNull());
}

TEST_F(ImageButtonTest, UndecodablePictureRaisesAndKeepsThePicture)
{
    add("TBROKEN", 1);
    Resources::registerForTest(QStringLiteral("TBROKEN"), QByteArray("GIF89a, not a JPEG at all"));
    Resources::registerForTest(QStringLiteral("TBASE_DISABLED"), QByteArray(100, '\xFF'));
    TImageButton &b = plainButton();
    EXPECT_THROW(b.LoadStateImage(QStringLiteral("tbroken")), JpegError);
    EXPECT_EQ(shown(b), Base);
    // It passes through the operation that asked for the picture.
    EXPECT_THROW(b.SetButtonEnabled(false), JpegError);
    EXPECT_EQ(shown(b), Base);
}

TEST_F(ImageButtonTest, EveryStateChangeReadsThePictureAfresh)
{
    TImageButton &b = plainButton();
    Resources::registerForTest(QStringLiteral("TBASE"), solidJpeg(15, 8));
    EXPECT_EQ(shown(b), Base);
    enter(b);
    leave(b);
    EXPECT_EQ(shown(b), 15);
}

// Counts paints, to see that a new picture is painted before the call returns.
class CountingButton : public TImageButton
{
public:
    using TImageButton::TImageButton;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        TImageButton::paintEvent(event);
    }
};

TEST_F(ImageButtonTest, RepaintsAtOnceAndDrawsOnlyItsPictureAtTheTopLeft)
{
    window.show();
    CountingButton b(&window, QStringLiteral("Bcount"), nullptr);
    b.PlaceButton(5, 5, 30, 20, QStringLiteral("TBASE"), false, QString());
    QApplication::processEvents();
    const int before = b.paints;
    b.LoadStateImage(QStringLiteral("TBASE_OVER"));
    EXPECT_GT(b.paints, before);

    // The 11 x 8 picture at the top-left, unscaled; the rest of the control
    // is left to whatever lies beneath.
    QImage canvas(30, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::magenta);
    b.render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_LT(qAbs(qBlue(canvas.pixel(5, 4)) - 220), 8);
    EXPECT_EQ(canvas.pixel(11, 4), QColor(Qt::magenta).rgba());
    EXPECT_EQ(canvas.pixel(5, 8), QColor(Qt::magenta).rgba());
    EXPECT_EQ(canvas.pixel(29, 19), QColor(Qt::magenta).rgba());
}

} // namespace

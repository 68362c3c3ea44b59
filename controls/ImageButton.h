#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

// A push button that is nothing but a picture: one of a small set of JPEG
// pictures carried as named resources, changed when the pointer enters or
// leaves it, when a mouse button is pressed on it, when it is clicked and
// when the program enables or disables it.
//
// Picture names (suffixes literal, lower case; names are found without
// regard to case):
//   state     not toggled             toggled (toggle mode)
//   normal    BaseImageName           AltImageName
//   hover     BaseImageName_over      AltImageName_over
//   pressed   BaseImageName_click     AltImageName_click
//   disabled  BaseImageName_disabled  BaseImageName_disabled
//
// The control is windowless in spirit: it never takes the keyboard focus and
// draws its picture at its top-left corner, unscaled; where it is larger than
// the picture, whatever lies beneath shows through. Every state change opens
// and decodes the named picture afresh (no cache) and repaints at once.
class TImageButton : public QWidget
{
    Q_OBJECT
public:
    using ClickHandler = std::function<void(QObject *sender)>;

    // A button owned by and shown in owner, named name (its objectName),
    // calling onClick with itself as sender when clicked. It has no picture
    // until PlaceButton gives it one.
    TImageButton(QWidget *owner, const QString &name, ClickHandler onClick);
    ~TImageButton() override;

    // Places the button (in the parent's pixels), shows the base picture,
    // then sets the toggle mode and the alternate picture's name. Toggled
    // becomes false.
    void PlaceButton(int left, int top, int width, int height, const QString &baseName, bool toggleMode,
                     const QString &altName);
    // Says which state pictures the button has; shows nothing by itself.
    void SetImageStates(bool useClickImage, bool useOverImage, bool useDisabledImage, bool restoreOnClick);
    // Enables or disables the button and shows the matching picture: the
    // disabled picture (if UseDisabledImage; else the picture stays), or the
    // base picture when enabled, whatever Toggled says (Toggled unchanged).
    void SetButtonEnabled(bool enabled);
    // Shows the named picture. A name with no resource leaves the picture as
    // it was; bytes that are no decodable JPEG raise JpegError and leave it too.
    void LoadStateImage(const QString &name);

    const QString &BaseImageName() const { return m_BaseImageName; }
    bool Toggled() const { return m_Toggled; }
    bool UseClickImage() const { return m_UseClickImage; }
    bool UseOverImage() const { return m_UseOverImage; }
    bool UseDisabledImage() const { return m_UseDisabledImage; }
    bool RestoreOnClick() const { return m_RestoreOnClick; }
    bool ToggleMode() const { return m_ToggleMode; }
    const QString &AltImageName() const { return m_AltImageName; }

    // The picture shown now (null before the first one).
    const QImage &picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

    // A left press and release over the control: the picture changes first,
    // then the click handler runs with this button as sender.
    virtual void Click();

private:
    QString m_BaseImageName;
    bool m_Toggled = false;
    bool m_UseClickImage = false;
    bool m_UseOverImage = false;
    bool m_UseDisabledImage = false;
    bool m_RestoreOnClick = false;
    bool m_ToggleMode = false;
    QString m_AltImageName;

    ClickHandler m_onClick;
    QImage m_picture;
    bool m_leftPressed = false;
};

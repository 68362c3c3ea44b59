#include "controls/ImageButton.h"

#include "resources/JpegDecoder.h"
#include "resources/Resources.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
const QString OverSuffix = QStringLiteral("_over");
const QString ClickSuffix = QStringLiteral("_click");
const QString DisabledSuffix = QStringLiteral("_disabled");
} // namespace

TImageButton::TImageButton(QWidget *owner, const QString &name, ClickHandler onClick)
    : QWidget(owner), m_onClick(std::move(onClick))
{
    setObjectName(name);
    setFocusPolicy(Qt::NoFocus);
    // Draw only the picture: the parent's background shows wherever the
    // control is larger than it.
    setAutoFillBackground(false);
    if (owner)
        show();
}

TImageButton::~TImageButton() = default;

void TImageButton::PlaceButton(int left, int top, int width, int height, const QString &baseName,
                               bool toggleMode, const QString &altName)
{
    setGeometry(left, top, width, height);
    m_BaseImageName = baseName;
    m_Toggled = false;
    LoadStateImage(m_BaseImageName);
    m_ToggleMode = toggleMode;
    m_AltImageName = altName;
}

void TImageButton::SetImageStates(bool useClickImage, bool useOverImage, bool useDisabledImage,
                                  bool restoreOnClick)
{
    m_UseClickImage = useClickImage;
    m_UseOverImage = useOverImage;
    m_UseDisabledImage = useDisabledImage;
    m_RestoreOnClick = restoreOnClick;
}

void TImageButton::SetButtonEnabled(bool enabled)
{
    setEnabled(enabled);
    if (!enabled) {
        if (m_UseDisabledImage)
            LoadStateImage(m_BaseImageName + DisabledSuffix);
    } else {
        LoadStateImage(m_BaseImageName);
    }
}

void TImageButton::LoadStateImage(const QString &name)
{
    QByteArray bytes;
    try {
        bytes = Resources::data(name);
    } catch (const ResourceNotFound &) {
        return; // a name without a picture leaves the one shown
    }
    // A decoding failure propagates to whoever asked for the picture.
    m_picture = decodeJpeg(bytes);
    repaint();
}

void TImageButton::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_picture);
}

void TImageButton::enterEvent(QEnterEvent *)
{
    if (!isEnabled() || !m_UseOverImage)
        return;
    LoadStateImage((m_Toggled ? m_AltImageName : m_BaseImageName) + OverSuffix);
}

void TImageButton::leaveEvent(QEvent *)
{
    if (!isEnabled())
        return;
    if (!m_Toggled)
        LoadStateImage(m_BaseImageName); // also clears a pressed picture
    else if (m_UseOverImage)
        LoadStateImage(m_AltImageName);
}

void TImageButton::mousePressEvent(QMouseEvent *event)
{
    // Accepting the press (any button) keeps the release for this control.
    event->accept();
    if (m_UseClickImage)
        LoadStateImage((m_Toggled ? m_AltImageName : m_BaseImageName) + ClickSuffix);
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
}

void TImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const bool wasPressed = m_leftPressed;
    m_leftPressed = false;
    if (wasPressed && rect().contains(event->position().toPoint()))
        Click();
}

void TImageButton::Click()
{
    if (m_ToggleMode) {
        if (m_Toggled) {
            LoadStateImage(m_BaseImageName);
            m_Toggled = false;
        } else {
            LoadStateImage(m_AltImageName);
            m_Toggled = true;
        }
    } else if (m_RestoreOnClick) {
        LoadStateImage(m_BaseImageName);
    }
    // The handler may run a long task that dispatches events, during which
    // the window (and this button) may go away: copy it and touch nothing
    // of this object afterwards.
    const ClickHandler handler = m_onClick;
    if (handler)
        handler(this);
}

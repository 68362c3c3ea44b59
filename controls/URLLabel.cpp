#include "controls/URLLabel.h"

#include <QMouseEvent>

TURLLabel::TURLLabel(QWidget *owner) : QLabel(owner)
{
    setCursor(Qt::PointingHandCursor);
}

TURLLabel::~TURLLabel() = default;

void TURLLabel::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
}

void TURLLabel::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const bool wasPressed = m_leftPressed;
    m_leftPressed = false;
    if (wasPressed && rect().contains(event->position().toPoint()) && m_opener)
        m_opener(m_URL);
}

#include "controls/BusyAnimation.h"

#include "resources/ArtworkColours.h"

#include <QFileInfo>
#include <QMovie>
#include <QPainter>
#include <QTimerEvent>

BusyAnimation::BusyAnimation(QWidget *parent) : QWidget(parent), m_backdrop(ArtworkColours::workingArea()) {}

BusyAnimation::~BusyAnimation() = default;

int BusyAnimation::playDelay(int delayMs)
{
    return delayMs < 20 ? 100 : delayMs;
}

bool BusyAnimation::start(const QString &posixPath)
{
    m_timer.stop();
    m_movie.reset();
    m_error.clear();
    auto movie = std::make_unique<QMovie>(posixPath);
    // Every frame is kept once decoded, so the loop can step back to the
    // first frame without reading the file again.
    movie->setCacheMode(QMovie::CacheAll);
    if (!QFileInfo(posixPath).isFile() || !movie->isValid() || movie->frameCount() < 1 ||
        !movie->jumpToFrame(0)) {
        const QString reason = movie->lastErrorString();
        m_error = QStringLiteral("Cannot show the animation \"%1\". %2")
                      .arg(posixPath, reason.isEmpty() ? QStringLiteral("Unknown error") : reason);
        update();
        return false;
    }
    m_movie = std::move(movie);
    m_delay = playDelay(m_movie->nextFrameDelay());
    updateTimer();
    update();
    return true;
}

bool BusyAnimation::isStarted() const
{
    return m_movie != nullptr;
}

int BusyAnimation::currentFrame() const
{
    return m_movie ? m_movie->currentFrameNumber() : -1;
}

int BusyAnimation::frameCount() const
{
    return m_movie ? m_movie->frameCount() : 0;
}

int BusyAnimation::advance()
{
    if (!m_movie)
        return 0;
    int next = m_movie->currentFrameNumber() + 1;
    if (next >= m_movie->frameCount())
        next = 0;
    if (!m_movie->jumpToFrame(next))
        m_movie->jumpToFrame(0);
    m_delay = playDelay(m_movie->nextFrameDelay());
    update();
    return m_delay;
}

void BusyAnimation::setBackdrop(const QColor &colour)
{
    m_backdrop = colour;
    update();
}

void BusyAnimation::paintEvent(QPaintEvent *)
{
    if (!m_movie)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), m_backdrop);
    const QPixmap frame = m_movie->currentPixmap();
    if (!frame.isNull())
        painter.drawTiledPixmap(rect(), frame);
}

void BusyAnimation::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    m_timer.start(advance(), this);
}

void BusyAnimation::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    updateTimer();
}

void BusyAnimation::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void BusyAnimation::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

bool BusyAnimation::inView() const
{
    const QWidget *parent = parentWidget();
    return !parent || parent->rect().intersects(geometry());
}

void BusyAnimation::updateTimer()
{
    const bool run = m_movie && isVisible() && inView();
    if (run && !m_timer.isActive())
        m_timer.start(m_delay, this);
    else if (!run)
        m_timer.stop();
}

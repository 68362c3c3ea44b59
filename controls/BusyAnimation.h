#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QString>
#include <QWidget>

#include <memory>

class QMovie;

// The busy indicator: plays an animated picture (GIF) the way a web page
// shows it as its background: tiled from the top-left corner over a plain
// backdrop, looping for ever. Frame delays under 2 hundredths of a second
// play as 10 hundredths, as browsers do.
//
// The animation keeps its place while the widget lies outside its parent's
// area and runs again the moment any part of it is moved into view. Until
// start() succeeds the widget draws nothing, so whatever lies beneath it
// (the still picture) shows.
class BusyAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit BusyAnimation(QWidget *parent = nullptr);
    ~BusyAnimation() override;

    // Loads the animated picture from a file and starts playing it. False,
    // with errorString() telling why, when the file cannot be read as one;
    // the widget then stays empty.
    bool start(const QString &posixPath);
    QString errorString() const { return m_error; }

    bool isStarted() const;
    // Whether frames are advancing now: started, shown and at least partly
    // inside the parent's area.
    bool isRunning() const { return m_timer.isActive(); }
    int currentFrame() const;
    int frameCount() const;

    // Advances one frame now (what the timer does); returns its play time.
    int advance();

    // The colour behind the picture's transparent pixels.
    void setBackdrop(const QColor &colour);
    QColor backdrop() const { return m_backdrop; }

    // How long a frame with the given delay shows, in milliseconds.
    static int playDelay(int delayMs);

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateTimer();
    bool inView() const;

    std::unique_ptr<QMovie> m_movie;
    QBasicTimer m_timer;
    int m_delay = 100;
    QColor m_backdrop;
    QString m_error;
};

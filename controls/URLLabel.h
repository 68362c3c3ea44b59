#pragma once

#include <QLabel>
#include <QString>

#include <functional>

// A text label that works as a hyperlink: it shows the hand pointer from
// construction on, and a left click (press and release over the label)
// hands URL to its opener, which its owner sets: the program's shell
// services, the one place that decides which addresses may be opened and
// opens them with the user's default handler. The result of that is not
// examined and nothing is reported; without an opener a click does nothing. The label raises no click signal
// of its own, a right or middle click does nothing, and the look does not change under the pointer.
//
// Params are kept for the parameters a shell would hand to a program it
// starts. An address is opened by the desktop's handler, which takes the
// address alone (as the Windows shell ignores parameters for a document or
// web address), so a click opens exactly URL; both of the program's labels
// leave Params empty.
class TURLLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE setURL)
    Q_PROPERTY(QString Params READ Params WRITE setParams)
public:
    explicit TURLLabel(QWidget *owner = nullptr);
    ~TURLLabel() override;

    const QString &URL() const { return m_URL; }
    void setURL(const QString &url) { m_URL = url; }
    const QString &Params() const { return m_Params; }
    void setParams(const QString &params) { m_Params = params; }

    using Opener = std::function<void(const QString &address)>;
    void setOpener(Opener opener) { m_opener = std::move(opener); }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_URL;
    QString m_Params;
    Opener m_opener;
    bool m_leftPressed = false;
};

// Measures, on the screen of a running X server, how the program's window
// sets its wrapped instructions: the lines must stand one 14-pixel text cell
// apart. The package check runs it under a virtual X server while the
// installed program shows its window, with the window's top-left corner on
// the screen as its two arguments.

#include "resources/JpegDecoder.h"
#include "resources/Resources.h"
#include "support/DrawnText.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    bool okX = false, okY = false;
    const QPoint origin(argc == 3 ? QByteArray(argv[1]).toInt(&okX) : 0,
                        argc == 3 ? QByteArray(argv[2]).toInt(&okY) : 0);
    if (!okX || !okY) {
        std::fprintf(stderr, "usage: window_text_probe <window left> <window top>\n");
        return 2;
    }

    // The instructions label, and what the window draws beneath its text.
    const QRect label(18, 515, 396, 73);
    const QImage beneath = decodeJpeg(Resources::data(QStringLiteral("BACKGROUND"))).copy(label);

    // The window may show before it has drawn its text: look again until the
    // five lines are there or half a minute has passed.
    QList<int> baselines;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const QImage shot =
            app.primaryScreen()
                ->grabWindow(0, origin.x() + label.x(), origin.y() + label.y(), label.width(), label.height())
                .toImage();
        baselines = DrawnText(shot, beneath).baselines(QRect(QPoint(0, 0), label.size()));
        if (baselines.size() == 5 || waited.elapsed() > 30000)
            break;
        QThread::msleep(200);
    }

    std::printf("instruction lines' baselines below the label's top:");
    for (int row : baselines)
        std::printf(" %d", row);
    std::printf("\n");
    bool cells = baselines.size() == 5 && baselines.first() == 12;
    for (int i = 1; i < baselines.size(); ++i)
        cells = cells && baselines[i] - baselines[i - 1] == 14;
    if (!cells) {
        std::fprintf(stderr, "expected five lines with baselines 12, 26, 40, 54 and 68\n");
        return 1;
    }
    return 0;
}

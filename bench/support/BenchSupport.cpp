#include "support/BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QtEndian>

namespace BenchSupport {

void preferOffscreen()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    // A screen large enough for the window at scale 2 with its menus and dialogs beside it.
    const auto config = QDir::temp().filePath(QStringLiteral("vespertone-render-screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(R"({"screens": [{"name": "render", "x": 0, "y": 0, "width": 3840, "height": 2400,
                          "logicalDpi": 96, "dpr": 1}]})")
            < 0)
        qFatal("cannot write %s", qPrintable(config));
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
}

QImage composite(QWidget &window, double scale)
{
    const auto origin = window.geometry().topLeft();
    QImage image(window.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    window.render(&image);
    QPainter painter(&image);
    for (auto *other : QApplication::topLevelWidgets()) {
        const auto type = other->windowType();
        const bool overWindow = type == Qt::Popup || type == Qt::ToolTip
            || ((type == Qt::Dialog || type == Qt::Sheet) && other->parentWidget()
                && other->parentWidget()->window() == &window);
        if (other == &window || !other->isVisible() || !overWindow)
            continue;
        QImage piece(other->size() * scale, QImage::Format_ARGB32_Premultiplied);
        piece.setDevicePixelRatio(scale);
        piece.fill(Qt::transparent);
        other->render(&piece);
        painter.drawImage(other->geometry().topLeft() - origin, piece);
    }
    return image;
}

void spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void writeWav(const QString &path, int frames, const std::function<qint16(int frame)> &sample)
{
    constexpr int rate = 48000;
    QByteArray samples(qsizetype(frames) * 4, Qt::Uninitialized);
    for (int frame = 0; frame < frames; ++frame) {
        const auto value = sample(frame);
        qToLittleEndian(value, samples.data() + qsizetype(frame) * 4);
        qToLittleEndian(value, samples.data() + qsizetype(frame) * 4 + 2);
    }
    QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\0\0\0\0\0\0\0\0\x04\0\x10\0data\0\0\0\0", 44);
    qToLittleEndian(quint32(36 + samples.size()), header.data() + 4);
    qToLittleEndian(quint32(rate), header.data() + 24);
    qToLittleEndian(quint32(rate * 4), header.data() + 28);
    qToLittleEndian(quint32(samples.size()), header.data() + 40);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(header + samples) != header.size() + samples.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace BenchSupport

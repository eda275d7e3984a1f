#include "support/BenchSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QtEndian>

namespace BenchSupport {

void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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

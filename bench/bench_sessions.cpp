// Times the Chromium session reader on hostile files of the largest size it accepts: one tab with
// many navigations followed by "navigation path pruned" records, and many tabs in one window
// followed by "window closed" records for another.
//
//   build/bin/bench_sessions [MIB]

#include "platform/BrowserSessionFiles.h"
#include "platform/ChromiumSessionReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

namespace {
using namespace ChromiumSessionReader;

void addInts(QByteArray &out, std::initializer_list<qint32> values)
{
    for (const auto value : values) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        out.append(bytes, 4);
    }
}

void addRecord(QByteArray &out, quint8 command, std::initializer_list<qint32> values)
{
    char size[2];
    qToLittleEndian<quint16>(quint16(values.size() * 4 + 1), size);
    out.append(size, 2);
    out.append(char(command));
    addInts(out, values);
}

void addNavigation(QByteArray &out, qint32 tab, qint32 index)
{
    // pickle size, tab, index, URL "https://a.org/" (14 bytes, padded to 16), empty title
    QByteArray pickle;
    addInts(pickle, {tab, index, 14});
    pickle += QByteArray("https://a.org/\0\0", 16);
    addInts(pickle, {0});
    QByteArray payload;
    addInts(payload, {qint32(pickle.size())});
    payload += pickle;
    char size[2];
    qToLittleEndian<quint16>(quint16(payload.size() + 1), size);
    out.append(size, 2);
    out.append(char(updateTabNavigation));
    out += payload;
}

QByteArray header()
{
    QByteArray out("SNSS");
    addInts(out, {3});
    return out;
}

/// Half navigations of one tab, half prunes that remove nothing.
QByteArray prunes(qsizetype size)
{
    auto out = header();
    addRecord(out, setTabWindow, {1, 1});
    for (qint32 index = 0; out.size() < size / 2; ++index)
        addNavigation(out, 1, index);
    while (out.size() < size)
        addRecord(out, tabNavigationPathPruned, {1, 0x7fff0000, 1});
    return out;
}

/// Half tabs of window 1, half closings of window 2.
QByteArray closings(qsizetype size)
{
    auto out = header();
    for (qint32 tab = 0; out.size() < size / 2; ++tab)
        addRecord(out, setTabWindow, {1, tab});
    while (out.size() < size)
        addRecord(out, windowClosed, {2});
    return out;
}

void time(const char *name, const QByteArray &bytes)
{
    QElapsedTimer timer;
    timer.start();
    const auto session = parse(bytes);
    std::printf("%-10s %6.1f MiB  %8.3f s  (%zu tabs)\n", name, bytes.size() / 1048576.0, timer.nsecsElapsed() / 1e9,
                session.tabs.size());
}
} // namespace

int main(int argc, char *argv[])
{
    const qsizetype size = argc > 1 ? qsizetype(std::atof(argv[1]) * 1048576) : BrowserSessionFiles::maximumFileSize;
    time("prunes", prunes(size));
    time("closings", closings(size));
    return 0;
}

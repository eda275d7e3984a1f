// render_windows: draws the library window of a generated library to PNG files, in both themes,
// empty and full, for looking at the layout without a display.

#include "library/MetadataStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "ui/AppThemeChoice.h"
#include "ui/LibraryWindow.h"
#include "ui/ThemeController.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <cmath>
#include <cstdio>

namespace {
struct Take {
    const char *name;
    int minutes;
    std::optional<double> bpm;
    std::optional<QString> key;
};

const Take takes[] = {
    {"Vespertone 2024-05-01 21.14.09_bpm_124", 0, 124.2, QStringLiteral("F# minor")},
    {"Night Drive Loop", 35, 127.5, QStringLiteral("A minor")},
    {"Take 2", 70, std::nullopt, std::nullopt},
    {"Take 10", 95, 90, QStringLiteral("C major")},
    {"Vocal chop from the rehearsal with a rather long name that cannot fit", 140, 172.0, QStringLiteral("D# major")},
    {"Kick", 300, std::nullopt, QStringLiteral("G minor")},
};

/// Half a second of a 16-bit stereo 48 kHz sine as a WAV file.
void writeTone(const QString &path)
{
    constexpr int rate = 48000;
    constexpr int frames = rate / 2;
    QByteArray samples(frames * 4, Qt::Uninitialized);
    for (int frame = 0; frame < frames; ++frame) {
        const auto value = qint16(std::lround(8000 * std::sin(2 * M_PI * 440 * frame / rate)));
        qToLittleEndian(value, samples.data() + frame * 4);
        qToLittleEndian(value, samples.data() + frame * 4 + 2);
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

void fill(const QString &folder)
{
    const QDateTime first(QDate(2024, 5, 1), QTime(21, 14, 9), Qt::LocalTime);
    for (const auto &take : takes) {
        const auto path = folder + u'/' + QString::fromUtf8(take.name) + QStringLiteral(".wav");
        writeTone(path);
        auto metadata = RecordingMetadata::fresh(first.addSecs(60 * take.minutes));
        metadata.bpm = take.bpm;
        metadata.musicalKey = take.key;
        MetadataStore::save(metadata, path);
    }
}

/// Waits until the store has scanned its folder.
void waitForStart(RecordingLibraryStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &RecordingLibraryStore::recoveryFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_windows OUTDIR [SCALE]\n");
        return 2;
    }
    const QString scale = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("1");
    qputenv("QT_SCALE_FACTOR", scale.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir root;
    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    for (const char *library : {"empty", "full"}) {
        const auto folder = root.filePath(QString::fromLatin1(library));
        QDir().mkpath(folder);
        if (QLatin1String(library) == QLatin1String("full"))
            fill(folder);
        RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}});
        waitForStart(store);
        for (auto theme : AppThemeChoices::all) {
            ThemeController themes(store.settings());
            themes.setTheme(theme);
            LibraryWindow window(store, themes);
            window.show();
            // Layouts settle over a few turns: a scroll bar that goes away realigns the header.
            for (int turn = 0; turn < 4; ++turn)
                QCoreApplication::processEvents();
            const auto name = QStringLiteral("library-%1-%2-%3x.png")
                                  .arg(AppThemeChoices::rawValue(theme), QLatin1String(library), scale);
            if (!window.grab().save(out.filePath(name)))
                qFatal("cannot save %s", qPrintable(name));
            std::printf("%s\n", qPrintable(out.filePath(name)));
        }
    }
    return 0;
}

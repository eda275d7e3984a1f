// render_detail: draws the recording detail editor for a generated take to PNG files, in both
// themes at 1x and 2x, over a stand-in for the window background, without a display.

#include "editor/RecordingEditor.h"
#include "library/MetadataStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/editor/ChipText.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/editor/WaveformTrimView.h"
#include "ui/style/ApplicationAppearance.h"
#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneTheme.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QRadialGradient>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace {
/// Twenty seconds of a 16-bit stereo 48 kHz beat: kicks on the beat at 124 BPM over a pad.
void writeBeat(const QString &path)
{
    constexpr int rate = 48000;
    const double beat = 60.0 / 124 * rate;
    BenchSupport::writeWav(path, rate * 20, [beat](int frame) {
        const double sinceBeat = std::fmod(frame, beat) / rate;
        const double bar = std::fmod(frame / (beat * 4), 1.0);
        const double kick =
            std::exp(-sinceBeat * 18) * std::sin(2 * M_PI * 55 * sinceBeat * (1 + 2 * std::exp(-sinceBeat * 30)));
        const double pad = 0.25 * (0.6 + 0.4 * std::sin(2 * M_PI * bar)) * std::sin(2 * M_PI * 220 * frame / rate);
        const double swell = 0.5 + 0.5 * std::sin(2 * M_PI * frame / (rate * 9.0));
        return qint16(std::lround(15000 * (0.8 * kick + pad * swell)));
    });
}

/// The window's background glow and shade behind the editor.
class Backdrop : public QWidget {
public:
    explicit Backdrop(AppThemeChoice theme) : m_theme(theme) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        using namespace VespertoneTheme;
        QPainter painter(this);
        painter.fillRect(rect(), color(m_theme == AppThemeChoice::gothic ? ink : studioInk));
        const auto glow = backgroundGlow(m_theme);
        QRadialGradient radial(rect().topRight(), glow.endRadius, rect().topRight());
        auto stops = glow.stops;
        radial.setStops(stops);
        painter.fillRect(rect(), radial);
        QLinearGradient shade(rect().topLeft(), rect().bottomRight());
        shade.setStops(backgroundShade(m_theme));
        painter.fillRect(rect(), shade);
    }

private:
    AppThemeChoice m_theme;
};
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_detail OUTDIR\n");
        return 2;
    }
    BenchSupport::preferOffscreen();
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir root;
    const auto folder = root.filePath(QStringLiteral("Library"));
    QDir().mkpath(folder);
    const auto take = folder + QStringLiteral("/Night Drive Loop_bpm_124.wav");
    writeBeat(take);
    auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(21, 14, 9), Qt::LocalTime));
    metadata.bpm = 124.2;
    metadata.musicalKey = QStringLiteral("F# minor");
    // A precise analysis unsure of the tempo and sure of the key.
    metadata.bpmConfidence = 0.38;
    metadata.bpmAlternatives = {{62.1, 0.33}, {186.3, 0.12}};
    metadata.keyConfidence = 0.86;
    metadata.keyAlternatives = {{QStringLiteral("A major"), 0.09}};
    metadata.trimStart = 3.2;
    metadata.trimEnd = 14.9;
    RecordingSourceContext source;
    source.appName = QStringLiteral("Firefox");
    source.urlString = QStringLiteral("https://www.example.com/watch?v=night-drive");
    source.capturedAt = metadata.createdAt;
    metadata.source = source;
    MetadataStore::save(metadata, take);

    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}});
    {
        QEventLoop loop;
        QObject::connect(&store, &RecordingLibraryStore::recoveryFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    store.setSelectedIDs({take});
    for (const auto theme : AppThemeChoices::all) {
        ThemeController themes(store.settings());
        themes.setTheme(theme);
        ApplicationAppearance appearance(themes);
        RecordingEditor editor(store);
        Backdrop host(theme);
        auto *layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *view = new RecordingDetailView(editor, themes, &host);
        layout->addWidget(view);
        host.resize(880, 620);
        host.show();
        {
            QEventLoop loop;
            QObject::connect(&editor, &RecordingEditor::waveformLoaded, &loop, &QEventLoop::quit);
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            if (editor.isLoadingWaveform())
                loop.exec();
        }
        editor.setWaveformZoom(1.6, 9);
        view->timeline().setPlayheadTime(7.4);
        BenchSupport::spin(50);
        for (const int scale : {1, 2}) {
            QImage image(host.size() * scale, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(scale);
            image.fill(Qt::black);
            host.render(&image);
            const auto name = QStringLiteral("detail-%1-%2x.png").arg(AppThemeChoices::rawValue(theme)).arg(scale);
            if (!image.save(out.filePath(name)))
                qFatal("cannot write %s", qPrintable(name));
            std::printf("%s\n", qPrintable(out.filePath(name)));
        }
        // The tempo chip's alternatives, as a click opens them.
        auto *chip = view->findChild<ChipText *>();
        emit chip->clicked();
        BenchSupport::spin(50);
        for (auto *menu : view->findChildren<QMenu *>()) {
            if (!menu->isVisible())
                continue;
            for (const int scale : {1, 2}) {
                QImage image(menu->size() * scale, QImage::Format_ARGB32_Premultiplied);
                image.setDevicePixelRatio(scale);
                image.fill(Qt::transparent);
                menu->render(&image);
                const auto name =
                    QStringLiteral("detail-tempo-menu-%1-%2x.png").arg(AppThemeChoices::rawValue(theme)).arg(scale);
                if (!image.save(out.filePath(name)))
                    qFatal("cannot write %s", qPrintable(name));
                std::printf("%s\n", qPrintable(out.filePath(name)));
            }
            menu->close();
        }
    }
    return 0;
}

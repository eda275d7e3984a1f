// What a person does with the program, through its real windows: the library window, the
// settings window and the tray menu over the real store, Qt's own dialogs answered by typing,
// takes recorded from the test PulseAudio daemon, files in a private library and the Trash.
// Each journey checks what the person sees and what lands on disk; the last runs the program
// itself on Xvfb with a window manager and a tray.

#include "editor/RecordingEditor.h"
#include "editor/TrimSelectionModel.h"
#include "library/MetadataStore.h"
#include "platform/XcbHotKeyGrabber.h"
#include "support/AudioFixtures.h"
#include "support/Journey.h"
#include "support/LocalHttpServer.h"
#include "support/ProgramHome.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"
#include "support/TakeFiles.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"
#include "support/XvfbServer.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/editor/WaveformTrimView.h"
#include "ui/library/ContentView.h"
#include "ui/library/SidebarView.h"
#include "ui/live/ElapsedClock.h"
#include "ui/style/VespertoneTheme.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <cmath>
#include <mutex>
#include <xcb/xcb.h>

using namespace std::chrono_literals;

namespace {
const QRegularExpression takeName(QStringLiteral("^Vespertone \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d"));

bool hasPulse()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

/// The rows \a journey shows that \a before did not.
QStringList newRows(const Journey &journey, const QStringList &before)
{
    QStringList added;
    for (const auto &row : journey.rows())
        if (!before.contains(row))
            added << row;
    return added;
}

/// Every text the pill showed while the journey went on.
class PillWatch {
public:
    explicit PillWatch(Journey &journey)
    {
        QObject::connect(&journey.store(), &RecordingLibraryStore::statusMessageChanged, &m_context, [this, &journey] {
            if (const auto text = journey.pill(); !text.isEmpty() && !texts.contains(text))
                texts << text;
        });
    }
    QStringList texts;

private:
    QObject m_context;
};

/// The loudest sample the default sink's monitor carried per buffer, as it arrives.
class SinkMonitor {
public:
    /// Frames heard louder than \a level since the last reset.
    [[nodiscard]] qint64 loudFrames() const { return m_loud; }
    /// True when the last tenth of a second was silent.
    [[nodiscard]] bool quiet() const { return m_quietFrames >= 4800; }
    void reset() { m_loud = 0; }

private:
    void add(const CaptureBuffer &buffer)
    {
        for (std::size_t i = 0; i < buffer.samples.size(); i += 2) {
            if (std::abs(buffer.samples[i]) > 1638) { // a twentieth of full scale
                ++m_loud;
                m_quietFrames = 0;
            } else {
                ++m_quietFrames;
            }
        }
    }

    std::atomic<qint64> m_loud = 0, m_quietFrames = 0;
    std::unique_ptr<CaptureSource> m_source = PulseSoundServer().openCapture(
        CaptureTarget::defaultOutput(), 48000, 2, {[this](SharedCaptureBuffer b) { add(*b); }, [] {}});
};

/// The list in \a window that a screen reader calls \a name, or null.
QComboBox *comboBox(const QWidget &window, const QString &name)
{
    for (auto *box : window.findChildren<QComboBox *>())
        if (box->accessibleName() == name)
            return box;
    return nullptr;
}

RecordingDetailView *editor(Journey &journey)
{
    return qobject_cast<RecordingDetailView *>(journey.window().content()->detailView());
}

/// True when the editor shows a take whose waveform has been read.
bool editorReady(Journey &journey)
{
    return editor(journey) && !journey.window().content()->editor().isLoadingWaveform();
}

/// The live view's clock, while a take runs.
QString elapsed(Journey &journey)
{
    const auto *clock = journey.window().findChild<ElapsedClock *>();
    return clock && clock->isVisible() ? clock->text() : QString();
}

/// Plays a click track at 120 BPM into \a sink for as long as \a owner lives.
void playClicks(QObject *owner, const QString &folder, const QString &sink)
{
    const auto clicks = AudioFixtures::clickTrack(folder + QStringLiteral("/clicks.wav"), 30, 120);
    QVERIFY(playFile(owner, clicks, sink) > 0);
}

/// The one row added since \a before, once the list shows the file's name after its analysis.
QString analysedRow(const Journey &journey, const QStringList &before)
{
    const auto listed = [&] {
        const auto added = newRows(journey, before);
        return added.size() == 1 && !QDir(journey.library()).entryList({added.front() + ".*"}).isEmpty();
    };
    if (!QTest::qWaitFor(listed, 10000))
        return QStringLiteral("rows: ") + newRows(journey, before).join(u',');
    return newRows(journey, before).front();
}

/// Records with the toolbar face \a face until the live clock reads \a seconds, then stops it
/// with the same face; returns the new row once the take is saved and analysed.
QString recordTake(Journey &journey, const QString &face, const QString &seconds)
{
    const auto before = journey.rows();
    if (!Journey::click(journey.window(), QStringLiteral("Record ") + face))
        return QStringLiteral("no record face");
    if (!QTest::qWaitFor([&] { return Journey::shows(journey.window(), QStringLiteral("Recording")); }, 10000))
        return QStringLiteral("no live view");
    if (!QTest::qWaitFor([&] { return elapsed(journey) == seconds; }, 15000))
        return QStringLiteral("the clock stopped at ") + elapsed(journey);
    const auto stopFace = face == QLatin1String("System Audio") ? QStringLiteral("Stop System Audio Recording")
                                                                : QStringLiteral("Stop Microphone Recording");
    if (!Journey::click(journey.window(), stopFace))
        return QStringLiteral("no stop face");
    if (!QTest::qWaitFor([&] { return journey.pill() == QLatin1String("Analysis saved"); }, 30000))
        return QStringLiteral("the pill ended at ") + journey.pill();
    return analysedRow(journey, before);
}

/// Where \a window of \a x11 is on its screen.
QRect geometry(const XvfbServer &x11, const QByteArray &window)
{
    QMap<QByteArray, int> values;
    for (const auto &line : x11.xdotool({"getwindowgeometry", "--shell", window}).value_or("").split('\n')) {
        if (const auto equals = line.indexOf('='); equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1).toInt());
    }
    return {values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT")};
}

/// An X display whose keys reach the program's global hot keys.
struct HotKeyDesktop {
    XvfbServer x11;
    XcbHotKeyGrabber grabber{x11.display()};
    [[nodiscard]] bool ready() const { return x11.isRunning() && grabber.isConnected(); }
};

/// Asks \a window of \a display to close, as a window manager's close button does.
bool requestClose(const QByteArray &display, xcb_window_t window)
{
    auto *connection = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const auto atom = [&](const char *name) {
        auto *reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, strlen(name), name), nullptr);
        const auto value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
    xcb_disconnect(connection);
    return true;
}
} // namespace

class JourneysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (hasPulse())
            QVERIFY(warmUp(CaptureTarget::defaultOutput()));
    }

    void recordFromTheToolbar_data()
    {
        QTest::addColumn<QString>("face");
        QTest::addColumn<QString>("sink");
        QTest::addColumn<QString>("app");
        QTest::newRow("system audio") << "System Audio"
                                      << "@DEFAULT_SINK@" << QString();
        QTest::newRow("microphone") << "Microphone"
                                    << "mic_feed"
                                    << "Microphone";
    }

    void recordFromTheToolbar()
    {
        QFETCH(QString, face);
        QFETCH(QString, sink);
        QFETCH(QString, app);
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        Journey journey;
        QVERIFY(journey.open());
        QObject players;
        playClicks(&players, journey.scratch({}), sink);
        QVERIFY(warmUp(sink == "mic_feed" ? CaptureTarget::defaultInput() : CaptureTarget::defaultOutput()));
        const auto started = QDateTime::currentDateTime();
        const auto row = recordTake(journey, face, QStringLiteral("00:07"));
        const auto stopped = QDateTime::currentDateTime();

        // One new take under its date stamp and tempo, selected and open in the editor.
        QVERIFY2(takeName.match(row).hasMatch() && row.contains(QRegularExpression("_bpm_1(19|20|21)$")),
                 qPrintable(row));
        QCOMPARE(journey.selectedRows(), QStringList{row});
        QVERIFY(editor(journey));
        QVERIFY(Journey::shows(*editor(journey), row));
        const auto file = journey.path(row + ".m4a");
        const auto signal = analyse(file);
        QCOMPARE(signal.sampleRate, 48000.0);
        QVERIFY2(signal.seconds() > 6.5 && signal.seconds() < 10, qPrintable(QString::number(signal.seconds())));
        QVERIFY(signal.peak > 0.1f);

        // The sidecar dates the take from when it started, with its tempo and source.
        const auto metadata = MetadataStore::load(file);
        QVERIFY(metadata);
        QVERIFY2(metadata->createdAt >= started.addSecs(-1) && metadata->createdAt < stopped.addSecs(-6),
                 qPrintable(metadata->createdAt.toString(Qt::ISODateWithMs)));
        QVERIFY(metadata->bpm && std::abs(*metadata->bpm - 120) < 1.5);
        QVERIFY(metadata->duration && std::abs(*metadata->duration - signal.seconds()) < 0.05);
        if (!app.isEmpty())
            QCOMPARE(metadata->source ? metadata->source->appName : QString(), app);
    }

    void playAndLoopTheSelection()
    {
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        Journey journey;
        AudioFixtures::tone(journey.path("Tone.wav"), 0.6, 440, 0.5);
        QVERIFY(journey.open());
        QTRY_VERIFY(editorReady(journey));
        SinkMonitor monitor;
        auto &window = journey.window();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // Space plays the selection once: the sink carries about its 0.6 s.
        QTest::keyClick(&window, Qt::Key_Space);
        QTRY_VERIFY(Journey::shows(window, "Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(Journey::shows(window, "Play Selection"), 5000);
        QTRY_VERIFY(monitor.quiet());
        QVERIFY2(monitor.loudFrames() > 20000 && monitor.loudFrames() < 34000,
                 qPrintable(QString::number(monitor.loudFrames())));

        // Looping, it goes on across the seam until space stops it.
        QVERIFY(Journey::click(window, "Loop Selection"));
        monitor.reset();
        QTest::keyClick(&window, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.loudFrames() > 48000 * 2, 10000);
        QVERIFY(Journey::shows(window, "Stop"));
        QTest::keyClick(&window, Qt::Key_Space);
        QTRY_VERIFY(Journey::shows(window, "Play Selection"));
        QTRY_VERIFY(monitor.quiet());
    }

    void trimAndUndoTheTrim()
    {
        Journey journey;
        AudioFixtures::tone(journey.path("Take.wav"), 4);
        QVERIFY(journey.open());
        QTRY_VERIFY(editorReady(journey));
        auto &timeline = editor(journey)->timeline();
        const auto track = timeline.track();
        const auto y = timeline.height() / 2;
        const auto at = [&](double seconds) {
            return QPoint(int(std::lround(track.x(seconds, timeline.viewport()))), y);
        };
        // Both handles dragged inwards, one second each.
        for (const auto &[from, to] : {std::pair{0.0, 1.0}, std::pair{4.0, 3.0}}) {
            QTest::mousePress(&timeline, Qt::LeftButton, {}, at(from));
            QTest::mouseMove(&timeline, at((from + to) / 2));
            QTest::mouseMove(&timeline, at(to));
            QTest::mouseRelease(&timeline, Qt::LeftButton, {}, at(to));
        }
        QCOMPARE(journey.window().content()->editor().selectionText(), QStringLiteral("1.00 - 3.00"));

        QVERIFY(Journey::click(journey.window(), "Save Trim"));
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Trim saved. Undo available."), 20000);
        QCOMPARE(journey.selectedRows(), QStringList{"Take Trim"});
        const auto trimmed = journey.path("Take Trim.m4a");
        QVERIFY(std::abs(analyse(trimmed).seconds() - 2) < 0.05);
        QVERIFY(QFile::exists(MetadataStore::metadataURL(trimmed)));

        QVERIFY(Journey::click(journey.window(), "Undo Saved Trim"));
        QTRY_COMPARE(journey.pill(), QStringLiteral("Trim undone"));
        QTRY_COMPARE(journey.selectedRows(), QStringList{"Take"});
        QCOMPARE(journey.rows(), QStringList{"Take"});
        QVERIFY(!QFile::exists(trimmed));
        QVERIFY(trashedPaths().contains(trimmed));
        QVERIFY(trashedPaths().contains(MetadataStore::metadataURL(trimmed)));
        QCOMPARE(analyse(journey.path("Take.wav")).seconds(), 4.0);
    }

    void renameThroughTheDialog_data()
    {
        QTest::addColumn<QString>("typed"); // empty: the dialog is cancelled
        QTest::addColumn<QString>("file");  // what the take is called afterwards
        QTest::addColumn<QString>("status");
        QTest::newRow("new name") << "  Night Bus  "
                                  << "Night Bus.wav"
                                  << "Renamed to Night Bus.wav";
        QTest::newRow("taken: a counter, the other file untouched") << "Other"
                                                                    << "Other 2.wav"
                                                                    << "Renamed to Other 2.wav";
        const QString longName(300, u'n');
        QTest::newRow("too long") << longName << "Take.wav"
                                  << QStringLiteral("The name “%1.wav” is too long for this folder.").arg(longName);
        QTest::newRow("only spaces") << "   "
                                     << "Take.wav"
                                     << "Enter a name before renaming.";
        QTest::newRow("cancelled") << QString() << "Take.wav" << QString();
    }

    void renameThroughTheDialog()
    {
        QFETCH(QString, typed);
        QFETCH(QString, file);
        QFETCH(QString, status);
        Journey journey;
        AudioFixtures::tone(journey.path("Take.wav"), 0.5);
        AudioFixtures::tone(journey.path("Other.wav"), 0.5);
        const auto otherSize = QFileInfo(journey.path("Other.wav")).size();
        MetadataStore::save(RecordingMetadata::fresh(QDateTime::currentDateTime().addDays(1)),
                            journey.path("Take.wav"));
        QVERIFY(journey.open());
        PillWatch pill(journey);

        QVERIFY(journey.chooseFromRowMenu("Take", "Rename"));
        QVERIFY(typed.isEmpty() ? Answer::cancel() : Answer::text(typed));
        const auto renamed = journey.path(file);
        if (status.isEmpty()) {
            // Nothing to wait for but the dialog going: nothing changes and nothing is said.
            QTRY_VERIFY(!QApplication::activeModalWidget());
            QCoreApplication::processEvents();
        } else {
            QTRY_COMPARE(pill.texts.value(0), status);
        }
        QTRY_VERIFY(journey.rows().contains(QFileInfo(file).completeBaseName()));
        QVERIFY(QFile::exists(renamed));
        QVERIFY(QFile::exists(MetadataStore::metadataURL(renamed)));
        QCOMPARE(MetadataStore::load(renamed)->createdAt.date(), QDate::currentDate().addDays(1));
        QCOMPARE(journey.selectedRows(), QStringList{QFileInfo(file).completeBaseName()});
        QCOMPARE(journey.rows().size(), 2);
        QCOMPARE(QFileInfo(journey.path("Other.wav")).size(), otherSize);
        if (file != "Take.wav") {
            QVERIFY(!QFile::exists(journey.path("Take.wav")));
            QVERIFY(!QFile::exists(MetadataStore::metadataURL(journey.path("Take.wav"))));
        }
    }

    // A take renamed while it is edited, by its analysis or through the Rename dialog, keeps its
    // selection, zoom, undo and playback.
    void editingSurvivesARename_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("renamed");
        QTest::newRow("tempo name") << "Analyze"
                                    << "Beat_bpm_120";
        QTest::newRow("rename dialog") << "Rename"
                                       << "Night Beat";
    }

    void editingSurvivesARename()
    {
        QFETCH(QString, how);
        QFETCH(QString, renamed);
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        Journey journey;
        const auto beat = AudioFixtures::clickTrack(journey.path("Beat.wav"), 12, 120);
        AudioFixtures::tone(journey.path("Other.wav"), 1);
        QVERIFY(journey.open());
        auto &window = journey.window();
        QVERIFY(journey.clickRow("Beat"));
        auto &editing = window.content()->editor();
        QTRY_VERIFY(editorReady(journey) && editing.recording()->url == beat);

        // The end handle dragged from 12 s to about 8 s, one step of zoom, the selection looping.
        auto &timeline = editor(journey)->timeline();
        const auto y = timeline.height() / 2;
        const auto at = [&](double seconds) {
            return QPoint(int(std::lround(timeline.track().x(seconds, timeline.viewport()))), y);
        };
        QTest::mousePress(&timeline, Qt::LeftButton, {}, at(12));
        QTest::mouseMove(&timeline, at(10));
        QTest::mouseMove(&timeline, at(8));
        QTest::mouseRelease(&timeline, Qt::LeftButton, {}, at(8));
        const auto dragged = editing.trimSelection().range();
        QVERIFY2(dragged.start == 0 && std::abs(dragged.end - 8) < 0.1, qPrintable(QString::number(dragged.end)));
        QVERIFY(Journey::click(window, "Zoom In"));
        const auto zoom = editing.viewport().zoom;
        QVERIFY(zoom > 1);
        QVERIFY(Journey::click(window, "Loop Selection"));
        QVERIFY(Journey::click(window, "Play Selection"));
        QTRY_VERIFY(Journey::shows(window, "Stop"));

        if (how == u"Analyze") {
            QVERIFY(Journey::click(window, "Analyze"));
        } else {
            QVERIFY(journey.chooseFromRowMenu("Beat", "Rename"));
            QVERIFY(Answer::text(renamed));
        }
        const auto target = journey.path(renamed + QStringLiteral(".wav"));
        QTRY_VERIFY_WITH_TIMEOUT(journey.selectedRows() == QStringList{renamed} && !journey.store().isAnalyzing(),
                                 20000);
        QVERIFY(QFile::exists(target) && !QFile::exists(beat));

        // The same take under its new name, nothing of the editing lost.
        QCOMPARE(editing.recording()->url, target);
        QVERIFY(Journey::shows(*editor(journey), renamed));
        QCOMPARE(editing.trimSelection().range(), dragged);
        QCOMPARE(timeline.trimRange(), dragged);
        QCOMPARE(editing.viewport().zoom, zoom);
        QVERIFY(Journey::shows(window, "Stop"));
        QVERIFY(Journey::click(window, "Undo Trim Change"));
        QCOMPARE(editing.trimSelection().range(), TrimRange(0, 12));
        QVERIFY(Journey::click(window, "Stop"));
        QTRY_VERIFY(Journey::shows(window, "Play Selection"));
    }

    void deleteThroughTheConfirmation()
    {
        Journey journey;
        for (const auto *name : {"One.wav", "Two.wav", "Three.wav"}) {
            AudioFixtures::tone(journey.path(name), 0.3);
            MetadataStore::save(RecordingMetadata::fresh(QDateTime::currentDateTime()), journey.path(name));
        }
        QVERIFY(journey.open());
        auto &window = journey.window();

        // One: the editor's Delete asks first; Cancel keeps it.
        QVERIFY(journey.clickRow("One"));
        QCOMPARE(journey.selectedRows(), QStringList{"One"});
        QVERIFY(Journey::click(window, "Move Recording to Trash"));
        QVERIFY(Answer::button("Cancel"));
        QVERIFY(Journey::click(window, "Move Recording to Trash"));
        QString question;
        QVERIFY(Answer::button("Move to Trash", &question));
        QCOMPARE(question, QStringLiteral("Move “One.wav” to the Trash?"));
        QTRY_COMPARE(journey.pill(), QStringLiteral("Moved One.wav to Trash"));
        QTRY_COMPARE(journey.rows().size(), 2);

        // Several: both selected, the Delete key, the same confirmation.
        QVERIFY(journey.clickRow("Two"));
        QVERIFY(journey.clickRow("Three", Qt::ControlModifier));
        QCOMPARE(journey.selectedRows(), (QStringList{"Three", "Two"}));
        QTRY_COMPARE(window.content()->detail(), ContentView::Detail::multiSelection);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Delete);
        QVERIFY(Answer::button("Move to Trash"));
        QTRY_COMPARE(journey.pill(), QStringLiteral("Moved 2 recordings to Trash"));
        QTRY_VERIFY(journey.rows().isEmpty());
        QCOMPARE(window.content()->detail(), ContentView::Detail::empty);

        const auto trashed = trashedPaths();
        for (const auto *name : {"One.wav", "Two.wav", "Three.wav"}) {
            const auto path = journey.path(name);
            QVERIFY(!QFile::exists(path));
            QVERIFY2(trashed.contains(path), name);
            QVERIFY2(trashed.contains(MetadataStore::metadataURL(path)), name);
        }
    }

    void importFromTheToolbar_data()
    {
        QTest::addColumn<QString>("address"); // a path on the local server, or a whole address
        QTest::addColumn<bool>("webPage");
        QTest::newRow("direct file") << "/media/Song.wav" << false;
        QTest::newRow("web page, rights confirmed") << "https://www.youtube.com/watch?v=journey" << true;
    }

    void importFromTheToolbar()
    {
        QFETCH(QString, address);
        QFETCH(bool, webPage);
        Journey journey;
        LocalHttpServer http;
        QFile wav(AudioFixtures::tone(journey.scratch("song.wav"), 1));
        const auto page = AudioFixtures::tone(journey.scratch("page.m4a"), 1);
        QVERIFY(wav.open(QIODevice::ReadOnly));
        http.route("/media/Song.wav", {200, "audio/wav", wav.readAll()});
        // The extractor stand-in writes the page's audio as the M4A it is asked for and notes
        // what it was asked.
        qputenv("JOURNEY_PAGE", page.toUtf8());
        writeScript(journey.encoders() + "/yt-dlp", R"sh(#!/bin/sh
printf '%s\n' "$@" > "$JOURNEY_PAGE.arguments"
while [ $# -gt 0 ]; do [ "$1" = "-o" ] && template="$2"; shift; done
cp "$JOURNEY_PAGE" "$(echo "$template" | sed 's/%(ext)s/m4a/')"
)sh");
        QVERIFY(journey.open());
        const auto url = address.startsWith('/') ? http.url(address).toString() : address;
        PillWatch pill(journey);

        QVERIFY(Journey::click(journey.window(), "Import URL to MP3"));
        QVERIFY(Answer::text(url));
        if (webPage) {
            QString question;
            QVERIFY(Answer::button("I Have Rights, Extract", &question));
            QVERIFY(question.endsWith("URL: " + url));
        }
        QTRY_VERIFY2_WITH_TIMEOUT(pill.texts.contains("Analyzing imported audio"), qPrintable(pill.texts.join(" | ")),
                                  20000);
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto progress = webPage
            ? QStringList{"Importing URL", "Extracting web audio", "Converting audio", "Encoding MP3"}
            : QStringList{"Importing URL", "Downloading URL", "Extracting audio", "Encoding MP3"};
        for (const auto &text : progress)
            QVERIFY2(pill.texts.contains(text), qPrintable(pill.texts.join(" | ")));

        QCOMPARE(journey.rows().size(), 1);
        QCOMPARE(journey.selectedRows(), journey.rows());
        const auto file = journey.path(journey.rows().front() + ".mp3");
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QVERIFY(std::abs(analyse(file).seconds() - 1) < 0.1);
        QCOMPARE(MetadataStore::load(file)->source->urlString, std::optional(url));
        QFile arguments(page + ".arguments");
        QCOMPARE(arguments.exists(), webPage);
        if (webPage) {
            QVERIFY(arguments.open(QIODevice::ReadOnly));
            QVERIFY(arguments.readAll().split('\n').contains(url.toUtf8()));
        }
    }

    void importRefusedRightsStartsNothing()
    {
        Journey journey;
        writeScript(journey.encoders() + "/yt-dlp", "#!/bin/sh\ntouch \"$0.ran\"\n");
        QVERIFY(journey.open());
        PillWatch pill(journey);
        QVERIFY(journey.chooseFromTray("Import URL..."));
        QVERIFY(Answer::text("https://soundcloud.com/someone/song"));
        QVERIFY(Answer::button("Cancel"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCoreApplication::processEvents();
        QVERIFY(pill.texts.isEmpty());
        QVERIFY(!QFile::exists(journey.encoders() + "/yt-dlp.ran"));
        QVERIFY(journey.rows().isEmpty());
    }

    void chooseAnotherFolder()
    {
        Journey journey;
        const auto elsewhere = journey.scratch("Elsewhere");
        const auto third = journey.scratch("Third");
        AudioFixtures::tone(journey.path("Here.wav"), 0.3);
        QDir().mkpath(elsewhere);
        QDir().mkpath(third);
        AudioFixtures::tone(elsewhere + "/There.wav", 0.3);
        AudioFixtures::tone(third + "/Far.wav", 0.3);
        QVERIFY(journey.open());
        QCOMPARE(journey.rows(), QStringList{"Here"});

        // From the settings window, opened from the toolbar.
        QVERIFY(Journey::click(journey.window(), "Settings"));
        auto &settings = journey.settingsWindow();
        QTRY_VERIFY(settings.isVisible());
        QVERIFY(Journey::click(settings, "Choose"));
        QVERIFY(Answer::folder(elsewhere));
        QTRY_COMPARE(journey.store().folderURL(), elsewhere);
        QTRY_COMPARE(journey.rows(), QStringList{"There"});
        QCOMPARE(journey.selectedRows(), QStringList{"There"});
        const auto labels = settings.findChildren<QLabel *>();
        QVERIFY(
            std::any_of(labels.begin(), labels.end(), [&](QLabel *label) { return label->toolTip() == elsewhere; }));

        // From the tray; a cancelled choice changes nothing.
        QVERIFY(journey.chooseFromTray("Choose Folder"));
        QVERIFY(Answer::cancel());
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(journey.store().folderURL(), elsewhere);
        QVERIFY(journey.chooseFromTray("Choose Folder"));
        QVERIFY(Answer::folder(third));
        QTRY_COMPARE(journey.rows(), QStringList{"Far"});

        // The choice survives a restart.
        journey.close();
        QVERIFY(journey.open());
        QCOMPARE(journey.rows(), QStringList{"Far"});
        QCOMPARE(journey.store().folderURL(), third);
    }

    void windowFollowsTheFolder()
    {
        Journey journey;
        AudioFixtures::tone(journey.path("Kept.wav"), 0.3);
        const auto outside = AudioFixtures::tone(journey.scratch("Dropped.wav"), 0.3);
        QVERIFY(journey.open());
        QCOMPARE(journey.rows(), QStringList{"Kept"});

        // A file manager copies a take in, a sync client renames it, the terminal tool renames
        // another; each shows within about a second, without Refresh.
        QVERIFY(QFile::copy(outside, journey.path("Dropped.wav")));
        QTRY_VERIFY_WITH_TIMEOUT(journey.rows().contains("Dropped"), 2000);
        QVERIFY(QFile::rename(journey.path("Dropped.wav"), journey.path("Synced.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(journey.rows().size() == 2 && journey.rows().contains("Synced"), true, 2000);
        const auto renamed =
            runTool({"rename", journey.path("Kept.wav"), "From Terminal", "--folder", journey.library()});
        QCOMPARE(renamed.exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(journey.rows().contains("From Terminal") && !journey.rows().contains("Kept"), true,
                                  2000);

        // A take removed under the open editor leaves no stale row or editor behind.
        QVERIFY(journey.clickRow("Synced"));
        QTRY_VERIFY(editor(journey)
                    && journey.window().content()->editor().recording()->url == journey.path("Synced.wav"));
        QVERIFY(QFile::remove(journey.path("Synced.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(journey.rows(), QStringList{"From Terminal"}, 2000);
        QCOMPARE(journey.selectedRows(), QStringList{"From Terminal"});
        QVERIFY(Journey::shows(*editor(journey), "From Terminal"));
    }

    void theLastSecondsKeptFromTheSettingsAreSavedFromTheToolbarAndTheTray()
    {
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        HotKeyDesktop desktop;
        QVERIFY2(desktop.ready(), "Xvfb or its hot-key grabber did not start");
        auto &x11 = desktop.x11;
        Journey journey(&desktop.grabber);
        QVERIFY(journey.open());
        QObject players;
        QVERIFY(playTone(&players, journey.scratch({}), "@DEFAULT_SINK@", 440, 0.5) > 0);
        QVERIFY(!Journey::click(journey.window(), "Save the Last 30 Seconds")); // nothing kept yet

        QVERIFY(Journey::click(journey.window(), "Settings"));
        auto &settings = journey.settingsWindow();
        QTRY_VERIFY(settings.isVisible());
        auto *keep = comboBox(settings, QStringLiteral("Keep the last … seconds"));
        QVERIFY(keep);
        keep->setFocus();
        QTest::keyClick(keep, Qt::Key_Down); // Off, then 15 and 30 seconds
        QTest::keyClick(keep, Qt::Key_Down);
        QTRY_VERIFY_WITH_TIMEOUT(Journey::shows(settings,
                                                "Listening: the last 30 seconds of System Audio stay in "
                                                "memory, never on disk."),
                                 10000);
        QTest::qWait(1500); // the window fills in real time

        const auto takes = [&](const QStringList &before) {
            const auto row = analysedRow(journey, before);
            return std::pair(row, analyse(journey.path(row + ".m4a"), 0.1, 0.9));
        };
        auto before = journey.rows();
        QVERIFY(Journey::click(journey.window(), "Save the Last 30 Seconds"));
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto [fromToolbar, first] = takes(before);
        QCOMPARE(journey.selectedRows(), QStringList{fromToolbar});
        QVERIFY2(
            first.seconds() > 1 && first.seconds() < 30 && std::abs(first.frequency - 440) < 5,
            qPrintable(QStringLiteral("%1: %2 s at %3 Hz").arg(fromToolbar).arg(first.seconds()).arg(first.frequency)));

        before = journey.rows();
        QVERIFY(journey.chooseFromTray("Save the Last 30 Seconds"));
        QTRY_VERIFY_WITH_TIMEOUT(journey.rows().size() == before.size() + 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto [fromTray, second] = takes(before);
        // The window kept listening: the second take holds at least what the first did.
        QVERIFY2(
            second.seconds() >= first.seconds() && std::abs(second.frequency - 440) < 5,
            qPrintable(QStringLiteral("%1: %2 s at %3 Hz").arg(fromTray).arg(second.seconds()).arg(second.frequency)));

        // And from anywhere on the desktop, with its hot key.
        before = journey.rows();
        QVERIFY(x11.xdotool({"key", "shift+super+p"}));
        QTRY_VERIFY_WITH_TIMEOUT(journey.rows().size() == before.size() + 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto [fromHotKey, third] = takes(before);
        QCOMPARE(journey.selectedRows(), QStringList{fromHotKey});
        QVERIFY2(
            third.seconds() >= second.seconds() && std::abs(third.frequency - 440) < 5,
            qPrintable(QStringLiteral("%1: %2 s at %3 Hz").arg(fromHotKey).arg(third.seconds()).arg(third.frequency)));
    }

    void formatAndThemeFromTheSettings_data()
    {
        QTest::addColumn<int>("steps"); // down the File Type list from AAC
        QTest::addColumn<QString>("extension");
        QTest::newRow("WAV") << 2 << "wav";
        QTest::newRow("AIFF") << 3 << "aiff";
        QTest::newRow("MP3") << 1 << "mp3";
    }

    void formatAndThemeFromTheSettings()
    {
        QFETCH(int, steps);
        QFETCH(QString, extension);
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        Journey journey;
        QVERIFY(journey.open());
        QObject players;
        QVERIFY(playTone(&players, journey.scratch({}), "@DEFAULT_SINK@", 440, 0.5) > 0);
        QVERIFY(Journey::click(journey.window(), "Settings"));
        auto &settings = journey.settingsWindow();
        QTRY_VERIFY(settings.isVisible());
        auto *format = comboBox(settings, QStringLiteral("File Type"));
        QVERIFY(format);
        format->setFocus();
        for (int step = 0; step < steps; ++step)
            QTest::keyClick(format, Qt::Key_Down);
        QCOMPARE(format->currentIndex(), steps);

        const auto before = journey.rows();
        QVERIFY(Journey::click(journey.window(), "Record System Audio"));
        QTRY_COMPARE_WITH_TIMEOUT(elapsed(journey), QStringLiteral("00:01"), 10000);
        QVERIFY(Journey::click(journey.window(), "Stop System Audio Recording"));
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto take = journey.path(analysedRow(journey, before) + '.' + extension);
        QVERIFY2(QFile::exists(take), qPrintable(take));
        const auto signal = analyse(take);
        QCOMPARE(signal.channels, 2);
        QVERIFY(std::abs(signal.frequency - 440) < 5);

        // The other theme restyles every open window at once.
        const auto studio = VespertoneTheme::darkAppearance(AppThemeChoice::studioGlass);
        QVERIFY(journey.window().palette().color(QPalette::Window) != studio.color(QPalette::Window)
                || journey.theme().theme() != AppThemeChoice::studioGlass);
        QVERIFY(Journey::click(settings, "Studio Glass"));
        QVERIFY(Journey::shows(settings, "Black glass, glossy, and restrained."));
        QCOMPARE(journey.window().content()->sidebar()->theme(), AppThemeChoice::studioGlass);
        QCOMPARE(journey.window().palette().color(QPalette::Window), studio.color(QPalette::Window));
        QCOMPARE(journey.tray().menu().palette().color(QPalette::Window), studio.color(QPalette::Window));
        QCOMPARE(ThemeController(journey.store().settings()).theme(), AppThemeChoice::studioGlass); // kept
        QVERIFY(Journey::shows(journey.window(), "Recordings"));
    }

    void captureAHotKeyAndPressIt()
    {
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        HotKeyDesktop desktop;
        QVERIFY2(desktop.ready(), "Xvfb or its hot-key grabber did not start");
        auto &x11 = desktop.x11;
        Journey journey(&desktop.grabber);
        QVERIFY(journey.open());
        QObject players;
        QVERIFY(playTone(&players, journey.scratch({}), "@DEFAULT_SINK@", 440, 0.5) > 0);

        QVERIFY(Journey::click(journey.window(), "Settings"));
        auto &settings = journey.settingsWindow();
        QTRY_VERIFY(settings.isVisible());
        QVERIFY(Journey::click(settings, "Shift+Super+R"));
        QVERIFY(Journey::shows(settings, "Press keys"));
        QTest::keyClick(settings.focusWidget(), Qt::Key_K, Qt::MetaModifier | Qt::AltModifier);
        QTRY_VERIFY(Journey::shows(settings, "Alt+Super+K"));

        // The new chord starts and stops a take from anywhere.
        const auto before = journey.rows();
        QVERIFY(x11.xdotool({"key", "alt+super+k"}));
        QTRY_VERIFY_WITH_TIMEOUT(Journey::shows(journey.window(), "Recording"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(elapsed(journey), QStringLiteral("00:01"), 10000);
        QVERIFY(x11.xdotool({"key", "alt+super+k"}));
        QTRY_COMPARE_WITH_TIMEOUT(journey.pill(), QStringLiteral("Analysis saved"), 20000);
        const auto take = journey.path(analysedRow(journey, before) + ".m4a");
        QVERIFY2(QFile::exists(take), qPrintable(take));
    }

    void trayKeepsTheProgramAndQuitSavesTheTake()
    {
        if (!hasPulse())
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        for (const auto *program : {"openbox", "trayer"})
            QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), program);
        XvfbServer x11;
        QVERIFY2(x11.isRunning(), "Xvfb did not start");
        ProgramHome home(x11.display());
        const auto library = home.library();
        const auto &environment = home.environment();
        const auto visible = [&](const QString &option, const QString &value) {
            return x11.xdotool({"search", "--onlyvisible", option, value}).value_or("").trimmed();
        };

        // A desktop: a window manager that keeps a tray on the top edge above the windows.
        QProcess manager;
        manager.setProcessEnvironment(environment);
        manager.start("openbox", {});
        QTRY_VERIFY_WITH_TIMEOUT(x11.xdotool({"get_num_desktops"}).value_or("0").trimmed().toInt() > 0, 20000);
        QProcess tray;
        tray.setProcessEnvironment(environment);
        tray.start("trayer",
                   {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--transparent",
                    "false"});
        QTRY_VERIFY_WITH_TIMEOUT(!visible("--class", "trayer").isEmpty(), 10000);
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QVERIFY(home.start(program));
        // The icon docks: the tray grows from its empty width. Until then the icon is a window of
        // its own, with the library window's name.
        QRect icon;
        QTRY_VERIFY_WITH_TIMEOUT((icon = geometry(x11, visible("--class", "trayer"))).width() >= 16, 20000);
        // The library window, shown or not: the largest of the program's windows by that name,
        // as a tray icon not docked yet is one too.
        const auto libraryWindow = [&] {
            QByteArray largest;
            qint64 largestArea = 200 * 200;
            for (const auto &id : visible("--name", "^Vespertone$").split('\n'))
                if (const auto area = id.isEmpty() ? QRect() : geometry(x11, id);
                    area.width() > 200 && area.height() > 200 && qint64(area.width()) * area.height() > largestArea) {
                    largest = id;
                    largestArea = qint64(area.width()) * area.height();
                }
            return largest;
        };
        QByteArray window;
        QTRY_VERIFY_WITH_TIMEOUT(!(window = libraryWindow()).isEmpty(), 20000);

        // Closing the window leaves the program running; a second launch brings its window back.
        QVERIFY(requestClose(x11.display(), window.toUInt()));
        // In a full run the first request is now and then left unanswered (cause not yet found);
        // the windows then on screen are logged and the request is made once more, as a person
        // would click again.
        if (!QTest::qWaitFor([&] { return libraryWindow().isEmpty(); }, 10000)) {
            QStringList shown;
            for (const auto &id : visible("--class", "vespertone").split('\n'))
                shown << QStringLiteral("%1 %2 %3x%4")
                             .arg(QString::fromUtf8(id),
                                  QString::fromUtf8(x11.xdotool({"getwindowname", id}).value_or("").trimmed()))
                             .arg(geometry(x11, id).width())
                             .arg(geometry(x11, id).height());
            qWarning("the library window stayed after its close request; shown: %s", qPrintable(shown.join(", ")));
            QVERIFY(requestClose(x11.display(), libraryWindow().toUInt()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(libraryWindow().isEmpty(), 10000);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(home.launchAgain({}));
        // The first instance's own window: Qt gives a window closed by its manager a new X window.
        QTRY_VERIFY_WITH_TIMEOUT(!libraryWindow().isEmpty(), 10000);
        QCOMPARE(x11.xdotool({"getwindowpid", libraryWindow()}).value_or("").trimmed().toLongLong(),
                 program.processId());
        QCOMPARE(program.state(), QProcess::Running);

        // Quit from the tray menu during a take: the take is saved first.
        QVERIFY(home.launchAgain({"--toggle-recording"}));
        QVERIFY(TakeFiles::startsRecording(library, 0));
        QVERIFY(TakeFiles::locked(library));
        // The program's windows on screen: the library and the tray icon, then the menu as well.
        const auto windows = [&] { return visible("--class", "vespertone").split('\n').size(); };
        const auto before = windows();
        QVERIFY(x11.xdotool(
            {"mousemove", QString::number(icon.center().x()), QString::number(icon.center().y()), "click", "1"}));
        QTRY_VERIFY_WITH_TIMEOUT(windows() > before, 5000);
        // Quit is the last item: Up from no item chooses it.
        QVERIFY(x11.xdotool({"key", "Up", "Return"}));
        QVERIFY(program.waitForFinished(20000));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        QCOMPARE(TakeFiles::takes(library).size(), 1);
        QVERIFY(!TakeFiles::locked(library));
        for (auto *process : {&tray, &manager}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }
};

QTEST_MAIN(JourneysTest)
#include "test_journeys.moc"

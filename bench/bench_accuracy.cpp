// bench_accuracy: how often the standard and the precise analysis name tempo and key right,
// and what each costs, on a test set it renders itself with sox, ffmpeg and its own synthesis.

#include "analysis/AudioAnalyzer.h"
#include "analysis/MusicalKeys.h"
#include "analysis/PreciseAnalyzer.h"
#include "media/FFmpegLogging.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int rate = 48000;

struct Case {
    QString group;
    QString name;
    QString file;
    std::optional<QString> key;
    std::optional<double> bpm;
};

struct Outcome {
    AudioAnalysisResult standard;
    AudioAnalysisResult precise;
    double standardSeconds = 0;
    double preciseSeconds = 0;
};

double frequencyOf(double note)
{
    return 440 * std::pow(2.0, (note - 69) / 12);
}

void run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
}

/// A sustained triad with sox: \a root (MIDI) with its third and fifth, 6 s.
QString soxTriad(const QString &path, int root, bool minor, const char *wave)
{
    QStringList arguments{"-n", "-r", "48000", "-b", "16", "-c", "2", path};
    for (const int interval : {0, minor ? 3 : 4, 7}) {
        arguments << "synth"
                  << "6" << wave;
        if (interval != 0)
            arguments << "mix";
        arguments << QString::number(frequencyOf(root + interval), 'f', 3);
    }
    arguments << "gain"
              << "-n"
              << "-3";
    run(QStringLiteral("sox"), arguments);
    return path;
}

/// Mono signal as 16-bit stereo WAV, scaled to a peak of 0.7.
QString writeSignal(const QString &path, const std::vector<double> &signal)
{
    double peak = 1e-9;
    for (const double v : signal)
        peak = std::max(peak, std::abs(v));
    BenchSupport::writeWav(path, int(signal.size()), [&](int frame) {
        return qint16(std::lround(signal[std::size_t(frame)] / peak * 0.7 * 32767));
    });
    return path;
}

/// Encodes \a wav with ffmpeg into \a path (codec from its extension) at \a sampleRate and
/// removes the WAV.
QString encoded(const QString &wav, const QString &path, int sampleRate)
{
    run(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-i", wav, "-ar", QString::number(sampleRate), path});
    QFile::remove(wav);
    return path;
}

/// Adds a note of \a seconds at \a start: harmonics with amplitudes 1/h^\a rolloff, a short
/// attack and an exponential decay of \a decay seconds (0: sustained).
void addNote(std::vector<double> &signal, double start, double seconds, double note, double level, int harmonics,
             double rolloff, double decay)
{
    const auto first = std::size_t(start * rate);
    const auto count = std::size_t(seconds * rate);
    const double f = frequencyOf(note);
    for (std::size_t i = 0; i < count && first + i < signal.size(); ++i) {
        const double t = double(i) / rate;
        const double envelope =
            std::min(1.0, t / 0.01) * std::min(1.0, (seconds - t) / 0.05) * (decay > 0 ? std::exp(-t / decay) : 1.0);
        double value = 0;
        for (int h = 1; h <= harmonics && f * h < 16000; ++h)
            value += std::sin(2 * std::numbers::pi * f * h * t) / std::pow(h, rolloff);
        signal[first + i] += level * envelope * value;
    }
}

/// A chord progression in the key of \a tonic: degrees as semitones above the tonic with their
/// quality, each chord 1.6 s with its root in the bass.
std::vector<double> progression(int tonic, const std::vector<std::pair<int, bool>> &chords, bool piano)
{
    constexpr double chordSeconds = 1.6;
    std::vector<double> signal(std::size_t(chordSeconds * double(chords.size()) * rate + rate / 2));
    for (std::size_t c = 0; c < chords.size(); ++c) {
        const auto [degree, minor] = chords[c];
        const int root = (tonic + degree) % 12;
        const double start = chordSeconds * double(c);
        const int chordRoot = 55 + (root + 12 - 7) % 12; // G3...F#4
        for (const int interval : {0, minor ? 3 : 4, 7})
            addNote(signal, start, chordSeconds, chordRoot + interval, 0.3, piano ? 8 : 12, piano ? 1.5 : 1.0,
                    piano ? 0.8 : 0);
        addNote(signal, start, chordSeconds, 36 + root, 0.45, 6, 1.2, piano ? 1.0 : 0);
    }
    return signal;
}

/// Drum sounds, deterministic.
struct Drums {
    std::mt19937 noise{7};
    std::uniform_real_distribution<double> uniform{-1, 1};

    void kick(std::vector<double> &s, double at, double level)
    {
        double phase = 0;
        for (std::size_t i = 0, first = std::size_t(at * rate); i < std::size_t(0.3 * rate) && first + i < s.size();
             ++i) {
            const double t = double(i) / rate;
            phase += 2 * std::numbers::pi * (45 + 90 * std::exp(-t * 30)) / rate;
            s[first + i] += level * std::exp(-t * 12) * std::sin(phase);
        }
    }
    void snare(std::vector<double> &s, double at, double level)
    {
        for (std::size_t i = 0, first = std::size_t(at * rate); i < std::size_t(0.2 * rate) && first + i < s.size();
             ++i) {
            const double t = double(i) / rate;
            s[first + i] += level
                * (0.7 * uniform(noise) * std::exp(-t * 25)
                   + 0.4 * std::sin(2 * std::numbers::pi * 185 * t) * std::exp(-t * 30));
        }
    }
    void hat(std::vector<double> &s, double at, double level, double decay)
    {
        double last = 0;
        for (std::size_t i = 0, first = std::size_t(at * rate);
             i < std::size_t(decay * 5 * rate) && first + i < s.size(); ++i) {
            const double t = double(i) / rate;
            const double white = uniform(noise);
            s[first + i] += level * (white - last) * 0.5 * std::exp(-t / decay);
            last = white;
        }
    }
    void click(std::vector<double> &s, double at, double level, double frequency)
    {
        for (std::size_t i = 0, first = std::size_t(at * rate); i < std::size_t(0.03 * rate) && first + i < s.size();
             ++i) {
            const double t = double(i) / rate;
            s[first + i] += level * std::exp(-t * 150) * std::sin(2 * std::numbers::pi * frequency * t);
        }
    }
};

enum class Pattern { click, clickOverChord, rock, house, syncopated };

/// \a seconds of \a kind at \a bpm; the drum patterns are played by hand: each hit up to 8 ms
/// early or late and up to 20 % softer or louder.
std::vector<double> pattern(Pattern kind, double bpm, double seconds)
{
    std::vector<double> s(std::size_t(seconds * rate));
    Drums drums;
    std::mt19937 hand(std::uint32_t(bpm * 100));
    std::uniform_real_distribution<double> late(-0.008, 0.008), loud(0.8, 1.2);
    const bool humanized = kind == Pattern::rock || kind == Pattern::house || kind == Pattern::syncopated;
    const auto t = [&](double at) { return humanized ? at + late(hand) : at; };
    const auto v = [&](double level) { return humanized ? level * loud(hand) : level; };
    const double beat = 60 / bpm;
    if (kind == Pattern::clickOverChord)
        addNote(s, 0, seconds, 57, 0.05, 6, 1.0, 0), addNote(s, 0, seconds, 60, 0.05, 6, 1.0, 0),
            addNote(s, 0, seconds, 64, 0.05, 6, 1.0, 0);
    for (int n = 0; n * beat < seconds; ++n) {
        const double at = 0.05 + n * beat;
        switch (kind) {
        case Pattern::click:
        case Pattern::clickOverChord: drums.click(s, at, n % 4 == 0 ? 1.0 : 0.6, n % 4 == 0 ? 1500 : 1000); break;
        case Pattern::rock:
            if (n % 2 == 0)
                drums.kick(s, t(at), v(1.0));
            else
                drums.snare(s, t(at), v(0.8));
            drums.hat(s, t(at), v(0.25), 0.03);
            drums.hat(s, t(at + beat / 2), v(0.2), 0.03);
            break;
        case Pattern::house:
            drums.kick(s, t(at), v(1.0));
            if (n % 2 == 1)
                drums.snare(s, t(at), v(0.5));
            drums.hat(s, t(at + beat / 2), v(0.3), 0.08);
            break;
        case Pattern::syncopated:
            // Kick on 1 and on the off-beat after 2, snare on 2 and 4, sixteenth hats.
            if (n % 4 == 0)
                drums.kick(s, t(at), v(1.0));
            if (n % 4 == 1)
                drums.kick(s, t(at + beat / 2), v(0.8));
            if (n % 2 == 1)
                drums.snare(s, t(at), v(0.8));
            for (int q = 0; q < 4; ++q)
                drums.hat(s, t(at + q * beat / 4), v(q == 0 ? 0.2 : 0.12), 0.02);
            break;
        }
    }
    return s;
}

QString tempoText(std::optional<double> bpm)
{
    return bpm ? QString::number(*bpm, 'f', 1) : QStringLiteral("-");
}

bool tempoExact(std::optional<double> found, double truth)
{
    return found && std::abs(*found - truth) <= 0.5;
}

bool tempoClose(std::optional<double> found, double truth)
{
    if (!found)
        return false;
    for (const double factor : {1.0, 2.0, 0.5}) {
        if (std::abs(*found - truth * factor) <= 0.04 * truth * factor)
            return true;
    }
    return false;
}

/// The CPU time \a work takes in this process, decoder threads included: on a shared machine it
/// is steadier than the wall time.
double seconds(const std::function<void()> &work)
{
    const auto now = [] {
        timespec time;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
        return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
    };
    const double start = now();
    work();
    return now() - start;
}

/// The best of \a runs timings of each analysis of \a file.
std::pair<double, double> bestTimes(const QString &file, int runs)
{
    double standard = 1e9, precise = 1e9;
    for (int i = 0; i < runs; ++i) {
        standard = std::min(standard, seconds([&] { (void)AudioAnalyzer::analyzeSync(file); }));
        precise = std::min(precise, seconds([&] { (void)PreciseAnalyzer::analyzeSync(file); }));
    }
    return {standard, precise};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    const auto arguments = app.arguments();
    const bool verbose = arguments.contains(QStringLiteral("--verbose"));
    if (const auto timeIndex = arguments.indexOf(QStringLiteral("--time"));
        timeIndex > 0 && timeIndex + 1 < arguments.size()) {
        const auto [standard, precise] = bestTimes(arguments.at(timeIndex + 1), 5);
        std::printf("standard %.3fs precise %.3fs ratio %.2f\n", standard, precise, precise / standard);
        return 0;
    }
    QTemporaryDir temporary;
    const auto dirIndex = arguments.indexOf(QStringLiteral("--dir"));
    const QString dir = dirIndex > 0 && dirIndex + 1 < arguments.size() ? arguments.at(dirIndex + 1) : temporary.path();
    QDir().mkpath(dir);
    const auto file = [&](const QString &name) { return dir + u'/' + name; };
    // A file already in DIR is taken as rendered, so a kept set is analysed again at once.
    const auto rendered = [](const QString &path, const std::function<void()> &render) {
        if (!QFileInfo::exists(path))
            render();
        return path;
    };

    std::printf("Rendering the test set in %s ...\n", qPrintable(dir));
    std::fflush(stdout);
    std::vector<Case> cases;
    for (const char *wave : {"sine", "sawtooth"}) {
        for (int root = 0; root < 12; ++root) {
            for (const bool minor : {false, true}) {
                const auto key = MusicalKeys::keyName(root, minor);
                const auto name = QStringLiteral("triad %1 %2").arg(wave, key);
                const auto path = file(QString(name).replace(u' ', u'-') + ".wav");
                rendered(path, [&] { soxTriad(path, 60 + root, minor, wave); });
                cases.push_back({QStringLiteral("triads, %1").arg(wave), name, path, key, std::nullopt});
            }
        }
    }
    const std::vector<std::vector<std::pair<int, bool>>> majorProgressions{
        {{0, false}, {5, false}, {7, false}, {0, false}}, {{0, false}, {9, true}, {2, true}, {7, false}, {0, false}}};
    const std::vector<std::vector<std::pair<int, bool>>> minorProgressions{
        {{0, true}, {5, true}, {7, false}, {0, true}}, {{0, true}, {8, false}, {5, true}, {7, false}, {0, true}}};
    for (int tonic = 0; tonic < 12; ++tonic) {
        for (const bool minor : {false, true}) {
            const auto &shapes = minor ? minorProgressions : majorProgressions;
            for (std::size_t shape = 0; shape < shapes.size(); ++shape) {
                const bool piano = (tonic + int(shape)) % 2 == 0;
                const auto key = MusicalKeys::keyName(tonic, minor);
                const auto name =
                    QStringLiteral("progression %1 #%2 %3").arg(key).arg(shape + 1).arg(piano ? "piano" : "pad");
                const auto path = file(QString(name).replace(u' ', u'-') + ".wav");
                rendered(path, [&] { writeSignal(path, progression(tonic, shapes[shape], piano)); });
                cases.push_back({QStringLiteral("progressions"), name, path, key, std::nullopt});
            }
        }
    }
    // Harder: the natural minor's i-VII-VI-VII-i has no leading tone, only its tonic tells it
    // from its relative major.
    for (int tonic = 0; tonic < 12; ++tonic) {
        const auto key = MusicalKeys::keyName(tonic, true);
        const auto name = QStringLiteral("aeolian %1").arg(key);
        const auto path = file(QString(name).replace(u' ', u'-') + ".wav");
        rendered(path, [&] {
            writeSignal(path,
                        progression(tonic, {{0, true}, {10, false}, {8, false}, {10, false}, {0, true}}, tonic % 2));
        });
        cases.push_back({QStringLiteral("harder: natural minor i-VII-VI-VII-i"), name, path, key, std::nullopt});
    }
    const struct {
        Pattern kind;
        const char *name;
        const char *extension;
        int sampleRate;
    } patterns[] = {{Pattern::click, "click", "wav", rate},
                    {Pattern::clickOverChord, "click over chord", "wav", rate},
                    {Pattern::rock, "rock beat", "mp3", 44100},
                    {Pattern::house, "house beat", "m4a", rate},
                    {Pattern::syncopated, "harder: syncopated, 16th hats", "m4a", rate}};
    const auto groupOf = [](const auto &kind) {
        return QStringLiteral("%1 (%2, %3 kHz)").arg(kind.name, kind.extension).arg(kind.sampleRate / 1000.0);
    };
    for (const auto &kind : patterns) {
        for (int i = 0; i < 12; ++i) {
            // Non-integer tempi spread over 60...180 BPM, a different set for each pattern.
            const double bpm = std::round((60.7 + i * 10.13 + double(&kind - patterns) * 2.37) * 100) / 100;
            const auto name = QStringLiteral("%1 %2").arg(kind.name).arg(bpm, 0, 'f', 2);
            const auto base = QString(name).replace(u' ', u'-').remove(u':').remove(u',');
            const auto path = file(base + "." + kind.extension);
            rendered(path, [&] {
                writeSignal(file(base + ".wav"), pattern(kind.kind, bpm, 20));
                if (QLatin1String(kind.extension) != QLatin1String("wav"))
                    encoded(file(base + ".wav"), path, kind.sampleRate);
            });
            cases.push_back({groupOf(kind), name, path, std::nullopt, bpm});
        }
    }

    std::printf("Analysing %zu files with both analyses ...\n", cases.size());
    std::fflush(stdout);
    std::vector<Outcome> outcomes;
    for (const auto &c : cases) {
        Outcome outcome;
        outcome.standardSeconds = seconds([&] { outcome.standard = AudioAnalyzer::analyzeSync(c.file); });
        outcome.preciseSeconds = seconds([&] { outcome.precise = PreciseAnalyzer::analyzeSync(c.file); });
        outcomes.push_back(outcome);
        if (verbose) {
            const auto &p = outcome.precise;
            if (c.key) {
                QString alternatives;
                for (const auto &a : p.keyAlternatives)
                    alternatives += QStringLiteral(", %1 %2").arg(a.musicalKey).arg(a.confidence, 0, 'f', 2);
                std::printf("  %-40s standard %-10s precise %-10s %.2f (%s)\n", qPrintable(c.name),
                            qPrintable(outcome.standard.musicalKey.value_or("-")),
                            qPrintable(p.musicalKey.value_or("-")), p.keyConfidence.value_or(0),
                            qPrintable(alternatives.mid(2)));
            } else {
                QString alternatives;
                for (const auto &a : p.bpmAlternatives)
                    alternatives += QStringLiteral(" %1 %2").arg(a.bpm, 0, 'f', 1).arg(a.confidence, 0, 'f', 2);
                std::printf("  %-40s standard %6s precise %6s %.2f (%s)\n", qPrintable(c.name),
                            qPrintable(tempoText(outcome.standard.bpm)), qPrintable(tempoText(p.bpm)),
                            p.bpmConfidence.value_or(0), qPrintable(alternatives.trimmed()));
            }
        }
    }

    std::printf("\n%-52s %18s %18s\n", "", "standard", "precise");
    const auto share = [](int right, int all) {
        return QStringLiteral("%1/%2 (%3 %)").arg(right).arg(all).arg(all ? 100.0 * right / all : 0, 0, 'f', 0);
    };
    const auto line = [&](const QString &label,
                          const std::function<bool(const Case &, const AudioAnalysisResult &)> &right,
                          const std::function<bool(const Case &)> &counted) {
        int all = 0, standard = 0, precise = 0;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (!counted(cases[i]))
                continue;
            ++all;
            standard += right(cases[i], outcomes[i].standard);
            precise += right(cases[i], outcomes[i].precise);
        }
        std::printf("%-52s %18s %18s\n", qPrintable(label), qPrintable(share(standard, all)),
                    qPrintable(share(precise, all)));
    };
    const auto keyRight = [](const Case &c, const AudioAnalysisResult &r) { return r.musicalKey == c.key; };
    for (const char *group :
         {"triads, sine", "triads, sawtooth", "progressions", "harder: natural minor i-VII-VI-VII-i"})
        line(QStringLiteral("key exact: %1").arg(group), keyRight,
             [group](const Case &c) { return c.group == QLatin1String(group); });
    for (const auto &kind : patterns) {
        const auto group = groupOf(kind);
        line(
            QStringLiteral("tempo within 0.5 BPM: ") + group,
            [](const Case &c, const AudioAnalysisResult &r) { return tempoExact(r.bpm, *c.bpm); },
            [group](const Case &c) { return c.group == group; });
    }
    line(
        QStringLiteral("tempo within 0.5 BPM: all patterns"),
        [](const Case &c, const AudioAnalysisResult &r) { return tempoExact(r.bpm, *c.bpm); },
        [](const Case &c) { return c.bpm.has_value(); });
    line(
        QStringLiteral("tempo within 4 % (x2, /2 allowed): all patterns"),
        [](const Case &c, const AudioAnalysisResult &r) { return tempoClose(r.bpm, *c.bpm); },
        [](const Case &c) { return c.bpm.has_value(); });

    // How far off the tempo is when its level is right.
    {
        double errors[2] = {0, 0};
        int counts[2] = {0, 0};
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (!cases[i].bpm)
                continue;
            for (int which = 0; which < 2; ++which) {
                const auto &found = which ? outcomes[i].precise.bpm : outcomes[i].standard.bpm;
                if (found && std::abs(*found / *cases[i].bpm - 1) < 0.04) {
                    errors[which] += std::abs(*found - *cases[i].bpm);
                    ++counts[which];
                }
            }
        }
        std::printf("%-52s %17.2f  %17.2f\n", "mean tempo error in BPM, where within 4 %",
                    errors[0] / std::max(counts[0], 1), errors[1] / std::max(counts[1], 1));
    }
    // How the precise analysis's confidence tells its right answers from its wrong ones.
    const auto confidences = [&](const char *label, const std::function<bool(const Case &)> &counted,
                                 const std::function<std::optional<double>(const AudioAnalysisResult &)> &confidence,
                                 const std::function<bool(const Case &, const AudioAnalysisResult &)> &right) {
        double sums[2] = {0, 0};
        int counts[2] = {0, 0};
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (!counted(cases[i]))
                continue;
            const int wrong = right(cases[i], outcomes[i].precise) ? 0 : 1;
            sums[wrong] += confidence(outcomes[i].precise).value_or(0);
            ++counts[wrong];
        }
        std::printf(
            "%-52s %18s %18s\n", label, "",
            qPrintable(QStringLiteral("%1 / %2").arg(counts[0] ? QString::number(sums[0] / counts[0], 'f', 2) : "-",
                                                     counts[1] ? QString::number(sums[1] / counts[1], 'f', 2) : "-")));
    };
    confidences(
        "mean key confidence, right / wrong", [](const Case &c) { return c.key.has_value(); },
        [](const AudioAnalysisResult &r) { return r.keyConfidence; }, keyRight);
    confidences(
        "mean tempo confidence, right / wrong", [](const Case &c) { return c.bpm.has_value(); },
        [](const AudioAnalysisResult &r) { return r.bpmConfidence; },
        [](const Case &c, const AudioAnalysisResult &r) { return tempoExact(r.bpm, *c.bpm); });

    double standardTotal = 0, preciseTotal = 0;
    for (const auto &outcome : outcomes) {
        standardTotal += outcome.standardSeconds;
        preciseTotal += outcome.preciseSeconds;
    }
    std::printf("%-52s %17.2fs %17.2fs   ratio %.2f\n", "CPU time over the whole set", standardTotal, preciseTotal,
                preciseTotal / standardTotal);

    // Cost against the file's length: both analyses read a bounded opening excerpt.
    for (const auto &[minutes, extension] : {std::pair{3, "m4a"}, std::pair{30, "m4a"}, std::pair{30, "wav"}}) {
        const auto path = file(QStringLiteral("long-%1.%2").arg(minutes).arg(extension));
        run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=220:beep_factor=4:sample_rate=48000:duration=%1").arg(minutes * 60), "-ac",
             "2", path});
        const auto [standard, precise] = bestTimes(path, 3);
        std::printf("%-52s %17.3fs %17.3fs   ratio %.2f\n",
                    qPrintable(QStringLiteral("CPU time, one %1-minute %2 (best of 3)").arg(minutes).arg(extension)),
                    standard, precise, precise / standard);
        QFile::remove(path);
    }
    return 0;
}

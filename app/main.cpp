// marvalo: the bench panel.
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include "app/preset_controls.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "core/version.h"
#include "files/monitor_state.h"
#include "files/ports_file.h"
#include "files/settings_file.h"
#include "link/port_line.h"
#include "link/sleeper.h"
#include "panel/artwork.h"
#include "panel/form1.h"
#include "panel/monitor_access.h"
#include "panel/monitor_window.h"
#include "panel/ports_window.h"
#include "ports/bench_ports.h"

namespace {

bool hasDisplay() {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

// Resident memory in kB, for the start-up benchmark.
long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

// Runs `then` once, right after the first paint of the widget it watches:
// what follows the window's first picture waits for it.
class AfterFirstPaint : public QObject {
  public:
    AfterFirstPaint(QObject *parent, std::function<void()> then)
        : QObject(parent), then_(std::move(then)) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && then_) {
            QTimer::singleShot(0, this, std::exchange(then_, nullptr));
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> then_;
};

// The folder as the file system spells it: a name that is not valid UTF-8
// ("dir\xf3n" on a Latin-1 share) must not lose a byte on the way.
std::filesystem::path programFolderBytes() {
    std::error_code failed;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
    if (!failed)
        return program.parent_path();
    return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
}

constexpr const char *kHelp =
    "Usage: marvalo [--monitor] [--report-shown]\n"
    "   or: marvalo [--monitor] --screenshot FILE.png [--set NAME=VALUE]... [--send-first N]\n"
    "   or: marvalo --write-icon FILE.png [--icon-size N]\n"
    "\n"
    "The Marvalo bench panel. COM n is the device in $MARVALO_COMn when set\n"
    "(shown in \"Puertos serie\" as \"(MARVALO_COMn)\"), else the serial adapter the\n"
    "ports table marvalo-ports.ini gives that number. New adapters take the\n"
    "lowest numbers never freed; \"Puertos serie…\" (F3) assigns, swaps, frees and\n"
    "binds numbers (by adapter, or by USB connector for a fixture), as\n"
    "marvalo-send --assign-port, --free-port, --swap-ports and --bind-port do.\n"
    "A number whose entry is damaged, that fits two clone adapters or that is\n"
    "now the system console is refused and nothing is sent.\n"
    "A copy unpacked in a folder of the user's own keeps its settings file\n"
    "Comini.sdx, marvalo-ports.ini and the monitor's marvalo-monitor.ini beside\n"
    "itself. An installed program (in /usr, /opt and the like), or one whose\n"
    "folder cannot be written, saves them in $XDG_CONFIG_HOME/marvalo\n"
    "(~/.config/marvalo), for root too, and reads them from there once saved,\n"
    "until then from beside the program.\n"
    "\n"
    "  --monitor          open the line monitor too (F2 in the panel opens it)\n"
    "  --screenshot FILE  start as usual, save a picture of the window (of the\n"
    "                     monitor with --monitor), quit\n"
    "  --set NAME=VALUE   before the screenshot, set the text box or the list\n"
    "                     of that objectName (txtCadena=508, cmbFormato=s16)\n"
    "  --send-first N     press Enviar N times before the screenshot\n"
    "  --write-icon FILE  save the window icon (48x48, or --icon-size N) and quit\n"
    "  --version          print the version and quit\n"
    "  --report-shown     print the start-up time and memory once the window\n"
    "                     shows, then quit (used by bench/startup)\n"
    "\n"
    "Exit status: 0 the panel was closed (also by SIGTERM, SIGHUP or Ctrl-C,\n"
    "which save the choices first); 1 there is no display; 64 the command line\n"
    "is wrong.\n";

}  // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QString screenshot;
    QString iconFile;
    int iconSize = 48;
    bool reportShown = false;
    bool openMonitor = false;
    int sendFirst = 0;
    QStringList presets;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("marvalo %s\n", marvalo::kVersion);
            return 0;
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = QDir::current().absoluteFilePath(argv[++i]);
        } else if (std::strcmp(argv[i], "--write-icon") == 0 && i + 1 < argc) {
            iconFile = QDir::current().absoluteFilePath(argv[++i]);
        } else if (std::strcmp(argv[i], "--icon-size") == 0 && i + 1 < argc) {
            iconSize = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--send-first") == 0 && i + 1 < argc) {
            sendFirst = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc) {
            presets << QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--monitor") == 0) {
            openMonitor = true;
        } else if (std::strcmp(argv[i], "--report-shown") == 0) {
            reportShown = true;
        } else {
            std::fprintf(stderr, "marvalo: unknown argument '%s'\n\n%s", argv[i], kHelp);
            return 64;
        }
    }
    if (!hasDisplay()) {
        std::fputs(
            "marvalo: no display (DISPLAY and WAYLAND_DISPLAY are unset); run it on a "
            "desktop, e.g. MARVALO_COM1=/dev/ttyUSB0 marvalo, or over ssh -X.\n",
            stderr);
        return 1;
    }

    QApplication app(argc, argv);
    if (!iconFile.isEmpty()) {
        constexpr int kLargestIcon = 512;
        if (iconSize < 1 || iconSize > kLargestIcon) {
            std::fprintf(stderr, "marvalo: --icon-size takes 1 to %d pixels\n", kLargestIcon);
            return 64;
        }
        return marvalo::drawIcon(iconSize).save(iconFile) ? 0 : 1;
    }

    // The settings file is looked for beside the program, as it always was.
    const std::filesystem::path programFolder = programFolderBytes();
    if (::chdir(programFolder.c_str()) != 0) {
        std::perror("marvalo: cannot enter the program's folder");
    }
    const marvalo::SettingsPlace place = marvalo::chooseSettingsPlace(programFolder);
    marvalo::removeStaleTemporaries(marvalo::resolvedSettingsFile(place.saveFolder).parent_path());

    // COM numbers that stay with their adapters, in the table marvalo-send
    // finds by the same rule; $MARVALO_COMn still wins.
    marvalo::BenchPorts benchPorts(marvalo::portsTablePlace(programFolder));
    marvalo::PortLine port;
    port.setPortMap(benchPorts);
    marvalo::ThreadSleeper sleeper;
    marvalo::Form1 form(port, sleeper);
    const std::optional<std::string> settingsProblem = marvalo::startUp(form, place.loadFolder);
    marvalo::connectShutdown(form, place.saveFolder);
    marvalo::closeOnTerminationSignals(form);
    form.setStopCheck(marvalo::terminationRequested);
    auto *monitor = new marvalo::LineMonitor(
        form, QString::fromStdString((place.saveFolder / marvalo::kMonitorStateFileName).string()));
    const std::optional<std::string> portsProblem = benchPorts.takeProblem();
    // The panel's own language for Qt's dialogs and the ports window wait
    // for the window's first paint: neither is seen before it.
    QTranslator qtTexts;
    std::function<void()> tell;  // the problems found on the way, if any
    form.installEventFilter(new AfterFirstPaint(&form, [&] {
        // The panel speaks Spanish whatever the desktop's language, and so do
        // Qt's own dialogs ("Aceptar", "Guardar") when Debian's
        // qt6-translations-l10n is installed; without it they stay English.
        if (qtTexts.load("qtbase_es", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTexts);
        marvalo::addPortsWindow(form, benchPorts);
        if (tell)
            tell();
    }));
    form.show();
    if (openMonitor)
        monitor->open();

    if (!screenshot.isEmpty()) {
        // Nobody is there to close a box: a warning would hold the picture
        // up for ever.
        form.setWarningSink([](const QString &message) {
            std::fprintf(stderr, "marvalo: %s\n", qPrintable(message));
        });
        QTimer::singleShot(0, &form, [&] {
            QList<QWidget *> windows{&form};
            if (openMonitor)
                windows << &monitor->window();
            for (const QString &preset : presets) {
                if (auto refused = marvalo::presetControl(windows, preset)) {
                    std::fprintf(stderr, "marvalo: --set: %s\n", qPrintable(*refused));
                    QCoreApplication::exit(64);
                    return;
                }
            }
            auto *send = form.findChild<QPushButton *>("cmdEnviar");
            for (int i = 0; i < sendFirst && send != nullptr; ++i)
                send->click();
            if (openMonitor) {
                // The pane shows the last exchange that went wrong, if any.
                marvalo::MonitorWindow &window = monitor->window();
                window.model().flushPending();
                int shown = window.model().rowCount() - 1;
                for (int row = shown; row >= 0; --row) {
                    const auto &verdict = window.model().record(row).verdict;
                    if (verdict && verdict->kind != marvalo::VerdictKind::Ok &&
                        verdict->kind != marvalo::VerdictKind::Silence) {
                        shown = row;
                        break;
                    }
                }
                if (shown >= 0)
                    window.selectRow(shown);
            }
            QWidget &pictured = openMonitor ? static_cast<QWidget &>(monitor->window()) : form;
            const bool saved = pictured.grab().save(screenshot);
            std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(screenshot));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    } else if (reportShown) {
        // Shown means painted: report at the end of the window's first paint.
        form.installEventFilter(new AfterFirstPaint(&form, [&sinceStart] {
            std::printf("shown after %lld ms, resident %ld kB\n",
                        static_cast<long long>(sinceStart.elapsed()), residentKb());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }));
    } else if (settingsProblem || place.notice || portsProblem) {
        // Told once, after the window is up and speaks Spanish, so the
        // operator sees what it is about.
        tell = [&] {
            QStringList told;
            for (const auto &problem : {settingsProblem, place.notice, portsProblem}) {
                if (problem)
                    told << QString::fromStdString(*problem);
            }
            form.warn(told.join("\n\n"));
        };
    }
    return app.exec();
}

// marvalo: the bench panel.
#include <unistd.h>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "app/display_refusal.h"
#include "app/preset_controls.h"
#include "app/quiet_qt_messages.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/option_table.h"
#include "core/text/system_error_text.h"
#include "files/monitor_state.h"
#include "files/output_file.h"
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

constexpr const char *kUsage =
    "Modo de empleo: marvalo [--monitor] [--report-shown]\n"
    "   o: marvalo [--monitor] --screenshot ARCHIVO.png [--set NOMBRE=VALOR]... "
    "[--send-first N]\n"
    "   o: marvalo --write-icon ARCHIVO.png [--icon-size N]\n";

// What the command line asks of this run.
struct Options {
    QString screenshot;
    QString iconFile;
    int iconSize = 48;
    bool reportShown = false;
    bool openMonitor = false;
    int sendFirst = 0;
    QStringList presets;
};
using Problem = std::optional<std::string>;
using marvalo::OptionRow;
using marvalo::OptionValues;

template <bool Options::*member>
Problem takeSwitch(Options &options, std::string_view, OptionValues) {
    options.*member = true;
    return std::nullopt;
}

// The extensions Qt writes, as the refusals name them: "bmp, jpeg, png".
std::string imageFormats() {
    return QByteArrayList(QImageWriter::supportedImageFormats()).join(", ").toStdString();
}

// What --screenshot and --write-icon want where a name gives no file.
std::string imageNameWanted() {
    return "un nombre de archivo terminado en .png (o en otra extensión de imagen: " +
           imageFormats() + ")";
}

// A file to write, named from where the program was started. An empty name
// would be the folder itself: refused for what is missing.
template <QString Options::*member>
Problem takeFile(Options &options, std::string_view name, OptionValues values) {
    if (!values[0])
        return std::string(name) + " necesita una ruta";
    if (*values[0] == '\0')
        return std::string(name) + " necesita " + imageNameWanted();
    options.*member = QDir::current().absoluteFilePath(QFile::decodeName(values[0]));
    return std::nullopt;
}

template <int Options::*member, long low, long high>
Problem takeNumber(Options &options, std::string_view name, OptionValues values) {
    const auto number = values[0] ? marvalo::parseDecimalIn(values[0], low, high) : std::nullopt;
    if (!number)
        return std::string(name) + " admite un número de " + std::to_string(low) + " a " +
               std::to_string(high);
    options.*member = static_cast<int>(*number);
    return std::nullopt;
}

Problem takePreset(Options &options, std::string_view name, OptionValues values) {
    if (!values[0])
        return std::string(name) + " necesita NOMBRE=VALOR";
    options.presets << QString::fromLocal8Bit(values[0]);
    return std::nullopt;
}

// The runs the usage lines show, as bits of each row: what an option does
// not belong to would be dropped without a word, so it is refused by name.
constexpr unsigned kPanel = 1, kShot = 2, kIcon = 4;

constexpr OptionRow<Options> kOptions[] = {
    {{"", "",
      "El panel de banco Marvalo. COM n es el dispositivo de $MARVALO_COMn si\n"
      "existe (en \"Puertos serie\" como \"(MARVALO_COMn)\"), si no el adaptador\n"
      "serie al que la tabla de puertos marvalo-ports.ini da ese número. Los\n"
      "adaptadores nuevos toman los números más bajos nunca liberados;\n"
      "\"Puertos serie…\" (F3) asigna, intercambia, libera y liga números (por\n"
      "adaptador, o por conector USB para un útil), como hacen marvalo-send\n"
      "--assign-port, --free-port, --swap-ports y --bind-port. Un número cuya\n"
      "entrada está dañada, que vale para dos adaptadores clónicos o que es\n"
      "ahora la consola del sistema se rechaza y no se envía nada.\n"
      "Una copia desempaquetada en una carpeta propia del usuario guarda su\n"
      "archivo de ajustes Comini.sdx, marvalo-ports.ini y marvalo-monitor.ini\n"
      "del monitor junto a sí misma. Un programa instalado (en /usr, /opt y\n"
      "semejantes), o uno cuya carpeta no puede escribirse, los guarda en\n"
      "$XDG_CONFIG_HOME/marvalo (~/.config/marvalo), también para root, y los\n"
      "lee de allí una vez guardados, hasta entonces de junto al programa.\n"
      "\n"},
     nullptr},
    {{"--monitor", "", "abre también el monitor de línea (F2 en el panel lo abre)\n"},
     takeSwitch<&Options::openMonitor>,
     kPanel | kShot},
    {{"--screenshot", "ARCHIVO",
      "arranca como siempre, guarda una imagen de la ventana (del\n"
      "monitor con --monitor) y termina\n"},
     takeFile<&Options::screenshot>,
     kShot},
    {{"--set", "NOMBRE=VALOR",
      "antes de la imagen, pone la casilla o la lista de ese objectName\n"
      "(txtCadena=508, cmbFormato=s16); puede repetirse\n",
      marvalo::Repeat::Many},
     takePreset,
     kShot},
    {{"--send-first", "N", "pulsa Enviar N veces antes de la imagen\n"},
     takeNumber<&Options::sendFirst, 0, 100000>,
     kShot},
    {{"--write-icon", "ARCHIVO",
      "guarda el icono de la ventana (48x48, o --icon-size N) y termina\n"},
     takeFile<&Options::iconFile>,
     kIcon},
    {{"--icon-size", "N", "el lado del icono, de 1 a 512 píxeles\n"},
     takeNumber<&Options::iconSize, 1, 512>,
     kIcon},
    {{"--report-shown", "",
      "escribe el tiempo de arranque y la memoria cuando la ventana se ha\n"
      "mostrado y está lista para usarse, y termina (lo usa bench/startup)\n"},
     takeSwitch<&Options::reportShown>,
     kPanel},
};

constexpr const char *kExitHelp =
    "\n"
    "Estado de salida: 0 se cerró el panel (también con SIGTERM, SIGHUP o\n"
    "Ctrl-C, que antes guardan las elecciones); 1 no hay pantalla, la de\n"
    "DISPLAY (WAYLAND_DISPLAY) no pudo abrirse o la plataforma gráfica de\n"
    "QT_QPA_PLATFORM no pudo iniciarse (el mensaje lo nombra); 64 la línea de\n"
    "órdenes está mal (también opciones de dos líneas de empleo distintas), o\n"
    "el archivo de --screenshot o --write-icon no puede escribirse en ese\n"
    "formato (el mensaje dice por qué).\n";

// Every row of --help, in its order: what the completion offers too.
std::vector<marvalo::OptionText> helpRows() {
    std::vector<marvalo::OptionText> texts;
    marvalo::appendTexts<Options>(texts, kOptions);
    marvalo::closeHelp(texts, kExitHelp);
    return texts;
}

// The option that names this run's mode, and the problem when an option
// given belongs to another usage line.
Problem modeClash(const std::vector<std::string_view> &given) {
    const auto has = [&given](std::string_view name) {
        return std::find(given.begin(), given.end(), name) != given.end();
    };
    const char *modeOption = has("--write-icon")   ? "--write-icon"
                             : has("--screenshot") ? "--screenshot"
                                                   : nullptr;
    const unsigned mode = modeOption == nullptr                            ? kPanel
                          : modeOption == std::string_view("--write-icon") ? kIcon
                                                                           : kShot;
    for (const std::string_view word : given) {
        const unsigned modes = marvalo::modesOf<Options>(kOptions, word);
        if ((modes & mode) != 0)
            continue;
        if (modeOption != nullptr)
            return std::string(word) + " no va con " + modeOption +
                   ": cada modo toma solo las opciones de su línea de empleo";
        return std::string(word) + " solo vale con " +
               ((modes & kIcon) != 0 ? "--write-icon" : "--screenshot");
    }
    return std::nullopt;
}

// An image to write, whole or not at all: its format and its place checked
// when the line is read, before anything is sent for it, since Qt opens,
// and so empties, a file before it learns it cannot write the format.
struct ImageOutput {
    const char *option;
    std::string path;
    QByteArray format;
    marvalo::OutputFile output;
};

int refuseImage(const char *option, const std::string &path, const std::string &why) {
    std::fprintf(stderr, "marvalo: %s: no se puede escribir en \"%s\": %s\n", option,
                 marvalo::safeText(path).c_str(), why.c_str());
    return 64;
}

std::variant<ImageOutput, int> checkImageOutput(const char *option, const QString &file) {
    const std::string path = QFile::encodeName(file).toStdString();
    const QByteArray format = QFileInfo(file).suffix().toLower().toLatin1();
    if (file.endsWith('/') || QFileInfo(file).isDir())
        return refuseImage(option, path, "es una carpeta: se necesita " + imageNameWanted());
    if (!QImageWriter::supportedImageFormats().contains(format))
        return refuseImage(
            option, path,
            "su extensión no es un formato de imagen conocido (" + imageFormats() + ")");
    auto output = marvalo::checkOutputFile(path);
    if (!output)
        return refuseImage(option, path, output.error());
    return ImageOutput{option, path, format, std::move(output.value())};
}

// Encoded whole in memory first: a failed encoding never replaces a good
// file with an empty one.
int saveImage(const ImageOutput &image, const QPixmap &picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, image.format.constData()) || bytes.isEmpty())
        return refuseImage(image.option, image.path,
                           "Qt no pudo codificar la imagen en " + image.format.toStdString());
    if (const auto written = marvalo::writeOutputFile(
            image.output,
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        !written)
        return refuseImage(image.option, image.path, written.error());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    Options options;
    marvalo::OptionsGiven given;
    std::vector<std::string_view> optionsGiven;  // to refuse one its mode does not read
    for (int i = 1; i < argc;) {
        if (const auto said = marvalo::commonOptionOutput(argv[i], "marvalo", kUsage, helpRows())) {
            std::fputs(said->c_str(), stdout);
            return 0;
        }
        auto twice = given.add(argv[i], helpRows());
        auto taken = twice ? marvalo::Result<int, std::string>(std::move(*twice))
                           : marvalo::takeOption<Options>(kOptions, options, argc, argv, i);
        if (taken && taken.value() == 0)
            taken = marvalo::unknownOption(argv[i], helpRows());
        if (!taken) {
            std::fprintf(stderr, "marvalo: %s\n%sLas opciones: marvalo --help\n",
                         taken.error().c_str(), kUsage);
            return 64;
        }
        if (std::string_view(argv[i]).starts_with("--"))
            optionsGiven.push_back(argv[i]);
        i += taken.value();
    }
    if (auto clash = modeClash(optionsGiven)) {
        std::fprintf(stderr, "marvalo: %s\n%sLas opciones: marvalo --help\n", clash->c_str(),
                     kUsage);
        return 64;
    }
    const QString &screenshot = options.screenshot;
    // Checked before the first Enviar: requests sent to a unit for a
    // picture that cannot be saved were sent for nothing.
    std::optional<ImageOutput> image;
    if (!screenshot.isEmpty() || !options.iconFile.isEmpty()) {
        auto checked = screenshot.isEmpty() ? checkImageOutput("--write-icon", options.iconFile)
                                            : checkImageOutput("--screenshot", screenshot);
        if (const int *refused = std::get_if<int>(&checked))
            return *refused;
        image = std::get<ImageOutput>(std::move(checked));
    }
    const bool reportShown = options.reportShown;
    const bool openMonitor = options.openMonitor;
    if (!hasDisplay()) {
        std::fputs(marvalo::noDisplayMessage(
                       "no hay pantalla (DISPLAY y WAYLAND_DISPLAY no están puestas)")
                       .c_str(),
                   stderr);
        return marvalo::kDisplayRefused;
    }

    marvalo::dropHarmlessQtMessages();  // also what is held back until the display opens
    marvalo::refuseUnopenedDisplay();
    QApplication app(argc, argv);
    marvalo::displayOpened();
    if (!options.iconFile.isEmpty())
        return saveImage(*image, marvalo::drawIcon(options.iconSize));

    // The settings file is looked for beside the program, as it always was.
    const std::filesystem::path programFolder = programFolderBytes();
    if (::chdir(programFolder.c_str()) != 0) {
        std::fprintf(stderr, "marvalo: no se pudo entrar en la carpeta del programa: %s\n",
                     marvalo::systemErrorText(errno).c_str());
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
        // Shown means painted and ready for the operator: what waited for
        // the first paint has run too.
        if (reportShown) {
            std::printf("shown after %lld ms, resident %ld kB\n",
                        static_cast<long long>(sinceStart.elapsed()), residentKb());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
    }));
    form.show();
    if (openMonitor)
        monitor->open();

    bool warned = false;
    if (!screenshot.isEmpty()) {
        // Nobody is there to close a box: a warning would hold the picture
        // up for ever.
        form.setWarningSink([&warned](const QString &message) {
            std::fprintf(stderr, "marvalo: %s\n", qPrintable(message));
            warned = true;
        });
        QTimer::singleShot(0, &form, [&] {
            QList<QWidget *> windows{&form};
            if (openMonitor)
                windows << &monitor->window();
            for (const QString &preset : options.presets) {
                if (auto refused = marvalo::presetControl(windows, preset)) {
                    // A control of the monitor, asked for without it: say how.
                    const QString name = preset.left(preset.indexOf('='));
                    if (!openMonitor && !name.isEmpty() &&
                        monitor->window().findChild<QWidget *>(name) != nullptr)
                        refused = QString::fromUtf8("\"%1\" está en el monitor: añada --monitor")
                                      .arg(name);
                    std::fprintf(stderr, "marvalo: --set: %s\n", qPrintable(*refused));
                    QCoreApplication::exit(64);
                    return;
                }
            }
            auto *send = form.findChild<QPushButton *>("cmdEnviar");
            // A warning (no port behind the COM number) would come again at
            // every press: the picture is taken after the first.
            for (int i = 0; i < options.sendFirst && send != nullptr && !warned; ++i)
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
            const int status = saveImage(*image, pictured.grab());
            if (status == 0)
                std::printf("imagen guardada en %s\n", qPrintable(screenshot));
            QCoreApplication::exit(status);
        });
    } else if (!reportShown && (settingsProblem || place.notice || portsProblem)) {
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

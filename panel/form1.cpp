#include "panel/form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "core/text/byte_text.h"
#include "link/port_holders.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "panel/artwork.h"
#include "panel/form_layout.h"
#include "panel/protocol_view.h"

namespace marvalo {
namespace {

constexpr const char *kSansSerif = "MS Sans Serif";
constexpr const char *kArial = "Arial";
constexpr const char *kHint = "Separese cada byte mediante \";\"";
constexpr int kTimerIntervalMs = 1;
constexpr int kIconSize = 48;

// The panel names the faces of its original platform; map them to
// metric-compatible ones that a Linux bench has.
void installFontSubstitutes() {
    static const bool installed = [] {
        const QStringList sans{"Liberation Sans", "Arimo", "DejaVu Sans", "Sans Serif"};
        QFont::insertSubstitutions(kSansSerif, sans);
        QFont::insertSubstitutions(kArial, sans);
        return true;
    }();
    (void)installed;
}

QFont fontOf(const char *family, qreal points, bool bold = false) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Red on the window-text colour: black with the usual colours.
void paintDisplay(QLabel *label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

}  // namespace

Form1::Form1(SerialPort &port, Sleeper &sleeper, QWidget *parent)
    : QWidget(parent), port_(port), sleeper_(sleeper) {
    installFontSubstitutes();
    setObjectName("Form1");
    setWindowTitle("Marvalo");
    setWindowIcon(QIcon(drawIcon(kIconSize)));
    setFont(fontOf(kSansSerif, 8));
    setFixedSize(kWindowWidthTwips / kTwipsPerPixel, kWindowHeightTwips / kTwipsPerPixel);
    buildControls();
    setTabOrder();
    command2_->setFocus();
}

Form1::~Form1() = default;

void Form1::place(QWidget *control) {
    if (const auto where = placeOf(control->objectName())) {
        control->setGeometry(pixelRect(*where));
    }
}

void Form1::buildControls() {
    auto label = [this](QWidget *parent, const char *name, const QString &text) {
        auto *control = new QLabel(text, parent);
        control->setObjectName(name);
        // Instrument and operator text is shown as text, never as markup.
        control->setTextFormat(Qt::PlainText);
        place(control);
        return control;
    };
    auto button = [this](const char *name, const QString &caption) {
        auto *control = new QPushButton(caption, this);
        control->setObjectName(name);
        control->setAutoDefault(false);
        place(control);
        return control;
    };
    auto frame = [this](const char *name, const QString &caption) {
        auto *control = new QGroupBox(caption, this);
        control->setObjectName(name);
        place(control);
        return control;
    };
    auto list = [this](QWidget *parent, const char *name, const QStringList &items) {
        auto *control = new QComboBox(parent);
        control->setObjectName(name);
        control->addItems(items);
        place(control);
        return control;
    };
    auto textBox = [this](QWidget *parent, const char *name) {
        auto *control = new QLineEdit(parent);
        control->setObjectName(name);
        place(control);
        return control;
    };
    auto statusLabel = [&](const char *name, const QString &text) {
        QLabel *control = label(this, name, text);
        control->setFont(fontOf(kSansSerif, 18));
        control->setAlignment(Qt::AlignCenter);
        control->setFrameStyle(QFrame::Box | QFrame::Plain);
        return control;
    };

    image1_ = label(this, "Image1", {});
    image1_->setPixmap(drawBadge(image1_->size()));

    lblDisplay_ = label(this, "lblDisplay", {});
    lblDisplay_->setFont(fontOf(kArial, 21.75));
    lblDisplay_->setAlignment(Qt::AlignCenter);
    paintDisplay(lblDisplay_);

    lblRS_ = statusLabel("lblRS", "RS232");
    lblCOM_ = statusLabel("lblCOM", "COM 1");
    // The adapter behind a number comes and goes: named afresh on hover.
    lblCOM_->installEventFilter(this);
    lblID_ = statusLabel("lblID", "01");
    lblBaudRate_ = statusLabel("lblBaudRate", "9600");

    // Created first so that cmdRS covers it: it exists only to hold the
    // focus when the window opens, out of sight and doing nothing.
    command2_ = button("Command2", "Command2");
    cmdRS_ = button("cmdRS", "Tipo de Conexión");
    cmdRS_->setFont(fontOf(kSansSerif, 9.75));

    QStringList ports;
    for (std::string_view item : kPortItems)
        ports << fromUtf8(item);
    QStringList bauds;
    for (const BaudRate &rate : kBaudRates)
        bauds << fromUtf8(rate.itemText);
    QStringList functions;
    for (const ModbusFunction &function : kModbusFunctions)
        functions << fromUtf8(function.itemText);

    frmCom_ = frame("frmCom", "Com Port");
    cmbCOM_ = list(frmCom_, "cmbCOM", ports);
    frmID_ = frame("frmID", "Address");
    cmbID_ = list(frmID_, "cmbID", {});
    frmBaudRate_ = frame("frmBaudRate", "Baud Rate");
    cmbBaudRate_ = list(frmBaudRate_, "cmbBaudRate", bauds);

    label2_ = label(this, "Label2", {});
    label2_->setFont(fontOf(kArial, 12));
    label2_->setAlignment(Qt::AlignCenter);
    paintDisplay(label2_);

    label1_ = label(this, "Label1", "Protocolo 1745");
    label1_->setFont(fontOf(kSansSerif, 13.5));
    label1_->setAlignment(Qt::AlignCenter);
    label1_->setFrameStyle(QFrame::Box | QFrame::Plain);

    cmdProt_ = button("cmdProt", "Protocolo");
    cmdProt_->setFont(fontOf(kSansSerif, 9.75));

    frame1_ = frame("Frame1", "Instruc. a enviar");
    txtCadena_ = textBox(frame1_, "txtCadena");
    frame2_ = frame("Frame2", "N Palabras");
    txtNWord_ = textBox(frame2_, "txtNWord");
    frmFunciones_ = frame("frmFunciones", "Funciones MODBUS");
    combo1_ = list(frmFunciones_, "Combo1", functions);

    cmdEnviar_ = button("cmdEnviar", "Enviar");
    cmdEnvioContinuado_ = button("cmdEnvioContinuado", "Envio Continuado");

    datos_ = frame("Datos", "Datos a Enviar");
    txtDatos_ = textBox(datos_, "txtDatos");

    lblmensaje_ = label(this, "lblmensaje", kHint);
    lblmensaje_->setFont(fontOf(kSansSerif, 9.75, true));
    lblmensaje_->setWordWrap(true);
    lblmensaje_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(kTimerIntervalMs);

    // Hidden until a handler shows them; txtNWord twice over.
    for (QWidget *hidden :
         std::initializer_list<QWidget *>{frame2_, txtNWord_, frmFunciones_, datos_, lblmensaje_}) {
        hidden->setVisible(false);
    }

    // Lists start with nothing chosen; start-up chooses.
    for (QComboBox *box : {cmbCOM_, cmbBaudRate_, combo1_}) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(-1);
    }

    // `activated`, not `currentIndexChanged`: the operator may re-pick the
    // chosen port or rate just to close the port and set it up again, and
    // only `activated` speaks for a pick that changes nothing.
    connect(cmbCOM_, &QComboBox::activated, this, &Form1::onPortSelected);
    connect(cmbID_, &QComboBox::activated, this, &Form1::onAddressSelected);
    connect(cmbBaudRate_, &QComboBox::activated, this, &Form1::onBaudSelected);
    connect(combo1_, &QComboBox::activated, this, &Form1::onFunctionSelected);
    connect(cmdProt_, &QPushButton::clicked, this, &Form1::onProtocolPressed);
    connect(cmdRS_, &QPushButton::clicked, this, &Form1::onLinkPressed);
    connect(cmdEnviar_, &QPushButton::clicked, this, &Form1::onSendPressed);
    connect(cmdEnvioContinuado_, &QPushButton::clicked, this, &Form1::onContinuousPressed);
    connect(timer1_, &QTimer::timeout, this, &Form1::onTimerTick);
}

void Form1::setTabOrder() {
    std::vector<std::pair<int, QWidget *>> order;
    for (QWidget *control : findChildren<QWidget *>()) {
        const auto where = placeOf(control->objectName());
        if (where && where->tabIndex >= 0 && control->focusPolicy() != Qt::NoFocus) {
            order.emplace_back(where->tabIndex, control);
        }
    }
    std::sort(order.begin(), order.end());
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
    }
}

void Form1::setListSelection(QComboBox *list, int index) {
    // A selection set by the program runs the list's handler as the
    // operator's pick does, once, changed or not.
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void Form1::fillAddressList() {
    const QSignalBlocker quiet(cmbID_);
    cmbID_->clear();
    for (int address = 0; address < kAddressCount; ++address) {
        cmbID_->addItem(QString::fromStdString(addressText(address)));
    }
    cmbID_->setCurrentIndex(-1);
}

void Form1::showLinkType() {
    const bool rs485 = state_.linkType == static_cast<std::uint8_t>(LinkType::Rs485);
    lblRS_->setText(fromUtf8(kLinkTypeNames[rs485 ? 1 : 0]));
}

void Form1::warn(const QString &message) {
    if (warn_) {
        warn_(message);
    } else {
        QMessageBox::warning(this, windowTitle(), message);
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == lblCOM_ && event->type() == QEvent::ToolTip)
        updatePortTooltip(true);
    return QWidget::eventFilter(watched, event);
}

void Form1::updatePortTooltip(bool lookAgain) {
    const std::string aviso = holders_.empty() ? "" : "\nAviso: " + holders_ + ".";
    lblCOM_->setToolTip(QString::fromStdString(safeText(port_.describeAdapter(lookAgain) + aviso)));
}

std::optional<std::string> Form1::checkHolders(ExchangeMode mode, const ExchangeRecord &record) {
    const bool silent = !record.failure && record.reply.empty();
    // A reply closes the line and the next exchange opens it again: that
    // is no new line, and must not cost a scan of every descriptor.
    const bool lineChanged =
        std::exchange(lineChangesSeen_, port_.lineChanges()) != port_.lineChanges();
    const bool first = mode == ExchangeMode::Single || lineChanged;
    auto found = holderWatch_.after(port_.devicePath(), first, silent, sleeper_.steadyUs());
    if (!found)
        return std::nullopt;
    holders_ = holdersWarning(*found);
    updatePortTooltip(false);
    return holders_.empty() ? std::nullopt : std::optional(holders_);
}

void Form1::onPortSelected() {
    const int index = cmbCOM_->currentIndex();
    if (index < 0)
        return;
    lblCOM_->setText(QString::fromStdString(portCaption(index)));
    if (port_.portOpen())
        port_.close();
    holders_.clear();
    if (auto chosen = port_.setCommPort(index + 1); !chosen) {
        warn(QString::fromStdString(chosen.error().message()));
    }
    // The map looked at start-up and looks again at every open and hover:
    // a choice alone does not walk the kernel's tree.
    updatePortTooltip(false);
}

void Form1::onAddressSelected() {
    const int index = cmbID_->currentIndex();
    if (index < 0)
        return;
    lblID_->setText(cmbID_->itemText(index));
}

void Form1::onBaudSelected() {
    const int index = cmbBaudRate_->currentIndex();
    if (index < 0)
        return;
    const QString item = cmbBaudRate_->itemText(index);
    lblBaudRate_->setText(item);
    if (port_.portOpen())
        port_.close();
    if (auto set = port_.setSettings(baudHandlerSettings(item.toStdString(), state_.protocol));
        !set) {
        warn(QString::fromStdString(set.error().message()));
    }
}

void Form1::onFunctionSelected() {
    const bool takesData = functionTakesData(combo1_->currentIndex());
    datos_->setVisible(takesData);
    lblmensaje_->setVisible(takesData);
}

void Form1::onProtocolPressed() {
    const auto next = nextProtocol(state_.protocol);
    if (!next)
        return;
    state_.protocol = *next;
    applyProtocolView(*next);
}

void Form1::applyProtocolView(std::uint8_t protocol) {
    const auto view = viewFor(protocol);
    if (!view)
        return;
    label1_->setText(fromUtf8(view->label1Caption));
    if (const int baud = cmbBaudRate_->currentIndex(); baud >= 0) {
        const std::string settings =
            cmbBaudRate_->itemText(baud).toStdString() + std::string(view->settingsSuffix);
        if (auto set = port_.setSettings(settings); !set) {
            warn(QString::fromStdString(set.error().message()));
        }
    }
    if (!view->modbusInputsShown) {
        txtCadena_->setText(fromUtf8(view->instruction));
        frame2_->setVisible(false);
        txtNWord_->setVisible(false);
        frame1_->setTitle(fromUtf8(view->frame1Caption));
        frmFunciones_->setVisible(false);
    } else {
        frame2_->setVisible(true);
        txtNWord_->setVisible(true);
        frame1_->setTitle(fromUtf8(view->frame1Caption));
        frmFunciones_->setVisible(true);
        txtCadena_->setText(fromUtf8(view->instruction));
    }
}

void Form1::onLinkPressed() {
    state_.linkType = state_.linkType == static_cast<std::uint8_t>(LinkType::Rs232)
                          ? static_cast<std::uint8_t>(LinkType::Rs485)
                          : static_cast<std::uint8_t>(LinkType::Rs232);
    showLinkType();
}

ExchangeSetup Form1::gatherSetup(ExchangeMode mode) const {
    ExchangeSetup setup;
    setup.mode = mode;
    setup.protocol = state_.protocol;
    setup.linkType = state_.linkType;
    setup.baudIndex = state_.baudIndex;
    setup.baudSelection = cmbBaudRate_->currentIndex();
    setup.rs485Hold = state_.rs485Hold;
    setup.inputs.addressText = cmbID_->currentText().toStdString();
    setup.inputs.addressNumber = cmbID_->currentIndex();
    setup.inputs.instructionText = txtCadena_->text().toStdString();
    setup.inputs.wordCountText = txtNWord_->text().toStdString();
    setup.inputs.dataText = txtDatos_->text().toStdString();
    setup.inputs.functionIndex = combo1_->currentIndex();
    setup.stopRequested = stopCheck_;
    return setup;
}

void Form1::stopContinuous() {
    timer1_->stop();
}

void Form1::runAndShow(ExchangeMode mode) {
    // Unnumbered: the monitor numbers what it holds, from 1 after each clear.
    ExchangeSetup setup = gatherSetup(mode);
    ExchangeOutcome outcome = runExchange(port_, sleeper_, setup, noReplyCount_);
    // Another program on the port (ModemManager, a forgotten terminal) may
    // eat the reply: looked for on the line the exchange used, at its first
    // exchange and after silence, and said beside the verdict, never in a
    // box that would stop sending.
    if (auto held = checkHolders(mode, outcome.record))
        outcome.record.warning = std::move(held);
    emit exchanged(outcome.record);
    switch (outcome.kind) {
        case ExchangeOutcome::Kind::Shown: {
            const QString reply = QString::fromLatin1(
                outcome.display.data(), static_cast<qsizetype>(outcome.display.size()));
            lblDisplay_->setText(reply);
            lblDisplay_->setToolTip(reply);
            break;
        }
        case ExchangeOutcome::Kind::NoReply:
            label2_->setText(QString::number(outcome.noReplyCount));
            if (outcome.counterAtMaximum) {
                stopContinuous();
                warn(
                    QString("El contador de envíos sin respuesta llegó a su máximo (%1) y no puede "
                            "seguir contando; el envío continuado se detuvo.")
                        .arg(outcome.noReplyCount));
            }
            break;
        case ExchangeOutcome::Kind::Failed:
            // A warning box runs its own event loop, in which the timer would
            // go on firing exchanges behind it.
            stopContinuous();
            warn(QString::fromStdString(outcome.failure));
            break;
    }
}

void Form1::onSendPressed() {
    runAndShow(ExchangeMode::Single);
}

void Form1::onContinuousPressed() {
    if (timer1_->isActive()) {
        timer1_->stop();
    } else {
        timer1_->start();
    }
}

void Form1::onTimerTick() {
    runAndShow(ExchangeMode::Continuous);
}

void Form1::closeEvent(QCloseEvent *event) {
    timer1_->stop();
    emit unloading();
    if (port_.portOpen())
        port_.close();
    event->accept();
}

}  // namespace marvalo

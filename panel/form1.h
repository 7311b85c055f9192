#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/settings/panel_state.h"
#include "link/exchange.h"
#include "link/port_holders.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace marvalo {

class SerialPort;
class Sleeper;

// The panel: one window whose controls carry the names operators and
// scripts know them by (objectName), and the handlers that keep the port
// and the captions in step with the operator's choices. Exchanges run on
// this thread and block it, so they never overlap.
class Form1 : public QWidget {
    Q_OBJECT

  public:
    Form1(SerialPort &port, Sleeper &sleeper, QWidget *parent = nullptr);
    ~Form1() override;

    PanelState &state() { return state_; }
    SerialPort &port() { return port_; }
    std::int32_t noReplyCount() const { return noReplyCount_; }

    // Sets a list's selection and runs its handler, even when the index does
    // not change: start-up relies on the handlers to configure the port.
    void setListSelection(QComboBox *list, int index);
    void fillAddressList();
    void showLinkType();
    void applyProtocolView(std::uint8_t protocol);

    QComboBox *portList() const { return cmbCOM_; }
    QComboBox *addressList() const { return cmbID_; }
    QComboBox *baudList() const { return cmbBaudRate_; }
    QComboBox *functionList() const { return combo1_; }

    // Where failures go; a warning box unless a test listens instead.
    using WarningSink = std::function<void(const QString &)>;
    void setWarningSink(WarningSink sink) { warn_ = std::move(sink); }
    void warn(const QString &message);

    // Asked during every reply wait: true ends the wait at once (a signal
    // to close must not wait for the exchange to run its course).
    void setStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }

  signals:
    // Emitted as the window closes, after continuous sending has stopped and
    // before the port is released: the settings are saved here.
    void unloading();
    // Every exchange's record, failed ones included, before the panel shows
    // its outcome (a failure's warning box must not hold the record back).
    void exchanged(const marvalo::ExchangeRecord &record);

  protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildControls();
    void setTabOrder();
    void place(QWidget *control);

    void onPortSelected();
    void onAddressSelected();
    void onBaudSelected();
    void onFunctionSelected();
    void onProtocolPressed();
    void onLinkPressed();
    void onSendPressed();
    void onContinuousPressed();
    void onTimerTick();

    ExchangeSetup gatherSetup(ExchangeMode mode) const;
    void runAndShow(ExchangeMode mode);
    void stopContinuous();
    void updatePortTooltip(bool lookAgain);
    // Other programs holding the line this exchange used, looked for when
    // due; kept for the caption's tooltip and handed back for the record.
    std::optional<std::string> checkHolders(ExchangeMode mode, const ExchangeRecord &record);

    SerialPort &port_;
    Sleeper &sleeper_;
    PanelState state_;
    std::int32_t noReplyCount_ = 0;
    WarningSink warn_;
    std::function<bool()> stopCheck_;
    std::string holders_;                // the last look for other programs on the port
    std::uint64_t lineChangesSeen_ = 0;  // continuous sending looks once per line
    HolderWatch holderWatch_;

    QLabel *image1_ = nullptr;
    QLabel *lblDisplay_ = nullptr;
    QLabel *lblRS_ = nullptr;
    QLabel *lblCOM_ = nullptr;
    QLabel *lblID_ = nullptr;
    QLabel *lblBaudRate_ = nullptr;
    QPushButton *cmdRS_ = nullptr;
    QPushButton *command2_ = nullptr;
    QGroupBox *frmCom_ = nullptr;
    QComboBox *cmbCOM_ = nullptr;
    QGroupBox *frmID_ = nullptr;
    QComboBox *cmbID_ = nullptr;
    QGroupBox *frmBaudRate_ = nullptr;
    QComboBox *cmbBaudRate_ = nullptr;
    QLabel *label2_ = nullptr;
    QLabel *label1_ = nullptr;
    QPushButton *cmdProt_ = nullptr;
    QGroupBox *frame1_ = nullptr;
    QLineEdit *txtCadena_ = nullptr;
    QGroupBox *frame2_ = nullptr;
    QLineEdit *txtNWord_ = nullptr;
    QGroupBox *frmFunciones_ = nullptr;
    QComboBox *combo1_ = nullptr;
    QPushButton *cmdEnviar_ = nullptr;
    QPushButton *cmdEnvioContinuado_ = nullptr;
    QGroupBox *datos_ = nullptr;
    QLineEdit *txtDatos_ = nullptr;
    QLabel *lblmensaje_ = nullptr;
    QTimer *timer1_ = nullptr;
};

}  // namespace marvalo

#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class Tellaran;
}

namespace tellaran {

class Socket;

// The client control: the small widget an application embeds to reach the engine on its own
// computer. It holds one connection to the engine's channel server, registers under an
// eight-character DataID and carries the application's payloads as channel frames; whatever
// the engine writes back is handed to the application unchanged.
//
// Naming: properties and methods keep the control's own names (Enabled, DataID, Refresh,
// SendData, Closeconnection, Connect). Events are Qt signals named after the control's event
// with the suffix "Event" (ConnectEvent, DisconnectEvent, DataArrivalEvent,
// DataSendCompleteEvent, ErrorEvent), the same convention as the socket component, because C++
// cannot hold a method and a signal of the same name (Connect). Every event is emitted
// synchronously from inside the call or the socket event that causes it.
//
// Design time: the DataID is meant to be fixed while the application is being built: in a .ui
// file (uic writes setDataID in setupUi) or right after construction. Design time ends when the
// control is first shown or Connect is first called, whichever comes first; after that
// setDataID fails with error 393 and keeps the old value.
//
// The class lives in namespace tellaran; a .ui file promotes a placeholder to
// "tellaran::Tellaran" with header "client/tellaran.h".
class Tellaran : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(QString DataID READ DataID WRITE setDataID NOTIFY DataIDChanged)

public:
    static constexpr quint16 EnginePort = 6789;
    static constexpr int ErrorSetNotSupportedAtRuntime = 393;
    static constexpr char DefaultDataID[] = "nwDataID";

    // Shows the wrong-length DataID box. Production: a modal QMessageBox with OK and the
    // application's title. Tests replace it, since they must not block on a modal box.
    using MessageBox = std::function<void(const QString& text)>;

    explicit Tellaran(QWidget* parent = nullptr);
    ~Tellaran() override;

    // The control's own enabled flag (default true). It has no effect on connecting, sending
    // or receiving.
    bool Enabled() const;

    // The channel name. A stored value that is not exactly eight characters long is reported
    // once through the message box and replaced by "nwDataID" before it is returned; every
    // registration and frame reads it through here.
    QString DataID();
    // Stores the value without checking its length during design time. Afterwards returns
    // false, keeps the old value and sets lastError() to 393.
    bool setDataID(const QString& New_DataID);
    // 0 after a successful call, 393 after a refused setDataID.
    int lastError() const { return lastError_; }

    // The address captured at construction (the socket's LocalIP) and the port connected to.
    QString engineAddress() const { return engineAddress_; }
    quint16 enginePort() const { return enginePort_; }
    // Tests only, before Connect: the port of a stand-in engine. Production always uses
    // EnginePort.
    void setEnginePort(quint16 port) { enginePort_ = port; }

    void setMessageBox(MessageBox box) { messageBox_ = std::move(box); }

    // The socket state code (0 closed, 6 connecting, 7 connected, 8 closing, 9 error).
    int State() const;

    void Refresh();
    // Sends "<" DataID ">" Data "<" DataID ">" "KvekEND" when connected and raises
    // DataSendCompleteEvent at once; does nothing otherwise. Data is sent unchanged.
    void SendData(const QByteArray& Data);
    // Closes a live connection and raises DisconnectEvent; does nothing otherwise.
    void Closeconnection();
    // Connects to the engine unless connecting or connected already. A socket left closing by
    // the engine or failed by a refused attempt is closed first, so the control can always
    // connect again.
    void Connect();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void DataSendCompleteEvent();
    void DataArrivalEvent(const QByteArray& Data);
    // The connection is up and the registration has been sent.
    void ConnectEvent();
    // Declared for the applications that handle it; the control never raises it.
    void ErrorEvent();
    // After Closeconnection closed a live connection, or when the engine closed it.
    void DisconnectEvent();
    void DataIDChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RemoteData_Connect();
    void RemoteData_DataArrival();
    void RemoteData_Close();
    void endDesignTime() { designTime_ = false; }
    static QSize fixedPixelSize();

    std::unique_ptr<Ui::Tellaran> ui_;
    Socket* RemoteData = nullptr;
    QString engineAddress_;
    quint16 enginePort_ = EnginePort;
    QString dataID_ = QString::fromLatin1(DefaultDataID);
    bool designTime_ = true;
    int lastError_ = 0;
    MessageBox messageBox_;
};

} // namespace tellaran

#include "client/tellaran.h"

#include "platform/socket.h"
#include "ui_tellaran.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QResizeEvent>

// Resources of a static library are registered only when something references them.
static void initClientResources()
{
    Q_INIT_RESOURCE(tellaran_client);
}

namespace tellaran {

namespace {

constexpr int TwipsPerPixel = 15;
// The face is the frame's width by the frame's height less the strip hidden under the top.
constexpr int FrameTwips = 735;
constexpr int HiddenStripTwips = 87;

constexpr char RegistrationTag[] = "<request>";
constexpr char Terminator[] = "KvekEND";

int twipsToPixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

void showDataIDBox(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

Tellaran::Tellaran(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Tellaran>())
{
    initClientResources();
    ui_->setupUi(this);
    setFixedSize(fixedPixelSize());

    RemoteData = new Socket(this);
    connect(RemoteData, &Socket::ConnectEvent, this, &Tellaran::RemoteData_Connect);
    connect(RemoteData, &Socket::DataArrivalEvent, this, &Tellaran::RemoteData_DataArrival);
    connect(RemoteData, &Socket::CloseEvent, this, &Tellaran::RemoteData_Close);

    engineAddress_ = Socket::LocalIP();
    messageBox_ = [this](const QString& text) { showDataIDBox(window(), text); };
}

Tellaran::~Tellaran() = default;

QSize Tellaran::fixedPixelSize()
{
    return {twipsToPixels(FrameTwips), twipsToPixels(FrameTwips - HiddenStripTwips)};
}

bool Tellaran::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

QString Tellaran::DataID()
{
    if (dataID_.size() != 8) {
        // Replaced before the box opens: the box runs a nested event loop, and a read from a
        // socket event inside it must neither report again nor use the bad value.
        dataID_ = QString::fromLatin1(DefaultDataID);
        if (messageBox_)
            messageBox_(QStringLiteral("Error: DataID must be 8 characters in length."));
    }
    return dataID_;
}

bool Tellaran::setDataID(const QString& New_DataID)
{
    if (!designTime_) {
        lastError_ = ErrorSetNotSupportedAtRuntime;
        return false;
    }
    lastError_ = 0;
    if (dataID_ != New_DataID) {
        dataID_ = New_DataID;
        Q_EMIT DataIDChanged();
    }
    return true;
}

int Tellaran::State() const
{
    return RemoteData->State();
}

void Tellaran::Refresh()
{
    repaint();
}

void Tellaran::SendData(const QByteArray& Data)
{
    if (State() != Socket::Connected)
        return;
    const QByteArray id = DataID().toLatin1();
    // Reading the DataID may have shown a box, during which the engine may have gone away.
    if (State() != Socket::Connected)
        return;

    QByteArray frame;
    frame.reserve(Data.size() + 2 * (id.size() + 2) + 7);
    frame.append('<').append(id).append('>');
    frame.append(Data);
    frame.append('<').append(id).append('>');
    frame.append(Terminator);
    RemoteData->SendData(frame);
    Q_EMIT DataSendCompleteEvent();
}

void Tellaran::Closeconnection()
{
    if (State() != Socket::Connected)
        return;
    RemoteData->Close();
    Q_EMIT DisconnectEvent();
}

void Tellaran::Connect()
{
    endDesignTime();
    const int state = State();
    if (state == Socket::Connecting || state == Socket::Connected)
        return;
    // Left closing by the engine or failed by a refused attempt: start afresh.
    if (state == Socket::Closing || state == Socket::Error)
        RemoteData->Close();
    RemoteData->Connect(engineAddress_, enginePort_);
}

void Tellaran::RemoteData_Connect()
{
    if (State() != Socket::Connected)
        return;
    const QByteArray id = DataID().toLatin1();
    if (State() != Socket::Connected)
        return;
    RemoteData->SendData(RegistrationTag + id);
    Q_EMIT ConnectEvent();
}

void Tellaran::RemoteData_DataArrival()
{
    const QByteArray arrived = RemoteData->GetData();
    if (!arrived.isEmpty())
        Q_EMIT DataArrivalEvent(arrived);
}

void Tellaran::RemoteData_Close()
{
    Q_EMIT DisconnectEvent();
}

QSize Tellaran::sizeHint() const
{
    return fixedPixelSize();
}

QSize Tellaran::minimumSizeHint() const
{
    return fixedPixelSize();
}

void Tellaran::showEvent(QShowEvent* event)
{
    endDesignTime();
    QWidget::showEvent(event);
}

void Tellaran::resizeEvent(QResizeEvent* event)
{
    // A host that changed the size limits still cannot resize the face.
    if (event->size() != fixedPixelSize()) {
        setFixedSize(fixedPixelSize());
        return;
    }
    QWidget::resizeEvent(event);
}

} // namespace tellaran

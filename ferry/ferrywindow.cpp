#include "ferry/ferrywindow.h"

#include "client/tellaran.h"
#include "ferry/ferryfiles.h"
#include "ferry/transfertext.h"
#include "platform/socket.h"
#include "ui_ferrywindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QShortcut>
#include <QStyle>

namespace ferryit {

namespace {

enum Column
{
    NameColumn,
    SizeColumn,
    ProgressColumn,
    RateColumn,
    TimeLeftColumn,
    StateColumn
};

constexpr int KeyRole = Qt::UserRole;

QStringList localFiles(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

} // namespace

FerryWindow::Hooks FerryWindow::desktopHooks()
{
    Hooks hooks;
    hooks.chooseFiles = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, QStringLiteral("Send files"));
    };
    hooks.chooseFolder = [](QWidget* owner, const QString& current) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Folder for received files"),
                                                 current);
    };
    hooks.showError = [](QWidget* owner, const QString& text) {
        QMessageBox::warning(owner, QGuiApplication::applicationDisplayName(), text);
    };
    hooks.endProgram = [] { QCoreApplication::quit(); };
    return hooks;
}

FerryWindow::FerryWindow(const QString& programDir, Hooks hooks,
                         FerrySession::Options sessionOptions)
    : ui_(std::make_unique<Ui::FerryWindow>()), programDir_(programDir), hooks_(std::move(hooks))
{
    ui_->setupUi(this);
    if (!sessionOptions.send)
        sessionOptions.send = [this](const QByteArray& payload) {
            ui_->Tellaran1->SendData(payload);
        };
    if (sessionOptions.partsFile.isEmpty())
        sessionOptions.partsFile = partsFilePath(programDir_);
    session_ = std::make_unique<FerrySession>(std::move(sessionOptions));

    QString folder = readReceiveFolder(programDir_);
    if (folder.isEmpty())
        folder = defaultReceiveFolder();
    session_->setReceiveFolder(folder);
    ui_->FolderBox->setText(folder);

    ui_->Transfers->header()->setStretchLastSection(true);
    ui_->Transfers->setColumnWidth(NameColumn, 180);
    ui_->Transfers->setColumnWidth(SizeColumn, 70);
    ui_->Transfers->setColumnWidth(ProgressColumn, 110);
    ui_->Transfers->setColumnWidth(RateColumn, 80);
    ui_->Transfers->setColumnWidth(TimeLeftColumn, 70);

    connect(ui_->SendFiles, &QPushButton::clicked, this, &FerryWindow::SendFiles_Click);
    connect(ui_->mnuSendFiles, &QAction::triggered, this, &FerryWindow::SendFiles_Click);
    connect(ui_->mnuQuit, &QAction::triggered, this, &QWidget::close);
    connect(ui_->SendAgain, &QPushButton::clicked, this, &FerryWindow::SendAgain_Click);
    connect(ui_->CancelTransfer, &QPushButton::clicked, this, &FerryWindow::CancelTransfer_Click);
    connect(ui_->AcceptOffer, &QPushButton::clicked, this, &FerryWindow::AcceptOffer_Click);
    connect(ui_->DeclineOffer, &QPushButton::clicked, this, &FerryWindow::DeclineOffer_Click);
    connect(ui_->ChooseFolder, &QPushButton::clicked, this, &FerryWindow::ChooseFolder_Click);
    connect(ui_->Reconnect, &QPushButton::clicked, this, &FerryWindow::connectToEngine);
    connect(ui_->AcceptAll, &QCheckBox::toggled, session_.get(), &FerrySession::setAcceptAll);
    connect(ui_->Transfers, &QTreeWidget::itemSelectionChanged, this, &FerryWindow::updateButtons);
    // Enter on an offer accepts it, Escape declines it, Delete cancels a transfer.
    connect(ui_->Transfers, &QTreeWidget::itemActivated, this, [this] {
        const TransferInfo* info = selected();
        if (info && info->awaitingAnswer)
            AcceptOffer_Click();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        const TransferInfo* info = selected();
        if (info && info->awaitingAnswer)
            DeclineOffer_Click();
    });
    auto* remove = new QShortcut(QKeySequence::Delete, ui_->Transfers);
    remove->setContext(Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, &FerryWindow::CancelTransfer_Click);

    tellaran::Tellaran* link = ui_->Tellaran1;
    connect(link, &tellaran::Tellaran::ConnectEvent, this, &FerryWindow::Tellaran1_Connect);
    connect(link, &tellaran::Tellaran::DisconnectEvent, this, &FerryWindow::Tellaran1_Disconnect);
    connect(link, &tellaran::Tellaran::DataArrivalEvent, session_.get(), &FerrySession::receive);

    FerrySession* session = session_.get();
    connect(session, &FerrySession::transferAdded, this, &FerryWindow::addRow);
    connect(session, &FerrySession::transferChanged, this, &FerryWindow::updateRow);
    connect(session, &FerrySession::transferRemoved, this, &FerryWindow::removeRow);
    connect(session, &FerrySession::peerChanged, this, &FerryWindow::updatePeer);
    connect(session, &FerrySession::acceptAllChanged, ui_->AcceptAll, &QCheckBox::setChecked);

    connectWatch_.setInterval(250);
    connect(&connectWatch_, &QTimer::timeout, this, &FerryWindow::watchConnecting);
    ui_->StatusLabel->setText(QStringLiteral("Status : Disconnected"));
}

FerryWindow::~FerryWindow() = default;

tellaran::Tellaran* FerryWindow::control() const
{
    return ui_->Tellaran1;
}

void FerryWindow::connectToEngine()
{
    ui_->Reconnect->setEnabled(false);
    ui_->StatusLabel->setText(QStringLiteral("Status : Connecting"));
    ui_->Tellaran1->Connect();
    connectWatch_.start();
}

void FerryWindow::watchConnecting()
{
    const int state = ui_->Tellaran1->State();
    if (state == tellaran::Socket::Connecting)
        return;
    connectWatch_.stop();
    if (state != tellaran::Socket::Connected) {
        // The control reports no failed attempt: its socket's state tells.
        ui_->StatusLabel->setText(
            QStringLiteral("Status : The engine does not answer; is Tellaran running?"));
        ui_->Reconnect->setEnabled(true);
    }
}

void FerryWindow::Tellaran1_Connect()
{
    connectWatch_.stop();
    ui_->StatusLabel->setText(QStringLiteral("Status : Connected"));
    ui_->Reconnect->setEnabled(false);
    ui_->AcceptAll->setEnabled(true);
    session_->linkUp();
    updatePeer();
}

void FerryWindow::Tellaran1_Disconnect()
{
    connectWatch_.stop();
    ui_->StatusLabel->setText(QStringLiteral("Status : Disconnected"));
    ui_->Reconnect->setEnabled(!closing_);
    ui_->AcceptAll->setEnabled(false);
    session_->linkDown();
    updatePeer();
}

void FerryWindow::updatePeer()
{
    QString text;
    if (session_->peerOtherVersion() != 0)
        text = QStringLiteral("The other computer's Ferryit speaks another version (%1).")
                   .arg(session_->peerOtherVersion());
    else if (session_->linkIsUp())
        text = session_->peerHeard() ? QStringLiteral("The other computer's Ferryit answers.")
                                     : QStringLiteral("No Ferryit has answered yet on the other "
                                                      "computer.");
    ui_->PeerLabel->setText(text);
}

void FerryWindow::sendFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        session_->sendFile(path);
}

void FerryWindow::SendFiles_Click()
{
    if (hooks_.chooseFiles)
        sendFiles(hooks_.chooseFiles(this));
}

void FerryWindow::SendAgain_Click()
{
    if (const TransferInfo* info = selected())
        session_->sendAgain(info->key);
}

void FerryWindow::CancelTransfer_Click()
{
    if (const TransferInfo* info = selected())
        session_->cancel(info->key);
}

void FerryWindow::AcceptOffer_Click()
{
    if (const TransferInfo* info = selected())
        session_->accept(info->key);
}

void FerryWindow::DeclineOffer_Click()
{
    if (const TransferInfo* info = selected())
        session_->decline(info->key);
}

void FerryWindow::ChooseFolder_Click()
{
    if (!hooks_.chooseFolder)
        return;
    const QString folder = hooks_.chooseFolder(this, session_->receiveFolder());
    if (folder.isEmpty())
        return;
    session_->setReceiveFolder(folder);
    ui_->FolderBox->setText(folder);
    QString error;
    if (!saveReceiveFolder(programDir_, folder, &error) && hooks_.showError)
        hooks_.showError(this, QStringLiteral("The folder is used, but it could not be remembered "
                                              "for the next start.\n%1")
                                   .arg(error));
}

const TransferInfo* FerryWindow::selected() const
{
    const QList<QTreeWidgetItem*> chosen = ui_->Transfers->selectedItems();
    if (chosen.isEmpty())
        return nullptr;
    return session_->transfer(chosen.first()->data(NameColumn, KeyRole).toULongLong());
}

void FerryWindow::addRow(quint64 key)
{
    const TransferInfo* info = session_->transfer(key);
    if (!info)
        return;
    auto* row = new QTreeWidgetItem(ui_->Transfers);
    row->setData(NameColumn, KeyRole, key);
    const bool outgoing = info->direction == Direction::Outgoing;
    row->setIcon(NameColumn,
                 style()->standardIcon(outgoing ? QStyle::SP_ArrowUp : QStyle::SP_ArrowDown));
    auto* bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setAccessibleName(QStringLiteral("Progress"));
    ui_->Transfers->setItemWidget(row, ProgressColumn, bar);
    items_.insert(key, row);
    updateRow(key);
}

void FerryWindow::removeRow(quint64 key)
{
    delete items_.take(key);
    updateButtons();
}

void FerryWindow::updateRow(quint64 key)
{
    QTreeWidgetItem* row = items_.value(key);
    const TransferInfo* info = session_->transfer(key);
    if (!row || !info)
        return;
    const bool outgoing = info->direction == Direction::Outgoing;
    const QString way = outgoing ? QStringLiteral("to the other computer")
                                 : QStringLiteral("from the other computer");
    row->setText(NameColumn, info->name);
    row->setToolTip(NameColumn, QStringLiteral("%1, %2").arg(info->name, way));
    row->setText(SizeColumn, sizeText(info->size));
    row->setText(RateColumn, rateText(*info));
    row->setText(TimeLeftColumn, timeLeftText(*info));
    QString state = stateText(*info);
    if (!info->note.isEmpty())
        state += QStringLiteral(" (%1)").arg(info->note);
    row->setText(StateColumn, state);
    row->setToolTip(StateColumn, state);
    if (auto* bar = qobject_cast<QProgressBar*>(ui_->Transfers->itemWidget(row, ProgressColumn))) {
        bar->setValue(percentDone(*info));
        bar->setAccessibleName(QStringLiteral("Progress of %1").arg(info->name));
    }
    if (info->awaitingAnswer && ui_->Transfers->selectedItems().isEmpty()) {
        // A new offer: shown and ready for Enter, and the desktop is told.
        ui_->Transfers->setCurrentItem(row);
        ui_->AcceptOffer->setFocus(Qt::OtherFocusReason);
        QApplication::alert(this);
    }
    updateButtons();
}

void FerryWindow::updateButtons()
{
    const TransferInfo* info = selected();
    const bool asking = info && info->awaitingAnswer;
    ui_->AcceptOffer->setEnabled(asking);
    ui_->DeclineOffer->setEnabled(asking);
    ui_->CancelTransfer->setEnabled(info && !isFinished(info->state));
    ui_->SendAgain->setEnabled(
        info && info->direction == Direction::Outgoing &&
        (info->state == TransferState::Failed || info->state == TransferState::Cancelled));
}

void FerryWindow::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    // The other side hears that this side went, instead of waiting for it.
    session_->closing();
    ui_->Tellaran1->Closeconnection();
    event->accept();
    if (hooks_.endProgram)
        hooks_.endProgram();
}

void FerryWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void FerryWindow::dropEvent(QDropEvent* event)
{
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    sendFiles(paths);
}

} // namespace ferryit

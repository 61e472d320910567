#include "engine/settings/form7.h"

#include "engine/engine.h"
#include "engine/settings/portchoices.h"
#include "engine/settings/portdescription.h"
#include "engine/windows/look.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "platform/datafile.h"
#include "platform/portmapfile.h"
#include "ui_form7.h"

#include <QCloseEvent>
#include <QDir>
#include <QEvent>

// A static library's resources register only when asked to; asking twice is harmless.
static void initSettingsResources()
{
    Q_INIT_RESOURCE(settings);
}

namespace tellaran {

namespace {

QString volumeCaption(int value)
{
    switch (value) {
    case 0:
        return QStringLiteral("Volume : Off");
    case 1:
        return QStringLiteral("Volume : Low");
    case 2:
        return QStringLiteral("Volume : Medium");
    case 3:
        return QStringLiteral("Volume : High");
    default:
        return QStringLiteral("Volume :");
    }
}

// Text meets the widgets here; the file holds single bytes.
QString shown(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray stored(const QString& text)
{
    return text.toLatin1();
}

} // namespace

Form7::Form7(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form7>()),
      engine_(engine)
{
    initSettingsResources();
    ui->setupUi(this);
    ApplyLook(this);
    ui->TabStrip1->addTab(QStringLiteral("Modem Options"));
    ui->TabStrip1->addTab(QStringLiteral("Tellaran Properties"));
    ui->TabStrip1->setCurrentIndex(0);
    ui->PropertiesFrame->hide();

    serialDevices_ = detectSerialDevices();
    ReadPortMap();

    helpTexts_ = {
        {ui->Check1, QStringLiteral("Keep the speaker on until a connection is setup.")},
        {ui->Check2, QStringLiteral("Modem Speaker is kept on all the time, even after the "
                                    "connection is setup.")},
        {ui->Check3, QStringLiteral("Only 56 Kbps modems supported in this version.")},
        {ui->Check4, QStringLiteral("Use MNP Level 5 and V.42 bis Modem compression .")},
        {ui->Check5, QStringLiteral("Send data in encrypted format.")},
        {ui->Check6, QStringLiteral("Use Error control.")},
        {ui->Option1, QStringLiteral("If Tone dial is not allowed in your phone line, choose "
                                     "this to dial in Pulse")},
        {ui->Option2, QStringLiteral("If Tone dial is allowed in your phone line, choose this to "
                                     "dial faster")},
        {ui->Phonno, QStringLiteral("Type the phone number of the phone line connected to your "
                                    "modem.This is used during connection and communication "
                                    "between the modems.")},
        {ui->CommPort,
         CommPortHelpText(engine_.dataPath(QStringLiteral("ports.dat")), serialDevices_)},
        {ui->txtSettings, QStringLiteral("Sets the baud rate, parity, data bit, and stop bit "
                                         "parameters. Usually 9600,n,8,1")},
        {ui->txtRTSEnable,
         QStringLiteral("Determines whether to enable the Request To Send line.")},
        {ui->txtParityReplace, QStringLiteral("Sets the character that replaces the invalid "
                                              "character in the data stream when a parity error "
                                              "occurs.")},
        {ui->txtInBufferSize, QStringLiteral("Sets the size of the receive buffer in bytes. "
                                             "Usually 1024 bytes, but may exceed, according to "
                                             "your system.")},
        {ui->txtOutBufferSize, QStringLiteral("Sets the size of the transmit buffer in bytes. "
                                              "Usually 1024 bytes, but may exceed, according to "
                                              "your system.")},
    };
    for (QObject* control : helpTexts_.keys())
        control->installEventFilter(this);
    ui->Label3->installEventFilter(this);
    ui->HScroll1->installEventFilter(this);

    connect(ui->HScroll1, &QScrollBar::valueChanged, this, &Form7::HScroll1_Change);
    connect(ui->Check3, &QCheckBox::clicked, this, &Form7::Check3_Click);
    connect(ui->TabStrip1, &QTabBar::currentChanged, this, &Form7::TabStrip1_Click);
    connect(ui->Command1, &QPushButton::clicked, this, &Form7::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form7::Command2_Click);
    SetDefaultButton(this, ui->Command1);
    OnEscape(this, [this] { Command2_Click(); });
    connect(ui->CommPort, &QLineEdit::textChanged, this, &Form7::ShowPortMeaning);
    connect(ui->txtSettings, &QLineEdit::textChanged, this, &Form7::ShowPortMeaning);
    connect(ui->CommPortDevice, &QComboBox::activated, this, &Form7::CommPortDevice_Click);
    helpTexts_.insert(
        ui->CommPortDevice,
        QStringLiteral("Choose the device of the port number in \"Comm Port\": the "
                       "choice is written to the port map %1 at once.")
            .arg(QDir::toNativeSeparators(engine_.dataPath(QStringLiteral("ports.dat")))));
    ui->CommPortDevice->installEventFilter(this);
    ui->CommPortMeaning->installEventFilter(this);
    helpTexts_.insert(ui->CommPortMeaning, helpTexts_.value(ui->CommPort));
    DragWindowOnPress(ui->Label5);
    DragWindowOnPress(ui->Image1);

    KeepOnTop(QStringLiteral("Enabled"), this);
    engine_.hideModeWindow();
    LoadControls(SettingsFile(engine_.programDir()).LoadSettings());
    ShowPortMeaning();
}

Form7::~Form7() = default;

// In file order; a control whose value changes runs its own change handling.
void Form7::LoadControls(const SettingsRecord& r)
{
    ui->HScroll1->setValue(r.speakerVolume);
    ui->Check1->setChecked(r.speakerUntilConnect);
    ui->Check2->setChecked(r.speakerAlwaysOn);
    ui->Option1->setChecked(r.pulseDial);
    ui->Option2->setChecked(r.toneDial);
    ui->Check3->setChecked(r.only56k);
    ui->Check4->setChecked(r.useCompression);
    ui->Check5->setChecked(r.useEncryption);
    ui->Check6->setChecked(r.useErrorControl);
    ui->Phonno->setText(shown(r.phoneNumber));
    ui->CommPort->setText(shown(r.portNumber));
    ui->txtParityReplace->setText(shown(r.parityReplace));
    ui->txtRTSEnable->setText(shown(r.rtsEnable));
    ui->txtSettings->setText(shown(r.portSettings));
    ui->txtInBufferSize->setText(shown(r.inBufferSize));
    ui->txtOutBufferSize->setText(shown(r.outBufferSize));
}

SettingsRecord Form7::ControlValues() const
{
    SettingsRecord r;
    r.speakerVolume = ui->HScroll1->value();
    r.speakerUntilConnect = ui->Check1->isChecked();
    r.speakerAlwaysOn = ui->Check2->isChecked();
    r.pulseDial = ui->Option1->isChecked();
    r.toneDial = ui->Option2->isChecked();
    r.only56k = ui->Check3->isChecked();
    r.useCompression = ui->Check4->isChecked();
    r.useEncryption = ui->Check5->isChecked();
    r.useErrorControl = ui->Check6->isChecked();
    r.phoneNumber = stored(ui->Phonno->text());
    r.portNumber = stored(ui->CommPort->text());
    r.parityReplace = stored(ui->txtParityReplace->text());
    r.rtsEnable = stored(ui->txtRTSEnable->text());
    r.portSettings = stored(ui->txtSettings->text());
    r.inBufferSize = stored(ui->txtInBufferSize->text());
    r.outBufferSize = stored(ui->txtOutBufferSize->text());
    return r;
}

QString Form7::VolumeHelpText() const
{
    return QStringLiteral("Use this to change the Modem Speaker volume ( ") + ui->Label3->text() +
           QStringLiteral(" )");
}

void Form7::ShowHelpFor(QObject* control)
{
    if (control == ui->Label3 || control == ui->HScroll1)
        ui->Descr->setText(VolumeHelpText());
    else if (const auto it = helpTexts_.constFind(control); it != helpTexts_.cend())
        ui->Descr->setText(it.value());
}

bool Form7::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::HoverEnter:
        ShowHelpFor(watched);
        break;
    case QEvent::FocusIn:
        if (watched == ui->HScroll1)
            ShowHelpFor(watched);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form7::ReadPortMap()
{
    QByteArray content;
    datafile::readFile(engine_.dataPath(QStringLiteral("ports.dat")), &content);
    portMap_ = portmap::readPortMap(content);
    portChoices_ = PortChoices(portMap_, serialDevices_);
    const QSignalBlocker quiet(ui->CommPortDevice);
    ui->CommPortDevice->clear();
    ui->CommPortDevice->addItem(QStringLiteral("Choose the device of this port"));
    for (const PortChoice& choice : std::as_const(portChoices_))
        ui->CommPortDevice->addItem(choice.text);
}

void Form7::ShowPortMeaning()
{
    const int port = PortNumberOf(ui->CommPort->text());
    const portmap::PortTarget target = portmap::resolvePort(portMap_, port);
    QString meaning = DescribePortTarget(target, serialDevices_);
    const QString advice = PortSpeedAdvice(target, ui->txtSettings->text());
    if (!advice.isEmpty())
        meaning += QStringLiteral("; ") + advice;
    ui->CommPortMeaning->setText(meaning);
    ui->CommPortMeaning->setCursorPosition(0);
    // A screen reader hears the meaning with the field.
    ui->CommPort->setAccessibleDescription(meaning);
    const qsizetype chosen = IndexOfChoice(portChoices_, target);
    const QSignalBlocker quiet(ui->CommPortDevice);
    ui->CommPortDevice->setCurrentIndex(int(chosen + 1));
}

// The port's record in the port map, written at once: the line under "Comm Port" then tells
// what the number means.
void Form7::CommPortDevice_Click(int index)
{
    if (index < 1 || index > portChoices_.size())
        return;
    const int port = PortNumberOf(ui->CommPort->text());
    const QString mapFile = engine_.dataPath(QStringLiteral("ports.dat"));
    QString error;
    if (port < 1) {
        engine_.messageBoxes().show(
            QStringLiteral("Please type a port number of 1 or more in \"Comm Port\" first."),
            QString(), BoxIcon::Warning, BoxButtons::Ok);
    } else if (!portmap::writePortRecord(mapFile, port, portChoices_[index - 1].target, &error)) {
        engine_.messageBoxes().show(QStringLiteral("The port map %1 could not be written: %2")
                                        .arg(QDir::toNativeSeparators(mapFile), error),
                                    QString(), BoxIcon::Critical, BoxButtons::Ok);
    }
    ReadPortMap();
    ShowPortMeaning();
}

void Form7::HScroll1_Change(int value)
{
    // Keeps the keyboard off the scroll bar; before the window shows, the focus simply
    // lands on "OK" when it does.
    ui->Command1->setFocus();
    ui->Label3->setText(volumeCaption(value));
}

void Form7::Check3_Click()
{
    if (!ui->Check3->isChecked()) {
        engine_.messageBoxes().show(
            QStringLiteral("Only 56 Kbps modems are supported in this version."), QString(),
            BoxIcon::None, BoxButtons::Ok);
    }
    ui->Check3->setChecked(true);
}

void Form7::TabStrip1_Click(int index)
{
    ui->ModOpt->hide();
    ui->PropertiesFrame->hide();
    if (index == 0)
        ui->ModOpt->show();
    else if (index == 1)
        ui->PropertiesFrame->show();
}

// The file has no way to store a double quote inside a text; say so instead of writing a
// file that no longer reads back.
bool Form7::RefuseDoubleQuotes()
{
    const std::pair<QLineEdit*, QLabel*> fields[] = {
        {ui->Phonno, ui->Label2},
        {ui->CommPort, ui->Label1},
        {ui->txtSettings, ui->lblSettings},
        {ui->txtRTSEnable, ui->lblRTSEnable},
        {ui->txtParityReplace, ui->lblParityReplace},
        {ui->txtInBufferSize, ui->Label4},
        {ui->txtOutBufferSize, ui->lblOutBufferSize},
    };
    for (const auto& [field, caption] : fields) {
        if (IsStorableText(stored(field->text())))
            continue;
        QString name = caption->text().trimmed();
        if (name.endsWith(QLatin1Char(':')))
            name = name.chopped(1).trimmed();
        ui->TabStrip1->setCurrentIndex(1);
        field->setFocus();
        engine_.messageBoxes().show(
            QStringLiteral("The field \"%1\" contains a double quote (\"), which cannot be "
                           "stored. Please remove it and press OK again.")
                .arg(name),
            QString(), BoxIcon::Warning, BoxButtons::Ok);
        return true;
    }
    return false;
}

void Form7::Command1_Click()
{
    if (RefuseDoubleQuotes())
        return;
    // Saved before the mode window returns, so that a failure keeps the dialog open and the
    // edits in it.
    const SettingsFile file(engine_.programDir());
    QString error;
    if (!file.SaveSettings(ControlValues(), &error)) {
        engine_.messageBoxes().show(QStringLiteral("The settings could not be saved to %1: %2")
                                        .arg(QDir::toNativeSeparators(file.path()), error),
                                    QString(), BoxIcon::Critical, BoxButtons::Ok);
        return;
    }
    engine_.showModeWindow();
    Unload();
}

void Form7::Command2_Click()
{
    engine_.showModeWindow();
    Unload();
}

void Form7::Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    hide();
    emit closedAndUnloaded();
    deleteLater();
}

// Closed by the window system (not by a button): leave as "Cancel" does, so that the mode
// window does not stay hidden. A close from the program itself, as when the engine ends,
// runs no closing steps.
void Form7::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->spontaneous() && !unloaded_) {
        engine_.showModeWindow();
        Unload();
    }
}

} // namespace tellaran

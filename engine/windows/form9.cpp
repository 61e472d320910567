#include "engine/windows/form9.h"

#include "engine/windows/look.h"
#include "engine/windows/usermessages.h"
#include "engine/windows/windowhelpers.h"
#include "engine/windows/windowkeys.h"
#include "engine/windows/windowsresources.h"
#include "ui_form9.h"

#include <QMouseEvent>
#include <QPainter>

namespace tellaran {

namespace {

constexpr int Timer1Interval = 200;

} // namespace

Form9::Form9(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::Form9>()),
      background_(QStringLiteral(":/windows/message_background.svg"))
{
    InitWindowsResources();
    ui->setupUi(this);
    ApplyLook(this);
    OnEscape(this, [this] { close(); });
    setAttribute(Qt::WA_DeleteOnClose);
    // It comes from the other computer: it must not take the keyboard from the user.
    setAttribute(Qt::WA_ShowWithoutActivating);
    ui->Label1->installEventFilter(this);
    ui->Label2->setAttribute(Qt::WA_TransparentForMouseEvents);
    KeepOnTop(QStringLiteral("Enabled"), this);

    Timer1.setInterval(Timer1Interval);
    connect(&Timer1, &QTimer::timeout, this, &Form9::Timer1_Timer);
    Timer1.start();
}

Form9::~Form9() = default;

void Form9::Timer1_Timer()
{
    // Latin-1: one byte, one character, as everywhere text from the other side is shown.
    const QString text = QString::fromLatin1(message);
    if (IsShortMessage(message)) {
        ui->Label1->clear();
        if (drawnText_ != text) {
            drawnText_ = text;
            update();
        }
    } else {
        if (!drawnText_.isEmpty()) {
            drawnText_.clear();
            update();
        }
        if (ui->Label1->text() != text)
            ui->Label1->setText(text);
    }
}

void Form9::setDroppedNote(const QString& note)
{
    ui->Label2->setText(note);
}

bool Form9::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == ui->Label1 && (press || event->type() == QEvent::MouseButtonRelease)) {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        if (press && button == Qt::RightButton) {
            Q_EMIT replyRequested();
            close();
            return true;
        }
        if (!press && button == Qt::LeftButton) {
            close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form9::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        close();
    else
        QWidget::mouseReleaseEvent(event);
}

void Form9::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);
    if (drawnText_.isEmpty())
        return;
    // Drawn as plain text on one line: nothing in it is interpreted.
    const QFontMetrics metrics(font());
    const QSize size(metrics.horizontalAdvance(drawnText_), metrics.height());
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(QRect(CentredOrigin(rect().size(), size), size),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, drawnText_);
}

} // namespace tellaran

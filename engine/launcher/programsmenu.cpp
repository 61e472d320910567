#include "engine/launcher/programsmenu.h"

#include "engine/engine.h"
#include "engine/launcher/launcherresources.h"
#include "engine/launcher/programlist.h"
#include "engine/launcher/programstart.h"
#include "engine/windows/look.h"
#include "engine/windows/picturebutton.h"
#include "engine/windows/twips.h"
#include "engine/windows/windowhelpers.h"
#include "ui_programsmenu.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tellaran {

namespace {

// The designed places of item 0; the item picture's size comes from the picture itself.
ProgramsMenuItem designedItem0(const QLabel& menuup)
{
    const int width = PixelsToTwips(menuup.width());
    const int height = PixelsToTwips(menuup.height());
    ProgramsMenuItem item;
    item.menuup = {0, 0, width, height};
    item.Menupress = {width, 0, width, height};
    // The caption as tall as its picture, centred in it, so that a large desktop font fits.
    item.menu = {ProgramsMenuLayout::CaptionLeft, 0, width - 250, height};
    item.pathi = {ProgramsMenuLayout::PathLeft, 0, 1000, 255};
    return item;
}

void place(QLabel* control, const TwipsRect& rect)
{
    control->setGeometry(TwipsToPixels(rect.left), TwipsToPixels(rect.top),
                         TwipsToPixels(rect.width), TwipsToPixels(rect.height));
}

QLabel* cloneLabel(const QLabel& model, const QString& name)
{
    // The captions are the items a keyboard or a screen reader works with.
    QLabel* label = qobject_cast<const PictureButton*>(&model)
                        ? new PictureButton(model.parentWidget())
                        : new QLabel(model.parentWidget());
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setPixmap(model.pixmap());
    label->setCursor(model.cursor());
    label->setStyleSheet(model.styleSheet());
    label->setFont(model.font());
    label->setPalette(model.palette());
    return label;
}

} // namespace

ProgramsMenu::ProgramsMenu(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      ui(std::make_unique<Ui::ProgramsMenu>()), engine_(engine), layout_(ProgramsMenuItem{})
{
    InitLauncherResources();
    ui->setupUi(this);
    ApplyLook(this);
    layout_ = ProgramsMenuLayout(designedItem0(*ui->menuup_0));
    // The caption in front, the highlighted picture over the normal one.
    ui->menuup_0->lower();
    ui->menu_0->raise();
    controls_.append({ui->menu_0, ui->menuup_0, ui->Menupress_0, ui->pathi_0});
}

ProgramsMenu::~ProgramsMenu() = default;

ProgramsMenu::ItemControls ProgramsMenu::createItemControls(int index)
{
    if (index < controls_.size())
        return controls_[index];
    const ItemControls& first = controls_.first();
    const QString suffix = QLatin1Char('_') + QString::number(index);
    ItemControls item;
    item.menuup = cloneLabel(*first.menuup, QStringLiteral("menuup") + suffix);
    item.Menupress = cloneLabel(*first.Menupress, QStringLiteral("Menupress") + suffix);
    item.pathi = cloneLabel(*first.pathi, QStringLiteral("pathi") + suffix);
    item.menu = cloneLabel(*first.menu, QStringLiteral("menu") + suffix);
    item.menuup->lower();
    item.menu->raise();
    controls_.append(item);
    return item;
}

void ProgramsMenu::Load(int runButtonLeftTwips, int topTwips)
{
    KeepOnTop(QStringLiteral("Enabled"), this);
    leftTwips_ = runButtonLeftTwips + RunButtonOffset;
    topTwips_ = topTwips;
    move(TwipsToPixels(leftTwips_), TwipsToPixels(topTwips_));

    const ProgramListFile list(engine_.programDir());
    QList<ProgramEntry> entries;
    QString error;
    if (!list.LoadProgramList(&entries, &error)) {
        engine_.messageBoxes().show(QStringLiteral("The program list %1 could not be read: %2")
                                        .arg(QDir::toNativeSeparators(list.path()), error),
                                    QString(), BoxIcon::Warning, BoxButtons::Ok);
        entries.clear();
    }
    layout_.Build(entries);
    for (int k = 0; k < layout_.itemCount(); ++k) {
        const ItemControls item = createItemControls(k);
        item.menu->setText(QString::fromLatin1(layout_.item(k).caption));
        item.pathi->setText(QString::fromLatin1(layout_.item(k).path));
        for (QLabel* control : {item.menu, item.menuup, item.Menupress, item.pathi}) {
            control->installEventFilter(this);
            control->show();
        }
        item.menu->setMouseTracking(true);
        item.menuup->setMouseTracking(true);
        if (auto* caption = qobject_cast<PictureButton*>(item.menu)) {
            caption->setAccessibleRole(QAccessible::MenuItem);
            caption->setAccessibleName(caption->text());
            if (k > 0)
                setTabOrder(controls_[k - 1].menu, caption);
            connect(caption, &PictureButton::clicked, this, [this, k] { ClickItem(k); });
        }
        applyItem(k);
    }
    setFixedSize(TwipsToPixels(layout_.windowWidth()), TwipsToPixels(layout_.windowHeight()));
}

void ProgramsMenu::applyItem(int index)
{
    const ProgramsMenuItem& item = layout_.item(index);
    const ItemControls& controls = controls_[index];
    place(controls.menu, item.menu);
    place(controls.menuup, item.menuup);
    place(controls.Menupress, item.Menupress);
    place(controls.pathi, item.pathi);
    controls.menuup->setVisible(item.menuupVisible);
}

void ProgramsMenu::HighlightItem(int index)
{
    layout_.HighlightItem(index);
    for (int k = 0; k < layout_.itemCount(); ++k)
        applyItem(k);
}

void ProgramsMenu::ClickItem(int index)
{
    if (index < 0 || index >= layout_.itemCount())
        return;
    if (layout_.isEditListItem(index)) {
        Q_EMIT editListChosen();
        Q_EMIT unloadRequested();
        return;
    }
    const QString commandLine = QString::fromLatin1(layout_.item(index).path);
    qint64 pid = 0;
    // A program named without a folder is looked for in the engine's folder, then beside the
    // engine's executable (they differ once the engine is installed), then on PATH.
    QStringList folders{engine_.programDir()};
    if (!folders.contains(QCoreApplication::applicationDirPath()))
        folders.append(QCoreApplication::applicationDirPath());
    if (StartCommandLine(commandLine, engine_.programDir(), folders, &pid)) {
        Q_EMIT programStarted(pid);
    } else {
        engine_.messageBoxes().show(QStringLiteral("File not found : ") + commandLine, QString(),
                                    BoxIcon::None, BoxButtons::Ok);
    }
    Q_EMIT unloadRequested();
}

void ProgramsMenu::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!controls_.isEmpty() && !focusWidget())
        controls_.first().menu->setFocus(Qt::PopupFocusReason);
}

// The arrow keys move between the items; Escape puts the menu away, as "Run" does.
void ProgramsMenu::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        focusNextPrevChild(false);
        return;
    case Qt::Key_Down:
        focusNextPrevChild(true);
        return;
    case Qt::Key_Escape:
        hide();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

int ProgramsMenu::itemIndexOf(const QObject* control) const
{
    for (int k = 0; k < layout_.itemCount() && k < controls_.size(); ++k) {
        const ItemControls& item = controls_[k];
        if (control == item.menu || control == item.menuup || control == item.Menupress)
            return k;
    }
    return -1;
}

bool ProgramsMenu::eventFilter(QObject* watched, QEvent* event)
{
    const int index = itemIndexOf(watched);
    if (index < 0)
        return QWidget::eventFilter(watched, event);
    const bool overCaptionOrPicture =
        watched == controls_[index].menu || watched == controls_[index].menuup;
    switch (event->type()) {
    case QEvent::FocusIn:
        // The keyboard highlights as the mouse does.
        if (watched == controls_[index].menu && layout_.highlightedItem() != index)
            HighlightItem(index);
        return false;
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (overCaptionOrPicture && layout_.highlightedItem() != index)
            HighlightItem(index);
        return false;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* control = static_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton ||
            !control->rect().contains(mouse->position().toPoint()))
            return false;
        // The click may unload the menu; it is deleted only once back in the event loop.
        ClickItem(index);
        return true;
    }
    default:
        return false;
    }
}

} // namespace tellaran

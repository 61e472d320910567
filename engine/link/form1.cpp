#include "engine/link/form1.h"

namespace tellaran {

Form1::Form1(Engine& engine, SerialEnvironment environment, QWidget* parent)
    : QWidget(parent), link_(engine, std::move(environment))
{
    setWindowTitle(QStringLiteral("Tellaran transmission engine"));
    link_.Load();
}

Form1::~Form1() = default;

void Form1::popupStatusMenu(const QPoint&) {}

} // namespace tellaran

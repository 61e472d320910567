#include "engine/channels/form2.h"

#include "engine/channels/enginemodemoutput.h"
#include "engine/engine.h"

namespace tellaran {

Form2::Form2(Engine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine), table_(engine),
      server_(engine, table_,
              [this](const QByteArray& frame) { dispatcher_.DispatchFrame(frame); }),
      dispatcher_(engine, table_, server_, senddata_),
      drain_(senddata_, std::make_unique<EngineModemOutput>(engine), engine.counters())
{
    setWindowTitle(QStringLiteral("Control Panel"));
    Timer1.setInterval(300);
    connect(&drain_, &TransmitDrain::pieceWritten, this,
            [this](qint64 size) { totaldata += size; });

    ShowConnectedAt();
    senddata_.clear();
    table_.Reset();
    listening_ = server_.start();
    Timer1.start();
}

Form2::~Form2() = default;

void Form2::shutDown()
{
    Timer1.stop();
    drain_.Timer4.stop();
    dispatcher_.Timerunk.stop();
    server_.shutDown();
    listening_ = false;
}

void Form2::ShowConnectedAt()
{
    const QTime at = t1.isValid() ? t1.time() : QTime(0, 0);
    connectedAtLine_ = QStringLiteral("Connected at : ") + at.toString(QStringLiteral("hh:mm:ss"));
}

} // namespace tellaran

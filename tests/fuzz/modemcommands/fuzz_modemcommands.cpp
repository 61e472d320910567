// The virtual modem's command interpreter fed any bytes, as a program types them: every
// call takes at least one byte and stops at a finished line, every line is an "AT" command
// within the length limit, and how the bytes were cut into blocks changes nothing that the
// modem echoes, executes or answers.
#include "platform/modemcommandinterpreter.h"
#include "tests/fuzz/fuzzinput.h"

#include <QDateTime>

using namespace tellaran;

namespace {

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Everything the modem says and does for one way of cutting the input.
QByteArray transcript(const QList<QByteArray>& chunks)
{
    ModemCommandInterpreter modem;
    QByteArray said;
    for (const QByteArray& chunk : chunks) {
        QByteArrayView rest(chunk);
        while (!rest.isEmpty()) {
            QByteArray echo;
            std::optional<QByteArray> line;
            const qsizetype taken = modem.type(rest, echo, line);
            FUZZ_CHECK(taken >= 1 && taken <= rest.size());
            // Only a finished line stops it early.
            FUZZ_CHECK(line || taken == rest.size());
            rest = rest.sliced(taken);
            said += echo;
            if (!line)
                continue;
            FUZZ_CHECK(line->size() >= 2 &&
                       line->size() <= ModemCommandInterpreter::maxLineLength + 1);
            FUZZ_CHECK(upper(line->at(0)) == 'A' && upper(line->at(1)) == 'T');
            const ModemCommandOutcome outcome = modem.execute(*line);
            FUZZ_CHECK(outcome.call == ModemCommandOutcome::Call::Dial ||
                       outcome.dialString.isEmpty());
            said += "|" + QByteArray::number(int(outcome.call)) + outcome.dialString +
                    (outcome.hangUp ? "H" : "") + outcome.information +
                    modem.resultText(outcome.error ? ModemResult::Error : ModemResult::Ok);
            if (outcome.call == ModemCommandOutcome::Call::Dial ||
                outcome.call == ModemCommandOutcome::Call::Answer) {
                // Both sides see the call's results in the modem's current form.
                said += modem.resultText(ModemResult::Connect, 56000) +
                        modem.resultText(ModemResult::NoCarrier) +
                        modem.callerIdText(QDateTime(QDate(2024, 6, 10), QTime(12, 34)),
                                           outcome.dialString, modem.callerName());
                modem.clearCommandBuffer();
                FUZZ_CHECK(modem.commandBuffer().isEmpty());
            }
        }
    }
    for (int r = -1; r <= 256; ++r) {
        const int value = modem.sRegister(r);
        FUZZ_CHECK(value >= 0 && value <= 255);
        said += char(value);
    }
    said += modem.echo() ? "E1" : "E0";
    said += modem.numericResults() ? "V0" : "V1";
    return said;
}

} // namespace

int fuzzOne(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput input(data, size);
    const uint32_t seed = input.takeByte() | uint32_t(input.takeByte()) << 8;
    const QByteArray typed = input.takeRest();
    const QList<QList<QByteArray>> ways = fuzz::chunkings(typed, seed);
    const QByteArray expected = transcript(ways.first());
    for (qsizetype i = 1; i < ways.size(); ++i)
        FUZZ_CHECK(transcript(ways[i]) == expected);
    return 0;
}

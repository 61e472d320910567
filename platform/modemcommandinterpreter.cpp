#include "platform/modemcommandinterpreter.h"

#include "platform/modemline.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

namespace tellaran {

namespace {

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void skipBlanks(const QByteArray& body, qsizetype& pos)
{
    while (pos < body.size() && body[pos] == ' ')
        ++pos;
}

// An optional decimal parameter ("E1", "L 2"); a missing one is 0. Saturates, so that a
// long run of digits is simply out of range.
int readNumber(const QByteArray& body, qsizetype& pos)
{
    skipBlanks(body, pos);
    int value = 0;
    while (pos < body.size() && isDigit(body[pos])) {
        value = std::min(value * 10 + (body[pos] - '0'), 100000);
        ++pos;
    }
    return value;
}

const QByteArray identity = QByteArrayLiteral("Tellaran virtual modem");

} // namespace

ModemCommandInterpreter::ModemCommandInterpreter()
{
    reset();
}

void ModemCommandInterpreter::reset()
{
    m_registers.fill(0);
    m_registers[escapeChar] = '+';
    m_registers[lineEndChar] = '\r';
    m_registers[lineFeedChar] = '\n';
    m_registers[backspaceChar] = 8;
    m_registers[6] = 2; // wait for dial tone, s
    m_registers[carrierWait] = 50;
    m_registers[8] = 2;   // comma pause, s
    m_registers[9] = 6;   // carrier detect response time, 1/10 s
    m_registers[10] = 14; // carrier loss delay, 1/10 s
    m_registers[11] = 95; // tone duration, ms
    m_registers[guardTime] = 50;
    m_echo = true;
    m_modulation = QByteArrayLiteral("56,1");
    m_numeric = false;
    m_connectReport = 0;
    m_carrierDetectAlwaysOn = false;
    m_callerId = false;
    m_callerName.clear();
    m_ignoreDtr = m_powerUpIgnoresDtr;
}

void ModemCommandInterpreter::setRejectedCommands(const QByteArrayList& commands)
{
    m_rejected.clear();
    for (const QByteArray& command : commands) {
        QByteArray normal = command.toUpper();
        normal.replace(' ', QByteArray());
        if (normal.startsWith("AT"))
            normal.remove(0, 2);
        if (!normal.isEmpty())
            m_rejected.append(normal);
    }
}

void ModemCommandInterpreter::setPowerUpIgnoresDtr(bool ignore)
{
    m_powerUpIgnoresDtr = ignore;
    m_ignoreDtr = ignore;
}

int ModemCommandInterpreter::sRegister(int number) const
{
    if (number < 0 || number >= static_cast<int>(m_registers.size()))
        return 0;
    return m_registers[static_cast<size_t>(number)];
}

void ModemCommandInterpreter::setSRegister(int number, int value)
{
    if (number < 0 || number >= static_cast<int>(m_registers.size()))
        return;
    m_registers[static_cast<size_t>(number)] = static_cast<quint8>(std::clamp(value, 0, 255));
}

char ModemCommandInterpreter::lineEnd() const
{
    return static_cast<char>(sRegister(lineEndChar));
}

char ModemCommandInterpreter::lineFeed() const
{
    return static_cast<char>(sRegister(lineFeedChar));
}

void ModemCommandInterpreter::clearCommandBuffer()
{
    m_buffer.clear();
    m_discarding = false;
}

qsizetype ModemCommandInterpreter::type(QByteArrayView bytes, QByteArray& echo,
                                        std::optional<QByteArray>& line)
{
    const char cr = lineEnd();
    const char backspace = static_cast<char>(sRegister(backspaceChar));
    qsizetype i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i++];
        if (c == cr) {
            if (m_discarding) {
                m_discarding = false;
                continue;
            }
            // A bare line end, or a lone "A", does nothing.
            if (m_buffer.size() < 2) {
                m_buffer.clear();
                continue;
            }
            if (m_echo)
                echo += c;
            line = std::exchange(m_buffer, QByteArray());
            return i;
        }
        if (m_discarding)
            continue;
        if (c == backspace) {
            if (!m_buffer.isEmpty()) {
                m_buffer.chop(1);
                if (m_echo)
                    echo += c;
            }
            continue;
        }
        if (m_buffer.isEmpty()) {
            if (upper(c) == 'A') {
                m_buffer += c;
                if (m_echo)
                    echo += c;
            } else if (c != lineFeed() && c != ' ' &&
                       static_cast<unsigned char>(c) != sRegister(escapeChar)) {
                // An escape sent when the modem is already in command state is no line: the
                // "AT" that follows it still counts.
                // The line feed after the previous line's end is no part of the next line.
                m_discarding = true;
            }
            continue;
        }
        if (m_buffer.size() == 1 && upper(c) != 'T') {
            m_buffer.clear();
            m_discarding = true;
            continue;
        }
        // One byte past the limit is kept so that execute() can tell the line was too long.
        if (m_buffer.size() > maxLineLength)
            continue;
        m_buffer += c;
        if (m_echo)
            echo += c;
    }
    return i;
}

ModemCommandOutcome ModemCommandInterpreter::execute(const QByteArray& line)
{
    ModemCommandOutcome outcome;
    if (line.size() < 2 || line.size() > maxLineLength || upper(line[0]) != 'A' ||
        upper(line[1]) != 'T') {
        outcome.error = true;
        return outcome;
    }
    const QByteArray body = line.mid(2);
    qsizetype pos = 0;
    while (pos < body.size() && outcome.call == ModemCommandOutcome::Call::None) {
        if (!executeCommand(body, pos, outcome)) {
            outcome.error = true;
            break;
        }
    }
    return outcome;
}

bool ModemCommandInterpreter::executeCommand(const QByteArray& body, qsizetype& pos,
                                             ModemCommandOutcome& outcome)
{
    skipBlanks(body, pos);
    if (pos >= body.size())
        return true;
    if (!m_rejected.isEmpty()) {
        QByteArray rest = body.mid(pos).toUpper();
        rest.replace(' ', QByteArray());
        for (const QByteArray& refused : m_rejected) {
            if (rest.startsWith(refused))
                return false;
        }
    }
    const char command = upper(body[pos++]);
    switch (command) {
    case 'A':
        outcome.call = ModemCommandOutcome::Call::Answer;
        return true;
    case 'D':
        outcome.call = ModemCommandOutcome::Call::Dial;
        outcome.dialString = body.mid(pos).trimmed();
        pos = body.size();
        return true;
    case 'O':
        if (readNumber(body, pos) > 1)
            return false;
        outcome.call = ModemCommandOutcome::Call::GoOnline;
        return true;
    case 'E': {
        const int value = readNumber(body, pos);
        if (value > 1)
            return false;
        m_echo = value == 1;
        return true;
    }
    case 'V': {
        const int value = readNumber(body, pos);
        if (value > 1)
            return false;
        m_numeric = value == 0;
        return true;
    }
    case 'W': {
        const int value = readNumber(body, pos);
        if (value > 2)
            return false;
        m_connectReport = value;
        return true;
    }
    case '&': {
        if (pos >= body.size())
            return false;
        const char setting = upper(body[pos++]);
        const int value = readNumber(body, pos);
        if (setting == 'C' && value <= 1) {
            m_carrierDetectAlwaysOn = value == 0;
            return true;
        }
        if (setting == 'D' && (value == 0 || value == 2)) {
            m_ignoreDtr = value == 0;
            return true;
        }
        return false;
    }
    case 'H': {
        const int value = readNumber(body, pos);
        if (value > 1)
            return false;
        // H1 (off hook) has no meaning on a socket line.
        if (value == 0)
            outcome.hangUp = true;
        return true;
    }
    case 'I':
        if (readNumber(body, pos) > 9)
            return false;
        outcome.information += informationText(identity);
        return true;
    case 'L':
    case 'M':
        return readNumber(body, pos) <= 3;
    case 'X':
        return readNumber(body, pos) <= 4;
    case 'P':
    case 'T':
        return true;
    case 'Z':
        if (readNumber(body, pos) > 1)
            return false;
        reset();
        outcome.hangUp = true;
        return true;
    case 'S': {
        const int number = readNumber(body, pos);
        if (number > 255)
            return false;
        skipBlanks(body, pos);
        if (pos < body.size() && body[pos] == '=') {
            ++pos;
            const int value = readNumber(body, pos);
            if (value > 255)
                return false;
            setSRegister(number, value);
            return true;
        }
        if (pos < body.size() && body[pos] == '?') {
            ++pos;
            outcome.information +=
                informationText(QByteArray::number(sRegister(number)).rightJustified(3, '0'));
            return true;
        }
        return false;
    }
    case '%':
        if (pos >= body.size() || upper(body[pos]) != 'C')
            return false;
        ++pos;
        return readNumber(body, pos) <= 3;
    case '+':
        return executeExtended(body, pos, outcome);
    default:
        return false;
    }
}

// Extended commands run to a ';' or the end of the line: "+NAME=value", or "+NAME?" and
// "+NAME=?" to show the value. Known: +MS (modulation), +VCID (caller ID on or off) and
// +VNAME (the name sent as the caller's, in double quotes when it holds blanks or ';').
bool ModemCommandInterpreter::executeExtended(const QByteArray& body, qsizetype& pos,
                                              ModemCommandOutcome& outcome)
{
    QByteArray name;
    while (pos < body.size() && body[pos] != '=' && body[pos] != '?' && body[pos] != ';')
        name += upper(body[pos++]);
    name = name.trimmed();
    if (pos >= body.size() || body[pos] == ';')
        return false;
    const bool assign = body[pos] == '=';
    ++pos;
    skipBlanks(body, pos);
    QByteArray value;
    bool quoted = false;
    if (assign && pos < body.size() && body[pos] == '"') {
        const qsizetype closing = body.indexOf('"', pos + 1);
        if (closing < 0)
            return false;
        value = body.mid(pos + 1, closing - pos - 1);
        quoted = true;
        pos = closing + 1;
        skipBlanks(body, pos);
        if (pos < body.size() && body[pos] != ';')
            return false;
    } else {
        qsizetype end = body.indexOf(';', pos);
        if (end < 0)
            end = body.size();
        value = body.mid(pos, end - pos).trimmed();
        pos = end;
    }
    if (pos < body.size())
        ++pos; // the ';'
    const bool query = !quoted && (assign ? value == "?" : value.isEmpty());
    if (!assign && !query)
        return false;

    if (name == "MS") {
        if (query)
            outcome.information += informationText("+MS: " + m_modulation);
        else if (value.isEmpty())
            return false;
        else
            m_modulation = value;
        return true;
    }
    if (name == "VCID") {
        if (query)
            outcome.information += informationText("+VCID: " + QByteArray(m_callerId ? "1" : "0"));
        else if (value == "0" || value == "1")
            m_callerId = value == "1";
        else
            return false;
        return true;
    }
    if (name == "VNAME") {
        if (query) {
            outcome.information += informationText("+VNAME: \"" + m_callerName + '"');
            return true;
        }
        if (value.size() > ModemHandshake::maxCallerNameLength ||
            ModemHandshake::callerIdField(value, value.size()) != value)
            return false;
        m_callerName = value;
        return true;
    }
    return false;
}

QByteArray ModemCommandInterpreter::informationText(const QByteArray& text) const
{
    const QByteArray lineBreak = QByteArray(1, lineEnd()) + lineFeed();
    return lineBreak + text + lineBreak;
}

QByteArray ModemCommandInterpreter::resultText(ModemResult result, int connectRate) const
{
    // The standard numbers; -1 for results that have none.
    int number = -1;
    QByteArray words;
    switch (result) {
    case ModemResult::Ok:
        number = 0;
        words = "OK";
        break;
    case ModemResult::Connect:
        number = 1;
        words = "CONNECT";
        break;
    case ModemResult::Ring:
        number = 2;
        words = "RING";
        break;
    case ModemResult::NoCarrier:
        number = 3;
        words = "NO CARRIER";
        break;
    case ModemResult::Error:
        number = 4;
        words = "ERROR";
        break;
    case ModemResult::NoDialTone:
        number = 6;
        words = "NO DIAL TONE";
        break;
    case ModemResult::NoDialToneOneWord:
        number = 6;
        words = "NO DIALTONE";
        break;
    case ModemResult::Busy:
        number = 7;
        words = "BUSY";
        break;
    case ModemResult::NoAnswer:
        number = 8;
        words = "NO ANSWER";
        break;
    case ModemResult::Delayed:
        words = "DELAYED";
        break;
    case ModemResult::Blacklisted:
        words = "BLACKLISTED";
        break;
    case ModemResult::Voice:
        words = "VOICE";
        break;
    case ModemResult::Ringing:
        words = "RINGING";
        break;
    }
    if (m_numeric && number >= 0)
        return QByteArray::number(number) + lineEnd();
    if (result != ModemResult::Connect)
        return informationText(words);

    const QByteArray rate = connectRate > 0 ? QByteArray::number(connectRate) : QByteArray();
    if (m_connectReport == 0)
        return informationText(rate.isEmpty() ? words : words + ' ' + rate);
    // The extended report, as error-correcting modems give it.
    return informationText(rate.isEmpty() ? QByteArray("CARRIER") : "CARRIER " + rate) +
           informationText("PROTOCOL: LAPM") + informationText("COMPRESSION: V42BIS") +
           informationText(words + (rate.isEmpty() ? QByteArray() : ' ' + rate) +
                           "/ARQ/V90/LAPM/V42BIS");
}

QByteArray ModemCommandInterpreter::callerIdText(const QDateTime& when, const QByteArray& number,
                                                 const QByteArray& name) const
{
    const QByteArray lineBreak = QByteArray(1, lineEnd()) + lineFeed();
    const auto field = [](const QByteArray& value) {
        return value.isEmpty() ? QByteArray("O") : value;
    };
    return lineBreak + "DATE = " + when.toString(QStringLiteral("MMdd")).toLatin1() + lineBreak +
           "TIME = " + when.toString(QStringLiteral("HHmm")).toLatin1() + lineBreak +
           "NMBR = " + field(number) + lineBreak + "NAME = " + field(name) + lineBreak;
}

} // namespace tellaran

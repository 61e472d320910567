// tellaran_load: local programs for load tests and benchmarks of a running engine, each run a
// separate process as real programs are. Speaks the channel protocol by hand.
//
//   receive --id ID --bytes N --payload S [--timeout SEC]
//       registers, takes N bytes of the payload stream and checks every byte; exits 1 on a
//       wrong byte or when N bytes do not come within the timeout.
//   send --id ID --bytes N --payload S
//       registers, writes N bytes in payloads of S bytes as fast as the engine takes them.
//   flood --connections C --bytes N [--hold SEC] [--random]
//       C connections each send N bytes with no frame end (the payload pattern, or random
//       bytes), then stay until the hold ends.
//   storm --connections C [--prefix P] [--register-delay SEC] [--hold SEC]
//       C connections at once, each registering P plus its number; prints the seconds until
//       all are connected.
//   ping --id ID --count N [--interval MS] [--payload S]
//       N payloads, one every MS, each carrying its moment of sending.
//   pong --id ID --count N [--payload S] [--timeout SEC]
//       takes N such payloads and prints their latencies.
//   tagged-send --id ID --seconds S --payload N [--interval MS]
//       S seconds of payloads that carry their DataID, number and CRC-32 (0 ms: as fast as
//       the engine takes them).
//   tagged-receive --id ID [--idle SEC] [--timeout SEC]
//       takes them until SEC pass with none, and prints how many came whole, damaged, or
//       of another DataID.
//   churn --connections C [--batch B]
//       C programs, B at a time, each connecting, registering and closing.
//   noisyline --listen LINE --connect LINE --bit-error-rate R [--noise-seconds S] [--seed N]
//             [--exchange DIR]
//       a phone line between two virtual modems that flips bits once the call is up.
// Common: --port (6789), --host (127.0.0.1). Results go to stdout as "name value unit".

#include "bench/load/loadprograms.h"
#include "bench/load/noisyline.h"
#include "platform/serialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <sys/resource.h>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    // Thousands of connections need as many descriptors as the system allows.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("receive, send, flood, storm, ping, pong, tagged-send, "
                       "tagged-receive, churn or noisyline"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Engine address."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Channel port."),
                                  QStringLiteral("port"), QStringLiteral("6789"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("DataID."),
                                QStringLiteral("id"), QStringLiteral("LOAD0001"));
    const QCommandLineOption bytes(QStringLiteral("bytes"), QStringLiteral("Bytes to move."),
                                   QStringLiteral("n"), QStringLiteral("1048576"));
    const QCommandLineOption payload(QStringLiteral("payload"), QStringLiteral("Payload size."),
                                     QStringLiteral("n"), QStringLiteral("4096"));
    const QCommandLineOption connections(QStringLiteral("connections"),
                                         QStringLiteral("Connections."), QStringLiteral("n"),
                                         QStringLiteral("1"));
    const QCommandLineOption prefix(QStringLiteral("prefix"), QStringLiteral("DataID prefix."),
                                    QStringLiteral("text"), QStringLiteral("S"));
    const QCommandLineOption registerDelay(QStringLiteral("register-delay"),
                                           QStringLiteral("Seconds before registering."),
                                           QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption hold(QStringLiteral("hold"),
                                  QStringLiteral("Seconds to stay (0: until killed)."),
                                  QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Payloads."),
                                   QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Milliseconds between payloads."),
                                      QStringLiteral("ms"), QStringLiteral("250"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Seconds."),
                                     QStringLiteral("s"), QStringLiteral("120"));
    const QCommandLineOption random(QStringLiteral("random"), QStringLiteral("Random bytes."));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Seconds."),
                                     QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption idle(QStringLiteral("idle"), QStringLiteral("Idle seconds."),
                                  QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption batch(QStringLiteral("batch"), QStringLiteral("Batch size."),
                                   QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption exchange(QStringLiteral("exchange"),
                                      QStringLiteral("Exchange folder."), QStringLiteral("dir"),
                                      tellaran::defaultExchangeDir());
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Line to take."),
                                    QStringLiteral("line"));
    const QCommandLineOption connectTo(QStringLiteral("connect"),
                                       QStringLiteral("Line to put calls through to."),
                                       QStringLiteral("line"));
    const QCommandLineOption bitErrorRate(QStringLiteral("bit-error-rate"),
                                          QStringLiteral("Probability of a flipped bit."),
                                          QStringLiteral("r"), QStringLiteral("0"));
    const QCommandLineOption noiseSeconds(QStringLiteral("noise-seconds"),
                                          QStringLiteral("Seconds of noise (0: all the call)."),
                                          QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Noise seed."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({host,      port,          id,           bytes, payload,  connections,
                       prefix,    registerDelay, hold,         count, interval, timeout,
                       random,    seconds,       idle,         batch, exchange, listen,
                       connectTo, bitErrorRate,  noiseSeconds, seed});
    parser.process(application);

    tellaran::load::Target target{parser.value(host), quint16(parser.value(port).toUInt())};
    const QString command = parser.positionalArguments().value(0);
    if (command == QLatin1String("receive"))
        return tellaran::load::Receive(target, parser.value(id).toLatin1(),
                                       parser.value(bytes).toLongLong(),
                                       parser.value(timeout).toInt());
    if (command == QLatin1String("send"))
        return tellaran::load::Send(target, parser.value(id).toLatin1(),
                                    parser.value(bytes).toLongLong(),
                                    parser.value(payload).toInt());
    if (command == QLatin1String("flood"))
        return tellaran::load::Flood(target, parser.value(connections).toInt(),
                                     parser.value(bytes).toLongLong(), parser.value(hold).toInt(),
                                     parser.isSet(random));
    if (command == QLatin1String("tagged-send"))
        return tellaran::load::TaggedSend(
            target, parser.value(id).toLatin1(), parser.value(seconds).toInt(),
            parser.value(payload).toInt(), parser.value(interval).toInt());
    if (command == QLatin1String("tagged-receive"))
        return tellaran::load::TaggedReceive(target, parser.value(id).toLatin1(),
                                             parser.value(idle).toInt(),
                                             parser.value(timeout).toInt());
    if (command == QLatin1String("churn"))
        return tellaran::load::Churn(target, parser.value(connections).toInt(),
                                     parser.value(batch).toInt());
    if (command == QLatin1String("noisyline"))
        return tellaran::load::NoisyLine(
            parser.value(exchange), parser.value(listen), parser.value(connectTo),
            parser.value(bitErrorRate).toDouble(), parser.value(noiseSeconds).toInt(),
            parser.value(seed).toULongLong());
    if (command == QLatin1String("storm"))
        return tellaran::load::Storm(
            target, parser.value(connections).toInt(), parser.value(prefix).toLatin1(),
            parser.value(registerDelay).toInt(), parser.value(hold).toInt());
    if (command == QLatin1String("ping"))
        return tellaran::load::Ping(target, parser.value(id).toLatin1(),
                                    parser.value(count).toInt(), parser.value(interval).toInt(),
                                    parser.value(payload).toInt());
    if (command == QLatin1String("pong"))
        return tellaran::load::Pong(target, parser.value(id).toLatin1(),
                                    parser.value(count).toInt(), parser.value(payload).toInt(),
                                    parser.value(timeout).toInt());
    parser.showHelp(2);
}

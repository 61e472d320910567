// tellaran_load: local programs for load tests and benchmarks of a running engine, each run a
// separate process as real programs are. Speaks the channel protocol by hand.
//
//   receive --id ID --bytes N --payload S [--timeout SEC]
//       registers, takes N bytes of the payload stream and checks every byte; exits 1 on a
//       wrong byte or when N bytes do not come within the timeout.
//   send --id ID --bytes N --payload S
//       registers, writes N bytes in payloads of S bytes as fast as the engine takes them.
//   flood --connections C --bytes N [--hold SEC]
//       C connections each send N bytes with no frame end, then stay until the hold ends.
//   storm --connections C [--prefix P] [--register-delay SEC] [--hold SEC]
//       C connections at once, each registering P plus its number; prints the seconds until
//       all are connected.
//   ping --id ID --count N [--interval MS] [--payload S]
//       N payloads, one every MS, each carrying its moment of sending.
//   pong --id ID --count N [--payload S] [--timeout SEC]
//       takes N such payloads and prints their latencies.
// Common: --port (6789), --host (127.0.0.1). Results go to stdout as "name value unit".

#include "bench/load/loadprograms.h"

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
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("receive, send, flood, storm, ping or pong"));
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
    parser.addOptions({host, port, id, bytes, payload, connections, prefix, registerDelay, hold,
                       count, interval, timeout});
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
                                     parser.value(bytes).toLongLong(), parser.value(hold).toInt());
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

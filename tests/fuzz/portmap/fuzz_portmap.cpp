// The port map read from any content: every record it keeps, written back in the map's
// form, reads back as the same record, and a port resolves to its first record.
#include "platform/datafile.h"
#include "platform/portmap.h"
#include "tests/fuzz/fuzzinput.h"

using namespace tellaran;

int fuzzOne(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<portmap::PortMapRecord> records = portmap::readPortMap(content);

    QByteArray written;
    for (const portmap::PortMapRecord& record : records) {
        FUZZ_CHECK(record.port >= 1);
        FUZZ_CHECK(record.target.kind != portmap::PortTarget::NoDevice);
        portmap::PortTarget reparsed;
        FUZZ_CHECK(portmap::parseTarget(record.target.text(), &reparsed));
        FUZZ_CHECK(reparsed == record.target);
        written +=
            datafile::encodeRecord({QByteArray::number(record.port),
                                    datafile::encodeText(record.target.text().toLocal8Bit())});
    }
    const QList<portmap::PortMapRecord> reread = portmap::readPortMap(written);
    FUZZ_CHECK(reread.size() == records.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        FUZZ_CHECK(reread[i].port == records[i].port);
        FUZZ_CHECK(reread[i].target == records[i].target);
    }

    for (const portmap::PortMapRecord& record : records) {
        const auto first = std::find_if(records.begin(), records.end(),
                                        [&](const auto& r) { return r.port == record.port; });
        FUZZ_CHECK(portmap::resolvePort(records, record.port) == first->target);
    }
    FUZZ_CHECK(portmap::resolvePort(records, 0).kind == portmap::PortTarget::NoDevice);
    return 0;
}

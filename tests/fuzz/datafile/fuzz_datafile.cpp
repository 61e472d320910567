// The one reader of every data file: whatever it returns, written back in its own encoding,
// reads back the same, whether the values go into one record or one a line.
#include "platform/datafile.h"
#include "tests/fuzz/fuzzinput.h"

using namespace tellaran;

int fuzzOne(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<datafile::Value> values = datafile::readValues(content);

    QList<QByteArray> encoded;
    QByteArray oneALine;
    for (const datafile::Value& value : values) {
        FUZZ_CHECK(!value.text.contains('"'));
        encoded.append(datafile::encode(value));
        oneALine += datafile::encodeRecord({encoded.last()});
        // Numbers saturate rather than overflow.
        datafile::numericValue(value.text);
    }
    FUZZ_CHECK(datafile::readValues(datafile::encodeRecord(encoded)) == values);
    FUZZ_CHECK(datafile::readValues(oneALine) == values);
    return 0;
}

#pragma once

#include "platform/portmap.h"

#include <QByteArray>
#include <QString>

// Changing the port map file: one port's record set, every other line kept as it was.
namespace tellaran::portmap {

// The content with `port` mapped to `target`: its first record replaced in place (later
// records of the same port, which never counted, go), or a record appended when it had
// none. Lines of other ports, and lines that are no record at all, stay byte for byte.
QByteArray withPortRecord(const QByteArray& content, int port, const PortTarget& target);

// Whether a target can be written: a device or modem line without a double quote or a line
// break, which the file's records cannot hold.
bool isWritableTarget(const PortTarget& target);

// Sets the record in the map file (created when missing) through its temporary file
// portstemp.dat beside it, replaced in one rename. Returns false, with the reason in *error,
// when the target cannot be written or a step fails; the file is then as it was.
bool writePortRecord(const QString& mapFile, int port, const PortTarget& target,
                     QString* error = nullptr);

} // namespace tellaran::portmap

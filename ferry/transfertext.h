#pragma once

#include "ferry/transfer.h"

#include <QString>

// How a transfer reads in the window's list.
namespace ferryit {

QString stateText(const TransferInfo& info);
QString sizeText(qint64 bytes);
// "5.4 KB/s"; empty while not moving.
QString rateText(const TransferInfo& info);
// "1:05:09", "4:07"; empty while unknown.
QString timeLeftText(const TransferInfo& info);
// Whole percent of the file done, 100 for an empty file that is done.
int percentDone(const TransferInfo& info);

} // namespace ferryit

#include "platform/logging.h"

namespace tellaran {

Q_LOGGING_CATEGORY(lcModem, "tellaran.modem", QtWarningMsg)
Q_LOGGING_CATEGORY(lcChannels, "tellaran.channels", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLink, "tellaran.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcVmodem, "tellaran.vmodem", QtWarningMsg)

} // namespace tellaran

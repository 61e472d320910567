#pragma once

#include <QLoggingCategory>
#include <QStringList>

namespace tellaran::testing {

// The messages of one logging category while it lives, each as "debug " or "warning " and
// its text, with that category's debug messages switched on. One at a time.
class LogCapture
{
public:
    explicit LogCapture(const char* category) : category_(category)
    {
        active_ = this;
        QLoggingCategory::setFilterRules(QLatin1String(category) + QStringLiteral(".debug=true"));
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
        active_ = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines;
    // The texts alone.
    QStringList texts() const
    {
        QStringList result;
        for (const QString& line : lines)
            result << line.section(QLatin1Char(' '), 1);
        return result;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (active_ && qstrcmp(context.category, active_->category_) == 0)
            active_->lines.append((type == QtDebugMsg ? "debug " : "warning ") + text);
        else if (active_)
            active_->previous_(type, context, text);
    }
    static inline LogCapture* active_ = nullptr;
    const char* category_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace tellaran::testing

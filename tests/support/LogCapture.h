#pragma once

#include <QLoggingCategory>
#include <QStringList>
#include <QtGlobal>

// The lines logged under one category while it lives, with that category switched on; the
// category's rules go back to the defaults afterwards. One at a time, on the test's thread.
class LogCapture {
public:
    explicit LogCapture(const char* category) : m_category(category) {
        s_current = this;
        QLoggingCategory::setFilterRules(QStringLiteral("%1.debug=true").arg(m_category));
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        s_current = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QStringList& lines() const { return m_lines; }
    // Whether some line holds every one of these texts.
    bool logged(const QStringList& parts) const {
        for (const QString& line : m_lines) {
            bool all = true;
            for (const QString& part : parts)
                all = all && line.contains(part);
            if (all)
                return true;
        }
        return false;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (s_current && context.category && s_current->m_category == context.category) {
            s_current->m_lines << text;
            return;
        }
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, text);
    }

    inline static LogCapture* s_current = nullptr;
    QString m_category;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

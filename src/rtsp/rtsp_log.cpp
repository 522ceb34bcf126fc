#include "rtsp/rtsp_log.h"

#include <QDebug>
#include <QString>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(rtspWarnings, "level_1")
}

namespace {
std::atomic<rtsp_log_handler> g_handler{nullptr};
}

rtsp_log_handler rtsp_set_log_handler(rtsp_log_handler handler)
{
    rtsp_log_handler previous = g_handler.exchange(handler);
    return previous ? previous : &rtsp_log_to_stdout;
}

void rtsp_log_to_stdout(int, const char* line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}

void rtsp_log_to_stdout_and_qt(int level, const char* line)
{
    rtsp_log_to_stdout(level, line);
    if (level > RTSP_LOG_INFO)
        return;
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        --n;
    const QString text = QStringLiteral("[RTSP] ") + QString::fromLocal8Bit(line, int(n));
    if (level == RTSP_LOG_INFO)
        qInfo().noquote() << text;
    else
        qCWarning(rtspWarnings).noquote() << text;
}

void rtsp_log_write(int level, const char* fmt, ...)
{
    char line[1536];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof(line), fmt, ap);
    va_end(ap);
    rtsp_log_handler handler = g_handler.load();
    (handler ? handler : &rtsp_log_to_stdout)(level, line);
}

const char* rtsp_log_basename(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

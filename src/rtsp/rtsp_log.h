#pragma once
// Log lines of the RTSP server: one printf-style line per event, prefixed
// "[ERROR file:line:function] ", "[WARN  ...] ", "[INFO  ...] " or
// "[DEBUG ...] ". By default every line goes to standard output; a program
// can install its own handler (for example to copy warnings into its log
// files). The handler is called on whichever thread logs, which for the
// server is the thread that calls rtsp_do_event / rtsp_tx_video.
enum rtsp_log_level {
    RTSP_LOG_ERROR = 1,
    RTSP_LOG_WARN = 2,
    RTSP_LOG_INFO = 3,
    RTSP_LOG_DEBUG = 4,
};

// `line` is the whole formatted line, prefix included, NUL-terminated.
typedef void (*rtsp_log_handler)(int level, const char* line);

// Installs `handler` (null: back to standard output) and returns the previous
// one. Not meant to be switched while another thread logs.
rtsp_log_handler rtsp_set_log_handler(rtsp_log_handler handler);

// The default handler: the line to standard output, flushed.
void rtsp_log_to_stdout(int level, const char* line);

// Handler that prints to standard output like the default one and also hands
// every ERROR, WARN and INFO line to Qt's message log (category "default":
// qWarning for ERROR and WARN, qInfo for INFO), tagged "[RTSP]", so that they
// reach the program's log files. Install with
// rtsp_set_log_handler(rtsp_log_to_stdout_and_qt).
void rtsp_log_to_stdout_and_qt(int level, const char* line);

// Formats and hands one line to the handler (used through the macros below).
void rtsp_log_write(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
const char* rtsp_log_basename(const char* path);

#define RTSP_LOG_AT(level, tag, fmt, ...) \
    rtsp_log_write(level, tag " %s:%d:%s] " fmt, rtsp_log_basename(__FILE__), __LINE__, __func__, ##__VA_ARGS__)
#define RTSP_ERR(fmt, ...) RTSP_LOG_AT(RTSP_LOG_ERROR, "[ERROR", fmt, ##__VA_ARGS__)
#define RTSP_WARN(fmt, ...) RTSP_LOG_AT(RTSP_LOG_WARN, "[WARN ", fmt, ##__VA_ARGS__)
#define RTSP_INFO(fmt, ...) RTSP_LOG_AT(RTSP_LOG_INFO, "[INFO ", fmt, ##__VA_ARGS__)
#define RTSP_DBG(fmt, ...) RTSP_LOG_AT(RTSP_LOG_DEBUG, "[DEBUG", fmt, ##__VA_ARGS__)

#include "rtsp/rtsp_msg.h"

#include "rtsp/rtsp_log.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

struct table_row {
    int value;
    const char* text;
};

const table_row kMethods[] = {
    {RTSP_MSG_METHOD_OPTIONS, "OPTIONS"},   {RTSP_MSG_METHOD_DESCRIBE, "DESCRIBE"},
    {RTSP_MSG_METHOD_SETUP, "SETUP"},       {RTSP_MSG_METHOD_PLAY, "PLAY"},
    {RTSP_MSG_METHOD_RECORD, "RECORD"},     {RTSP_MSG_METHOD_PAUSE, "PAUSE"},
    {RTSP_MSG_METHOD_TEARDOWN, "TEARDOWN"}, {RTSP_MSG_METHOD_ANNOUNCE, "ANNOUNCE"},
    {RTSP_MSG_METHOD_SET_PARAMETER, "SET_PARAMETER"}, {RTSP_MSG_METHOD_GET_PARAMETER, "GET_PARAMETER"},
    {RTSP_MSG_METHOD_REDIRECT, "REDIRECT"}, {RTSP_MSG_METHOD_BUTT, ""},
};
const table_row kSchemes[] = {
    {RTSP_MSG_URI_SCHEME_RTSPU, "rtspu:"}, {RTSP_MSG_URI_SCHEME_RTSP, "rtsp:"}, {RTSP_MSG_URI_SCHEME_BUTT, ""}};
const table_row kVersions[] = {{RTSP_MSG_VERSION_1_0, "RTSP/1.0"}, {RTSP_MSG_VERSION_BUTT, ""}};
const table_row kTransports[] = {{RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP, "RTP/AVP/TCP"},
                                 {RTSP_MSG_TRANSPORT_TYPE_RTP_AVP, "RTP/AVP"},
                                 {RTSP_MSG_TRANSPORT_TYPE_BUTT, ""}};
const table_row kContentTypes[] = {{RTSP_MSG_CONTENT_TYPE_SDP, "application/sdp"},
                                   {RTSP_MSG_CONTENT_TYPE_RTSL, "application/rtsl"},
                                   {RTSP_MSG_CONTENT_TYPE_MHEG, "application/mheg"},
                                   {RTSP_MSG_CONTENT_TYPE_BUTT, ""}};
const table_row kStatus[] = {
    {100, "Continue"}, {200, "OK"}, {201, "Created"}, {250, "Low on Storage Space"},
    {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Moved Temporarily"}, {303, "See Other"},
    {305, "Use Proxy"}, {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"},
    {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {410, "Gone"}, {411, "Length Required"},
    {412, "Precondition Failed"}, {413, "Request Entity Too Large"}, {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"}, {451, "Invalid parameter"}, {452, "Illegal Conference Identifier"},
    {453, "Not Enough Bandwidth"}, {454, "Session Not Found"}, {455, "Method Not Valid In This State"},
    {456, "Header Field Not Valid"}, {457, "Invalid Range"}, {458, "Parameter Is Read-Only"},
    {459, "Aggregate Operation Not Allowed"}, {460, "Only Aggregate Operation Allowed"},
    {461, "Unsupported Transport"}, {462, "Destination Unreachable"}, {500, "Internal Server Error"},
    {501, "Not Implemented"}, {502, "Bad Gateway"}, {503, "Service Unavailable"}, {504, "Gateway Timeout"},
    {505, "RTSP Version Not Supported"}, {551, "Option not support"},
};

template <size_t N>
int text_to_value(const table_row (&table)[N], const char* text)
{
    for (size_t i = 0; i + 1 < N; ++i) {
        if (std::strncmp(text, table[i].text, std::strlen(table[i].text)) == 0)
            return table[i].value;
    }
    return table[N - 1].value;
}

template <size_t N>
const char* value_to_text(const table_row (&table)[N], int value)
{
    for (size_t i = 0; i + 1 < N; ++i) {
        if (table[i].value == value)
            return table[i].text;
    }
    return table[N - 1].text;
}

// Finds `needle` in data[0..len); index or -1. Works on bytes, NULs included.
int find_bytes(const char* data, int len, const char* needle)
{
    const int n = int(std::strlen(needle));
    for (int i = 0; i + n <= len; ++i) {
        if (std::memcmp(data + i, needle, size_t(n)) == 0)
            return i;
    }
    return -1;
}

// Copies the line starting at data[pos] (up to CR LF, at most 255 characters
// kept) into line; returns the position after its CR LF, or -1 without CR LF.
int next_line(const char* data, int len, int pos, char* line, int line_size)
{
    const int end = find_bytes(data + pos, len - pos, "\r\n");
    if (end < 0)
        return -1;
    const int keep = end < line_size - 1 ? end : line_size - 1;
    std::memcpy(line, data + pos, size_t(keep));
    line[keep] = '\0';
    return pos + end + 2;
}

// Unsigned decimal as scanf's "%u" reads it, refusing signs and overflow.
bool scan_uint(const char* s, uint32_t* out, const char** end = nullptr)
{
    while (*s == ' ' || *s == '\t')
        ++s;
    if (*s == '+')
        ++s;
    if (!std::isdigit(static_cast<unsigned char>(*s)))
        return false;
    unsigned long long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*s))) {
        v = v * 10 + unsigned(*s - '0');
        if (v > 0xffffffffULL)
            return false;
        ++s;
    }
    *out = uint32_t(v);
    if (end)
        *end = s;
    return true;
}

// Up to 8 hexadecimal digits, as "%08X" reads them.
bool scan_hex32(const char* s, uint32_t* out)
{
    while (*s == ' ' || *s == '\t')
        ++s;
    uint32_t v = 0;
    int digits = 0;
    while (digits < 8 && std::isxdigit(static_cast<unsigned char>(*s))) {
        const char c = *s++;
        v = v * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10));
        ++digits;
    }
    if (!digits)
        return false;
    *out = v;
    return true;
}

// The value after "Name:" and blanks, printable characters only.
void copy_text_value(const char* line, char* out, int size)
{
    const char* p = std::strchr(line, ':');
    p = p ? p + 1 : line;
    while (*p == ' ' || *p == '\t')
        ++p;
    int n = 0;
    while (n < size - 1 && std::isprint(static_cast<unsigned char>(p[n]))) {
        out[n] = p[n];
        ++n;
    }
    out[n] = '\0';
}

template <typename T>
T* ensure(T*& slot, const char* type_name)
{
    if (!slot) {
        slot = static_cast<T*>(std::calloc(1, sizeof(T)));
        if (!slot)
            RTSP_ERR("rtsp_mem_alloc for %s failed\n", type_name);
    }
    return slot;
}

int parse_cseq(rtsp_msg_s* msg, const char* line)
{
    uint32_t v = 0;
    if (!scan_uint(line + std::strlen("CSeq:"), &v)) {
        RTSP_ERR("parse %s failed. line: %s\n", "cseq", line);
        return -1;
    }
    if (!ensure(msg->hdrs.cseq, "rtsp_msg_cseq_s"))
        return -1;
    msg->hdrs.cseq->cseq = v;
    return 0;
}

int parse_date(rtsp_msg_s* msg, const char* line)
{
    if (!ensure(msg->hdrs.date, "rtsp_msg_date_s"))
        return -1;
    copy_text_value(line, msg->hdrs.date->http_date, sizeof(msg->hdrs.date->http_date));
    return 0;
}

int parse_session(rtsp_msg_s* msg, const char* line)
{
    uint32_t v = 0;
    if (!scan_hex32(line + std::strlen("Session:"), &v)) {
        RTSP_ERR("parse %s failed. line: %s\n", "session", line);
        return -1;
    }
    if (!ensure(msg->hdrs.session, "rtsp_msg_session_s"))
        return -1;
    msg->hdrs.session->session = v;
    return 0;
}

int parse_transport(rtsp_msg_s* msg, const char* line)
{
    const char* p = std::strstr(line, "RTP/AVP");
    if (!p) {
        RTSP_ERR("parse transport failed. line: %s\n", line);
        return -1;
    }
    rtsp_msg_transport_s t{};
    t.type = rtsp_msg_transport_type_e(text_to_value(kTransports, p));
    uint32_t v = 0;
    if ((p = std::strstr(line, "ssrc=")) && scan_hex32(p + 5, &v)) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_SSRC;
        t.ssrc = v;
    }
    if (std::strstr(line, "unicast"))
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_UNICAST;
    if (std::strstr(line, "multicast"))
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_MULTICAST;
    if ((p = std::strstr(line, "client_port=")) && scan_uint(p + 12, &v)) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT;
        t.client_port = uint16_t(v);
    }
    if ((p = std::strstr(line, "server_port=")) && scan_uint(p + 12, &v)) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_SERVER_PORT;
        t.server_port = uint16_t(v);
    }
    if ((p = std::strstr(line, "interleaved=")) && scan_uint(p + 12, &v)) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED;
        t.interleaved = uint8_t(v);
    }
    if (!ensure(msg->hdrs.transport, "rtsp_msg_transport_s"))
        return -1;
    *msg->hdrs.transport = t;
    return 0;
}

int parse_accepted_only(rtsp_msg_s*, const char*)
{
    return 0;
}

int parse_accept(rtsp_msg_s* msg, const char* line)
{
    uint32_t mask = 0;
    for (const table_row& r : kContentTypes) {
        if (r.text[0] && std::strstr(line + std::strlen("Accept:"), r.text))
            mask |= 1u << r.value;
    }
    if (!ensure(msg->hdrs.accept, "rtsp_msg_accept_s"))
        return -1;
    msg->hdrs.accept->accept = mask;
    return 0;
}

int parse_user_agent(rtsp_msg_s* msg, const char* line)
{
    if (!ensure(msg->hdrs.user_agent, "rtsp_msg_user_agent_s"))
        return -1;
    copy_text_value(line, msg->hdrs.user_agent->user_agent, sizeof(msg->hdrs.user_agent->user_agent));
    return 0;
}

int parse_public(rtsp_msg_s* msg, const char* line)
{
    uint32_t mask = 0;
    for (const table_row& r : kMethods) {
        if (r.text[0] && std::strstr(line + std::strlen("Public:"), r.text))
            mask |= 1u << r.value;
    }
    if (!ensure(msg->hdrs.public_, "rtsp_msg_public_s"))
        return -1;
    msg->hdrs.public_->public_ = mask;
    return 0;
}

int parse_server(rtsp_msg_s* msg, const char* line)
{
    if (!ensure(msg->hdrs.server, "rtsp_msg_server_s"))
        return -1;
    copy_text_value(line, msg->hdrs.server->server, sizeof(msg->hdrs.server->server));
    return 0;
}

int parse_content_type(rtsp_msg_s* msg, const char* line)
{
    const char* value = line + std::strlen("Content-Type:");
    for (const table_row& r : kContentTypes) {
        if (r.text[0] && std::strstr(value, r.text)) {
            if (!ensure(msg->hdrs.content_type, "rtsp_msg_content_type_s"))
                return -1;
            msg->hdrs.content_type->type = rtsp_msg_content_type_e(r.value);
            return 0;
        }
    }
    RTSP_ERR("parse %s failed. line: %s\n", "content_type", line);
    return -1;
}

int parse_content_length(rtsp_msg_s* msg, const char* line)
{
    uint32_t v = 0;
    if (!scan_uint(line + std::strlen("Content-Length:"), &v)) {
        RTSP_ERR("parse %s failed. line: %s\n", "content_length", line);
        return -1;
    }
    if (!ensure(msg->hdrs.content_length, "rtsp_msg_content_length_s"))
        return -1;
    msg->hdrs.content_length->length = v;
    return 0;
}

struct header_parser {
    const char* prefix;
    int (*parse)(rtsp_msg_s*, const char*);
};

const header_parser kHeaderParsers[] = {
    {"CSeq: ", parse_cseq},
    {"Date: ", parse_date},
    {"Session: ", parse_session},
    {"Transport: ", parse_transport},
    {"Range: ", parse_accepted_only},
    {"Accept: ", parse_accept},
    {"Authorization: ", parse_accepted_only},
    {"User-Agent: ", parse_user_agent},
    {"Public: ", parse_public},
    {"RTP-Info: ", parse_accepted_only},
    {"Server: ", parse_server},
    {"Content-Type: ", parse_content_type},
    {"Content-Length: ", parse_content_length},
};

// Builder: appends formatted text; false once fewer than 2 bytes remain.
struct writer {
    char* buf;
    int size;
    int pos;
    bool full;

    bool put(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (full)
            return false;
        va_list ap;
        va_start(ap, fmt);
        const int n = std::vsnprintf(buf + pos, size_t(size - pos), fmt, ap);
        va_end(ap);
        if (n < 0) {
            full = true;
            return false;
        }
        pos = (pos + n < size) ? pos + n : size - 1;
        if (size - pos < 2)
            full = true;
        return !full;
    }
};

}  // namespace

void rtsp_msg_init(rtsp_msg_s* msg)
{
    if (msg)
        std::memset(msg, 0, sizeof(*msg));
}

void rtsp_msg_free(rtsp_msg_s* msg)
{
    if (!msg)
        return;
    rtsp_msg_hdr_s& h = msg->hdrs;
    std::free(h.cseq);
    std::free(h.date);
    std::free(h.session);
    std::free(h.transport);
    std::free(h.range);
    std::free(h.accept);
    std::free(h.auth);
    std::free(h.user_agent);
    std::free(h.public_);
    if (h.rtp_info) {
        for (int i = 0; i < h.rtp_info->ninfos; ++i)
            std::free(h.rtp_info->info_array[i]);
        std::free(h.rtp_info->info_array);
        std::free(h.rtp_info);
    }
    std::free(h.server);
    std::free(h.content_length);
    std::free(h.content_type);
    std::free(msg->body);
    std::memset(msg, 0, sizeof(*msg));
}

int rtsp_msg_frame_size(const void* data, int len)
{
    const char* d = static_cast<const char*>(data);
    if (!d || len <= 0)
        return 0;
    const int first_crlf = find_bytes(d, len, "\r\n");
    if (first_crlf < 0)
        return len <= RTSP_MSG_MAX_LINE ? 0 : -1;
    const int empty_line = find_bytes(d, len, "\r\n\r\n");
    if (empty_line < 0) {
        if (len < RTSP_MSG_MAX_SIZE)
            return 0;
        RTSP_ERR("header of more than %d bytes\n", RTSP_MSG_MAX_SIZE);
        return -1;
    }
    const int header_size = empty_line + 4;
    if (header_size > RTSP_MSG_MAX_SIZE) {
        RTSP_ERR("header of %d bytes exceeds %d\n", header_size, RTSP_MSG_MAX_SIZE);
        return -1;
    }
    long content_length = 0;
    char line[RTSP_MSG_MAX_LINE];
    int pos = next_line(d, header_size, 0, line, sizeof(line));
    while (pos >= 0 && pos < header_size - 2) {
        pos = next_line(d, header_size, pos, line, sizeof(line));
        if (std::strncmp(line, "Content-Length", 14) != 0)
            continue;
        // As "Content-Length: %d" reads it, refusing negative or too large values.
        const char* p = line + 14;
        char* end = nullptr;
        errno = 0;
        long v = -1;
        if (*p == ':') {
            ++p;
            while (std::isspace(static_cast<unsigned char>(*p)))
                ++p;
            if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '+')
                v = std::strtol(p, &end, 10);
        }
        if (!end || end == p || errno == ERANGE) {
            RTSP_ERR("parse Content-Length failed. line: %s\n", line);
            return -1;
        }
        if (v < 0 || v > RTSP_MSG_MAX_SIZE) {
            RTSP_ERR("invalid Content-Length %ld. line: %s\n", v, line);
            return -1;
        }
        content_length = v;
    }
    const long total = header_size + content_length;
    if (total > RTSP_MSG_MAX_SIZE) {
        RTSP_ERR("message of %ld bytes exceeds %d\n", total, RTSP_MSG_MAX_SIZE);
        return -1;
    }
    return len < total ? 0 : int(total);
}

int rtsp_msg_parse_uri(const char* line, rtsp_msg_uri_s* uri)
{
    if (!line || !uri)
        return -1;
    const char* p = line;
    const int scheme = text_to_value(kSchemes, p);
    if (scheme == RTSP_MSG_URI_SCHEME_BUTT) {
        RTSP_ERR("parse scheme failed. line: %s\n", line);
        return -1;
    }
    uri->scheme = rtsp_msg_uri_scheme_e(scheme);
    while ((*p >= 'a' && *p <= 'z') || *p == ':')
        ++p;
    if (p[0] != '/' || p[1] != '/') {
        RTSP_ERR("parse ip failed. line: %s\n", line);
        return -1;
    }
    p += 2;
    int n = 0;
    while (*p && *p != ':' && *p != '/' && *p != ' ') {
        if (n < int(sizeof(uri->ipaddr)) - 1)
            uri->ipaddr[n++] = *p;
        ++p;
    }
    uri->ipaddr[n] = '\0';
    uri->port = 0;
    if (*p == ':') {
        uint32_t port = 0;
        const char* end = nullptr;
        if (!scan_uint(p + 1, &port, &end) || port > 65535) {
            RTSP_ERR("parse uri port failed. line: %s\n", line);
            return -1;
        }
        uri->port = uint16_t(port);
        p = end;
    }
    n = 0;
    uri->abspath[0] = '\0';
    if (*p == '/') {
        while (*p && *p != ' ') {
            if (n < int(sizeof(uri->abspath)) - 1)
                uri->abspath[n++] = *p;
            ++p;
        }
        uri->abspath[n] = '\0';
    }
    return int(p - line);
}

int rtsp_msg_build_uri(const rtsp_msg_uri_s* uri, char* buf, int size)
{
    if (!uri || !buf || size <= 0)
        return -1;
    const char* scheme = value_to_text(kSchemes, uri->scheme);
    int n;
    if (uri->port)
        n = std::snprintf(buf, size_t(size), "%s//%s:%u%s", scheme, uri->ipaddr, unsigned(uri->port), uri->abspath);
    else
        n = std::snprintf(buf, size_t(size), "%s//%s%s", scheme, uri->ipaddr, uri->abspath);
    return (n < 0) ? -1 : (n < size ? n : size - 1);
}

int rtsp_msg_parse_from_array(rtsp_msg_s* msg, const void* data, int len)
{
    if (!msg)
        return -1;
    rtsp_msg_init(msg);
    const char* d = static_cast<const char*>(data);
    if (!d || len <= 0)
        return 0;

    if (d[0] == '$') {
        if (len < 4)
            return 0;
        const int length = (uint8_t(d[2]) << 8) | uint8_t(d[3]);
        if (length > RTSP_MSG_MAX_INTERLEAVED) {
            RTSP_ERR("interleaved frame of %d bytes exceeds %d\n", length, RTSP_MSG_MAX_INTERLEAVED);
            return -1;
        }
        if (len < length + 4)
            return 0;
        msg->type = RTSP_MSG_TYPE_INTERLEAVED;
        msg->hdrs.startline.interline.channel = uint8_t(d[1]);
        msg->hdrs.startline.interline.length = uint16_t(length);
        if (length > 0) {
            msg->body = std::malloc(size_t(length));
            if (!msg->body) {
                RTSP_ERR("set body failed\n");
                return -1;
            }
            std::memcpy(msg->body, d + 4, size_t(length));
        }
        return length + 4;
    }

    RTSP_DBG("\n%.*s", len, d);
    const int frame_size = rtsp_msg_frame_size(d, len);
    if (frame_size <= 0)
        return frame_size;

    char line[RTSP_MSG_MAX_LINE];
    int pos = next_line(d, frame_size, 0, line, sizeof(line));
    if (pos < 0)
        return -1;

    const int method = text_to_value(kMethods, line);
    if (method != RTSP_MSG_METHOD_BUTT) {
        msg->type = RTSP_MSG_TYPE_REQUEST;
        msg->hdrs.startline.reqline.method = rtsp_msg_method_e(method);
        const char* p = std::strchr(line, ' ');
        if (!p) {
            RTSP_ERR("parse startline failed: %s\n", line);
            rtsp_msg_free(msg);
            return -1;
        }
        while (*p == ' ')
            ++p;
        const int used = rtsp_msg_parse_uri(p, &msg->hdrs.startline.reqline.uri);
        if (used < 0) {
            rtsp_msg_free(msg);
            return -1;
        }
        p += used;
        while (*p && *p != ' ')
            ++p;
        while (*p == ' ')
            ++p;
        const int version = text_to_value(kVersions, p);
        if (version == RTSP_MSG_VERSION_BUTT) {
            RTSP_ERR("parse version failed. line: %s\n", line);
            rtsp_msg_free(msg);
            return -1;
        }
        msg->hdrs.startline.reqline.version = rtsp_msg_version_e(version);
    } else if (text_to_value(kVersions, line) != RTSP_MSG_VERSION_BUTT) {
        msg->type = RTSP_MSG_TYPE_RESPONSE;
        msg->hdrs.startline.resline.version = RTSP_MSG_VERSION_1_0;
        const char* p = std::strchr(line, ' ');
        uint32_t status = 0;
        if (!p || !scan_uint(p, &status)) {
            RTSP_ERR("parse status-code failed. line: %s\n", line);
            rtsp_msg_free(msg);
            return -1;
        }
        msg->hdrs.startline.resline.status = status;
    } else {
        RTSP_ERR("parse startline failed: %s\n", line);
        rtsp_msg_free(msg);
        return -1;
    }

    for (;;) {
        pos = next_line(d, frame_size, pos, line, sizeof(line));
        if (pos < 0) {
            rtsp_msg_free(msg);
            return -1;
        }
        if (line[0] == '\0')
            break;  // the empty line
        const header_parser* hp = nullptr;
        for (const header_parser& candidate : kHeaderParsers) {
            if (std::strncmp(line, candidate.prefix, std::strlen(candidate.prefix)) == 0) {
                hp = &candidate;
                break;
            }
        }
        if (!hp) {
            RTSP_WARN("unknown line: %s\n", line);
            continue;
        }
        if (hp->parse(msg, line) < 0) {
            RTSP_ERR("parse failed. line: %s\n", line);
            rtsp_msg_free(msg);
            return -1;
        }
    }

    int used = pos;
    if (msg->hdrs.content_length && msg->hdrs.content_length->length > 0) {
        const uint32_t body_len = msg->hdrs.content_length->length;
        if (body_len > uint32_t(frame_size - pos)) {
            RTSP_ERR("set body failed\n");
            rtsp_msg_free(msg);
            return -1;
        }
        msg->body = std::malloc(body_len);
        if (!msg->body) {
            RTSP_ERR("set body failed\n");
            rtsp_msg_free(msg);
            return -1;
        }
        std::memcpy(msg->body, d + pos, body_len);
        used += int(body_len);
    }
    if (used != frame_size)
        RTSP_WARN("frame size is %d. but real used %d\n", frame_size, used);
    return frame_size;
}

int rtsp_msg_build_to_array(const rtsp_msg_s* msg, void* buf, int size)
{
    if (!msg || !buf || size <= 0)
        return -1;
    char* out = static_cast<char*>(buf);
    const rtsp_msg_hdr_s& h = msg->hdrs;

    if (msg->type == RTSP_MSG_TYPE_INTERLEAVED) {
        const int length = h.startline.interline.length;
        uint8_t head[4] = {'$', h.startline.interline.channel, uint8_t(length >> 8), uint8_t(length)};
        int n = size < 4 ? size : 4;
        std::memcpy(out, head, size_t(n));
        int body = length < size - n ? length : size - n;
        if (body > 0 && msg->body)
            std::memcpy(out + n, msg->body, size_t(body));
        else
            body = 0;
        return n + body;
    }

    writer w{out, size, 0, size < 2};
    out[0] = '\0';
    if (msg->type == RTSP_MSG_TYPE_REQUEST) {
        char uri[128];
        rtsp_msg_build_uri(&h.startline.reqline.uri, uri, sizeof(uri));
        w.put("%s ", rtsp_msg_method_text(h.startline.reqline.method));
        w.put("%s", uri);
        w.put(" %s\r\n", value_to_text(kVersions, h.startline.reqline.version));
    } else if (msg->type == RTSP_MSG_TYPE_RESPONSE) {
        w.put("%s %u %s\r\n", value_to_text(kVersions, h.startline.resline.version), h.startline.resline.status,
              rtsp_msg_status_phrase(int(h.startline.resline.status)));
    } else {
        return -1;
    }
    if (h.cseq)
        w.put("CSeq: %u\r\n", h.cseq->cseq);
    if (h.date)
        w.put("Date: %s\r\n", h.date->http_date);
    if (h.session)
        w.put("Session: %08X\r\n", h.session->session);
    if (h.transport) {
        const rtsp_msg_transport_s& t = *h.transport;
        w.put("Transport: %s", value_to_text(kTransports, t.type));
        if (t.flags & RTSP_MSG_TRANSPORT_FLAG_SSRC)
            w.put(";ssrc=%08X", t.ssrc);
        if (t.flags & RTSP_MSG_TRANSPORT_FLAG_MULTICAST)
            w.put(";multicast");
        else if (t.flags & RTSP_MSG_TRANSPORT_FLAG_UNICAST)
            w.put(";unicast");
        if (t.flags & RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT)
            w.put(";client_port=%u-%u", unsigned(t.client_port), unsigned(t.client_port) + 1);
        if (t.flags & RTSP_MSG_TRANSPORT_FLAG_SERVER_PORT)
            w.put(";server_port=%u-%u", unsigned(t.server_port), unsigned(t.server_port) + 1);
        if (t.flags & RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED)
            w.put(";interleaved=%u-%u", unsigned(t.interleaved), unsigned(t.interleaved) + 1);
        w.put("\r\n");
    }
    if (h.accept) {
        w.put("Accept: ");
        bool first = true;
        for (const table_row& r : kContentTypes) {
            if (r.text[0] && (h.accept->accept & (1u << r.value))) {
                w.put("%s%s", first ? "" : ", ", r.text);
                first = false;
            }
        }
        w.put("\r\n");
    }
    if (h.user_agent)
        w.put("User-Agent: %s\r\n", h.user_agent->user_agent);
    if (h.public_) {
        w.put("Public: ");
        bool first = true;
        for (const table_row& r : kMethods) {
            if (r.text[0] && (h.public_->public_ & (1u << r.value))) {
                w.put("%s%s", first ? "" : ", ", r.text);
                first = false;
            }
        }
        w.put("\r\n");
    }
    if (h.server)
        w.put("Server: %s\r\n", h.server->server);
    if (h.content_type)
        w.put("Content-Type: %s\r\n", value_to_text(kContentTypes, h.content_type->type));
    if (h.content_length)
        w.put("Content-Length: %u\r\n", h.content_length->length);
    w.put("\r\n");
    if (!w.full && h.content_length && msg->body) {
        int body = int(h.content_length->length);
        if (body > w.size - w.pos - 1)
            body = w.size - w.pos - 1;
        if (body > 0) {
            std::memcpy(out + w.pos, msg->body, size_t(body));
            w.pos += body;
        }
    }
    RTSP_DBG("\n%.*s", w.pos, out);
    return w.pos;
}

int rtsp_msg_set_request(rtsp_msg_s* msg, rtsp_msg_method_e mt, const char* ipaddr, const char* abspath)
{
    if (!msg)
        return -1;
    msg->type = RTSP_MSG_TYPE_REQUEST;
    rtsp_msg_request_line_s& r = msg->hdrs.startline.reqline;
    r.method = mt;
    r.uri.scheme = RTSP_MSG_URI_SCHEME_RTSP;
    r.uri.port = 0;
    std::snprintf(r.uri.ipaddr, sizeof(r.uri.ipaddr), "%s", ipaddr ? ipaddr : "");
    std::snprintf(r.uri.abspath, sizeof(r.uri.abspath), "%s", abspath ? abspath : "");
    r.version = RTSP_MSG_VERSION_1_0;
    return 0;
}

int rtsp_msg_set_response(rtsp_msg_s* msg, int status)
{
    if (!msg)
        return -1;
    msg->type = RTSP_MSG_TYPE_RESPONSE;
    msg->hdrs.startline.resline.version = RTSP_MSG_VERSION_1_0;
    msg->hdrs.startline.resline.status = uint32_t(status);
    return 0;
}

int rtsp_msg_set_cseq(rtsp_msg_s* msg, uint32_t cseq)
{
    if (!msg || !ensure(msg->hdrs.cseq, "rtsp_msg_cseq_s"))
        return -1;
    msg->hdrs.cseq->cseq = cseq;
    return 0;
}

int rtsp_msg_set_session(rtsp_msg_s* msg, uint32_t session)
{
    if (!msg || !ensure(msg->hdrs.session, "rtsp_msg_session_s"))
        return -1;
    msg->hdrs.session->session = session;
    return 0;
}

int rtsp_msg_set_date(rtsp_msg_s* msg, const char* date)
{
    if (!msg || !ensure(msg->hdrs.date, "rtsp_msg_date_s"))
        return -1;
    char now[64] = "";
    if (!date) {
        const time_t t = time(nullptr);
        if (!ctime_r(&t, now))
            now[0] = '\0';
        date = now;
    }
    char* out = msg->hdrs.date->http_date;
    int n = 0;
    while (n < int(sizeof(msg->hdrs.date->http_date)) - 1 && std::isprint(static_cast<unsigned char>(date[n]))) {
        out[n] = date[n];
        ++n;
    }
    out[n] = '\0';
    return 0;
}

int rtsp_msg_set_transport_udp(rtsp_msg_s* msg, uint32_t ssrc, int client_port, int server_port)
{
    if (!msg || !ensure(msg->hdrs.transport, "rtsp_msg_transport_s"))
        return -1;
    rtsp_msg_transport_s& t = *msg->hdrs.transport;
    t = rtsp_msg_transport_s{};
    t.type = RTSP_MSG_TRANSPORT_TYPE_RTP_AVP;
    t.flags = RTSP_MSG_TRANSPORT_FLAG_SSRC | RTSP_MSG_TRANSPORT_FLAG_UNICAST;
    t.ssrc = ssrc;
    if (client_port >= 0) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT;
        t.client_port = uint16_t(client_port);
    }
    if (server_port >= 0) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_SERVER_PORT;
        t.server_port = uint16_t(server_port);
    }
    return 0;
}

int rtsp_msg_set_transport_tcp(rtsp_msg_s* msg, uint32_t ssrc, int interleaved)
{
    if (!msg || !ensure(msg->hdrs.transport, "rtsp_msg_transport_s"))
        return -1;
    rtsp_msg_transport_s& t = *msg->hdrs.transport;
    t = rtsp_msg_transport_s{};
    t.type = RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP;
    t.flags = RTSP_MSG_TRANSPORT_FLAG_SSRC;
    t.ssrc = ssrc;
    if (interleaved >= 0) {
        t.flags |= RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED;
        t.interleaved = uint8_t(interleaved);
    }
    return 0;
}

int rtsp_msg_set_accept(rtsp_msg_s* msg, uint32_t accept)
{
    if (!msg || !ensure(msg->hdrs.accept, "rtsp_msg_accept_s"))
        return -1;
    msg->hdrs.accept->accept = accept;
    return 0;
}

int rtsp_msg_set_user_agent(rtsp_msg_s* msg, const char* user_agent)
{
    if (!msg || !ensure(msg->hdrs.user_agent, "rtsp_msg_user_agent_s"))
        return -1;
    std::snprintf(msg->hdrs.user_agent->user_agent, sizeof(msg->hdrs.user_agent->user_agent), "%s",
                  user_agent ? user_agent : "rtsp_msg_user_agent");
    return 0;
}

int rtsp_msg_set_public(rtsp_msg_s* msg, uint32_t public_)
{
    if (!msg || !ensure(msg->hdrs.public_, "rtsp_msg_public_s"))
        return -1;
    msg->hdrs.public_->public_ = public_;
    return 0;
}

int rtsp_msg_set_server(rtsp_msg_s* msg, const char* server)
{
    if (!msg || !ensure(msg->hdrs.server, "rtsp_msg_server_s"))
        return -1;
    std::snprintf(msg->hdrs.server->server, sizeof(msg->hdrs.server->server), "%s",
                  server ? server : "rtsp_msg_server");
    return 0;
}

int rtsp_msg_set_content_type(rtsp_msg_s* msg, int type)
{
    if (!msg || !ensure(msg->hdrs.content_type, "rtsp_msg_content_type_s"))
        return -1;
    msg->hdrs.content_type->type = rtsp_msg_content_type_e(type);
    return 0;
}

int rtsp_msg_set_content_length(rtsp_msg_s* msg, int length)
{
    if (!msg || !ensure(msg->hdrs.content_length, "rtsp_msg_content_length_s"))
        return -1;
    msg->hdrs.content_length->length = uint32_t(length);
    return 0;
}

#define RTSP_MSG_GET(field, member, out) \
    do {                                 \
        if (!msg || !msg->hdrs.field)    \
            return -1;                   \
        if (out)                         \
            *(out) = msg->hdrs.field->member; \
        return 0;                        \
    } while (0)

int rtsp_msg_get_cseq(const rtsp_msg_s* msg, uint32_t* cseq) { RTSP_MSG_GET(cseq, cseq, cseq); }
int rtsp_msg_get_session(const rtsp_msg_s* msg, uint32_t* session) { RTSP_MSG_GET(session, session, session); }
int rtsp_msg_get_accept(const rtsp_msg_s* msg, uint32_t* accept) { RTSP_MSG_GET(accept, accept, accept); }
int rtsp_msg_get_public(const rtsp_msg_s* msg, uint32_t* public_) { RTSP_MSG_GET(public_, public_, public_); }

int rtsp_msg_get_content_type(const rtsp_msg_s* msg, int* type)
{
    if (!msg || !msg->hdrs.content_type)
        return -1;
    if (type)
        *type = msg->hdrs.content_type->type;
    return 0;
}

int rtsp_msg_get_content_length(const rtsp_msg_s* msg, int* length)
{
    if (!msg || !msg->hdrs.content_length)
        return -1;
    if (length)
        *length = int(msg->hdrs.content_length->length);
    return 0;
}

static int copy_text(const char* text, char* buf, int len)
{
    if (buf && len > 0)
        std::snprintf(buf, size_t(len), "%s", text);
    return 0;
}

int rtsp_msg_get_date(const rtsp_msg_s* msg, char* date, int len)
{
    return (msg && msg->hdrs.date) ? copy_text(msg->hdrs.date->http_date, date, len) : -1;
}

int rtsp_msg_get_user_agent(const rtsp_msg_s* msg, char* user_agent, int len)
{
    return (msg && msg->hdrs.user_agent) ? copy_text(msg->hdrs.user_agent->user_agent, user_agent, len) : -1;
}

int rtsp_msg_get_server(const rtsp_msg_s* msg, char* server, int len)
{
    return (msg && msg->hdrs.server) ? copy_text(msg->hdrs.server->server, server, len) : -1;
}

uint32_t rtsp_msg_gen_session_id()
{
    static std::atomic<uint32_t> next{0x12345678};
    return next++;
}

const char* rtsp_msg_method_text(int method)
{
    return value_to_text(kMethods, method);
}

const char* rtsp_msg_status_phrase(int status)
{
    for (const table_row& r : kStatus) {
        if (r.value == status)
            return r.text;
    }
    return kStatus[sizeof(kStatus) / sizeof(kStatus[0]) - 1].text;
}

#pragma once
// RTSP 1.0 messages: one model for requests, responses and interleaved
// binary frames, a parser that takes one complete message from the front of
// a byte buffer, a builder, and get/set accessors per header.
//
// The parser is a pure function of its bytes with three outcomes: 0 needs
// more bytes, -1 can never be a message (with the reason logged), n > 0 a
// message that used n bytes. No message may be larger than RTSP_MSG_MAX_SIZE
// bytes: anything that cannot fit is invalid, not incomplete.
#include <cstdint>

enum { RTSP_MSG_MAX_SIZE = 1023 };           // a whole message, body included
enum { RTSP_MSG_MAX_LINE = 256 };            // a start line without CR LF longer than this is invalid
enum { RTSP_MSG_MAX_INTERLEAVED = RTSP_MSG_MAX_SIZE - 4 };

typedef enum {
    RTSP_MSG_TYPE_REQUEST = 0,
    RTSP_MSG_TYPE_RESPONSE,
    RTSP_MSG_TYPE_INTERLEAVED,
    RTSP_MSG_TYPE_BUTT,
} rtsp_msg_type_e;

typedef enum {
    RTSP_MSG_METHOD_OPTIONS = 0,
    RTSP_MSG_METHOD_DESCRIBE,
    RTSP_MSG_METHOD_SETUP,
    RTSP_MSG_METHOD_PLAY,
    RTSP_MSG_METHOD_RECORD,
    RTSP_MSG_METHOD_PAUSE,
    RTSP_MSG_METHOD_TEARDOWN,
    RTSP_MSG_METHOD_ANNOUNCE,
    RTSP_MSG_METHOD_SET_PARAMETER,
    RTSP_MSG_METHOD_GET_PARAMETER,
    RTSP_MSG_METHOD_REDIRECT,
    RTSP_MSG_METHOD_BUTT,
} rtsp_msg_method_e;

typedef enum {
    RTSP_MSG_URI_SCHEME_RTSP = 0,
    RTSP_MSG_URI_SCHEME_RTSPU,
    RTSP_MSG_URI_SCHEME_BUTT,
} rtsp_msg_uri_scheme_e;

typedef enum {
    RTSP_MSG_VERSION_1_0 = 0,
    RTSP_MSG_VERSION_BUTT,
} rtsp_msg_version_e;

typedef enum {
    RTSP_MSG_TRANSPORT_TYPE_RTP_AVP = 0,
    RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP,
    RTSP_MSG_TRANSPORT_TYPE_BUTT,
} rtsp_msg_transport_type_e;

typedef enum {
    RTSP_MSG_CONTENT_TYPE_SDP = 0,
    RTSP_MSG_CONTENT_TYPE_RTSL,
    RTSP_MSG_CONTENT_TYPE_MHEG,
    RTSP_MSG_CONTENT_TYPE_BUTT,
} rtsp_msg_content_type_e;

typedef struct {
    rtsp_msg_uri_scheme_e scheme;
    uint16_t port;  // 0: none given
    char ipaddr[32];
    char abspath[64];
} rtsp_msg_uri_s;

typedef struct {
    rtsp_msg_method_e method;
    rtsp_msg_uri_s uri;
    rtsp_msg_version_e version;
} rtsp_msg_request_line_s;

typedef struct {
    rtsp_msg_version_e version;
    uint32_t status;
} rtsp_msg_response_line_s;

typedef struct {
    uint8_t channel;
    uint16_t length;
    uint8_t reserved;
} rtsp_msg_interleaved_line_s;

typedef struct { uint32_t cseq; } rtsp_msg_cseq_s;
typedef struct { char http_date[32]; } rtsp_msg_date_s;
typedef struct { uint32_t session; } rtsp_msg_session_s;

enum {
    RTSP_MSG_TRANSPORT_FLAG_SSRC = 1,
    RTSP_MSG_TRANSPORT_FLAG_UNICAST = 2,
    RTSP_MSG_TRANSPORT_FLAG_MULTICAST = 4,
    RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT = 8,
    RTSP_MSG_TRANSPORT_FLAG_SERVER_PORT = 16,
    RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED = 32,
};

typedef struct {
    rtsp_msg_transport_type_e type;
    uint32_t flags;
    uint32_t ssrc;
    uint16_t client_port;
    uint16_t server_port;
    uint8_t interleaved;
} rtsp_msg_transport_s;

typedef enum { RTSP_MSG_TIME_TYPE_SMPTE = 0, RTSP_MSG_TIME_TYPE_NPT, RTSP_MSG_TIME_TYPE_UTC } rtsp_msg_time_type_e;
typedef struct {
    rtsp_msg_time_type_e type;
    uint32_t start[2];
    uint32_t end[2];
} rtsp_msg_range_s;
typedef struct { uint32_t accept; } rtsp_msg_accept_s;              // bit n: content type n
typedef struct { char authorization[128]; } rtsp_msg_authorization_s;
typedef struct { char user_agent[64]; } rtsp_msg_user_agent_s;
typedef struct { uint32_t public_; } rtsp_msg_public_s;              // bit n: method n
typedef struct {
    rtsp_msg_uri_s url;
    uint32_t isseq;
    uint32_t seq;
} rtsp_msg_rtp_subinfo_s;
typedef struct {
    int ninfos;
    rtsp_msg_rtp_subinfo_s** info_array;
} rtsp_msg_rtp_info_s;
typedef struct { char server[64]; } rtsp_msg_server_s;
typedef struct { uint32_t length; } rtsp_msg_content_length_s;
typedef struct { rtsp_msg_content_type_e type; } rtsp_msg_content_type_s;

typedef struct {
    union {
        rtsp_msg_request_line_s reqline;
        rtsp_msg_response_line_s resline;
        rtsp_msg_interleaved_line_s interline;
    } startline;
    rtsp_msg_cseq_s* cseq;
    rtsp_msg_date_s* date;
    rtsp_msg_session_s* session;
    rtsp_msg_transport_s* transport;
    rtsp_msg_range_s* range;
    rtsp_msg_accept_s* accept;
    rtsp_msg_authorization_s* auth;
    rtsp_msg_user_agent_s* user_agent;
    rtsp_msg_public_s* public_;
    rtsp_msg_rtp_info_s* rtp_info;
    rtsp_msg_server_s* server;
    rtsp_msg_content_length_s* content_length;
    rtsp_msg_content_type_s* content_type;
} rtsp_msg_hdr_s;

typedef struct {
    rtsp_msg_type_e type;
    rtsp_msg_hdr_s hdrs;
    void* body;  // owned: content_length bytes, or an interleaved frame's payload
} rtsp_msg_s;

void rtsp_msg_init(rtsp_msg_s* msg);
void rtsp_msg_free(rtsp_msg_s* msg);

// Size of the first complete message in data[0..len), 0 when more bytes are
// needed, -1 when the data cannot be the start of a message.
int rtsp_msg_frame_size(const void* data, int len);
// Parses the first message of data[0..len) into msg: bytes used (> 0), 0
// when incomplete, -1 when invalid (msg is then freed). data need not be
// NUL-terminated.
int rtsp_msg_parse_from_array(rtsp_msg_s* msg, const void* data, int len);
// Writes msg into buf; bytes written, or -1.
int rtsp_msg_build_to_array(const rtsp_msg_s* msg, void* buf, int size);

int rtsp_msg_set_request(rtsp_msg_s* msg, rtsp_msg_method_e mt, const char* ipaddr, const char* abspath);
int rtsp_msg_set_response(rtsp_msg_s* msg, int status);
int rtsp_msg_set_cseq(rtsp_msg_s* msg, uint32_t cseq);
int rtsp_msg_set_session(rtsp_msg_s* msg, uint32_t session);
int rtsp_msg_set_date(rtsp_msg_s* msg, const char* date);  // null: now, in ctime's form
int rtsp_msg_set_transport_udp(rtsp_msg_s* msg, uint32_t ssrc, int client_port, int server_port);
int rtsp_msg_set_transport_tcp(rtsp_msg_s* msg, uint32_t ssrc, int interleaved);
int rtsp_msg_set_accept(rtsp_msg_s* msg, uint32_t accept);
int rtsp_msg_set_user_agent(rtsp_msg_s* msg, const char* user_agent);
int rtsp_msg_set_public(rtsp_msg_s* msg, uint32_t public_);
int rtsp_msg_set_server(rtsp_msg_s* msg, const char* server);
int rtsp_msg_set_content_type(rtsp_msg_s* msg, int type);
int rtsp_msg_set_content_length(rtsp_msg_s* msg, int length);

// 0 and the value when the header is present, -1 when absent.
int rtsp_msg_get_cseq(const rtsp_msg_s* msg, uint32_t* cseq);
int rtsp_msg_get_session(const rtsp_msg_s* msg, uint32_t* session);
int rtsp_msg_get_date(const rtsp_msg_s* msg, char* date, int len);
int rtsp_msg_get_accept(const rtsp_msg_s* msg, uint32_t* accept);
int rtsp_msg_get_user_agent(const rtsp_msg_s* msg, char* user_agent, int len);
int rtsp_msg_get_public(const rtsp_msg_s* msg, uint32_t* public_);
int rtsp_msg_get_server(const rtsp_msg_s* msg, char* server, int len);
int rtsp_msg_get_content_type(const rtsp_msg_s* msg, int* type);
int rtsp_msg_get_content_length(const rtsp_msg_s* msg, int* length);

// The next session id: a process-wide counter from 0x12345678.
uint32_t rtsp_msg_gen_session_id();

// Parses "scheme://host[:port][/path]" at the start of `line`; characters
// used, or -1.
int rtsp_msg_parse_uri(const char* line, rtsp_msg_uri_s* uri);
int rtsp_msg_build_uri(const rtsp_msg_uri_s* uri, char* buf, int size);

// Table look-ups (exposed for the server and the tests).
const char* rtsp_msg_method_text(int method);
const char* rtsp_msg_status_phrase(int status);

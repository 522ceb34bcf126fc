#include "rtsp/stream_queue.h"

#include "rtsp/rtsp_log.h"

#include <cstdlib>

struct stream_queue {
    int pktsiz;
    int nbpkts;
    int head;
    int tail;
    int* pktlen;
    char* pkts;
};

stream_queue* streamq_alloc(int pktsiz, int nbpkts)
{
    if (pktsiz <= 0 || nbpkts <= 0)
        return nullptr;
    // One block: the header, the lengths, then the slots.
    const size_t bytes = sizeof(stream_queue) + sizeof(int) * size_t(nbpkts) + size_t(pktsiz) * size_t(nbpkts);
    auto* q = static_cast<stream_queue*>(std::calloc(1, bytes));
    if (!q) {
        RTSP_ERR("alloc memory failed for stream_queue\n");
        return nullptr;
    }
    q->pktsiz = pktsiz;
    q->nbpkts = nbpkts;
    q->pktlen = reinterpret_cast<int*>(q + 1);
    q->pkts = reinterpret_cast<char*>(q->pktlen + nbpkts);
    return q;
}

void streamq_free(stream_queue* q)
{
    std::free(q);
}

int streamq_query(stream_queue* q, int index, char** ppacket, int** pplen)
{
    if (!q || index < 0 || index >= q->nbpkts)
        return -1;
    if (ppacket)
        *ppacket = q->pkts + size_t(index) * size_t(q->pktsiz);
    if (pplen)
        *pplen = &q->pktlen[index];
    return 0;
}

int streamq_inused(stream_queue* q, int index)
{
    if (!q)
        return -1;
    if (q->head <= q->tail)
        return (index >= q->head && index < q->tail) ? 1 : 0;
    return (index >= q->head || index < q->tail) ? 1 : 0;
}

int streamq_next(stream_queue* q, int index)
{
    if (!q)
        return -1;
    return (index + 1) % q->nbpkts;
}

int streamq_head(stream_queue* q)
{
    return q ? q->head : -1;
}

int streamq_tail(stream_queue* q)
{
    return q ? q->tail : -1;
}

int streamq_push(stream_queue* q)
{
    if (!q)
        return -1;
    const int next = streamq_next(q, q->tail);
    if (next == q->head)
        return -1;
    q->tail = next;
    return q->tail;
}

int streamq_pop(stream_queue* q)
{
    if (!q || q->head == q->tail)
        return -1;
    q->head = streamq_next(q, q->head);
    return q->head;
}

int streamq_size(stream_queue* q)
{
    return q ? q->nbpkts : -1;
}

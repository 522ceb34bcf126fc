#pragma once
// A fixed ring of equal-sized packet slots, written in place by the
// packetiser and read by every viewer at its own position. Empty when
// head == tail; full when the slot after the tail is the head, so a ring of
// n slots holds at most n - 1 packets. Every operation returns -1 for a null
// queue.
struct stream_queue;

stream_queue* streamq_alloc(int pktsiz, int nbpkts);  // null for sizes < 1 or no memory
void streamq_free(stream_queue* q);
// The slot's storage and the address of its length; -1 for an index outside the ring.
int streamq_query(stream_queue* q, int index, char** ppacket, int** pplen);
// 1 when index lies in [head, tail) (with wrap-around), else 0.
int streamq_inused(stream_queue* q, int index);
int streamq_next(stream_queue* q, int index);
int streamq_head(stream_queue* q);
int streamq_tail(stream_queue* q);
int streamq_push(stream_queue* q);  // new tail, or -1 when full
int streamq_pop(stream_queue* q);   // new head, or -1 when empty
int streamq_size(stream_queue* q);  // slots

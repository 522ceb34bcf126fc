#pragma once
// A private network for the calling thread: moves it into a new, empty
// network namespace whose loopback is up, so that the fixed ports of the
// camera (10410..10412) and of the IO module (10411) can be bound on
// 127.0.0.1 and 127.0.0.2 without meeting any other program or test on this
// machine, and nothing sent can leave it. Threads started by the calling
// thread afterwards inherit the namespace. The destructor moves the calling
// thread back; the namespace goes away with its last socket and thread.
//
// Needs the right to create network namespaces (root); ok() tells.
#include <QString>

class IsolatedNetwork {
public:
    IsolatedNetwork();
    ~IsolatedNetwork();
    IsolatedNetwork(const IsolatedNetwork&) = delete;
    IsolatedNetwork& operator=(const IsolatedNetwork&) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

private:
    int m_previous = -1;  // descriptor of the namespace to go back to
    bool m_ok = false;
    QString m_error;
};

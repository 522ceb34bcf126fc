// libFuzzer target: the HTTP reader on arbitrary bytes.
#include "net/sci_execobj_recv.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n)
{
    readHttpMessage(QByteArray::fromRawData(reinterpret_cast<const char*>(d), int(n)));
    return 0;
}

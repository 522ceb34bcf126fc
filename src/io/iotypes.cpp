#include "io/iotypes.h"

#include <QMap>

QList<int> bits_diff_index(int a, int b)
{
    QList<int> out;
    const quint32 diff = quint32(a) ^ quint32(b);
    for (int i = 0; i < 32; ++i) {
        if (diff & (quint32(1) << i))
            out.append(i);
    }
    return out;
}

void registerIoMetaTypes()
{
    qRegisterMetaType<ElectricLevel>("ElectricLevel");
    qRegisterMetaType<IO_IndexLevel>("IO_IndexLevel");
    qRegisterMetaType<QMap<int, ElectricLevel>>("QMap<int,ElectricLevel>");
}

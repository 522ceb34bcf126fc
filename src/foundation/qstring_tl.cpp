#include "foundation/qstring_tl.h"

namespace {
// Built on use rather than held in globals, so a QString_TL made during
// another file's static initialisation still gets its keys.
QString zhCode() { return QStringLiteral("zh-CN"); }
QString enCode() { return QStringLiteral("en-US"); }
}  // namespace

LanguageCode g_Language(QStringLiteral("zh-CN"));
std::atomic<int> gLan{0};

QString_TL::QString_TL(const QString& zh, const QString& en)
{
    m_texts.insert(zhCode(), zh);
    m_texts.insert(enCode(), en);
}

QString QString_TL::value(int index) const
{
    if (index < 0 || index >= m_texts.size())
        return m_texts.value(zhCode());
    return m_texts.value(index == 1 ? enCode() : zhCode());
}

QString LanguageCode::get() const
{
    QMutexLocker lock(&m_mutex);
    return m_code;
}

void LanguageCode::set(const QString& code)
{
    QMutexLocker lock(&m_mutex);
    m_code = code;
}

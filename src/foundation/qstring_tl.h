#pragma once
// A text in the two languages the operator sees, and the process-wide
// current-language state.
//
// Language codes are exactly "zh-CN" (Simplified Chinese) and "en-US"
// (English); nothing else is ever built or compared against.
#include <QMap>
#include <QMutex>
#include <QString>

#include <atomic>

// One operator-facing text in Simplified Chinese and English. A plain value:
// copy it freely. Which of the two a caller gets is chosen by a language
// index (`value`) or by a language code (`TRANS_LANG` in publictools.h).
class QString_TL {
public:
    // No text at all: every lookup gives the empty string.
    QString_TL() = default;
    // Holds exactly two entries, "zh-CN" -> zh and "en-US" -> en.
    QString_TL(const QString& zh, const QString& en);

    // The text for a language index: 1 gives the English text; 0, any other
    // index, negative ones included, and any index not below the number of
    // entries give the Chinese text. A missing entry gives the empty string;
    // an empty English text is returned as it is (no fall-back to Chinese).
    QString value(int index) const;

    // The text stored under a language code, the empty string when there is
    // none; `contains` tells the two apart.
    QString text(const QString& code) const { return m_texts.value(code); }
    bool contains(const QString& code) const { return m_texts.contains(code); }
    const QMap<QString, QString>& texts() const { return m_texts; }

    bool operator==(const QString_TL& other) const { return m_texts == other.m_texts; }
    bool operator!=(const QString_TL& other) const { return !(*this == other); }

private:
    QMap<QString, QString> m_texts;
};

// The current language code, shared by every thread: the result publisher
// replaces it from the operator application's heartbeat reply while the flow
// and the work information read it. Reads return a copy taken under a lock,
// so a reader never sees a half-replaced string.
class LanguageCode {
public:
    explicit LanguageCode(const QString& code) : m_code(code) {}
    LanguageCode(const LanguageCode&) = delete;
    LanguageCode& operator=(const LanguageCode&) = delete;

    QString get() const;
    void set(const QString& code);

    operator QString() const { return get(); }
    LanguageCode& operator=(const QString& code)
    {
        set(code);
        return *this;
    }
    bool operator==(const QString& code) const { return get() == code; }
    bool operator!=(const QString& code) const { return get() != code; }

private:
    mutable QMutex m_mutex;
    QString m_code;
};

// The operator application's language: "zh-CN" in every run until the
// application names another one in its heartbeat reply. Never stored.
extern LanguageCode g_Language;

// Column of the UI text table and index handed to QString_TL::value:
// 0 Simplified Chinese, 1 English, 2 Traditional Chinese. Starts at 0; set by
// the manager's language switch and travels with the process parameters.
// Atomic because the manager's thread writes it while others read it.
extern std::atomic<int> gLan;

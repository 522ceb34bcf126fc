#pragma once
// An optional value with its own lock: holds nothing or exactly one T and can
// be read and replaced from several threads. Readers only ever get a copy, so
// replacing or destroying the holder never invalidates what a reader holds.
//
// T's copy runs while the holder's lock is held, so copying a T must not take
// the lock of the same holder.
#include <QList>
#include <QMutex>
#include <QMutexLocker>

template <typename T>
class CVariant {
public:
    CVariant() = default;

    // A holder of `value`; implicit so that a function can return a T where a
    // CVariant<T> is expected.
    CVariant(const T& value) { values.append(value); }

    // Copies the other's list under the other's lock; the new holder has its own lock.
    CVariant(const CVariant& other) : values(other.copyList()) {}

    // Takes a copy of the other's list under the other's lock, then replaces the
    // own list under the own lock; the two locks are never held together, so two
    // threads assigning two holders to each other cannot deadlock. Assigning a
    // holder to itself does nothing.
    CVariant& operator=(const CVariant& other)
    {
        if (this == &other)
            return *this;
        QList<T> copy = other.copyList();
        QMutexLocker guard(&lock);
        values.swap(copy);
        return *this;  // `copy` now holds the previous value and drops it after the unlock
    }

    // Replaces the held value.
    CVariant& operator=(const T& value)
    {
        setValue(value);
        return *this;
    }

    ~CVariant()
    {
        QMutexLocker guard(&lock);
        values.clear();
    }

    // Replaces the held value (clear, then append).
    void setValue(const T& value)
    {
        QList<T> previous;
        QMutexLocker guard(&lock);
        values.swap(previous);
        values.append(value);
    }

    // Drops the held value, if any.
    void clear()
    {
        QList<T> previous;
        QMutexLocker guard(&lock);
        values.swap(previous);
    }

    bool isEmpty() const
    {
        QMutexLocker guard(&lock);
        return values.isEmpty();
    }
    bool hasValue() const { return !isEmpty(); }

    // A copy of the held value; a default-constructed T when nothing is held
    // (callers test hasValue first, or accept the default).
    T getValue() const
    {
        QMutexLocker guard(&lock);
        return values.isEmpty() ? T() : values.first();
    }

    // A copy of the held value, or `fallback` when nothing is held.
    T valueOr(const T& fallback) const
    {
        QMutexLocker guard(&lock);
        return values.isEmpty() ? fallback : values.first();
    }

private:
    QList<T> copyList() const
    {
        QMutexLocker guard(&lock);
        return values;
    }

    QList<T> values;
    mutable QMutex lock;
};

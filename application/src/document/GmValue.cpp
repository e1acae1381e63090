#include "document/GmValue.h"

#include <QVariantList>

#include <cmath>
#include <limits>

namespace {

// Projects are untrusted: a number outside int's range reads as 0 rather than wrapping.
int entryAs(const QVariantList& list, int index, int)
{
    if (index >= list.size())
        return 0;
    const QVariant& entry = list.at(index);
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    if (entry.type() == QVariant::Double || entry.userType() == QMetaType::Float) {
        const double value = std::round(entry.toDouble());
        return std::isfinite(value) && value >= lowest && value <= highest ? int(value) : 0;
    }
    bool ok = false;
    const qlonglong value = entry.toLongLong(&ok);
    return ok && value >= lowest && value <= highest ? int(value) : 0;
}

} // namespace

template <typename T>
GmValue<T>::GmValue(T value) : m_current(value), m_applied(value), m_default(value), m_stored(value)
{
}

template <typename T>
void GmValue<T>::load(const GmValueB& other)
{
    if (const auto* same = dynamic_cast<const GmValue<T>*>(&other))
        m_applied = same->m_applied;
}

template <typename T>
QVariant GmValue<T>::toVariant() const
{
    return QVariantList{QVariant::fromValue(m_current), QVariant::fromValue(m_applied),
                        QVariant::fromValue(m_default), QVariant::fromValue(m_stored)};
}

template <typename T>
void GmValue<T>::fromVariant(const QVariant& value)
{
    const QVariantList list = value.toList();
    m_current = entryAs(list, 0, T());
    m_applied = entryAs(list, 1, T());
    m_default = entryAs(list, 2, T());
    m_stored = entryAs(list, 3, T());
}

template class GmValue<int>;

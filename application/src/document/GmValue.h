#pragma once
// The one implementation of GmValueB: four values of one type, in the order current, applied,
// default, stored. Instantiated for int (GmValue.cpp).

#include "document/GmValueB.h"

#include <QVariant>

template <typename T>
class GmValue : public GmValueB {
public:
    // All four states start at the given value.
    explicit GmValue(T value = T());

    bool isModified() const override { return m_current != m_applied; }
    bool isNonDefault() const override { return m_current != m_default; }
    void apply() override { m_applied = m_current; }
    void store() override { m_stored = m_applied; }
    void restore() override { m_applied = m_stored; }
    void revert() override { m_current = m_applied; }
    void setDefault() override { m_current = m_default; }
    void load(const GmValueB& other) override;

    T current() const { return m_current; }
    T applied() const { return m_applied; }
    T defaultValue() const { return m_default; }
    T stored() const { return m_stored; }
    void setCurrent(T value) { m_current = value; }
    void setApplied(T value) { m_applied = value; }
    void setDefaultValue(T value) { m_default = value; }
    void setStored(T value) { m_stored = value; }
    // Every state takes the value.
    void setAll(T value) { m_current = m_applied = m_default = m_stored = value; }

    bool operator==(const GmValue& other) const
    {
        return m_current == other.m_current && m_applied == other.m_applied
               && m_default == other.m_default && m_stored == other.m_stored;
    }
    bool operator!=(const GmValue& other) const { return !(*this == other); }

    // A list of the four states in field order. Reading takes the entries in the same order;
    // an entry that is missing or does not convert reads as 0.
    QVariant toVariant() const;
    void fromVariant(const QVariant& value);

private:
    T m_current;
    T m_applied;
    T m_default;
    T m_stored;
};

extern template class GmValue<int>;

#pragma once
// The engine variables of one session: named tuning parameters, each readable and settable
// as a fraction on 0..1, shown as text, and tracked for change since the last commit so that
// an analysis reruns only what its changed parameters affect.

#include "dravik.h"

#include <blitz/array.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace dravik {

class Variables;

class VariableBase {
public:
    virtual ~VariableBase() = default;
    virtual float getNormalised() const = 0;
    virtual void setNormalised(float t) = 0;
    // Writes the effective value as text into out and returns it.
    virtual std::string& text(std::string& out) const = 0;
    // The committed value becomes the effective value.
    virtual void commit() = 0;
    // The effective value differs from the committed one.
    virtual bool changed() const = 0;
    // Writes "committed, effective".
    virtual std::ostream& printChange(std::ostream& os) const = 0;
    // Keeps the stored value, so that a revert can set it back exactly: a round trip through
    // the normalised value can land just below an integer and truncate to the one beneath.
    virtual void keepValue() = 0;
    // Exchanges the stored value with the kept one.
    virtual void swapKeptValue() = 0;

    // The table that registered this variable; derived values read their inputs from it.
    Variables* owner() const { return m_owner; }

private:
    friend class Variables;
    Variables* m_owner = nullptr;
};

// T is the type of the effective value.
template <typename T>
class VariableBaseT : public VariableBase {
public:
    virtual T effective() const = 0;
    T committed() const { return m_committed; }

    std::string& text(std::string& out) const override
    {
        std::ostringstream s;
        s << effective();
        out = s.str();
        return out;
    }
    void commit() override { m_committed = effective(); }
    // A NaN never equals anything, so it always counts as a change.
    bool changed() const override { return !(m_committed == effective()); }
    std::ostream& printChange(std::ostream& os) const override
    {
        return os << m_committed << ", " << effective();
    }

protected:
    T m_committed{};
};

// U is the type of the stored value.
template <typename T, typename U>
class Variable : public VariableBaseT<T> {
public:
    using Stored = U;

    U value() const { return m_value; }
    void setValue(U v) { m_value = v; }
    void keepValue() override { m_kept = m_value; }
    void swapKeptValue() override { std::swap(m_value, m_kept); }

    T effective() const override { return static_cast<T>(m_value); }
    float getNormalised() const override { return float(m_value); }
    void setNormalised(float t) override
    {
        if constexpr (std::is_unsigned_v<U>)
            m_value = static_cast<U>(static_cast<std::int64_t>(t));
        else
            m_value = static_cast<U>(t);
    }

protected:
    U m_value{};

private:
    U m_kept{};
};

// A linear variable: the normalised value runs from the lower to the upper bound.
template <typename T, typename U>
class VarScaled : public Variable<T, U> {
public:
    VarScaled(U lo, U hi) : VarScaled(lo, hi, lo, hi) {}

    U lower() const { return m_lo; }
    U upper() const { return m_hi; }

    float getNormalised() const override
    {
        if constexpr (std::is_floating_point_v<U>)
            return float((this->m_value - m_lo) / (m_hi - m_lo));
        else
            return float(this->m_value - m_lo) / float(m_hi - m_lo);
    }
    void setNormalised(float t) override
    {
        if constexpr (std::is_floating_point_v<U>)
            this->m_value = (m_hi - m_lo) * t + m_lo;
        else
            this->m_value = static_cast<U>(std::floor(float(m_hi - m_lo) * t + 0.5)) + m_lo;
    }
    // Stores v limited to the variable's range, so no caller can leave it.
    void setClamped(U v) { this->m_value = std::clamp(v, m_rawLo, m_rawHi); }

protected:
    // lo and hi are the bounds the normalised value runs over; rawLo and rawHi the range of
    // the stored value.
    VarScaled(U lo, U hi, U rawLo, U rawHi) : m_lo(lo), m_hi(hi), m_rawLo(rawLo), m_rawHi(rawHi) {}

    U m_lo;
    U m_hi;

private:
    U m_rawLo;
    U m_rawHi;
};

// A logarithmic variable: the bounds hold the logarithms of the range, the stored value
// stays unlogged.
template <typename T, typename U>
class VarLogScale : public VarScaled<T, U> {
public:
    VarLogScale(U lo, U hi) : VarScaled<T, U>(std::log(lo), std::log(hi), lo, hi) {}

    float getNormalised() const override
    {
        return float((std::log(this->m_value) - this->m_lo) / (this->m_hi - this->m_lo));
    }
    void setNormalised(float t) override
    {
        this->m_value = std::exp(this->m_lo + t * (this->m_hi - this->m_lo));
    }
};

// A variable whose values may carry words ("1=medium").
template <typename V, typename W>
class MeaningMap : public V {
public:
    using Key = typename V::Stored;

    // The prototype gives the bounds; the words come in value order.
    MeaningMap(const V& prototype, std::initializer_list<std::pair<const Key, W>> words)
        : V(prototype), m_words(words)
    {
    }

    const std::map<Key, W>& words() const { return m_words; }

    std::string& text(std::string& out) const override
    {
        std::ostringstream s;
        s << this->effective();
        const auto word = m_words.find(this->value());
        if (word != m_words.end())
            s << "=" << word->second;
        out = s.str();
        return out;
    }

private:
    std::map<Key, W> m_words;
};

using WordVariable = MeaningMap<VarScaled<int, int>, std::string>;

// "#texture": the envelope window size, derived from the edge width and the texture filter;
// 0 ("Off") below a stored value of 1.
class VarSmoothing : public VarLogScale<int, float> {
public:
    VarSmoothing() : VarLogScale(0.9f, 8.f) {}
    int effective() const override;
    std::string& text(std::string& out) const override;
};

// "#resolution": the analysis cell spacing, derived from the edge width and the texture filter.
class VarRfSpacing : public VarLogScale<float, float> {
public:
    VarRfSpacing() : VarLogScale(1.f, float(4.0 * std::sqrt(2.0))) {}
    float effective() const override;
};

// "#colourBits": the stored bits adjusted by the edge contrast, within 0..8.
class VarColourBits : public VarScaled<int, int> {
public:
    VarColourBits() : VarScaled(0, 8) {}
    int effective() const override;
};

// "#maxBits": as "#colourBits" but storing up to 11; the effective value still stops at 8.
class VarMaxColourBits : public VarScaled<int, int> {
public:
    VarMaxColourBits() : VarScaled(0, 11) {}
    int effective() const override;
};

// The table of one session. Record i of the published array belongs to entry i.
class Variables {
public:
    // A name that is not in the table.
    struct VariableNotFound {};
    // A value that is not a number.
    struct InvalidValue {};

    struct Entry {
        VariableBase* variable = nullptr;
        std::string text;
        float snapshot = 0.f;
    };

    // Registers the 22 variables, resets them for a 1024-pixel image and commits them.
    Variables();
    Variables(const Variables&) = delete;
    Variables& operator=(const Variables&) = delete;

    // Sets the named variable from t, limited to 0..1. Throws VariableNotFound for an unknown
    // name and InvalidValue for NaN; then nothing changes.
    void set(const std::string& name, float t);
    // Defaults for an image whose larger side is n pixels.
    void resetDefaults(int n);
    // Each record's normalised value from its variable, limited to 0..1.
    void syncNormalised();
    // Syncs the records and rewrites every text, "*" marking a changed variable.
    void publish();
    // Snapshots every value, then commits every variable.
    void commitAll();
    // Sets every variable back to its snapshot and keeps the current value as the new
    // snapshot; the caller commits afterwards.
    void revert();

    // The record of the named variable, synced; null for an unknown name.
    const DvVariable* find(const std::string& name);
    // Throws VariableNotFound for an unknown name.
    VariableBase& variable(const std::string& name);

    DvVariable* records() { return m_records.data(); }
    int count() const { return int(m_entries.size()); }
    const std::vector<Entry>& entries() const { return m_entries; }

private:
    void add(const std::string& name, VariableBase& variable);
    int indexOf(const std::string& name) const;

    blitz::Array<DvVariable, 1> m_records;
    std::vector<Entry> m_entries;
    std::map<std::string, int> m_index;

public:
    // The variables in registration order (= record order).
    VarLogScale<float, float> imageTol{1.f, 4.f};
    VarLogScale<int, float> inFocusEdgeWidth{1.f, 32.f};
    WordVariable edgeContrast{VarScaled<int, int>(0, 2), {{0, "low"}, {1, "medium"}, {2, "high"}}};
    WordVariable textureFilter{VarScaled<int, int>(0, 2), {{0, "fine"}, {1, "medium"}, {2, "coarse"}}};
    WordVariable interpolation{VarScaled<int, int>(0, 3),
                               {{0, "range"}, {1, "range fast"}, {2, "median"}, {3, "median fast"}}};
    VarRfSpacing resolution;
    VarSmoothing texture;
    VarColourBits colourBits;
    VarMaxColourBits maxBits;
    VarLogScale<float, float> featureTol{1.f, 2.f};
    VarScaled<float, float> focus{0.f, 4.f};
    VarScaled<int, int> overlap{0, 3};
    VarScaled<float, float> percentile{0.f, 0.5f};
    VarScaled<int, int> bSmooth{0, 100};
    VarScaled<int, int> bCareful{0, 50};
    VarScaled<int, int> bGreedy{0, 50};
    VarScaled<int, int> vMdPt{0, 10};
    VarScaled<float, float> vSmplf{0.f, 2.f};
    VarScaled<float, float> vSmth{0.f, 2.f};
    WordVariable blendMode{VarScaled<int, int>(0, 2), {{0, "octaves"}, {1, "membrane"}, {2, "bp"}}};
    WordVariable fgSampling{VarScaled<int, int>(0, 1), {{0, "global"}, {1, "both"}}};
    WordVariable bgSampling{VarScaled<int, int>(0, 1), {{0, "global"}, {1, "both"}}};
};

} // namespace dravik

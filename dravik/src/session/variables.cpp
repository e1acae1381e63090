#include "session/variables.h"

namespace dravik {

namespace {

float clampUnit(float t) { return std::clamp(t, 0.f, 1.f); }

} // namespace

int VarSmoothing::effective() const
{
    const float s = m_value;
    if (s < 1.0f)
        return 0;
    const Variables& table = *owner();
    const float ws = float(table.inFocusEdgeWidth.effective()) * s;
    const double f = table.textureFilter.effective();
    const int size = int(std::ceil(ws * std::pow(2.0, f - 0.5))) - 1;
    return std::max(size, 1);
}

std::string& VarSmoothing::text(std::string& out) const
{
    const int e = effective();
    if (e == 0)
        out = "Off";
    else
        out = std::to_string(e + 1);
    return out;
}

float VarRfSpacing::effective() const
{
    const Variables& table = *owner();
    const float wr = float(table.inFocusEdgeWidth.effective()) * m_value;
    const double f = table.textureFilter.effective();
    const int spacing = int(std::ceil(wr * std::pow(2.0, f / 2.0)));
    return float(std::max(spacing, 2));
}

int VarColourBits::effective() const
{
    return std::clamp(m_value - owner()->edgeContrast.effective() + 1, 0, 8);
}

int VarMaxColourBits::effective() const
{
    return std::clamp(m_value - owner()->edgeContrast.effective() + 1, 0, 8);
}

Variables::Variables()
{
    add("imageTol", imageTol);
    add("inFocusEdgeWidth", inFocusEdgeWidth);
    add("edgeContrast", edgeContrast);
    add("textureFilter", textureFilter);
    add("interpolation", interpolation);
    add("#resolution", resolution);
    add("#texture", texture);
    add("#colourBits", colourBits);
    add("#maxBits", maxBits);
    add("featureTol", featureTol);
    add("focus", focus);
    add("overlap", overlap);
    add("t%", percentile);
    add("b-smooth", bSmooth);
    add("b-careful", bCareful);
    add("b-greedy", bGreedy);
    add("v-mdPt", vMdPt);
    add("v-smplf", vSmplf);
    add("v-smth", vSmth);
    add("BlendMode", blendMode);
    add("fg sampling", fgSampling);
    add("bg sampling", bgSampling);

    m_records.resize(count());
    for (const auto& [name, index] : m_index)
        m_records(index) = DvVariable{0.f, name.c_str(), m_entries[index].text.c_str()};
    resetDefaults(1024);
    commitAll();
}

void Variables::add(const std::string& name, VariableBase& variable)
{
    m_index[name] = count();
    m_entries.push_back(Entry{&variable, std::string(), 0.f});
    variable.m_owner = this;
}

int Variables::indexOf(const std::string& name) const
{
    const auto it = m_index.find(name);
    if (it == m_index.end())
        throw VariableNotFound();
    return it->second;
}

VariableBase& Variables::variable(const std::string& name)
{
    return *m_entries[indexOf(name)].variable;
}

void Variables::set(const std::string& name, float t)
{
    const int i = indexOf(name);
    if (std::isnan(t))
        throw InvalidValue();
    // Out-of-range fractions would carry window sizes and word indices out of their bounds.
    t = clampUnit(t);
    m_records(i).normalised = t;
    m_entries[i].variable->setNormalised(t);
}

void Variables::resetDefaults(int n)
{
    set("imageTol", 0.51f);
    const double width = double(n) / std::pow(2.0, 8.5);
    inFocusEdgeWidth.setValue(float(std::clamp(width, 2.0, 32.0)));
    edgeContrast.setValue(1);
    textureFilter.setValue(1);
    interpolation.setValue(0);
    resolution.setValue(1.0f);
    texture.setValue(1.0f);
    colourBits.setValue(4);
    maxBits.setValue(7);
    featureTol.setValue(1.05f);
    focus.setValue(0.0f);
    overlap.setValue(1);
    percentile.setValue(1.0f / 6.0f);
    bSmooth.setValue(5);
    bCareful.setValue(16);
    bGreedy.setValue(8);
    vMdPt.setValue(5);
    vSmplf.setValue(0.6f);
    vSmth.setValue(0.4f);
    blendMode.setValue(2);
    fgSampling.setValue(1);
    bgSampling.setValue(1);
}

void Variables::syncNormalised()
{
    for (int i = 0; i < count(); ++i)
        m_records(i).normalised = clampUnit(m_entries[i].variable->getNormalised());
}

void Variables::publish()
{
    syncNormalised();
    for (int i = 0; i < count(); ++i) {
        Entry& e = m_entries[i];
        e.variable->text(e.text);
        if (e.variable->changed())
            e.text += "*";
        m_records(i).text = e.text.c_str();
    }
}

void Variables::commitAll()
{
    for (Entry& e : m_entries) {
        e.snapshot = clampUnit(e.variable->getNormalised());
        e.variable->keepValue();
        e.variable->commit();
    }
}

void Variables::revert()
{
    for (Entry& e : m_entries)
        e.variable->commit();
    for (Entry& e : m_entries) {
        const float previous = clampUnit(e.variable->getNormalised());
        e.variable->swapKeptValue();
        e.snapshot = previous;
    }
}

const DvVariable* Variables::find(const std::string& name)
{
    const auto it = m_index.find(name);
    if (it == m_index.end())
        return nullptr;
    syncNormalised();
    return &m_records(it->second);
}

} // namespace dravik

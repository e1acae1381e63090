#pragma once
// A tunable value that remembers four states: what the user is editing (current), what was
// last sent to the engine (applied), the engine's suggestion (default) and a kept copy to fall
// back to (stored). Panels move values between the states without knowing their type.

class GmValueB {
public:
    virtual ~GmValueB() = default;

    // current differs from applied.
    virtual bool isModified() const = 0;
    // current differs from default.
    virtual bool isNonDefault() const = 0;
    // applied := current.
    virtual void apply() = 0;
    // stored := applied.
    virtual void store() = 0;
    // applied := stored.
    virtual void restore() = 0;
    // current := applied.
    virtual void revert() = 0;
    // current := default.
    virtual void setDefault() = 0;
    // applied := the other value's applied; a value of another type leaves this one as it is.
    virtual void load(const GmValueB& other) = 0;
};

#pragma once
// Arrays over a rectangle, whatever its lower bounds, for tests that place arrays away from 0.

#include "common/rect.h"

#include <blitz/array.h>

namespace testsupport {

// Uninitialised.
template <typename T>
blitz::Array<T, 2> arrayOver(const corvath::utility::Rect& r)
{
    blitz::Array<T, 2> a;
    corvath::utility::fitArrayToRect(a, r);
    return a;
}

template <typename T>
blitz::Array<T, 2> arrayOver(const corvath::utility::Rect& r, const T& value)
{
    blitz::Array<T, 2> a = arrayOver<T>(r);
    a = value;
    return a;
}

} // namespace testsupport

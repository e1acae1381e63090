#pragma once
// Fresh working arrays, first touched on several threads. The kernel backs a new mapping page
// by page as it is first written, which costs more than the writes themselves; left to the
// one thread that sets an array up, it holds up the stage that follows.

#include "common/bandthreads.h"
#include "common/rect.h"
#include "platform/clock.h"
#include "platform/memory.h"

#include <blitz/array.h>
#include <boost/thread/thread.hpp>

#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

namespace corvath::utility {

namespace detail {

// Less than this per thread is not worth starting one: on a busy machine a thread can take a
// millisecond to start.
constexpr std::size_t kBytesPerThread = std::size_t(4) << 20;

// Runs f(first, end) over consecutive slices of data[0 .. count), each of at least
// kBytesPerThread, on up to platform::processorCount() threads, the caller's among them. With
// `populate`, each slice's pages are backed first, in one call rather than a fault per page.
// A thread that cannot start leaves its slice to the caller. f must not throw.
template <typename T, typename F>
void forEachSlice(T* data, std::size_t count, bool populate, const F& f)
{
    const std::size_t slices = std::max<std::size_t>(
        1, std::min<std::size_t>(platform::processorCount(), count * sizeof(T) / kBytesPerThread));
    const auto run = [data, count, slices, populate, &f](std::size_t k) {
        const auto bound = [count, slices](std::size_t j) { return count / slices * j + std::min(j, count % slices); };
        T* first = data + bound(k);
        T* end = data + bound(k + 1);
        if (populate)
            platform::populatePages(first, std::size_t(end - first) * sizeof(T));
        f(first, end);
    };
    classification::runBands(int(slices), [&run](int k) { run(std::size_t(k)); });
}

} // namespace detail

// For an array just allocated that the next step writes on one thread: its pages are backed
// now, several threads at a time. Leaves the elements as they are.
template <typename T>
void prefault(blitz::Array<T, 2>& a)
{
    if (a.numElements() > 0 && a.isStorageContiguous())
        detail::forEachSlice(a.dataFirst(), std::size_t(a.numElements()), true, [](T*, T*) {});
}

// a = v for an array just allocated, several threads at a time. Copying a T must not throw.
template <typename T>
void fillInSlices(blitz::Array<T, 2>& a, const T& v)
{
    if (!a.isStorageContiguous()) {
        a = v;
        return;
    }
    detail::forEachSlice(a.dataFirst(), std::size_t(a.numElements()), true,
                         [&v](T* first, T* end) { std::fill(first, end, v); });
}

// For a large block of a trivial type about to be freed, that nothing else refers to: its pages
// go back several threads at a time, leaving the free little to do on the calling thread.
template <typename T>
void releaseInSlices(T* data, std::size_t count)
{
    static_assert(std::is_trivially_destructible_v<T>, "the elements are dropped without destruction");
    if (data && count > 0)
        detail::forEachSlice(data, count, false, [](T* first, T* end) {
            platform::releasePages(first, std::size_t(end - first) * sizeof(T));
        });
}

// The elements of a large two-dimensional array of objects, constructed and destroyed in
// slices on several threads: a Blitz array constructs every one of them on the thread that
// allocates it. The arrays that fit() makes view the elements without owning them, so they
// must not outlive the storage or its next fit() or release(). T's default constructor and
// destructor must not throw.
template <typename T>
class SlicedStorage {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "allocateLarge aligns for new");

public:
    SlicedStorage() = default;
    SlicedStorage(const SlicedStorage&) = delete;
    SlicedStorage& operator=(const SlicedStorage&) = delete;
    ~SlicedStorage() { release(); }

    // Frees `a` and the elements held, then makes r's extent of default-constructed elements,
    // which `a` views indexed from r's lower corner. Throws std::bad_alloc (a stays empty).
    void fit(blitz::Array<T, 2>& a, const Rect& r)
    {
        a.free();
        release();
        if (r.isEmpty())
            return;
        const IntPair e = extent(r);
        const std::size_t count = std::size_t(e.x) * std::size_t(e.y);
        if (count > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        T* data = static_cast<T*>(platform::allocateLarge(count * sizeof(T)));
        detail::forEachSlice(data, count, true, [](T* first, T* end) {
            for (T* p = first; p < end; ++p)
                ::new (static_cast<void*>(p)) T();
        });
        m_data = data;
        m_count = count;
        a.reference(blitz::Array<T, 2>(data, blitz::shape(e.x, e.y), blitz::neverDeleteData));
        a.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
    }

    // Destroys and frees the elements; arrays viewing them must be freed first.
    void release() noexcept
    {
        if (!m_data)
            return;
        T* data = m_data;
        if constexpr (!std::is_trivially_destructible_v<T>)
            detail::forEachSlice(data, m_count, false, [](T* first, T* end) {
                for (T* p = first; p < end; ++p)
                    p->~T();
            });
        platform::freeLarge(data, m_count * sizeof(T));
        m_data = nullptr;
        m_count = 0;
    }

private:
    T* m_data = nullptr;
    std::size_t m_count = 0;
};

} // namespace corvath::utility

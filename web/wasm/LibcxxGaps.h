// What libc++ 14 (emscripten 3.1.6's) lacks of the C++20 library the sources
// use, force-included into the WebAssembly build only. The definitions follow
// the standard's and stand aside once the library has its own.
#pragma once

#include <memory>
#include <type_traits>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 15000
namespace std {

// Arrays of unknown bound only, the one form the sources use: default-
// initialised, so the elements are left as the allocation gives them.
template <class T>
requires is_unbounded_array_v<T> unique_ptr<T> make_unique_for_overwrite(size_t n) {
    return unique_ptr<T>(new remove_extent_t<T>[n]);
}

}  // namespace std
#endif

#pragma once
// Every call into a closed vendor library (the device library's open_dev and open_file,
// the voice encoder's Encoder) goes through CallVendor. Such libraries export undecorated
// names through a .def file, and nothing tells whether a function was built __cdecl (the
// caller removes the arguments) or __stdcall (the callee does). In a 32-bit build the
// wrong guess leaves the stack pointer off by the argument bytes after every call, which
// optimised code does not survive. So the 32-bit build calls through a small thunk
// (VendorCall.cpp) that keeps the stack pointer in a callee-saved register and restores it
// after the call: right for either convention. Other builds have one convention and call
// plainly.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace edog {

#if defined(_WIN32) && defined(__i386__)
namespace vendor_call {
// Calls `fn` with `count` machine words as its arguments, the first word first; the
// callee may or may not remove them. The result is the callee's EAX.
extern "C" intptr_t edog_call_any_convention(const void* fn, const intptr_t* args, size_t count);

template <typename T>
intptr_t Word(T value) {
  static_assert(sizeof(T) <= sizeof(intptr_t), "one machine word per argument");
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<intptr_t>(value);
  else
    return static_cast<intptr_t>(value);
}
}  // namespace vendor_call

template <typename R, typename... A, typename... V>
R CallVendor(R (*fn)(A...), V... values) {
  static_assert(sizeof...(A) == sizeof...(V), "one value per parameter");
  const intptr_t words[sizeof...(A) + 1] = {vendor_call::Word(static_cast<A>(values))..., 0};
  const intptr_t r = vendor_call::edog_call_any_convention(reinterpret_cast<const void*>(fn),
                                                           words, sizeof...(A));
  if constexpr (std::is_pointer_v<R>)
    return reinterpret_cast<R>(r);
  else
    return static_cast<R>(r);
}
#else
template <typename R, typename... A, typename... V>
R CallVendor(R (*fn)(A...), V... values) {
  return fn(static_cast<A>(values)...);
}
#endif

}  // namespace edog

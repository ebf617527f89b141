#pragma once
// Calls a function of a loaded DLL the way a 32-bit Windows host does (arguments pushed last to
// first, __stdcall), and watches the stack pointer and the callee-saved registers around the call.
// A callee that does not remove exactly its arguments (a __cdecl entry, or one whose argument
// list differs from the host's prototype) or that clobbers EBX, ESI or EDI shows up here instead
// of corrupting the host's stack.
// 64-bit Windows has a single calling convention (__stdcall means nothing there and the caller
// removes the arguments), so the 64-bit build calls directly and checks nothing about the call;
// it says so instead (kConventionChecked).
#include <cstdint>
#include <type_traits>

#if !defined(_WIN32) || !(defined(__i386__) || defined(__x86_64__))
#error "wintesthost is a Windows host: build it for i686 (or x86_64) Windows"
#endif

namespace wintesthost {

#if defined(__i386__)
constexpr bool kConventionChecked = true;
#else
constexpr bool kConventionChecked = false;
#endif

struct CallRecord {
    uintptr_t value = 0;     // EAX (RAX) after the call: results, and handles in full
    int32_t stackDelta = 0;  // stack pointer after the call minus before the arguments; 0 for __stdcall
    bool registersKept = !kConventionChecked;  // EBX, ESI and EDI as they were before the call
};

#if defined(__i386__)

// Pushes count words (args[count - 1] first) and calls fn.
CallRecord callRaw(const void* fn, const uint32_t* args, uint32_t count);

template <typename T>
uint32_t asWord(T value) {
    static_assert(sizeof(T) <= sizeof(uint32_t), "one stack word per argument on i686");
    if constexpr (std::is_pointer_v<T>)
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    else
        return static_cast<uint32_t>(value);
}

// Calls through a typed __stdcall prototype: the prototype fixes how many words are pushed, so
// the stack check compares the callee's clean-up with what the host's declaration says.
template <typename R, typename... A, typename... Given>
CallRecord call(R(__stdcall* fn)(A...), Given... given) {
    static_assert(sizeof...(A) == sizeof...(Given), "arguments must match the prototype");
    const uint32_t words[sizeof...(A) + 1] = {asWord(static_cast<A>(given))..., 0};
    CallRecord record = callRaw(reinterpret_cast<const void*>(fn), words, sizeof...(A));
    // A narrower result fills only the low part of EAX; the rest is undefined.
    if constexpr (!std::is_void_v<R> && sizeof(R) < sizeof(uint32_t)) record.value &= (1u << (8 * sizeof(R))) - 1;
    return record;
}

#else

template <typename R, typename... A, typename... Given>
CallRecord call(R(__stdcall* fn)(A...), Given... given) {
    static_assert(sizeof...(A) == sizeof...(Given), "arguments must match the prototype");
    CallRecord record;
    if constexpr (std::is_void_v<R>) {
        fn(static_cast<A>(given)...);
    } else if constexpr (std::is_pointer_v<R>) {
        record.value = reinterpret_cast<uintptr_t>(fn(static_cast<A>(given)...));
    } else {
        // As wide as the result, as in the 32-bit build: -1 of an int32_t reads 0xFFFFFFFF.
        record.value = static_cast<std::make_unsigned_t<R>>(fn(static_cast<A>(given)...));
    }
    return record;
}

#endif

}  // namespace wintesthost

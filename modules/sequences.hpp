// Escape sequences that depend on nothing but a number, made once each: the
// shortcuts of colors and styles hand them out while their module's ESC is
// still the one its body bound.
#pragma once

#include "frame/text.hpp"

#include <cstring>

namespace tintara {

// "\x1b[" + mid + the decimal text of n + "m", made into slot.
[[gnu::cold, gnu::noinline]] inline Ref make_sequence(Held& slot, const char* mid, long n)
{
    Text text;
    text.lit("\x1b[");
    text.ascii(mid, static_cast<Py_ssize_t>(std::strlen(mid)));
    text.number(n);
    text.lit("m");
    slot.set(text.build());
    return slot.ref();
}

// The same, made into slot the first time and handed out again after.
inline Ref made_once(Held& slot, const char* mid, long n)
{
    return slot ? slot.ref() : make_sequence(slot, mid, n);
}

}  // namespace tintara

// tintara.paint's state and shared constants.
#include "modules/paint/state.hpp"

namespace tintara::paint {

Str s_attribute[10] = {
    Str{"bold"},       Str{"dim"},     Str{"italic"}, Str{"underline"},     Str{"blink"},
    Str{"blink_fast"}, Str{"reverse"}, Str{"hidden"}, Str{"strikethrough"}, Str{"overline"},
};

State g;

}  // namespace tintara::paint

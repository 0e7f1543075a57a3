// Colour arguments as tintara.colors and tintara.paint both take them:
// the messages they raise, and a name folded as a colour name is.
#pragma once

#include "core/tables.hpp"
#include "frame/ref.hpp"

namespace tintara::colorarg {

// An ASCII str with A-Z lowered and '-' and ' ' turned into '_' (lower()
// and two replace() calls, which no ASCII text can tell from this): the str
// itself when nothing changes and it is exact, else a new exact str.
inline Ref folded(PyObject* ascii)
{
    const auto* p = static_cast<const unsigned char*>(PyUnicode_DATA(ascii));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(ascii);
    Py_ssize_t i = 0;
    while (i < n && core::kFold[p[i]] == p[i]) {
        ++i;
    }
    if (i == n && PyUnicode_CheckExact(ascii)) {
        return Ref::borrow(ascii);
    }
    Ref out = Ref::steal(PyUnicode_New(n, 127));
    for (Py_ssize_t j = 0; out && j < n; ++j) {
        static_cast<unsigned char*>(PyUnicode_DATA(out.get()))[j] = core::kFold[p[j]];
    }
    return out;
}

inline constexpr const char* kUnknownName = "未知颜色名称: ";
inline constexpr const char* kBadHex = "无法解析十六进制颜色: ";
inline constexpr const char* kBadHexTail = "，期望格式 #RGB 或 #RRGGBB";
inline constexpr const char* kIndexRange = "256 色索引须在 0-255 范围内，收到: ";
inline constexpr const char* kUnsupportedType = "不支持的颜色类型: ";
inline constexpr const char* kComponentRange = " 分量须在 0-255 范围内，收到: ";

}  // namespace tintara::colorarg

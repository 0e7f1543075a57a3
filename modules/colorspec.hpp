// The messages of colour specifications that tintara.colors and
// tintara.paint both raise.
#pragma once

namespace tintara::colorspec {

inline constexpr const char* kUnknownName = "未知颜色名称: ";
inline constexpr const char* kBadHex = "无法解析十六进制颜色: ";
inline constexpr const char* kBadHexTail = "，期望格式 #RGB 或 #RRGGBB";
inline constexpr const char* kIndexRange = "256 色索引须在 0-255 范围内，收到: ";
inline constexpr const char* kUnsupportedType = "不支持的颜色类型: ";
inline constexpr const char* kComponentRange = " 分量须在 0-255 范围内，收到: ";

}  // namespace tintara::colorspec

// tintara.paint's docstrings and messages, in one place.  The messages about
// colour specifications that tintara.colors raises too are in
// modules/colorspec.hpp.
#pragma once

namespace tintara::paint::text {

// ---------------------------------------------------------------------------
// Docstrings

constexpr const char* kModule = "带样式文本：按终端能力输出颜色与样式。\n";
constexpr const char* kStyle =
    "文本样式：前景色、背景色与十个样式属性。\n\n"
    "    颜色可以是颜色名称 (如 'red')、十六进制字符串 (如 '#ff8800')、\n"
    "    256 色索引 (0-255) 或 RGB 元组 (r, g, b)。\n"
    "    样式属性取 True (开启)、False (关闭) 或 None (不改变)。\n"
    "    构造时即校验全部参数，并按当时的颜色表与样式表确定转义码。\n    ";
constexpr const char* kParse =
    "解析样式字符串，如 'bold red on white'。\n\n"
    "    标记以空白分隔，顺序任意: 样式属性名 (可加前缀 not)、前景色、\n"
    "    on 加背景色。颜色写作名称、#RRGGBB、#RGB、color(N) 或 rgb(R,G,B)。\n    ";
constexpr const char* kCodes =
    "返回给定色彩级别下的 (前缀, 后缀)。\n\n"
    "    后缀只关闭本样式开启的属性与颜色，从不使用 \\x1b[0m。\n    ";
constexpr const char* kRender =
    "按色彩级别为文本加上样式。\n\n"
    "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n"
    "    文本中的重置序列之后会重新写入本样式的前缀，嵌套的样式因此得以保持。\n    ";
constexpr const char* kBind = "返回一支画笔：色彩级别只确定一次，之后 pen(text) 即得带样式文本。";
constexpr const char* kPen = "绑定了样式与色彩级别的画笔。";
constexpr const char* kPenCall = "为文本加上样式。";
constexpr const char* kPaint =
    "按终端能力为文本加上样式。\n\n"
    "    style 可以是 Style、样式字符串或 None (此时原样返回 str(text)，不做检测)。\n"
    "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n    ";
constexpr const char* kEcho =
    "将带样式文本写入 file (默认 sys.stdout)。\n\n"
    "    色彩级别按 file 检测；文本与 end 一次写入。\n    ";
constexpr const char* kStrip =
    "去除文本中的转义序列。\n\n"
    "    包括 CSI (如颜色与样式)、OSC (如 OSC 8 超链接)、DCS、SOS、PM、APC\n"
    "    及其他 ESC 序列；结尾处未结束的序列一并去除。\n    ";
constexpr const char* kDowngrade =
    "返回一种颜色在给定色彩级别下的完整转义序列。\n\n"
    "    TRUECOLOR 按原样输出；EXTENDED 将十六进制与 RGB 换为最接近的 256 色；\n"
    "    BASIC 换为 16 色；NONE 返回空字符串。\n    ";
constexpr const char* kNearest256 =
    "返回 256 色调色板 (16-255) 中最接近的颜色索引。\n\n"
    "    在 Oklab 空间中按欧氏距离比较，距离相同时取较小的索引。\n    ";
constexpr const char* kNearest16 =
    "返回 16 色中最接近的颜色索引 (0-15)。\n\n"
    "    先看色相：彩度低于 0.04 的颜色在黑、灰、白、亮白之间选择，\n"
    "    其他颜色取色相最近的基本色及其高亮色；再按 Oklab 距离取较近者。\n    ";

// ---------------------------------------------------------------------------
// Messages (the caller's value follows each)

constexpr const char* kLevelType = "颜色级别须为 ColorLevel 或 0-3 的 int，收到: ";
constexpr const char* kLevelRange = "颜色级别须在 0-3 范围内，收到: ";
constexpr const char* kCodeType = "颜色码须为 int，收到: ";
constexpr const char* kComponentType = "RGB 分量须为 int，收到: ";
constexpr const char* kRgbRange = "RGB 分量须在 0-255 范围内，收到: ";
constexpr const char* kTupleSize = "RGB 元组须有 3 个分量，收到: ";
constexpr const char* kPairType = "样式码须为两个 int，收到: ";
constexpr const char* kUnknownStyle = "未知样式: ";
constexpr const char* kAttribute = "样式属性 ";  // + name + kAttributeType
constexpr const char* kAttributeType = " 须为 True、False 或 None，收到: ";
constexpr const char* kBadToken = "无法解析的样式标记: ";
constexpr const char* kMissingBackground = "'on' 之后缺少背景色: ";
constexpr const char* kSecondBackground = "背景色重复: ";
constexpr const char* kConflict = "样式属性冲突: ";
constexpr const char* kSecondForeground = "前景色重复: ";
constexpr const char* kStyleType = "样式须为 Style、str 或 None，收到: ";
constexpr const char* kParseType = "样式须为 str，收到: ";
constexpr const char* kEndType = "end 须为 str 或 None，收到: ";
constexpr const char* kStripType = "strip() 的参数须为 str，收到: ";
constexpr const char* kArgumentType = " 须为 int，收到: ";  // after r, g or b
constexpr const char* kArgumentRange = " 须在 0-255 范围内，收到: ";
constexpr const char* kStyleFrozen = "Style 对象不可修改";
constexpr const char* kPenFrozen = "Pen 对象不可修改";

}  // namespace tintara::paint::text

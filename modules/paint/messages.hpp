// tintara.paint's docstrings and messages, in one place.  The messages about
// colour arguments that tintara.colors raises too are in
// modules/colorarg.hpp.
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
    "    逐行加上样式：每个换行之前写入后缀、之后写入前缀，空行不加。\n"
    "    文本中的重置或关闭码之后补写本样式相应的码，嵌套的样式因此得以保持。\n"
    "    text 可以是模板字符串 (t\"...\")：插值经转换与转义后写入，格式说明即其样式。\n    ";
constexpr const char* kBind = "返回一支画笔：色彩级别只确定一次，之后 pen(text) 即得带样式文本。";
constexpr const char* kPen = "绑定了样式与色彩级别的画笔。";
constexpr const char* kPenCall = "为文本加上样式。";
constexpr const char* kPaint =
    "按终端能力为文本加上样式。\n\n"
    "    style 可以是 Style、样式字符串或 None (此时不加样式，原样返回 str(text)，不做检测)。\n"
    "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n"
    "    text 可以是模板字符串 (t\"...\")：插值经转换后用 sanitize 转义，\n"
    "    格式说明不为空时即为其样式；模板字符串即使 style 为 None 也确定色彩级别。\n    ";
constexpr const char* kEcho =
    "将带样式文本写入 file (默认 sys.stdout)。\n\n"
    "    色彩级别按 file 检测；文本与 end 一次写入。text 可以是模板字符串，同 paint。\n    ";
constexpr const char* kStrip =
    "去除文本中的转义序列。\n\n"
    "    包括 CSI (如颜色与样式)、OSC (如 OSC 8 超链接)、DCS、SOS、PM、APC\n"
    "    及其他 ESC 序列；结尾处未结束的序列一并去除。\n"
    "    8 位形式 (U+009B 即 ESC [，U+009C 即 ST 等) 与 7 位形式同样去除，\n"
    "    其余 C1 控制符单独去除。\n    ";
constexpr const char* kLink =
    "返回 OSC 8 超链接：终端显示 text，点击打开 url。\n\n"
    "    url 与 id 须为非空的可打印 ASCII 字符串 (U+0021-U+007E)，id 不得含 ';' 与 ':'；\n"
    "    id 相同的链接被终端视为同一个。text 可以是模板字符串，同 paint。\n"
    "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别；\n"
    "    NONE 级别只返回文本，空文本返回空字符串。\n    ";
constexpr const char* kSanitize =
    "将终端会执行的字符换成 repr 中的转义写法，其余字符不变。\n\n"
    "    即除 \\t 与 \\n 以外的 C0 控制符、DEL、C1 控制符，以及双向文本控制符\n"
    "    U+061C、U+200E、U+200F、U+202A-U+202E、U+2066-U+2069。\n"
    "    打印来自外部的文本 (用户名、文件名、服务器消息) 之前使用。\n    ";
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
    "    其他颜色取色相最近的基本色及其高亮色中按 Oklab 距离较近者；\n"
    "    但彩度低于 0.10 且明度与所选颜色相差超过 0.25 时，改在黑、灰、白、亮白之间选择。\n    ";

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
constexpr const char* kSanitizeType = "sanitize() 的参数须为 str，收到: ";
constexpr const char* kUrlType = "url 须为 str，收到: ";
constexpr const char* kUrlValue = "url 须为非空的可打印 ASCII 字符串 (U+0021-U+007E)，收到: ";
constexpr const char* kIdType = "id 须为 str 或 None，收到: ";
constexpr const char* kIdValue =
    "id 须为非空的可打印 ASCII 字符串 (U+0021-U+007E)，且不含 ';' 与 ':'，收到: ";
constexpr const char* kArgumentType = " 须为 int，收到: ";  // after r, g or b
constexpr const char* kArgumentRange = " 须在 0-255 范围内，收到: ";
constexpr const char* kStyleFrozen = "Style 对象不可修改";
constexpr const char* kPenFrozen = "Pen 对象不可修改";

}  // namespace tintara::paint::text

#pragma once
// The window's title and the prefix by which a running copy is recognised.

namespace marbloom::ui {

inline constexpr const char* kSheetTitle = "Trelvo深沪行情数据处理工具V4.00";
// 26 bytes in GBK: the single-instance test compares exactly these.
inline constexpr const char* kInstancePrefix = "Trelvo深沪行情数据处理工具";
inline constexpr int kInstancePrefixGbkBytes = 26;
// A window whose title holds this is never a running copy (a properties box).
inline constexpr const char* kPropertiesMark = "属性";

}  // namespace marbloom::ui

#include "base/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace marbloom {
namespace {

std::string Convert(std::string_view in, const char* to, const char* from, const char* replacement) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2 + 4);
  char buffer[1024];
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  while (srcLeft > 0) {
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // Invalid or incomplete sequence: replace one byte and go on.
      out += replacement;
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8", "?"); }

std::string GbkToUtf8(std::string_view gbk) { return Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD"); }

std::string CutGbk(std::string_view gbk, std::size_t maxBytes) {
  std::size_t i = 0;
  while (i < gbk.size()) {
    std::size_t width = (static_cast<unsigned char>(gbk[i]) >= 0x81 && i + 1 < gbk.size()) ? 2 : 1;
    if (i + width > maxBytes) break;
    i += width;
  }
  return std::string(gbk.substr(0, i));
}

std::string FitUtf8ToGbkBytes(std::string_view utf8, std::size_t maxBytes) {
  // No character takes more bytes in GBK than in UTF-8.
  if (utf8.size() <= maxBytes) return std::string(utf8);
  std::string gbk = Utf8ToGbk(utf8);
  if (gbk.size() <= maxBytes) return std::string(utf8);
  return GbkToUtf8(CutGbk(gbk, maxBytes));
}

}  // namespace marbloom

#include "base/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace marbloom {
namespace {

// Bytes of the character that starts `rest`, as far as it is well formed:
// a lead byte and the continuation bytes that follow it (at most the three it
// asks for); a stray continuation or invalid byte alone.
std::size_t Utf8CharacterBytes(std::string_view rest) {
  const auto lead = static_cast<unsigned char>(rest[0]);
  const std::size_t wanted = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 && lead <= 0xEF ? 2
                             : lead >= 0xC2 && lead <= 0xDF                                  ? 1
                                                                                             : 0;
  std::size_t n = 1;
  while (n <= wanted && n < rest.size() && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80) ++n;
  return n;
}

// Bytes of the GBK character that starts `rest`: a lead byte with a byte in
// the trail range after it is one (unmapped) character, anything else one byte.
std::size_t GbkCharacterBytes(std::string_view rest) {
  const auto lead = static_cast<unsigned char>(rest[0]);
  if (lead < 0x81 || lead == 0xFF || rest.size() < 2) return 1;
  const auto trail = static_cast<unsigned char>(rest[1]);
  return trail >= 0x40 && trail != 0x7F && trail != 0xFF ? 2 : 1;
}

using CharacterBytes = std::size_t (*)(std::string_view);

// Converts with iconv. A character that cannot be converted becomes
// `replacement`; without one the conversion gives nothing.
std::optional<std::string> Convert(std::string_view in, const char* to, const char* from,
                                   const char* replacement, CharacterBytes characterBytes) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return replacement != nullptr ? std::optional(std::string(in)) : std::nullopt;
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
      if (replacement == nullptr) {
        iconv_close(cd);
        return std::nullopt;
      }
      // Invalid, incomplete or unmappable: replace that one character.
      out += replacement;
      const std::size_t skip = characterBytes(std::string_view(src, srcLeft));
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return *Convert(utf8, "GBK", "UTF-8", "?", Utf8CharacterBytes); }

std::string GbkToUtf8(std::string_view gbk) {
  return *Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD", GbkCharacterBytes);
}

std::optional<std::string> Utf8ToGbkExactly(std::string_view utf8) {
  return Convert(utf8, "GBK", "UTF-8", nullptr, Utf8CharacterBytes);
}

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

namespace {

// Bytes of the control character at `at` (1 for C0 and DEL, 2 for C1 in
// UTF-8), 0 for anything else.
std::size_t ControlBytesAt(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x20 || c == 0x7F) return 1;
  const bool c1 = c == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
                  static_cast<unsigned char>(text[at + 1]) <= 0x9F;
  return c1 ? 2 : 0;
}

}  // namespace

bool HasControlCharacters(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i)
    if (ControlBytesAt(utf8, i) > 0) return true;
  return false;
}

std::string PrintableText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const std::size_t n = ControlBytesAt(utf8, i);
    out += n > 0 ? '?' : utf8[i];
    if (n == 2) ++i;
  }
  return out;
}

std::string FormatTextV(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (n > 0 && static_cast<std::size_t>(n) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(n));
  } else if (n > 0) {
    text.resize(static_cast<std::size_t>(n));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace marbloom

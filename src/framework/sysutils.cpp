// Format and the small conversions of the framework.
#include "framework/sysutils.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"

namespace vr {

const char* const SFOpenError = "ファイル %s を開けません";
const char* const SFCreateError = "ファイル %s を作成できません";
const char* const SReadError = "ストリームの読み込みエラー";
const char* const SWriteError = "ストリームの書き込みエラー";
const char* const SResNotFound = "リソース %s が見つかりません";
const char* const SCantWriteResourceStream = "リソースストリームには書き込めません";
const char* const SMemoryStreamError = "メモリストリームの拡張中にメモリが不足しました";
const char* const SOutOfMemory = "メモリが不足しています";
const char* const SListIndexError = "リストのインデックスが範囲を超えています (%d)";
const char* const SInvalidFormat = "書式 '%s' が無効か、引数と互換性がありません";
const char* const SArgumentMissing = "書式 '%s' に対する引数が足りません";
const char* const SInvalidInteger = "'%s' は有効な整数値ではありません";
const char* const SStreamSetSizeError = "ストリームのサイズを変更できません";

namespace {

[[noreturn]] void RaiseFormat(const char* text, const std::string& format) {
  // The message itself is built without Format so that a fault here cannot recurse.
  std::string msg = text;
  size_t at = msg.find("%s");
  if (at != std::string::npos) msg.replace(at, 2, format);
  throw EConvertError(msg);
}

// The decimal digits of |v| rounded half away from zero the way the framework does it: the value is
// first taken to 18 significant digits, then rounded at the requested place.
struct TDecimal {
  std::string digits;  // significant digits, no leading zeros ("" for zero)
  int exponent = 0;    // value = 0.digits * 10^exponent
  bool negative = false;
};

TDecimal ToDecimal(double v, int places, bool placesAreFraction) {
  TDecimal d;
  d.negative = std::signbit(v);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(v));
  // buf: "d.ddddddddddddddddde+XX"
  std::string mant;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mant.push_back(*p);
  int exp10 = *p == 'e' ? std::atoi(p + 1) : 0;
  d.exponent = exp10 + 1;
  // Number of digits to keep.
  int keep = placesAreFraction ? d.exponent + places : places;
  if (keep < 0) {
    d.digits.clear();
  } else if (keep < static_cast<int>(mant.size())) {
    bool up = mant[keep] >= '5';
    mant.resize(keep);
    if (up) {
      int i = keep - 1;
      for (; i >= 0; --i) {
        if (mant[i] == '9') {
          mant[i] = '0';
        } else {
          ++mant[i];
          break;
        }
      }
      if (i < 0) {
        mant.insert(mant.begin(), '1');
        ++d.exponent;
      }
    }
    d.digits = mant;
  } else {
    d.digits = mant;
  }
  size_t first = d.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
  } else if (first > 0) {
    d.digits.erase(0, first);
    d.exponent -= static_cast<int>(first);
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

std::string NonFinite(double v) {
  if (std::isnan(v)) return "NAN";
  return v < 0 ? "-INF" : "INF";
}

std::string GroupThousands(const std::string& intPart) {
  std::string out;
  int n = static_cast<int>(intPart.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(',');
    out.push_back(intPart[i]);
  }
  return out;
}

std::string FormatFixed(double v, int prec, bool thousands) {
  if (!std::isfinite(v)) return NonFinite(v);
  TDecimal d = ToDecimal(v, prec, true);
  std::string intPart, frac;
  for (int i = 0; i < d.exponent; ++i)
    intPart.push_back(i < static_cast<int>(d.digits.size()) ? d.digits[i] : '0');
  if (intPart.empty()) intPart = "0";
  for (int i = 0; i < prec; ++i) {
    int idx = d.exponent + i;
    frac.push_back(idx >= 0 && idx < static_cast<int>(d.digits.size()) ? d.digits[idx] : '0');
  }
  std::string out = (d.negative && !d.digits.empty()) ? "-" : "";
  out += thousands ? GroupThousands(intPart) : intPart;
  if (prec > 0) out += "." + frac;
  return out;
}

std::string FormatExponent(double v, int prec) {
  if (!std::isfinite(v)) return NonFinite(v);
  TDecimal d = ToDecimal(v, prec, false);
  std::string digits = d.digits;
  int e = digits.empty() ? 0 : d.exponent - 1;
  digits.resize(prec, '0');
  std::string out = (d.negative && !d.digits.empty()) ? "-" : "";
  out.push_back(digits[0]);
  if (prec > 1) out += "." + digits.substr(1);
  char eb[16];
  std::snprintf(eb, sizeof eb, "E%c%03d", e < 0 ? '-' : '+', std::abs(e));
  return out + eb;
}

std::string FormatGeneral(double v, int prec) {
  if (!std::isfinite(v)) return NonFinite(v);
  TDecimal d = ToDecimal(v, prec, false);
  if (d.digits.empty()) return "0";
  std::string out = d.negative ? "-" : "";
  int n = static_cast<int>(d.digits.size());
  if (d.exponent > prec || d.exponent < -4) {
    out.push_back(d.digits[0]);
    if (n > 1) out += "." + d.digits.substr(1);
    out += "E" + std::to_string(d.exponent - 1);
    return out;
  }
  if (d.exponent <= 0) {
    out += "0." + std::string(-d.exponent, '0') + d.digits;
  } else if (d.exponent >= n) {
    out += d.digits + std::string(d.exponent - n, '0');
  } else {
    out += d.digits.substr(0, d.exponent) + "." + d.digits.substr(d.exponent);
  }
  return out;
}

std::string IntDigits(int64_t v, bool hex, bool asUnsigned, int prec) {
  char buf[32];
  uint64_t u;
  bool neg = false;
  if (hex || asUnsigned) {
    // Negative 32-bit values show as their 32-bit pattern, wider ones as 64-bit.
    u = (v < 0 && v >= INT32_MIN) ? static_cast<uint32_t>(v) : static_cast<uint64_t>(v);
  } else {
    neg = v < 0;
    u = neg ? (0 - static_cast<uint64_t>(v)) : static_cast<uint64_t>(v);
  }
  std::snprintf(buf, sizeof buf, hex ? "%llX" : "%llu", static_cast<unsigned long long>(u));
  std::string s = buf;
  if (prec > static_cast<int>(s.size())) s.insert(0, prec - s.size(), '0');
  if (neg) s.insert(0, 1, '-');
  return s;
}

}  // namespace

std::string Format(const std::string& format, std::initializer_list<TVarRec> args) {
  std::vector<const TVarRec*> argv;
  for (const TVarRec& a : args) argv.push_back(&a);
  std::string out;
  size_t argIndex = 0;
  size_t i = 0;
  const size_t n = format.size();
  auto next = [&]() -> const TVarRec& {
    if (argIndex >= argv.size()) RaiseFormat(SArgumentMissing, format);
    return *argv[argIndex++];
  };
  auto readNumber = [&](int& value) -> bool {
    // Digits or "*" (taken from the next argument). Returns false when neither is there.
    if (i < n && format[i] == '*') {
      ++i;
      const TVarRec& a = next();
      if (a.kind != TVarRec::Kind::Int) RaiseFormat(SInvalidFormat, format);
      value = static_cast<int>(a.i);
      return true;
    }
    if (i < n && format[i] >= '0' && format[i] <= '9') {
      int64_t v = 0;
      while (i < n && format[i] >= '0' && format[i] <= '9') {
        v = v * 10 + (format[i] - '0');
        if (v > 100000) RaiseFormat(SInvalidFormat, format);
        ++i;
      }
      value = static_cast<int>(v);
      return true;
    }
    return false;
  };

  while (i < n) {
    char c = format[i];
    if (c != '%') {
      // Copy a run of plain bytes at once; a double-byte character never holds "%" as its lead byte,
      // and a trail byte 0x25 is not possible in code page 932.
      size_t j = format.find('%', i);
      if (j == std::string::npos) j = n;
      out.append(format, i, j - i);
      i = j;
      continue;
    }
    ++i;
    if (i < n && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    int number = 0;
    bool haveNumber = readNumber(number);
    if (haveNumber && i < n && format[i] == ':') {
      if (number < 0) RaiseFormat(SInvalidFormat, format);
      argIndex = static_cast<size_t>(number);
      ++i;
      haveNumber = false;
    }
    bool left = false;
    if (!haveNumber && i < n && format[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    if (haveNumber) {
      width = number;
    } else {
      readNumber(width);
    }
    if (width < 0) {
      left = true;
      width = -width;
    }
    int prec = -1;
    if (i < n && format[i] == '.') {
      ++i;
      prec = 0;
      readNumber(prec);
      if (prec < 0) prec = -1;
    }
    if (i >= n) RaiseFormat(SInvalidFormat, format);
    char type = format[i++];
    if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 'a' + 'A');
    const TVarRec& a = next();
    std::string s;
    switch (type) {
      case 'D':
      case 'U':
      case 'X':
        if (a.kind != TVarRec::Kind::Int) RaiseFormat(SInvalidFormat, format);
        s = IntDigits(a.i, type == 'X', type == 'U', prec);
        break;
      case 'P':
        if (a.kind != TVarRec::Kind::Int) RaiseFormat(SInvalidFormat, format);
        s = IntDigits(a.i, true, true, 8);
        break;
      case 'F':
      case 'N':
        if (a.kind != TVarRec::Kind::Float) RaiseFormat(SInvalidFormat, format);
        s = FormatFixed(a.f, prec < 0 ? 2 : (prec > 18 ? 18 : prec), type == 'N');
        break;
      case 'E':
        if (a.kind != TVarRec::Kind::Float) RaiseFormat(SInvalidFormat, format);
        s = FormatExponent(a.f, prec < 0 ? 15 : (prec < 1 ? 1 : (prec > 18 ? 18 : prec)));
        break;
      case 'G':
        if (a.kind != TVarRec::Kind::Float) RaiseFormat(SInvalidFormat, format);
        s = FormatGeneral(a.f, prec < 0 ? 15 : (prec < 1 ? 1 : (prec > 18 ? 18 : prec)));
        break;
      case 'S':
        if (a.kind != TVarRec::Kind::Str) RaiseFormat(SInvalidFormat, format);
        s = a.s;
        if (prec >= 0 && static_cast<size_t>(prec) < s.size()) s.resize(prec);
        break;
      default:
        RaiseFormat(SInvalidFormat, format);
    }
    if (static_cast<int>(s.size()) < width) {
      std::string pad(width - s.size(), ' ');
      s = left ? s + pad : pad + s;
    }
    out += s;
  }
  return out;
}

std::string IntToStr(int64_t value) { return IntDigits(value, false, false, 0); }

int64_t StrToInt(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    neg = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) throw EConvertError(Format(SInvalidInteger, {text}));
  uint64_t v = 0;
  const uint64_t limit = neg ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  for (; i < n; ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      throw EConvertError(Format(SInvalidInteger, {text}));
    }
    uint64_t base = hex ? 16 : 10;
    if (v > (limit - digit) / base) throw EConvertError(Format(SInvalidInteger, {text}));
    v = v * base + digit;
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

namespace {

// Changes single-byte letters from..to by delta; both bytes of a double-byte character stay as they are
// (a trail byte may look like an ASCII letter).
std::string ShiftAsciiCase(const std::string& s, char from, char to, int delta) {
  std::string r = s;
  const size_t n = r.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(r[i]);
    if (IsLeadByte(c) && i + 1 < n) {
      ++i;
    } else if (r[i] >= from && r[i] <= to) {
      r[i] = static_cast<char>(r[i] + delta);
    }
  }
  return r;
}

}  // namespace

std::string UpperCaseAscii(const std::string& s) { return ShiftAsciiCase(s, 'a', 'z', 'A' - 'a'); }

std::string LowerCaseAscii(const std::string& s) { return ShiftAsciiCase(s, 'A', 'Z', 'a' - 'A'); }

}  // namespace vr

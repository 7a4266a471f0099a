// Errors, formatting and small string helpers of the application framework.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

namespace vr {

// Base of every error the program raises. The message is a code page 932 byte string.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

// The program's general error class: every Part raises its Japanese message texts through it.
class EVrError : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};
class EOutOfMemory : public Exception {
 public:
  using Exception::Exception;
};
class EZLibError : public Exception {
 public:
  using Exception::Exception;
};
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// Message texts of the framework's own errors (code page 932 at run time).
extern const char* const SFOpenError;    // "%s": file name
extern const char* const SFCreateError;  // "%s": file name
extern const char* const SReadError;
extern const char* const SWriteError;
extern const char* const SResNotFound;  // "%s": resource name
extern const char* const SCantWriteResourceStream;
extern const char* const SMemoryStreamError;  // memory stream could not grow
extern const char* const SOutOfMemory;
extern const char* const SListIndexError;   // "%d": index
extern const char* const SInvalidFormat;    // "%s": the format text
extern const char* const SArgumentMissing;  // "%s": the format text
extern const char* const SInvalidInteger;   // "%s": the text
extern const char* const SStreamSetSizeError;

// One argument of Format.
struct TVarRec {
  enum class Kind { Int, Float, Str } kind;
  int64_t i = 0;
  double f = 0;
  std::string s;
  TVarRec(int v) : kind(Kind::Int), i(v) {}
  TVarRec(unsigned v) : kind(Kind::Int), i(v) {}
  TVarRec(long v) : kind(Kind::Int), i(v) {}
  TVarRec(long long v) : kind(Kind::Int), i(v) {}
  TVarRec(unsigned long v) : kind(Kind::Int), i(static_cast<int64_t>(v)) {}
  TVarRec(unsigned long long v) : kind(Kind::Int), i(static_cast<int64_t>(v)) {}
  TVarRec(double v) : kind(Kind::Float), f(v) {}
  TVarRec(const char* v) : kind(Kind::Str), s(v) {}
  TVarRec(std::string v) : kind(Kind::Str), s(std::move(v)) {}
};

// The framework's Format: %s, %d (with width and ".precision" as a minimum digit count, "%.3d"),
// %f (width; precision defaults to 2 decimals, so "%2f" shows two decimals), %x, %%.
// A conversion that does not match its argument raises EConvertError.
std::string Format(const std::string& format, std::initializer_list<TVarRec> args);

std::string IntToStr(int64_t value);
// Decimal text to integer; EConvertError when it is not a number.
int64_t StrToInt(const std::string& text);
// ASCII-only case changes (letters A-Z and a-z; other bytes and both bytes of double-byte characters
// unchanged).
std::string UpperCaseAscii(const std::string& s);
std::string LowerCaseAscii(const std::string& s);

}  // namespace vr

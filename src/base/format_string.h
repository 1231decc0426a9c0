#pragma once
// FormatString: the program's small printf-like formatter.
//
// Directives: "%%", "%s"/"%a" (narrow text), "%S"/"%w" (UTF-16 text), "%d" (double, five
// significant digits), "%i" (signed 32-bit), "%u" (unsigned 32-bit), "%x" (eight upper-case
// hex digits). No flags, widths or length modifiers. The arguments are checked against the
// directives: a missing argument, or a text where a number belongs, is a malformed format.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

class FormatArg {
  public:
    enum class Kind { Real, Signed, Unsigned, Text, WideText };

    FormatArg(double v) : kind_(Kind::Real), real_(v) {}
    FormatArg(float v) : kind_(Kind::Real), real_(v) {}
    FormatArg(int32_t v) : kind_(Kind::Signed), integer_(v) {}
    FormatArg(uint32_t v) : kind_(Kind::Unsigned), integer_(v) {}
    FormatArg(const char* v) : kind_(Kind::Text), text_(v) {}
    FormatArg(char* v) : kind_(Kind::Text), text_(v) {}
    FormatArg(const char16_t* v) : kind_(Kind::WideText), wide_(v) {}
#ifdef _WIN32
    FormatArg(const wchar_t* v) : kind_(Kind::WideText), wide_(reinterpret_cast<const char16_t*>(v)) {}
#endif

    Kind kind() const {
        return kind_;
    }
    bool IsNumber() const {
        return kind_ == Kind::Real || kind_ == Kind::Signed || kind_ == Kind::Unsigned;
    }
    double AsReal() const;
    int64_t AsInteger() const;
    const char* text() const {
        return text_;
    }
    const char16_t* wide() const {
        return wide_;
    }

  private:
    Kind kind_;
    union {
        double real_;
        int64_t integer_;
        const char* text_;
        const char16_t* wide_;
    };
};

// Formats into a std::string; throws Exception* "bad format '<format>'" on a malformed format.
std::string FormatToString(const char* format, std::initializer_list<FormatArg> args);

// The five-significant-digit rendering of "%d": "1.", "0.25", "1.2346e+005", "5.e-002";
// not-finite values give "inf", "-inf" and "nan".
std::string FormatFiveDigits(double value);

// Returns a new heap text (free it with delete[]).
char* FormatStringV(const char* format, std::initializer_list<FormatArg> args);

template <typename... Args>
char* FormatString(const char* format, Args... args) {
    return FormatStringV(format, {FormatArg(args)...});
}

// Owns a text returned by FormatString.
struct TextDeleter {
    void operator()(char* p) const { delete[] p; }
};
using OwnedText = std::unique_ptr<char[], TextDeleter>;

#include "base/format_string.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/errors.h"

double FormatArg::AsReal() const {
    switch (kind_) {
        case Kind::Real:
            return real_;
        case Kind::Signed:
        case Kind::Unsigned:
            return static_cast<double>(integer_);
        default:
            return 0.0;
    }
}

int64_t FormatArg::AsInteger() const {
    if (kind_ == Kind::Real) {
        // A double handed to an integer directive: convert, saturating instead of overflowing.
        if (std::isnan(real_)) {
            return 0;
        }
        if (real_ >= 9.2e18) {
            return INT64_MAX;
        }
        if (real_ <= -9.2e18) {
            return INT64_MIN;
        }
        return static_cast<int64_t>(real_);
    }
    return integer_;
}

namespace {

// The argument as the directive's 32-bit type: an integer converts as printf's would, while a
// real saturates at the type's ends instead of wrapping (3e9 gives 2147483647 for "%i").
template <typename T>
T DirectiveInteger(const FormatArg& arg) {
    const int64_t value = arg.AsInteger();
    if (arg.kind() != FormatArg::Kind::Real) {
        return static_cast<T>(value);
    }
    return static_cast<T>(std::clamp<int64_t>(value, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

[[noreturn]] void ThrowBadFormat(const char* format) {
    throw new Exception(FormatString("bad format '%s'", format), true, -1);
}

// Removes the zeros at the end of a fraction, keeping the decimal point itself.
void TrimFractionZeros(std::string& digits) {
    if (digits.find('.') == std::string::npos) {
        return;
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
    }
}

void AppendWide(std::string& out, const char16_t* text) {
    if (text == nullptr) {
        return;
    }
    // One byte per UTF-16 unit: Latin-1 maps to itself, anything else becomes '?'.
    for (; *text != 0; ++text) {
        out.push_back(*text < 0x100 ? static_cast<char>(*text) : '?');
    }
}

}  // namespace

std::string FormatFiveDigits(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    if (value == 0.0) {
        value = 0.0;  // no "-0."
    }
    // Round to five significant digits first: the exponent of the rounded value decides the form.
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.4e", value);
    const char* e = std::strchr(scientific, 'e');
    const int exponent = std::atoi(e + 1);
    if (exponent >= -1 && exponent <= 4) {
        char fixed[32];
        std::snprintf(fixed, sizeof fixed, "%.*f", 4 - exponent, value);
        std::string result = fixed;
        TrimFractionZeros(result);
        return result;
    }
    std::string mantissa(scientific, static_cast<size_t>(e - scientific));
    TrimFractionZeros(mantissa);
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return mantissa + tail;
}

std::string FormatToString(const char* format, std::initializer_list<FormatArg> args) {
    if (format == nullptr) {
        return std::string();
    }
    std::string out;
    auto next = args.begin();
    auto take = [&]() -> const FormatArg& {
        if (next == args.end()) {
            ThrowBadFormat(format);
        }
        return *next++;
    };
    auto takeOfKind = [&](FormatArg::Kind kind) -> const FormatArg& {
        const FormatArg& arg = take();
        if (arg.kind() != kind) {
            ThrowBadFormat(format);
        }
        return arg;
    };
    auto takeNumber = [&]() -> const FormatArg& {
        const FormatArg& arg = take();
        if (!arg.IsNumber()) {
            ThrowBadFormat(format);
        }
        return arg;
    };
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        char buffer[32];
        switch (*++p) {
            case '%':
                out.push_back('%');
                break;
            case 's':
            case 'a':
                if (const char* text = takeOfKind(FormatArg::Kind::Text).text()) {
                    out += text;
                }
                break;
            case 'S':
            case 'w':
                AppendWide(out, takeOfKind(FormatArg::Kind::WideText).wide());
                break;
            case 'd':
                out += FormatFiveDigits(takeNumber().AsReal());
                break;
            case 'i':
                std::snprintf(buffer, sizeof buffer, "%d", DirectiveInteger<int32_t>(takeNumber()));
                out += buffer;
                break;
            case 'u':
                std::snprintf(buffer, sizeof buffer, "%u", DirectiveInteger<uint32_t>(takeNumber()));
                out += buffer;
                break;
            case 'x':
                std::snprintf(buffer, sizeof buffer, "%08X", DirectiveInteger<uint32_t>(takeNumber()));
                out += buffer;
                break;
            default:  // an unknown directive, or a lone '%' at the end
                ThrowBadFormat(format);
        }
    }
    return out;
}

char* FormatStringV(const char* format, std::initializer_list<FormatArg> args) {
    const std::string text = FormatToString(format, args);
    char* result = new char[text.size() + 1];
    std::memcpy(result, text.c_str(), text.size() + 1);
    return result;
}

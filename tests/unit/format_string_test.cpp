#include "base/format_string.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/errors.h"

namespace {

std::string Format(const char* format, std::initializer_list<FormatArg> args) {
    OwnedText text(FormatStringV(format, args));
    return text.get();
}

// Runs the format and returns the text of the Exception it throws ("" if none).
std::string FormatError(const char* format, std::initializer_list<FormatArg> args) {
    try {
        OwnedText text(FormatStringV(format, args));
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        EXPECT_TRUE(e->ownsMessage);
        EXPECT_EQ(e->code, -1);
        return e->message;
    }
    return "";
}

TEST(FormatString, IntegerAndTextDirectives) {
    EXPECT_EQ(Format("%i", {-5}), "-5");
    EXPECT_EQ(Format("%i", {INT32_MIN}), "-2147483648");
    EXPECT_EQ(Format("%x", {255u}), "000000FF");
    EXPECT_EQ(Format("%x", {0xDEADBEEFu}), "DEADBEEF");
    EXPECT_EQ(Format("%u", {4294967295u}), "4294967295");
    EXPECT_EQ(Format("%s and %a", {"one", "two"}), "one and two");
    EXPECT_EQ(Format("[%s]", {static_cast<const char*>(nullptr)}), "[]");
    EXPECT_EQ(Format("%S|%w", {u"wide", static_cast<const char16_t*>(nullptr)}), "wide|");
    EXPECT_EQ(Format("%S", {u"\u00e9\u4e2d"}), "\xe9?");
    EXPECT_EQ(Format("100%%", {}), "100%");
    EXPECT_EQ(Format("", {}), "");
    EXPECT_EQ(Format("no directives here", {}), "no directives here");
    EXPECT_EQ(Format("WSAEWOULDBLOCK %d%%", {12.5}), "WSAEWOULDBLOCK 12.5%");
}

TEST(FormatString, FiveSignificantDigits) {
    EXPECT_EQ(FormatFiveDigits(1.0), "1.");
    EXPECT_EQ(FormatFiveDigits(0.0), "0.");
    EXPECT_EQ(FormatFiveDigits(-0.0), "0.");
    EXPECT_EQ(FormatFiveDigits(0.25), "0.25");
    EXPECT_EQ(FormatFiveDigits(12.3456), "12.346");
    EXPECT_EQ(FormatFiveDigits(1234.56), "1234.6");
    EXPECT_EQ(FormatFiveDigits(12345.6), "12346");
    EXPECT_EQ(FormatFiveDigits(123456.0), "1.2346e+005");
    EXPECT_EQ(FormatFiveDigits(100000.0), "1.e+005");
    EXPECT_EQ(FormatFiveDigits(0.05), "5.e-002");
    EXPECT_EQ(FormatFiveDigits(-2.5), "-2.5");
    EXPECT_EQ(FormatFiveDigits(1875.0), "1875.");
    EXPECT_EQ(FormatFiveDigits(-40.0), "-40.");
    EXPECT_EQ(FormatFiveDigits(0.123456), "0.12346");
    EXPECT_EQ(FormatFiveDigits(1e-300), "1.e-300");
    EXPECT_EQ(FormatFiveDigits(-1.5e200), "-1.5e+200");
}

TEST(FormatString, RoundingThatCarriesIntoTheNextDecade) {
    // The rounded value decides between the fixed and the exponent form.
    EXPECT_EQ(FormatFiveDigits(99999.6), "1.e+005");
    EXPECT_EQ(FormatFiveDigits(9.99996), "10.");
    EXPECT_EQ(FormatFiveDigits(0.0999996), "0.1");
}

TEST(FormatString, NotFiniteValuesStayReadable) {
    EXPECT_EQ(FormatFiveDigits(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(FormatFiveDigits(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(FormatFiveDigits(std::nan("")), "nan");
    EXPECT_EQ(Format("loss %d%%", {0.0 / 0.0 * 1.0}), "loss nan%");
}

TEST(FormatString, MalformedFormatsThrowWithTheWholeFormat) {
    for (const char* format : {"%5d", "%ld", "%f", "%X", "%c", "abc %", "%-i", "%.2d", "% i", "%g"}) {
        EXPECT_EQ(FormatError(format, {1.0}), std::string("bad format '") + format + "'") << format;
    }
}

TEST(FormatString, ArgumentsMustMatchTheDirectives) {
    EXPECT_EQ(FormatError("%i and %i", {1}), "bad format '%i and %i'");
    EXPECT_EQ(FormatError("%d", {"text"}), "bad format '%d'");
    EXPECT_EQ(FormatError("%s", {1.5}), "bad format '%s'");
    // Numbers convert between the numeric directives.
    EXPECT_EQ(Format("%d %i", {3, 2.9}), "3. 2");
    // A real beyond an integer directive's range saturates instead of wrapping.
    EXPECT_EQ(Format("%i %i %u %u", {3e9, -3e9, 5e9, -1.0}), "2147483647 -2147483648 4294967295 0");
}

TEST(Exception, StandardErrorFormAndOwnership) {
    try {
        ThrowError("error in MainWindow::StartSenderThread: thread already started\r\nfile: winmain\r\nline: %i", 237);
        FAIL();
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        EXPECT_TRUE(e->ownsMessage);
        EXPECT_STREQ(e->details, "");
        EXPECT_EQ(ExceptionText(*e),
                  "error in MainWindow::StartSenderThread: thread already started\r\nfile: winmain\r\nline: 237\r\n");
    }
    try {
        ThrowFixed("invalid scale");
        FAIL();
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        EXPECT_FALSE(e->ownsMessage);
        EXPECT_STREQ(e->message, "invalid scale");
    }
}

TEST(Exception, TakeOverMovesTheTextsOnce) {
    // Run under ASan: a double free or a leak of either text fails the test.
    Exception* first = new Exception(FormatString("error %i", 1), true, -1);
    const char* message = first->message;
    Exception* taken = TakeOverException(first);
    EXPECT_EQ(taken->message, message);
    EXPECT_TRUE(taken->ownsMessage);
    EXPECT_STREQ(taken->details, "");
    DestroyException(taken);
    DestroyException(nullptr);
}

}  // namespace

#include "app/text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace quarry {
namespace {

QByteArray Bytes(std::string_view s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

TEST(EightBitMap, EveryByteHasItsOwnCharacterAndBack) {
    for (int b = 0; b < 256; ++b) {
        const char16_t c = ByteToChar(uint8_t(b));
        EXPECT_EQ(CharToByte(c), b) << "byte " << b;
    }
    EXPECT_EQ(ByteToChar(0x80), u'\u20AC');
    EXPECT_EQ(ByteToChar(0x81), u'\u0081');  // undefined in Windows-1252
    EXPECT_EQ(ByteToChar(0x9F), u'\u0178');
    EXPECT_EQ(ByteToChar(0xE9), u'\u00E9');
    EXPECT_EQ(CharToByte(u'\u0080'), -1);  // taken by the euro sign's byte
    EXPECT_EQ(CharToByte(u'\u4E2D'), -1);
}

TEST(Utf8Check, RejectsMalformedSequences) {
    EXPECT_TRUE(IsValidUtf8(Bytes("plain")));
    EXPECT_TRUE(IsValidUtf8(Bytes("gr\xC3\xBC\xC3\x9F \xE4\xB8\xAD \xF0\x9F\x98\x80")));
    EXPECT_FALSE(IsValidUtf8(Bytes("\xC3")));              // truncated
    EXPECT_FALSE(IsValidUtf8(Bytes("\xC0\xAF")));          // overlong
    EXPECT_FALSE(IsValidUtf8(Bytes("\xE0\x80\xAF")));      // overlong
    EXPECT_FALSE(IsValidUtf8(Bytes("\xED\xA0\x80")));      // surrogate
    EXPECT_FALSE(IsValidUtf8(Bytes("\xF4\x90\x80\x80")));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8(Bytes("caf\xE9")));           // Latin-1
}

TEST(DetectFormat, ChoosesStyleAndEncoding) {
    DocFormat f = DetectFormat(Bytes("a\r\nb\r\n"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::CrLf);
    EXPECT_EQ(f.encoding, TextEncoding::Utf8);
    f = DetectFormat(Bytes("a\rb\r"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::Cr);
    f = DetectFormat(Bytes("no break at all"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::Lf);
    EXPECT_EQ(DetectFormat(Bytes("caf\xE9\n")).encoding, TextEncoding::Bytes8);
    // Characters the old text layer could not hold are plain UTF-8 now.
    EXPECT_EQ(DetectFormat(Bytes("x\xE2\x80\xA9y")).encoding, TextEncoding::Utf8);
}

// Fault: the first break decided the style, so a CR LF file with one LF line
// near its top made Enter insert LF everywhere.
TEST(DetectFormat, TheMostFrequentBreakDecidesAndTheFirstBreaksATie) {
    EXPECT_EQ(DetectFormat(Bytes("a\nb\r\nc\r\nd")).lineEnd, LineEndStyle::CrLf);
    EXPECT_EQ(DetectFormat(Bytes("a\rb\nc")).lineEnd, LineEndStyle::Cr);
    EXPECT_EQ(DetectFormat(Bytes("a\r\nb\nc\nd\re")).lineEnd, LineEndStyle::Lf);
    // A CR LF pair is one break, not a CR and an LF.
    EXPECT_EQ(DetectFormat(Bytes("a\r\nb\r\nc\n")).lineEnd, LineEndStyle::CrLf);
    EXPECT_STREQ(LineBreakBytes(LineEndStyle::CrLf), "\r\n");
    EXPECT_STREQ(LineBreakBytes(LineEndStyle::Cr), "\r");
    EXPECT_STREQ(LineBreakBytes(LineEndStyle::Lf), "\n");
}

// A file read in pieces is detected over all of them: the cut may fall inside
// a CR LF or a UTF-8 sequence, or just after a final CR.
TEST(DetectFormat, PiecesCutAnywhereGiveTheWholeTextsFormat) {
    const std::vector<std::string_view> texts = {
        "a\r\nb\r\nc\nd\r",
        "cr only\r\rx\r\n",
        "gr\xC3\xBC\xC3\x9F \xE4\xB8\xAD \xF0\x9F\x98\x80\n",
        "cut \xE4\xB8",
        "bad \xE4\x41\x42 x",
        "8-bit caf\xE9\r\n",
        "\r",
        "ascii, eight and more bytes\n"};
    for (const std::string_view text : texts) {
        const DocFormat whole = DetectFormat(Bytes(text));
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            FormatDetector detector;
            detector.Feed(Bytes(text.substr(0, cut)));
            detector.Feed(Bytes(text.substr(cut)));
            EXPECT_EQ(detector.Result(), whole) << text << " cut at " << cut;
        }
        FormatDetector byteByByte;
        for (const char c : text) {
            byteByByte.Feed(Bytes(std::string_view(&c, 1)));
        }
        EXPECT_EQ(byteByByte.Result(), whole) << text;
    }
    EXPECT_EQ(DetectFormat(Bytes("cut \xE4\xB8")).encoding, TextEncoding::Bytes8);
    EXPECT_EQ(DetectFormat(Bytes("a\r\nb\r\nc\nd\r")).lineEnd, LineEndStyle::CrLf);
}

TEST(TextBytes, CharactersBecomeBytesOfTheEncoding) {
    EXPECT_EQ(EncodeText(u"\u20AC\u00E9", TextEncoding::Bytes8), std::string("\x80\xE9"));
    EXPECT_EQ(EncodeText(u"ab\u4E2Dc", TextEncoding::Bytes8), std::nullopt);
    EXPECT_EQ(EncodeText(u"\u20AC\u00E9\U0001F600", TextEncoding::Utf8),
              std::string("\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_EQ(DecodeText(Bytes("\x80\xE9"), TextEncoding::Bytes8),
              QString::fromUtf16(u"\u20AC\u00E9"));
    EXPECT_EQ(DecodeText(Bytes("a\xC3\xA9"), TextEncoding::Utf8), QString::fromUtf16(u"a\u00E9"));
    // Bytes that are not UTF-8 in a UTF-8 text keep a character each.
    EXPECT_EQ(DecodeText(Bytes("\xFF"
                               "a"),
                         TextEncoding::Utf8),
              QString::fromUtf16(u"\u00FFa"));
}

}  // namespace
}  // namespace quarry

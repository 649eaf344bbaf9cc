#include "app/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace quarry {
namespace {

QByteArray Bytes(std::string_view s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

QByteArray RoundTrip(const QByteArray& bytes, DocFormat* formatOut = nullptr) {
    const DocFormat format = DetectFormat(bytes);
    if (formatOut != nullptr) {
        *formatOut = format;
    }
    return EncodeFile(DecodeFile(bytes, format), format);
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
    EXPECT_FALSE(f.strayBreaks);
    EXPECT_EQ(f.encoding, TextEncoding::Utf8);
    f = DetectFormat(Bytes("a\rb\r"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::Cr);
    EXPECT_FALSE(f.strayBreaks);
    f = DetectFormat(Bytes("a\nb\r\nc"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::Lf);
    EXPECT_TRUE(f.strayBreaks);
    f = DetectFormat(Bytes("no break at all"));
    EXPECT_EQ(f.lineEnd, LineEndStyle::Lf);
    EXPECT_EQ(DetectFormat(Bytes("caf\xE9\n")).encoding, TextEncoding::Bytes8);
    // A paragraph separator would become a line break in the editor.
    EXPECT_EQ(DetectFormat(Bytes("x\xE2\x80\xA9y")).encoding, TextEncoding::Bytes8);
    // The stray-break symbols are needed for stray bytes, so a file holding
    // them as text and stray breaks cannot be UTF-8 here.
    EXPECT_EQ(DetectFormat(Bytes("\xE2\x90\x8D\na\rb")).encoding, TextEncoding::Bytes8);
    EXPECT_EQ(DetectFormat(Bytes("\xE2\x90\x8D\na\nb")).encoding, TextEncoding::Utf8);
}

TEST(FileRoundTrip, EveryKindOfFileComesBackByteForByte) {
    const char* samples[] = {
        "one\ntwo\nthree\n",
        "one\r\ntwo\r\nthree",
        "one\rtwo\rthree\r",
        "\n\n\r\n\r\r",
        "utf8 \xC3\xA4\xC3\xB6\xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80\r\n",
        "latin1 caf\xE9 na\xEFve \x80\x81\x8D\x8F\x90\x9D\xFF\n",
        "mixed\r\nlf\nlone cr\rend\r\n",
        "\xEF\xBB\xBF"
        "bom\n",
        "",
    };
    for (const char* s : samples) {
        const QByteArray bytes(s);
        EXPECT_EQ(RoundTrip(bytes), bytes) << s;
    }
    const QByteArray withNul("a\0b\0\0\nc", 7);
    EXPECT_EQ(RoundTrip(withNul), withNul);
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
    }
    DocFormat format;
    EXPECT_EQ(RoundTrip(all, &format), all);
    EXPECT_EQ(format.encoding, TextEncoding::Bytes8);
    EXPECT_TRUE(format.strayBreaks);  // LF first, then a lone CR
}

TEST(StreamForm, LineBreaksAreCrLfAndDecodeBack) {
    DocFormat lf;
    EXPECT_EQ(EncodeStream(u"a\nb\u2029c", lf), "a\r\nb\r\nc");
    EXPECT_EQ(DecodeStream(Bytes("a\r\nb\nc\rd"), lf), QString::fromUtf16(u"a\nb\nc\nd"));
    DocFormat stray;
    stray.strayBreaks = true;
    const QString text = DecodeFile(Bytes("x\ry\r\nz\n"), stray);
    EXPECT_EQ(text, QString::fromUtf16(u"x\u240Dy\u240D\nz\n"));
    const std::string streamed = EncodeStream(text, stray);
    EXPECT_EQ(streamed, "x\ry\r\r\nz\r\n");
    EXPECT_EQ(DecodeStream(Bytes(streamed), stray), text);
    EXPECT_EQ(StreamByteLength(text, stray), int64_t(streamed.size()));

    DocFormat bytes8;
    bytes8.encoding = TextEncoding::Bytes8;
    EXPECT_EQ(EncodeStream(u"\u20AC\u00E9", bytes8), "\x80\xE9");
    EXPECT_EQ(DecodeStream(Bytes("\x80\xE9"), bytes8), QString::fromUtf16(u"\u20AC\u00E9"));
    EXPECT_EQ(EncodeStream(u"\u20AC\u00E9\U0001F600", lf), "\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80");
    // Bytes that are not UTF-8 reaching a UTF-8 document keep a character each.
    EXPECT_EQ(DecodeStream(Bytes("\xFF"
                                 "a"),
                           lf),
              QString::fromUtf16(u"\u00FFa"));
}

TEST(StreamForm, ByteCountsPerCharacter) {
    DocFormat utf8;
    const QString s = QString::fromUtf16(u"a\u00E9\u20AC\U0001F600\n");
    ASSERT_EQ(s.size(), 6);
    const int expected[] = {1, 2, 3, 4, 0, 2};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(StreamByteCount(s, i, utf8), expected[i]) << i;
    }
    EXPECT_EQ(StreamByteLength(s, utf8), int64_t(EncodeStream(s, utf8).size()));
}

TEST(Unencodable, FoundOnlyInEightBitDocuments) {
    DocFormat bytes8;
    bytes8.encoding = TextEncoding::Bytes8;
    EXPECT_EQ(FirstUnencodable(u"caf\u00E9 \u20AC", bytes8), -1);
    EXPECT_EQ(FirstUnencodable(u"ab\u4E2Dc", bytes8), 2);
    EXPECT_EQ(FirstUnencodable(u"\u240D", bytes8), 0);
    bytes8.strayBreaks = true;
    EXPECT_EQ(FirstUnencodable(u"\u240D", bytes8), -1);
    EXPECT_EQ(FirstUnencodable(u"ab\u4E2Dc", DocFormat{}), -1);
}

}  // namespace
}  // namespace quarry

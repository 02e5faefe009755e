#include "platform/HiveKey.h"
#include "platform/NarrowCodec.h"
#include "platform/RegFileFormat.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace quill;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The stored bytes of a text value: UTF-16LE and its terminating zero.
Bytes sz(std::u16string_view text)
{
    return quill::szData(text);
}

std::string file(std::string_view body)
{
    return "Windows Registry Editor Version 5.00\n\n" + std::string(body);
}

const HiveValue* find(const HiveKey& root, std::u16string_view path, std::u16string_view name)
{
    const HiveKey* key = root.findPath(path);
    return key ? key->value(name) : nullptr;
}

// Two trees hold the same keys (names in their case, same order) and values.
void expectSameTree(const HiveKey& a, const HiveKey& b)
{
    EXPECT_EQ(a.name(), b.name());
    ASSERT_EQ(a.values().size(), b.values().size());
    for (std::size_t i = 0; i < a.values().size(); ++i) {
        EXPECT_EQ(a.values()[i].name, b.values()[i].name);
        EXPECT_EQ(a.values()[i].type, b.values()[i].type);
        EXPECT_EQ(a.values()[i].data, b.values()[i].data);
    }
    EXPECT_EQ(a.notes(), b.notes());
    ASSERT_EQ(a.subkeys().size(), b.subkeys().size());
    auto ib = b.subkeys().begin();
    for (const auto& [fold, sub] : a.subkeys()) {
        expectSameTree(*sub, *ib->second);
        ++ib;
    }
}

struct ParseRow {
    const char* what;
    std::string body;
    std::u16string name;
    std::optional<std::uint32_t> type; // nullopt: the value must be absent
    Bytes data;
};

class RegFileParse : public ::testing::TestWithParam<ParseRow> {};

TEST_P(RegFileParse, readsValue)
{
    const ParseRow& row = GetParam();
    const auto root = parseRegFile(file("[HKEY_CURRENT_USER\\Software\\Test]\n" + row.body));
    const HiveValue* v = find(*root, u"Software\\Test", row.name);
    if (!row.type) {
        EXPECT_EQ(v, nullptr) << row.what;
        return;
    }
    ASSERT_NE(v, nullptr) << row.what;
    EXPECT_EQ(v->type, *row.type) << row.what;
    EXPECT_EQ(v->data, row.data) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RegFileParse,
    ::testing::Values(
        ParseRow{"text", "\"a\"=\"hello\"\n", u"a", RegType::Sz, sz(u"hello")},
        ParseRow{"empty text keeps its terminator", "\"a\"=\"\"\n", u"a", RegType::Sz, sz(u"")},
        ParseRow{"escapes", "\"a\"=\"x\\\\y\\\"z\"\n", u"a", RegType::Sz, sz(u"x\\y\"z")},
        ParseRow{"unknown escape stands for itself", "\"a\"=\"C:\\new\\dir\"\n", u"a",
                 RegType::Sz, sz(u"C:\\new\\dir")},
        ParseRow{"UTF-8 text", "\"a\"=\"gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\"\n", u"a", RegType::Sz,
                 sz(u"gr\u00FC\u00DF \u20AC")},
        ParseRow{"escaped quote in the name", "\"say \\\"hi\\\"\"=dword:00000001\n",
                 u"say \"hi\"", RegType::Dword, {1, 0, 0, 0}},
        ParseRow{"dword", "\"n\"=dword:0000002a\n", u"n", RegType::Dword, {0x2a, 0, 0, 0}},
        ParseRow{"short dword, upper case", "\"n\"=DWORD:FF\n", u"n", RegType::Dword,
                 {0xff, 0, 0, 0}},
        ParseRow{"dword of nine digits", "\"n\"=dword:000000001\n", u"n", std::nullopt, {}},
        ParseRow{"dword with garbage", "\"n\"=dword:12x4\n", u"n", std::nullopt, {}},
        ParseRow{"binary", "\"b\"=hex:01,ab,FF\n", u"b", RegType::Binary, {1, 0xab, 0xff}},
        ParseRow{"empty binary", "\"b\"=hex:\n", u"b", RegType::Binary, {}},
        ParseRow{"continued binary", "\"b\"=hex:01,02,\\\n  03,04,\\\n  05\n", u"b",
                 RegType::Binary, {1, 2, 3, 4, 5}},
        ParseRow{"other type", "\"m\"=hex(7):61,00,00,00,00,00\n", u"m", RegType::MultiSz,
                 {0x61, 0, 0, 0, 0, 0}},
        ParseRow{"dword stored as hex(4) keeps its length", "\"n\"=hex(4):01,02,03,04,05\n", u"n",
                 RegType::Dword, {1, 2, 3, 4, 5}},
        ParseRow{"one-digit byte", "\"b\"=hex:01,2\n", u"b", std::nullopt, {}},
        ParseRow{"dangling comma", "\"b\"=hex:01,02,\n", u"b", std::nullopt, {}},
        ParseRow{"continuation cut off", "\"b\"=hex:01,02,\\\n\"c\"=dword:1\n", u"b",
                 std::nullopt, {}},
        ParseRow{"line after a cut-off continuation", "\"b\"=hex:01,02,\\\n\"c\"=dword:1\n",
                 u"c", RegType::Dword, {1, 0, 0, 0}},
        ParseRow{"default value", "@=\"dflt\"\n", u"", RegType::Sz, sz(u"dflt")},
        ParseRow{"names ignore case", "\"LogLevel\"=dword:3\n", u"LOGLEVEL", RegType::Dword,
                 {3, 0, 0, 0}},
        ParseRow{"later line wins", "\"a\"=dword:1\n\"A\"=dword:2\n", u"a", RegType::Dword,
                 {2, 0, 0, 0}},
        ParseRow{"removal line", "\"a\"=dword:1\n\"a\"=-\n", u"a", std::nullopt, {}},
        ParseRow{"CR LF and blanks", "  \"a\" = \"x\"  \r\n", u"a", RegType::Sz, sz(u"x")},
        ParseRow{"unterminated text", "\"a\"=\"abc\n", u"a", std::nullopt, {}},
        ParseRow{"text with trailing garbage", "\"a\"=\"abc\" x\n", u"a", std::nullopt, {}},
        ParseRow{"unknown data kind", "\"a\"=qword:1\n", u"a", std::nullopt, {}},
        ParseRow{"value after an unknown root is ignored",
                 "[HKEY_USERS\\Software\\Test]\n\"a\"=dword:1\n", u"a", std::nullopt, {}}),
    [](const auto& param) { return std::to_string(param.index); });

TEST(RegFileFormat, acceptsEitherRootAndEncodings)
{
    for (const std::string& text :
         {file("[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=dword:7\n"),
          file("[hkcu\\A\\B]\r\n\"v\"=dword:7\r\n"),
          "\xEF\xBB\xBF" + file("[HKEY_CURRENT_USER\\A\\B]\n\"v\"=dword:7\n"),
          std::string("[HKLM\\a\\\\b]\n\"v\"=dword:7\n")}) {
        const auto root = parseRegFile(text);
        const HiveValue* v = find(*root, u"a\\b", u"v");
        ASSERT_NE(v, nullptr) << text;
        EXPECT_EQ(v->data, (Bytes{7, 0, 0, 0}));
    }
    // As the registry editor exports: UTF-16LE with its byte-order mark and CR LF.
    const std::u16string wide = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\A]\r\n\"t\"=\"\u00E4\"\r\n";
    std::string bytes;
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const auto root = parseRegFile(bytes);
    const HiveValue* v = find(*root, u"A", u"t");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->data, sz(u"\u00E4"));
}

TEST(RegFileFormat, keyRemovalLineAppliesAndKeysKeepTheirFirstCase)
{
    const auto root = parseRegFile(file("[HKEY_CURRENT_USER\\Soft\\Gone\\Deep]\n\"a\"=dword:1\n"
                                        "[HKEY_CURRENT_USER\\SOFT\\Kept]\n\"b\"=dword:2\n"
                                        "[-HKEY_CURRENT_USER\\soft\\gone]\n\"c\"=dword:3\n"));
    EXPECT_EQ(root->findPath(u"Soft\\Gone"), nullptr);
    ASSERT_NE(root->findPath(u"soft\\kept"), nullptr);
    EXPECT_EQ(root->findPath(u"soft")->name(), u"Soft");
    EXPECT_EQ(find(*root, u"Soft\\Kept", u"c"), nullptr); // no key to hold it
}

TEST(RegFileFormat, subkeysEnumerateInCaseInsensitiveOrder)
{
    HiveKey root;
    for (const char16_t* name : {u"beta", u"Alpha", u"10", u"2", u"GAMMA", u"\u00C4rger"}) {
        ASSERT_NE(root.createSubkey(name), nullptr);
    }
    ASSERT_EQ(root.createSubkey(u"ALPHA"), root.subkey(u"alpha")); // same key, first case kept
    std::vector<std::u16string> names;
    for (const auto& [fold, sub] : root.subkeys()) {
        names.push_back(sub->name());
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"10", u"2", u"Alpha", u"beta", u"GAMMA",
                                                  u"\u00C4rger"}));
    EXPECT_NE(root.subkey(u"\u00E4RGER"), nullptr);
}

TEST(RegFileFormat, rejectsNamesThatCannotBeStored)
{
    HiveKey root;
    EXPECT_EQ(root.createPath(u"a\\b\nc"), nullptr);
    EXPECT_EQ(root.createSubkey(u""), nullptr);
    EXPECT_EQ(root.createSubkey(u"a\\b"), nullptr);
    EXPECT_FALSE(root.setValue(u"x\ry", RegType::Dword, {}));
    EXPECT_FALSE(root.setValue(std::u16string(1, char16_t(0xD800)), RegType::Dword, {}));
    std::u16string deep;
    for (std::size_t i = 0; i <= MaxKeyDepth; ++i) {
        deep += u"k\\";
    }
    EXPECT_EQ(root.createPath(deep), nullptr);
    EXPECT_TRUE(root.subkeys().empty());
    // A header that deep is a line the parser keeps, not a stack to overflow.
    const auto parsed = parseRegFile(file("[HKEY_CURRENT_USER\\" + utf16ToUtf8(deep) + "]\n"));
    EXPECT_TRUE(parsed->subkeys().empty());
}

TEST(RegFileFormat, writesWhatItReadsBack)
{
    HiveKey root;
    HiveKey* gui = root.createPath(u"Software\\Orix\\Quillstream\\GUI");
    ASSERT_NE(gui, nullptr);
    Bytes font(92);
    for (std::size_t i = 0; i < font.size(); ++i) {
        font[i] = static_cast<std::uint8_t>(i * 7);
    }
    gui->setValue(u"TextFont", RegType::Binary, font);
    gui->setValue(u"TextColor", RegType::Dword, {0, 0xff, 0, 0});
    gui->setValue(u"Quote \"q\" and \\", RegType::Sz, sz(u"C:\\x \"y\" \u20AC\t"));
    gui->setValue(u"", RegType::Sz, sz(u"default"));
    gui->setValue(u"Lines", RegType::Sz, sz(u"two\nlines"));      // not quotable
    gui->setValue(u"Unterminated", RegType::Sz, {0x41, 0});      // not quotable
    gui->setValue(u"Odd", RegType::Sz, {0x41});                  // not quotable
    gui->setValue(u"Lone", RegType::Sz, {0x00, 0xD8, 0, 0});    // lone surrogate
    gui->setValue(u"Long dword", RegType::Dword, {1, 2, 3, 4, 5, 6, 7, 8});
    gui->setValue(u"Qword", RegType::Qword, {1, 2, 3, 4, 5, 6, 7, 8});
    gui->setValue(u"None", RegType::None, {});
    root.createPath(u"Software\\Empty key");
    root.setValue(u"rootValue", RegType::Dword, {9, 0, 0, 0});

    const std::string text = writeRegFile(root, "HKEY_CURRENT_USER");
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\GUI]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"TextColor\"=dword:0000ff00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Quote \\\"q\\\" and \\\\\"=\"C:\\\\x \\\"y\\\" \xE2\x82\xAC\t\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Lines\"=hex(1):"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\""), std::string::npos);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LE(end - start, 80u) << "long line at " << start;
    }

    const auto back = parseRegFile(text);
    expectSameTree(root, *back);
    EXPECT_EQ(writeRegFile(*back, "HKEY_CURRENT_USER"), text);
}

TEST(RegFileFormat, wrapsALongBinaryValueWhereRegeditDoes)
{
    // As regedit exports 60 bytes: a first line as long as the name allows, then 25 bytes
    // a line, each continued with a backslash and indented by two blanks.
    HiveKey root;
    HiveKey* gui = root.createPath(u"GUI");
    ASSERT_NE(gui, nullptr);
    Bytes data(60);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    gui->setValue(u"TextFont", RegType::Binary, data);
    gui->setValue(u"FontXY", RegType::Binary, data);
    const std::string text = writeRegFile(root, "HKEY_CURRENT_USER");
    const char* golden[] = {
        "\"TextFont\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
        "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,\\\n"
        "  2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b\n",
        "\"FontXY\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
        "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
        "  2f,30,31,32,33,34,35,36,37,38,39,3a,3b\n",
    };
    for (const char* value : golden) {
        EXPECT_NE(text.find(value), std::string::npos) << "expected\n" << value << "in\n" << text;
    }
}

TEST(RegFileFormat, unreadableLinesSurviveAsComments)
{
    const std::string text = file("; a comment\n"
                                  "garbage before any key\n"
                                  "\"early\"=dword:1\n"
                                  "[HKEY_CURRENT_USER\\A]\n"
                                  "\"LogLevel\"=dword:3g\n"
                                  "\"ok\"=dword:5\n"
                                  "[HKEY_BOGUS\\B]\n"
                                  "\"lost\"=dword:6\n");
    const auto root = parseRegFile(text);
    EXPECT_EQ(find(*root, u"A", u"LogLevel"), nullptr);
    ASSERT_NE(find(*root, u"A", u"ok"), nullptr);
    EXPECT_EQ(root->notes(),
              (std::vector<std::string>{"; a comment", ";garbage before any key",
                                        ";\"early\"=dword:1"}));
    EXPECT_EQ(root->findPath(u"A")->notes(),
              (std::vector<std::string>{";\"LogLevel\"=dword:3g", ";[HKEY_BOGUS\\B]",
                                        ";\"lost\"=dword:6"}));
    const std::string rewritten = writeRegFile(*root, "HKEY_CURRENT_USER");
    const auto again = parseRegFile(rewritten);
    expectSameTree(*root, *again);
    EXPECT_EQ(writeRegFile(*again, "HKEY_CURRENT_USER"), rewritten);
}

TEST(RegFileFormat, truncatedAtEveryOffsetKeepsTheValuesBeforeTheCut)
{
    HiveKey root;
    HiveKey* a = root.createPath(u"Software\\Orix\\Quillstream");
    a->setValue(u"LastFindString", RegType::Sz, sz(u"needle \u00FC"));
    a->setValue(u"FindDown", RegType::Dword, {1, 0, 0, 0});
    HiveKey* gui = root.createPath(u"Software\\Orix\\Quillstream\\GUI");
    gui->setValue(u"TextFont", RegType::Binary, Bytes(92, 0x5a));
    gui->setValue(u"TextColor", RegType::Dword, {0, 0xff, 0, 0});
    gui->setValue(u"GUILanguage", RegType::Sz, sz(u"DE"));
    const std::string text = writeRegFile(root, "HKEY_CURRENT_USER");

    struct Probe {
        std::u16string path, name;
        std::size_t complete; // offset just past the value's last line end
    };
    std::vector<Probe> probes;
    for (const HiveKey* key : {static_cast<const HiveKey*>(a), static_cast<const HiveKey*>(gui)}) {
        const std::u16string path = key == a ? u"Software\\Orix\\Quillstream"
                                             : u"Software\\Orix\\Quillstream\\GUI";
        for (const HiveValue& v : key->values()) {
            const std::size_t at = text.find("\"" + utf16ToUtf8(v.name) + "\"=");
            ASSERT_NE(at, std::string::npos);
            std::size_t end = text.find('\n', at);
            while (text[end - 1] == '\\') {
                end = text.find('\n', end + 1);
            }
            probes.push_back({path, v.name, end + 1});
        }
    }
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        const auto part = parseRegFile(std::string_view(text).substr(0, cut));
        for (const Probe& p : probes) {
            if (cut < p.complete) {
                continue;
            }
            const HiveValue* got = find(*part, p.path, p.name);
            ASSERT_NE(got, nullptr) << "cut " << cut;
            EXPECT_EQ(got->data, root.findPath(p.path)->value(p.name)->data) << "cut " << cut;
        }
    }
}

} // namespace

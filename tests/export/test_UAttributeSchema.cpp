#include "export/UAttributeSchema.h"
#include "export/UDocumentSources.h"
#include "export/UKmlStyles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quarvex;
using namespace quarvex::test;

TEST(UAttributeSchema, ValuesCheckedAgainstTheirTypes)
{
    TFieldRegistry fields;
    auto key = [&](const char* name, const char* type) { return uint16_t(fields.KeyOf(DeclaredField(name, type))); };
    const struct {
        uint16_t key;
        const char* raw;
        const char* out; // null: does not fit
    } cases[] = {
        {key("i", "int"), "+42", "42"},       {key("i", "int"), "-2147483648", "-2147483648"},
        {key("i", "int"), "2147483648", nullptr}, {key("i", "int"), "4.0", nullptr},
        {key("u", "uint"), "4294967295", "4294967295"}, {key("u", "uint"), "-1", nullptr},
        {key("s", "short"), "32768", nullptr}, {key("us", "ushort"), "65535", "65535"},
        {key("d", "double"), "1e3", "1000"},  {key("f", "float"), ".5", "0.5"},
        {key("d", "double"), "nan", nullptr}, {key("d", "double"), "1,5", nullptr},
        {key("b", "bool"), "true", "1"},      {key("b", "bool"), "0", "0"},
        {key("b", "bool"), "yes", nullptr},   {key("t", "string"), " as is ", " as is "},
        {FieldKey(TFixedField::Extrude), "false", "0"},
        {FieldKey(TFixedField::LineWidth), "2.50", "2.5"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(fields.Normalize(c.key, c.raw, out), c.out != nullptr) << c.raw;
        EXPECT_EQ(out, c.out ? c.out : "") << c.raw;
    }
    // A name met again keeps the type it was first registered with.
    EXPECT_EQ(fields.Info(uint16_t(fields.KeyOf(DeclaredField("i", "string")))).Type, TFieldType::Integer);
}

TEST(UAttributeSchema, ColumnNamesCutAndMadeUnique)
{
    TFieldRegistry fields;
    for (const char* name : {"random_2_trial", "random_2_trick", "name", "Name_1", "short", "",
                             "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"})
        fields.KeyOf(DeclaredField(name, ""));
    const std::vector<uint16_t> renamed = fields.AssignColumnNames();
    std::vector<std::string> columns;
    for (uint16_t key = kFixedFieldCount; key < fields.Count(); ++key)
        columns.push_back(fields.Info(key).ColumnName);
    EXPECT_EQ(columns, (std::vector<std::string>{"random_2_t", "random_2_1", "name_1", "Name_1_1", "short", "FIELD",
                                                 "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"}));
    EXPECT_EQ(renamed.size(), 6u); // all but "short"
    EXPECT_EQ(CutText("ab\xE2\x82\xAC", 4), "ab");
    EXPECT_EQ(CutText("a  \xE2\x82\xAC", 4), "a");
    EXPECT_EQ(CutText("abc ", 10), "abc ");
}

TEST(UAttributeSchema, RowsKeptOnDiskThenReadBackAsColumns)
{
    TScratchDir dir;
    TFieldRegistry fields;
    const uint16_t note = uint16_t(fields.KeyOf(DeclaredField("note", "")));
    const uint16_t ratio = uint16_t(fields.KeyOf(DeclaredField("ratio", "double")));
    TSetRows rows(fields, TFeatureClass::Point, false);
    rows.Open(dir.File("rows"));
    int bad = 0;
    const std::string longText = std::string(300, 'x');
    rows.AddRow({{FieldKey(TFixedField::Name), "A"}, {note, longText}, {FieldKey(TFixedField::LineColor), "#00000000"}},
                {{FieldKey(TFixedField::Descript), "left out"}}, bad);
    rows.AddRow({{ratio, "0.125"}, {note, "n"}, {note, "last wins"}}, {{ratio, "x"}}, bad);
    EXPECT_EQ(bad, 1);
    const auto columns = rows.Columns();
    std::vector<std::string> shown;
    for (const auto& c : columns)
        shown.push_back(fields.Info(c.Key).KmlName + " " + std::to_string(c.Width) + "." + std::to_string(c.Decimals));
    // No LINECOLOR in a points table, no DESCRIPT without descriptions.
    EXPECT_EQ(shown, (std::vector<std::string>{"ZID 9.0", "NAME 1.0", "note 254.0", "ratio 5.3"}));
    std::vector<std::vector<std::string>> back;
    rows.ReadRows(columns, [&](const std::vector<std::string>& values) { back.push_back(values); });
    EXPECT_EQ(back, (std::vector<std::vector<std::string>>{{"", "A", longText, ""}, {"", "", "last wins", "0.125"}}));
    rows.Discard();
    EXPECT_FALSE(FileExists(dir.File("rows")));
}

TEST(UAttributeSchema, ColoursAndRelativeAddresses)
{
    uint32_t c = 0;
    EXPECT_TRUE(ParseKmlColor("7f00ff01", c));
    EXPECT_EQ(FormatColor(c), "#01FF007F");
    EXPECT_TRUE(ParseKmlColor("#FFFFFFFF", c));
    for (const char* bad : {"", "fff", "7f00ff0g", "7f00ff011"})
        EXPECT_FALSE(ParseKmlColor(bad, c)) << bad;

    const struct {
        const char* base;
        const char* href;
        const char* joined; // null: not followed
    } cases[] = {
        {"", "a.kml", "a.kml"},           {"sub/", "../b.kml", "b.kml"},    {"sub/", "./c/d.kml?x=1#y", "sub/c/d.kml"},
        {"", "../up.kml", nullptr},       {"a/", "../../x.kml", nullptr},   {"", "/etc/passwd", nullptr},
        {"", "my%20doc.kml", "my doc.kml"}, {"", "files\\doc.kml", "files/doc.kml"}, {"", "%2e%2e/x.kml", nullptr},
        {"", "a%00.kml", nullptr},        {"", "", nullptr},
    };
    for (const auto& t : cases) {
        std::string joined;
        EXPECT_EQ(JoinRelative(t.base, t.href, joined), t.joined != nullptr) << t.href;
        if (t.joined) {
            EXPECT_EQ(joined, t.joined) << t.href;
        }
    }
}

TEST(UAttributeSchema, TimesAsGeoPackageDateTimes)
{
    const struct {
        const char* raw;
        const char* out; // null: not a date-time, kept as text
    } cases[] = {
        {"2020-05-01T10:00:00Z", "2020-05-01T10:00:00.000Z"},
        {"2020-05-01T10:00:00", "2020-05-01T10:00:00.000Z"},
        {"2020-05-01T10:00:00.5Z", "2020-05-01T10:00:00.500Z"},
        {"2020-05-01T10:00:00.123456789Z", "2020-05-01T10:00:00.123Z"},
        {"2020-05-01T01:30:00+02:00", "2020-04-30T23:30:00.000Z"},
        {"2020-12-31T23:00:00-01:30", "2021-01-01T00:30:00.000Z"},
        {"2024-02-29", "2024-02-29T00:00:00.000Z"},
        {"0001-01-01T00:00:00Z", "0001-01-01T00:00:00.000Z"},
        {"2020", nullptr},           {"2020-05", nullptr},         {"2020-13-45", nullptr},
        {"2021-02-29", nullptr},     {"1900-02-29", nullptr},      {"2020-05-01T24:00:00Z", nullptr},
        {"2020-05-01T10:00Z", nullptr}, {"2020-05-01 10:00:00", nullptr}, {"2020-05-01T10:00:00.Z", nullptr},
        {"2020-05-01T10:00:00+15:00", nullptr}, {"2020-05-01T10:00:00z", nullptr},
        {"0001-01-01T00:00:00+01:00", nullptr}, {"yesterday", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        EXPECT_EQ(NormalizeDateTime(c.raw, out), c.out != nullptr) << c.raw;
        EXPECT_EQ(out, c.out ? c.out : "") << c.raw;
    }
}

TEST(UAttributeSchema, GeoPackageNamesWholeAndUnique)
{
    TFieldRegistry fields;
    for (const char* name : {"random_2_trial", "random_2_trick", "name", "Name_1", "GEOM", "", "timestamp_text"})
        fields.KeyOf(DeclaredField(name, ""));
    const std::vector<uint16_t> renamed = fields.AssignGpkgNames({"fid", "geom", "TIMESTAMP_TEXT"});
    std::vector<std::string> names;
    for (uint16_t key = kFixedFieldCount; key < fields.Count(); ++key)
        names.push_back(fields.Info(key).GpkgName);
    EXPECT_EQ(names, (std::vector<std::string>{"random_2_trial", "random_2_trick", "name_1", "Name_1_1", "GEOM_1",
                                               "FIELD", "timestamp_text_1"}));
    EXPECT_EQ(renamed.size(), 5u);
    EXPECT_EQ(fields.Info(FieldKey(TFixedField::LineColor)).GpkgName, "LINECOLOR");
}

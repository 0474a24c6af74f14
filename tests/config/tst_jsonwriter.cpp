#include "common/JsonWriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using Layout = JsonWriter::Layout;

class JsonWriterTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writes_data();
    void writes();
};

void JsonWriterTest::writes_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QByteArray>("expected");

    const QJsonObject nested{{QStringLiteral("b"), QJsonArray{1, 2.5, -0.125, true, QJsonValue::Null}},
                             {QStringLiteral("a"), QJsonObject{{QStringLiteral("z"), QJsonArray{}},
                                                               {QStringLiteral("y"), QJsonObject{}}}}};
    QTest::newRow("compact, sorted at every level")
        << QJsonValue(nested) << Layout::compact << QByteArray(R"({"a":{"y":{},"z":[]},"b":[1,2.5,-0.125,true,null]})");
    QTest::newRow("pretty, sorted at every level") << QJsonValue(nested) << Layout::pretty
                                                   << QByteArray("{\n"
                                                                 "  \"a\" : {\n"
                                                                 "    \"y\" : {},\n"
                                                                 "    \"z\" : []\n"
                                                                 "  },\n"
                                                                 "  \"b\" : [\n"
                                                                 "    1,\n"
                                                                 "    2.5,\n"
                                                                 "    -0.125,\n"
                                                                 "    true,\n"
                                                                 "    null\n"
                                                                 "  ]\n"
                                                                 "}");
    QTest::newRow("escapes") << QJsonValue(QStringLiteral("a/b\"c\\d\n\r\t\b\f\x01\x7f é 😀")) << Layout::compact
                             << QByteArray("\"a\\/b\\\"c\\\\d\\n\\r\\t\\b\\f\\u0001\x7f \xc3\xa9 \xf0\x9f\x98\x80\"");
    QTest::newRow("large integer") << QJsonValue(qint64(4'000'000'000)) << Layout::compact << QByteArray("4000000000");
    QTest::newRow("beyond exact integers") << QJsonValue(1e300) << Layout::compact << QByteArray("1e+300");
}

void JsonWriterTest::writes()
{
    QFETCH(QJsonValue, value);
    QFETCH(Layout, layout);
    QFETCH(QByteArray, expected);

    QCOMPARE(JsonWriter::write(value, layout), expected);
}

QTEST_GUILESS_MAIN(JsonWriterTest)
#include "tst_jsonwriter.moc"
